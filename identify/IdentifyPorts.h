#pragma once
// The operating-system services the drive identification needs, one port per
// platform family. Real implementations live in identify/win32 and
// identify/linux; the tests script them.
#include <cstdint>
#include <memory>

#include "identify/IdentifyTypes.h"

// One opened physical drive of the NT-family pass. Closing the drive is the
// destructor's job, so every path out of the pass closes it.
class IIdentifyNtDrive {
 public:
  virtual ~IIdentifyNtDrive() = default;
  // SMART_GET_VERSION into a zeroed GETVERSIONINPARAMS; returns its
  // bIDEDeviceMap. A failed call leaves the zeroed structure, so it yields 0.
  virtual uint8_t QueryIdeDeviceMap() = 0;
  // SMART_RCV_DRIVE_DATA with the given request; on success the 512 bytes
  // after the SENDCMDOUTPARAMS header land in `block`. False when the call
  // fails; `block` is then unspecified.
  virtual bool Identify(const IdentifyRequest& request, IdentifyBlock& block) = 0;
};

class IIdentifyNtPort {
 public:
  virtual ~IIdentifyNtPort() = default;
  // Opens physical drive n; null when it cannot be opened.
  virtual std::unique_ptr<IIdentifyNtDrive> OpenDrive(int n) = 0;
};

// A process priority class, as SetPriorityClass takes it.
using IdentifyPriority = uint32_t;
constexpr IdentifyPriority kRealtimePriority = 0x00000100;  // REALTIME_PRIORITY_CLASS
constexpr IdentifyPriority kNormalPriority = 0x00000020;    // NORMAL_PRIORITY_CLASS

class IIdentify9xPort {
 public:
  virtual ~IIdentify9xPort() = default;
  // GetPriorityClass and SetPriorityClass on the current process.
  virtual IdentifyPriority GetPriority() = 0;
  virtual void SetPriority(IdentifyPriority priority) = 0;
  // Loads IDEQUERY.VXD and lets it fill `record` (which the caller has
  // zeroed). False when the driver cannot be opened; `record` is then
  // untouched.
  virtual bool ReadIdeQueryRecord(IdeQueryRecord& record) = 0;
};
