#pragma once
// Plain data shared by the drive identification and its platform ports: the
// identify block an ATA drive returns, the register file sent with the
// identify command, and the reply record of the Windows 9x identify driver.
#include <array>
#include <cstddef>
#include <cstdint>

// IDENTIFY DEVICE / IDENTIFY PACKET DEVICE data: 256 little-endian words.
constexpr std::size_t kIdentifyBlockSize = 512;
using IdentifyBlock = std::array<uint8_t, kIdentifyBlockSize>;

constexpr uint8_t kAtaIdentifyDevice = 0xEC;        // ATA drives
constexpr uint8_t kAtaIdentifyPacketDevice = 0xA1;  // ATAPI drives

// The IDE task-file registers as the SMART interface takes them (IDEREGS).
struct IdeRegisters {
  uint8_t bFeaturesReg = 0;
  uint8_t bSectorCountReg = 0;
  uint8_t bSectorNumberReg = 0;
  uint8_t bCylLowReg = 0;
  uint8_t bCylHighReg = 0;
  uint8_t bDriveHeadReg = 0;
  uint8_t bCommandReg = 0;
  uint8_t bReserved = 0;
};

// What the identify request carries besides its output buffer
// (the leading fields of SENDCMDINPARAMS).
struct IdentifyRequest {
  uint32_t cBufferSize = 0;
  IdeRegisters irDriveRegs;
  uint8_t bDriveNumber = 0;
};

// Reply record of IDEQUERY.VXD: controller flags, drive flags, then the
// identify block of each of the eight IDE positions.
constexpr std::size_t kIdeControllers = 4;
constexpr std::size_t kIdePositions = 8;
constexpr std::size_t kIdeQueryControllerFlagsOffset = 0;
constexpr std::size_t kIdeQueryDriveFlagsOffset = 4;
constexpr std::size_t kIdeQueryBlocksOffset = 12;
constexpr std::size_t kIdeQueryRecordSize = kIdeQueryBlocksOffset + kIdePositions * kIdentifyBlockSize;
static_assert(kIdeQueryRecordSize == 4108);
using IdeQueryRecord = std::array<uint8_t, kIdeQueryRecordSize>;
