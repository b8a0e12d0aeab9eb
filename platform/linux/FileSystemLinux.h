#pragma once
#include "platform/FileSystem.h"

// Outputs opened with O_NOFOLLOW (and checked to be regular files before
// anything is written); whole-file replacements through a temporary made
// with O_EXCL under a random name in the target's directory, then rename(2).
class LinuxFileSystem : public IFileSystem {
 public:
  std::unique_ptr<IOutputFile> CreateOutputFile(const std::string& path, std::string* error,
                                                bool* busy = nullptr) override;
  bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error) override;
};
