#pragma once
// Scripted stand-ins for the drive identification's ports: identify blocks and
// device maps per drive, reply records of the 9x driver, and a record of every
// request in the order it was made.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "identify/IdentifyPorts.h"
#include "platform/SystemPort.h"

// An identify block with `model` (at most 40 characters, padded with spaces)
// in words 27 to 46, first character in the high byte, and `fill` elsewhere.
IdentifyBlock FakeIdentifyBlockWithModel(const std::string& model, uint8_t fill = 0);

// Shared, ordered log of what the fakes were asked to do, e.g. "open 0",
// "version 0", "identify 0", "close 0", "priority realtime", "vxd",
// "box", "priority normal".
using FakeIdentifyJournal = std::vector<std::string>;

struct FakeIdentifyDriveScript {
  bool opens = true;
  uint8_t ideDeviceMap = 0;
  bool identifies = false;
  IdentifyBlock block{};
};

struct FakeIdentifyRequestRecord {
  int drive = -1;
  IdentifyRequest request;
};

class FakeIdentifyNtPort final : public IIdentifyNtPort {
 public:
  std::unique_ptr<IIdentifyNtDrive> OpenDrive(int n) override;

  // Drives without a script do not open.
  std::map<int, FakeIdentifyDriveScript> drives;
  std::vector<int> openAttempts;
  std::vector<int> versionQueries;
  std::vector<FakeIdentifyRequestRecord> identifyRequests;
  int openHandles = 0;  // drives opened and not yet closed
  FakeIdentifyJournal* journal = nullptr;
};

class FakeIdentify9xPort final : public IIdentify9xPort {
 public:
  IdentifyPriority GetPriority() override;
  void SetPriority(IdentifyPriority priority) override;
  IdentifyPriority current = kNormalPriority;  // what the process runs at
  bool ReadIdeQueryRecord(IdeQueryRecord& record) override;

  bool driverPresent = true;
  IdeQueryRecord reply{};        // what the driver writes into the record
  bool recordWasZeroed = false;  // the record handed to the driver was all zero
  std::vector<IdentifyPriority> priorities;
  int reads = 0;
  FakeIdentifyJournal* journal = nullptr;

  // Sets the flags of IDE position p (and its controller) and its block.
  void AddDrive(int p, const IdentifyBlock& block);
};

struct FakeIdentifyMessage {
  std::string text;
  std::string caption;
  uint32_t style = 0;
};

class FakeIdentifySystem final : public ISystemPort {
 public:
  explicit FakeIdentifySystem(uint32_t platformId) { version.platformId = platformId; }
  bool QueryVersion(uint32_t recordSize, OsVersionRecord& out) override;
  std::string ModuleFileName() override { return "C:\\Morvek\\Morvek.exe"; }
  bool WindowsDirectory(std::string& out) override {
    out = "C:\\WINDOWS";
    return true;
  }
  void ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) override;

  OsVersionRecord version;
  bool versionOk = true;
  std::vector<uint32_t> versionSizes;
  std::vector<FakeIdentifyMessage> messages;
  FakeIdentifyJournal* journal = nullptr;
};
