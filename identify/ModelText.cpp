#include "identify/ModelText.h"

#include <algorithm>

namespace {
constexpr std::size_t kFieldOffset = 2 * kModelFieldFirstWord;  // byte 54
static_assert(kFieldOffset + kModelFieldLength <= kIdentifyBlockSize);
constexpr std::size_t kSerialOffset = 2 * kSerialFieldFirstWord;  // byte 20
static_assert(kSerialOffset + kSerialFieldLength <= kFieldOffset);
}  // namespace

std::string ExtractModelText(const IdentifyBlock& block) {
  // ATA strings store two characters per little-endian word, the first
  // character in the high byte.
  char text[kModelFieldLength];
  for (std::size_t i = 0; i < kModelFieldWords; ++i) {
    const uint8_t low = block[kFieldOffset + 2 * i];
    const uint8_t high = block[kFieldOffset + 2 * i + 1];
    text[2 * i] = static_cast<char>(high);
    text[2 * i + 1] = static_cast<char>(low);
  }
  std::size_t last = kModelFieldLength - 1;
  while (last > 0 && text[last] == ' ') --last;
  const char* begin = text;
  const char* end = std::find(begin, begin + last + 1, '\0');
  return std::string(begin, end);
}

IdentifyBlock IdentifyBlockFromModelField(const uint8_t* chars40) {
  IdentifyBlock block{};
  for (std::size_t i = 0; i < kModelFieldWords; ++i) {
    block[kFieldOffset + 2 * i + 1] = chars40[2 * i];
    block[kFieldOffset + 2 * i] = chars40[2 * i + 1];
  }
  return block;
}

std::string ExtractSerialText(const IdentifyBlock& block) {
  std::string text;
  for (std::size_t i = 0; i < kSerialFieldLength; ++i) {
    // Characters pair up in words, the first in the high byte.
    const uint8_t c = block[kSerialOffset + (i ^ 1)];
    if (c == 0) break;
    text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void PutSerialField(IdentifyBlock& block, const uint8_t* chars20) {
  for (std::size_t i = 0; i < kSerialFieldLength; ++i) block[kSerialOffset + (i ^ 1)] = chars20[i];
}
