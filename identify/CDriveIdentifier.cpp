#include "identify/CDriveIdentifier.h"

#include <algorithm>

#include "identify/ModelText.h"

namespace {

// The SMART interface of the NT disk drivers addresses the first four
// physical drives only.
constexpr int kNtDrives = 4;

const char kNoDriverText[] = "ERROR: Could not open IDEQUERY.VXD file";
const char kNoDriverCaption[] = "IdeQuery";

IdentifyRequest MakeIdentifyRequest(int n, uint8_t command) {
  IdentifyRequest request;
  request.cBufferSize = kIdentifyBlockSize;
  request.irDriveRegs.bFeaturesReg = 0;
  request.irDriveRegs.bSectorCountReg = 1;
  request.irDriveRegs.bSectorNumberReg = 1;
  request.irDriveRegs.bCylLowReg = 0;
  request.irDriveRegs.bCylHighReg = 0;
  // Master or slave select on the IDE channel; bits 7 and 5 are the
  // traditional always-one bits.
  request.irDriveRegs.bDriveHeadReg = static_cast<uint8_t>(0xA0 | ((n & 1) << 4));
  request.irDriveRegs.bCommandReg = command;
  request.bDriveNumber = static_cast<uint8_t>(n);
  return request;
}

}  // namespace

CDriveIdentifier::CDriveIdentifier(ISystemPort& system, IIdentifyNtPort* ntPort, IIdentify9xPort* w9xPort)
    : CDriveIdentifier(&system, ntPort, w9xPort) {}

CDriveIdentifier::CDriveIdentifier(ISystemPort* systemPort, IIdentifyNtPort* ntPort, IIdentify9xPort* w9xPort) {
  if (systemPort == nullptr) {
    if (ntPort != nullptr) RunNtPass(*ntPort);
    return;
  }
  ISystemPort& system = *systemPort;
  OsVersionRecord version;
  if (!system.QueryVersion(kOsVersionInfoSize, version)) return;
  if (version.platformId == kVerPlatformNt) {
    if (ntPort != nullptr) RunNtPass(*ntPort);
  } else if (version.platformId == kVerPlatformWindows) {
    if (w9xPort != nullptr) Run9xPass(system, *w9xPort);
  }
}

const std::string& CDriveIdentifier::GetModel(int i) const {
  static const std::string kEmpty;
  if (i < 0 || static_cast<std::size_t>(i) >= strModol.size()) return kEmpty;
  return strModol[static_cast<std::size_t>(i)];
}

std::string ReadDriveSerial(IIdentifyNtPort& port, int n) {
  std::unique_ptr<IIdentifyNtDrive> drive = port.OpenDrive(n);
  if (!drive) return "";
  // The device map flags ATAPI devices for the first four drives only.
  const uint8_t deviceMap = drive->QueryIdeDeviceMap();
  const bool atapi = n >= 0 && n < 4 && ((deviceMap >> n) & 0x10) != 0;
  IdentifyBlock block{};
  if (!drive->Identify(MakeIdentifyRequest(n, atapi ? kAtaIdentifyPacketDevice : kAtaIdentifyDevice), block)) return "";
  return ExtractSerialText(block);
}

void CDriveIdentifier::RunNtPass(IIdentifyNtPort& port) {
  for (int n = 0; n < kNtDrives; ++n) {
    std::unique_ptr<IIdentifyNtDrive> drive = port.OpenDrive(n);
    if (!drive) continue;
    const uint8_t deviceMap = drive->QueryIdeDeviceMap();
    if (deviceMap == 0) continue;
    // Bits 4 to 7 of the map flag the ATAPI devices, bit 4 + n for drive n.
    const bool atapi = ((deviceMap >> n) & 0x10) != 0;
    const IdentifyRequest request = MakeIdentifyRequest(n, atapi ? kAtaIdentifyPacketDevice : kAtaIdentifyDevice);
    IdentifyBlock block{};
    if (drive->Identify(request, block)) strModol[static_cast<std::size_t>(n)] = ExtractModelText(block);
  }
}

void CDriveIdentifier::Run9xPass(ISystemPort& system, IIdentify9xPort& port) {
  // The pass runs at realtime priority; whatever the process ran at before
  // is what it runs at afterwards.
  const IdentifyPriority before = port.GetPriority();
  port.SetPriority(kRealtimePriority);
  IdeQueryRecord record{};
  if (!port.ReadIdeQueryRecord(record)) {
    system.ShowMessageBox(kNoDriverText, kNoDriverCaption, kMbIconError | kMbOk);
  }
  for (std::size_t p = 0; p < kIdePositions; ++p) {
    const bool drivePresent = record[kIdeQueryDriveFlagsOffset + p] != 0;
    const bool controllerPresent = record[kIdeQueryControllerFlagsOffset + p / 2] != 0;
    if (!drivePresent || !controllerPresent) continue;
    // The table has no entries for the tertiary and quaternary controllers;
    // their drives are not listed.
    if (p >= strModol.size()) continue;
    IdentifyBlock block;
    const auto first = record.begin() + static_cast<std::ptrdiff_t>(kIdeQueryBlocksOffset + p * kIdentifyBlockSize);
    std::copy(first, first + static_cast<std::ptrdiff_t>(kIdentifyBlockSize), block.begin());
    strModol[p] = ExtractModelText(block);
  }
  port.SetPriority(before);
}
