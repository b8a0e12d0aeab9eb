#include "identify/AtaPassThrough.h"

namespace {

constexpr uint8_t kOpAtaPassThrough16 = 0x85;
constexpr uint8_t kProtocolPioDataIn = 4;
// T_DIR from the device, BYT_BLOK counts in blocks, T_LENGTH in the sector
// count field; T_TYPE 0 makes the block 512 bytes.
constexpr uint8_t kTransferFlags = 0x08 | 0x04 | 0x02;

constexpr uint8_t kAtaDriveSelect = 0x10;
constexpr uint8_t kAtaStatusErr = 0x01;
constexpr uint8_t kAtaErrorAbrt = 0x04;

constexpr uint8_t kSenseFixedCurrent = 0x70;
constexpr uint8_t kSenseFixedDeferred = 0x71;
constexpr uint8_t kSenseDescriptorCurrent = 0x72;
constexpr uint8_t kSenseDescriptorDeferred = 0x73;
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr uint8_t kAtaStatusReturnLength = 0x0C;  // additional length of that descriptor

std::optional<AtaReturnRegisters> ParseDescriptorSense(const uint8_t* sense, std::size_t length) {
  if (length < 8) return std::nullopt;
  std::size_t end = 8 + static_cast<std::size_t>(sense[7]);
  if (end > length) end = length;
  std::size_t at = 8;
  while (at + 2 <= end) {
    const std::size_t size = 2 + static_cast<std::size_t>(sense[at + 1]);
    if (at + size > end) break;
    if (sense[at] == kAtaStatusReturnDescriptor && sense[at + 1] >= kAtaStatusReturnLength) {
      const uint8_t* d = sense + at;
      AtaReturnRegisters regs;
      regs.error = d[3];
      regs.count = d[5];
      regs.lbaLow = d[7];
      regs.lbaMid = d[9];
      regs.lbaHigh = d[11];
      regs.device = d[12];
      regs.status = d[13];
      return regs;
    }
    at += size;
  }
  return std::nullopt;
}

std::optional<AtaReturnRegisters> ParseFixedSense(const uint8_t* sense, std::size_t length) {
  // The registers sit in the information field (bytes 3 to 6) and the
  // command-specific information field (bytes 8 to 11); both must be there.
  if (length < 12 || static_cast<std::size_t>(sense[7]) + 8 < 12) return std::nullopt;
  AtaReturnRegisters regs;
  regs.error = sense[3];
  regs.status = sense[4];
  regs.device = sense[5];
  regs.count = sense[6];
  regs.lbaLow = sense[9];
  regs.lbaMid = sense[10];
  regs.lbaHigh = sense[11];
  return regs;
}

}  // namespace

AtaPassThrough16Cdb BuildIdentifyPassThrough16(const IdeRegisters& regs) {
  AtaPassThrough16Cdb cdb{};
  cdb[0] = kOpAtaPassThrough16;
  cdb[1] = kProtocolPioDataIn << 1;  // EXTEND 0: a 28-bit command
  cdb[2] = kTransferFlags;
  cdb[4] = regs.bFeaturesReg;
  cdb[6] = regs.bSectorCountReg;
  cdb[8] = regs.bSectorNumberReg;
  cdb[10] = regs.bCylLowReg;
  cdb[12] = regs.bCylHighReg;
  cdb[13] = static_cast<uint8_t>(regs.bDriveHeadReg & ~kAtaDriveSelect);
  cdb[14] = regs.bCommandReg;
  return cdb;
}

std::optional<AtaReturnRegisters> ParseAtaReturnSense(const uint8_t* sense, std::size_t length) {
  if (sense == nullptr || length == 0) return std::nullopt;
  const uint8_t responseCode = sense[0] & 0x7F;
  if (responseCode == kSenseDescriptorCurrent || responseCode == kSenseDescriptorDeferred)
    return ParseDescriptorSense(sense, length);
  if (responseCode == kSenseFixedCurrent || responseCode == kSenseFixedDeferred) return ParseFixedSense(sense, length);
  return std::nullopt;
}

bool IsPacketDeviceAbort(const AtaReturnRegisters& regs) {
  return (regs.status & kAtaStatusErr) != 0 && (regs.error & kAtaErrorAbrt) != 0 && regs.lbaMid == 0x14 &&
         regs.lbaHigh == 0xEB;
}

bool IdentifyChecksumValid(const IdentifyBlock& block) {
  if (block[510] != 0xA5) return true;
  uint8_t sum = 0;
  for (uint8_t b : block) sum = static_cast<uint8_t>(sum + b);
  return sum == 0;
}
