#include "identify/win32/IdentifyWin32.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <utility>

#include "platform/Format.h"

namespace {

static_assert(SMART_GET_VERSION == 0x74080);
static_assert(SMART_RCV_DRIVE_DATA == 0x7C088);
static_assert(sizeof(GETVERSIONINPARAMS) == 24);
// The request goes without its one-byte trailing buffer.
constexpr DWORD kSendCmdInLength = sizeof(SENDCMDINPARAMS) - 1;
static_assert(kSendCmdInLength == 32);
// SENDCMDOUTPARAMS header (cBufferSize and DRIVERSTATUS), then the data.
constexpr std::size_t kSendCmdOutHeader = sizeof(SENDCMDOUTPARAMS) - 1;
static_assert(kSendCmdOutHeader == 16);
constexpr std::size_t kSendCmdOutLength = kSendCmdOutHeader + kIdentifyBlockSize;
static_assert(kSendCmdOutLength == 528);

// Drive n is this prefix followed by n: "\\.\PhysicalDrive%d".
const char kPhysicalDrivePrefix[] = "\\\\.\\PhysicalDrive";

constexpr DWORD kIdeQueryIdentifyCode = 1;
// The length the driver call has always been given; the driver fills the
// whole record regardless.
constexpr DWORD kIdeQueryOutLength = 4;

class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  ~UniqueHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle& operator=(UniqueHandle&&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class Win32IdentifyDrive final : public IIdentifyNtDrive {
 public:
  explicit Win32IdentifyDrive(UniqueHandle handle) : handle_(std::move(handle)) {}

  uint8_t QueryIdeDeviceMap() override {
    GETVERSIONINPARAMS version;
    std::memset(&version, 0, sizeof version);
    DWORD returned = 0;
    // A failed call leaves the zeroed structure, which reports no device.
    ::DeviceIoControl(handle_.get(), SMART_GET_VERSION, nullptr, 0, &version, sizeof version, &returned, nullptr);
    return version.bIDEDeviceMap;
  }

  bool Identify(const IdentifyRequest& request, IdentifyBlock& block) override {
    SENDCMDINPARAMS in;
    std::memset(&in, 0, sizeof in);
    in.cBufferSize = request.cBufferSize;
    in.irDriveRegs.bFeaturesReg = request.irDriveRegs.bFeaturesReg;
    in.irDriveRegs.bSectorCountReg = request.irDriveRegs.bSectorCountReg;
    in.irDriveRegs.bSectorNumberReg = request.irDriveRegs.bSectorNumberReg;
    in.irDriveRegs.bCylLowReg = request.irDriveRegs.bCylLowReg;
    in.irDriveRegs.bCylHighReg = request.irDriveRegs.bCylHighReg;
    in.irDriveRegs.bDriveHeadReg = request.irDriveRegs.bDriveHeadReg;
    in.irDriveRegs.bCommandReg = request.irDriveRegs.bCommandReg;
    in.irDriveRegs.bReserved = request.irDriveRegs.bReserved;
    in.bDriveNumber = request.bDriveNumber;
    BYTE out[kSendCmdOutLength] = {};
    DWORD returned = 0;
    if (!::DeviceIoControl(handle_.get(), SMART_RCV_DRIVE_DATA, &in, kSendCmdInLength, out, sizeof out, &returned,
                           nullptr))
      return false;
    std::memcpy(block.data(), out + kSendCmdOutHeader, kIdentifyBlockSize);
    return true;
  }

 private:
  UniqueHandle handle_;
};

class Win32IdentifyNtPort final : public IIdentifyNtPort {
 public:
  explicit Win32IdentifyNtPort(std::string prefix) : prefix_(std::move(prefix)) {}

  std::unique_ptr<IIdentifyNtDrive> OpenDrive(int n) override {
    const std::string name = StrFormat("%s%d", prefix_.c_str(), n);
    // The SMART requests need read and write access to the device; nothing is
    // ever written through this handle.
    UniqueHandle handle(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle.valid()) return nullptr;
    return std::make_unique<Win32IdentifyDrive>(std::move(handle));
  }

 private:
  std::string prefix_;
};

class Win32Identify9xPort final : public IIdentify9xPort {
 public:
  IdentifyPriority GetPriority() override {
    const DWORD current = ::GetPriorityClass(::GetCurrentProcess());
    return current != 0 ? current : kNormalPriority;
  }
  void SetPriority(IdentifyPriority priority) override { ::SetPriorityClass(::GetCurrentProcess(), priority); }

  bool ReadIdeQueryRecord(IdeQueryRecord& record) override {
    // Opening the file loads the dynamically loadable driver; closing the
    // handle unloads it again.
    UniqueHandle driver(::CreateFileA("\\\\.\\IDEQUERY.VXD", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!driver.valid()) return false;
    DWORD returned = 0;
    ::DeviceIoControl(driver.get(), kIdeQueryIdentifyCode, nullptr, 0, record.data(), kIdeQueryOutLength, &returned,
                      nullptr);
    return true;
  }
};

}  // namespace

std::unique_ptr<IIdentifyNtPort> MakeWin32IdentifyNtPort() {
  return std::make_unique<Win32IdentifyNtPort>(kPhysicalDrivePrefix);
}

std::unique_ptr<IIdentifyNtPort> MakeWin32IdentifyNtPort(std::string devicePrefix) {
  return std::make_unique<Win32IdentifyNtPort>(std::move(devicePrefix));
}

std::unique_ptr<IIdentify9xPort> MakeWin32Identify9xPort() { return std::make_unique<Win32Identify9xPort>(); }
