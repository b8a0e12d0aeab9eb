#pragma once
// The model number field of an identify block (words 27 to 46) and the text
// the program shows for it.
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
