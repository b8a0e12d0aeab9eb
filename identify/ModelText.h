#pragma once
// The text fields of an identify block: the model number (words 27 to 46),
// the text the program shows for it, and the serial number (words 10 to 19).
#include <cstddef>
#include <cstdint>
#include <string>

#include "identify/IdentifyTypes.h"

constexpr std::size_t kModelFieldFirstWord = 27;
constexpr std::size_t kModelFieldWords = 20;
constexpr std::size_t kModelFieldLength = 2 * kModelFieldWords;  // 40 characters

// The model text of an identify block: the 40 characters of words 27 to 46,
// high byte of each word first; trailing spaces removed, except that the first
// character always stays (40 spaces give one space); leading spaces kept; the
// text ends at its first zero byte. Other bytes, ASCII or not, are kept as
// they are.
std::string ExtractModelText(const IdentifyBlock& block);

// The inverse for sources that deliver the model as 40 characters in reading
// order (the NVMe controller data): a zeroed block whose model field holds
// them, so that ExtractModelText gives the same text as for an ATA drive.
IdentifyBlock IdentifyBlockFromModelField(const uint8_t* chars40);

constexpr std::size_t kSerialFieldFirstWord = 10;
constexpr std::size_t kSerialFieldWords = 10;
constexpr std::size_t kSerialFieldLength = 2 * kSerialFieldWords;  // 20 characters

// The serial number of an identify block: the 20 characters of words 10 to
// 19, high byte of each word first, up to the first zero byte, without the
// spaces drives pad it with on either side. A byte that is not printable
// ASCII reads '?', so that the text is safe on a terminal and in a
// TAB-separated line. Empty when the drive gives none.
std::string ExtractSerialText(const IdentifyBlock& block);

// Puts 20 characters in reading order (the NVMe controller data's serial
// number) into the serial field, as an ATA drive holds them.
void PutSerialField(IdentifyBlock& block, const uint8_t* chars20);
