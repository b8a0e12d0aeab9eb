#include "disk/win32/NtDeviceCallsWin32.h"

#include <windows.h>

namespace {
HANDLE H(DeviceHandle d) { return reinterpret_cast<HANDLE>(d); }
}  // namespace

DeviceHandle Win32NtDeviceCalls::CreateFileA(const std::string& name, uint32_t access, uint32_t share, uint32_t flags) {
  const HANDLE h = ::CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidDevice : reinterpret_cast<DeviceHandle>(h);
}

uint32_t Win32NtDeviceCalls::GetLastError() { return ::GetLastError(); }

bool Win32NtDeviceCalls::DeviceIoControl(DeviceHandle h, uint32_t code, void* out, uint32_t outBytes,
                                         uint32_t& returned) {
  DWORD n = 0;
  const BOOL ok = ::DeviceIoControl(H(h), code, nullptr, 0, out, outBytes, &n, nullptr);
  returned = n;
  return ok != FALSE;
}

bool Win32NtDeviceCalls::GetFileSizeEx(DeviceHandle h, int64_t& size) {
  LARGE_INTEGER s{};
  if (!::GetFileSizeEx(H(h), &s)) return false;
  size = s.QuadPart;
  return true;
}

bool Win32NtDeviceCalls::FlushFileBuffers(DeviceHandle h) { return ::FlushFileBuffers(H(h)) != FALSE; }

uint32_t Win32NtDeviceCalls::SetFilePointer(DeviceHandle h, int32_t low, int32_t& high) {
  LONG highPart = high;
  ::SetLastError(NO_ERROR);
  const DWORD result = ::SetFilePointer(H(h), low, &highPart, FILE_BEGIN);
  high = highPart;
  return result;
}

bool Win32NtDeviceCalls::ReadFile(DeviceHandle h, void* buffer, uint32_t bytes, uint32_t& read) {
  DWORD n = 0;
  const BOOL ok = ::ReadFile(H(h), buffer, bytes, &n, nullptr);
  read = n;
  return ok != FALSE;
}

bool Win32NtDeviceCalls::CloseHandle(DeviceHandle h) { return ::CloseHandle(H(h)) != FALSE; }

bool Win32NtDeviceCalls::QueryDosDeviceA(const std::string& name) {
  char target[512];
  return ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}
