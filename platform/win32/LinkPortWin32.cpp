#include "platform/win32/LinkPortWin32.h"

#include <windows.h>

#include <cstring>

namespace {
// The documented native structures, declared here so that nothing depends on
// which of them a given SDK's headers happen to carry.
struct NtUnicodeString {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};
struct NtAnsiString {
  USHORT Length;
  USHORT MaximumLength;
  PCHAR Buffer;
};
struct NtObjectAttributes {
  ULONG Length;  // 24 in a 32-bit process; the structure's own size everywhere
  HANDLE RootDirectory;
  NtUnicodeString* ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};
using NtStatus = LONG;

constexpr ULONG kObjCaseInsensitive = 0x40;
constexpr ACCESS_MASK kSymbolicLinkQuery = 0x0001;
constexpr size_t kAnsiTargetSize = 256;

// ntdll's entry points, resolved by name once per process.
struct NativeApi {
  NtStatus(NTAPI* ZwOpenSymbolicLinkObject)(HANDLE*, ACCESS_MASK, NtObjectAttributes*) = nullptr;
  NtStatus(NTAPI* ZwQuerySymbolicLinkObject)(HANDLE, NtUnicodeString*, ULONG*) = nullptr;
  NtStatus(NTAPI* ZwClose)(HANDLE) = nullptr;
  VOID(NTAPI* RtlInitAnsiString)(NtAnsiString*, const char*) = nullptr;
  NtStatus(NTAPI* RtlAnsiStringToUnicodeString)(NtUnicodeString*, NtAnsiString*, BOOLEAN) = nullptr;
  NtStatus(NTAPI* RtlUnicodeStringToAnsiString)(NtAnsiString*, NtUnicodeString*, BOOLEAN) = nullptr;
  VOID(NTAPI* RtlFreeUnicodeString)(NtUnicodeString*) = nullptr;

  bool Complete() const {
    return ZwOpenSymbolicLinkObject && ZwQuerySymbolicLinkObject && ZwClose && RtlInitAnsiString &&
           RtlAnsiStringToUnicodeString && RtlUnicodeStringToAnsiString && RtlFreeUnicodeString;
  }
};

template <typename Fn>
void Resolve(HMODULE ntdll, const char* name, Fn& entry) {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
#endif
  entry = reinterpret_cast<Fn>(GetProcAddress(ntdll, name));
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

const NativeApi& Native() {
  static const NativeApi api = [] {
    NativeApi a;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return a;
    Resolve(ntdll, "ZwOpenSymbolicLinkObject", a.ZwOpenSymbolicLinkObject);
    Resolve(ntdll, "ZwQuerySymbolicLinkObject", a.ZwQuerySymbolicLinkObject);
    Resolve(ntdll, "ZwClose", a.ZwClose);
    Resolve(ntdll, "RtlInitAnsiString", a.RtlInitAnsiString);
    Resolve(ntdll, "RtlAnsiStringToUnicodeString", a.RtlAnsiStringToUnicodeString);
    Resolve(ntdll, "RtlUnicodeStringToAnsiString", a.RtlUnicodeStringToAnsiString);
    Resolve(ntdll, "RtlFreeUnicodeString", a.RtlFreeUnicodeString);
    return a;
  }();
  return api;
}
}  // namespace

bool Win32LinkPort::QuerySymbolicLink(const char* linkName, char* buffer, uint32_t bufferSize) {
  const NativeApi& nt = Native();
  if (!nt.Complete() || bufferSize == 0) return false;

  NtAnsiString ansiName{};
  NtUnicodeString name{};
  nt.RtlInitAnsiString(&ansiName, linkName);
  if (nt.RtlAnsiStringToUnicodeString(&name, &ansiName, TRUE) < 0) return false;

  NtObjectAttributes attributes{};
  attributes.Length = sizeof attributes;
  attributes.ObjectName = &name;
  attributes.Attributes = kObjCaseInsensitive;
  HANDLE link = nullptr;
  const NtStatus opened = nt.ZwOpenSymbolicLinkObject(&link, kSymbolicLinkQuery, &attributes);
  nt.RtlFreeUnicodeString(&name);
  if (opened < 0) return false;

  // The target is read as UTF-16 into the caller's buffer, so a target of
  // more than bufferSize / 2 characters does not fit and the lookup fails.
  std::memset(buffer, 0, bufferSize);
  NtUnicodeString target{0, static_cast<USHORT>(bufferSize > 0xFFFF ? 0xFFFF : bufferSize),
                         reinterpret_cast<PWSTR>(buffer)};
  const NtStatus queried = nt.ZwQuerySymbolicLinkObject(link, &target, nullptr);
  nt.ZwClose(link);
  if (queried < 0) return false;

  char ansi[kAnsiTargetSize] = {};
  NtAnsiString ansiTarget{0, static_cast<USHORT>(sizeof ansi - 1), ansi};
  if (nt.RtlUnicodeStringToAnsiString(&ansiTarget, &target, FALSE) < 0) return false;
  const size_t length = ansiTarget.Length < bufferSize ? ansiTarget.Length : bufferSize - 1;
  std::memcpy(buffer, ansi, length);
  buffer[length] = '\0';
  std::memset(buffer + length + 1, 0, bufferSize - length - 1);
  return true;
}
