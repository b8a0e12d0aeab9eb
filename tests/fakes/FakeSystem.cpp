#include "fakes/FakeSystem.h"

#include <cctype>
#include <cstring>

std::string FakeLinkPort::Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool FakeLinkPort::QuerySymbolicLink(const char* linkName, char* buffer, uint32_t bufferSize) {
  queries.emplace_back(linkName);
  const auto it = links.find(Lower(linkName));
  // Like the native call, a target is read as UTF-16: it must fit the buffer
  // two bytes a character, terminator included.
  if (it == links.end() || (it->second.size() + 1) * 2 > bufferSize) return false;
  std::memset(buffer, 0, bufferSize);
  std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
  return true;
}
