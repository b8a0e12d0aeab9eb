#pragma once
// The ATA command set spoken through a SCSI translation layer (SAT): the
// ATA PASS-THROUGH(16) command block for an identify command and the ATA
// registers a failed or checked command reports back in its sense data. Used
// where identify requests travel over SCSI generic access; kept free of the
// operating system so the byte layouts can be checked anywhere.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "identify/IdentifyTypes.h"

constexpr std::size_t kAtaPassThrough16Length = 16;
using AtaPassThrough16Cdb = std::array<uint8_t, kAtaPassThrough16Length>;

// ATA PASS-THROUGH(16), PIO data-in, one 512-byte block from the device, with
// the register values of `regs`. The drive select bit of the device register
// is cleared: behind a SAT layer every device node is one drive, and the
// layer selects it itself.
AtaPassThrough16Cdb BuildIdentifyPassThrough16(const IdeRegisters& regs);

// The ATA registers after a command, as the ATA Status Return sense
// descriptor (descriptor format) or the information fields (fixed format)
// report them.
struct AtaReturnRegisters {
  uint8_t error = 0;
  uint8_t count = 0;
  uint8_t lbaLow = 0;
  uint8_t lbaMid = 0;
  uint8_t lbaHigh = 0;
  uint8_t device = 0;
  uint8_t status = 0;
};

// Reads the returned registers out of `length` bytes of sense data; nothing
// when the sense data carries none or is cut short.
std::optional<AtaReturnRegisters> ParseAtaReturnSense(const uint8_t* sense, std::size_t length);

// True for the answer of an ATAPI device to IDENTIFY DEVICE: the command is
// aborted and the cylinder registers hold the packet signature 14h/EBh.
bool IsPacketDeviceAbort(const AtaReturnRegisters& regs);

// Integrity word 255: when its low byte is A5h, all 512 bytes must sum to
// zero modulo 256. Blocks without the signature pass.
bool IdentifyChecksumValid(const IdentifyBlock& block);
