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

// Why an existing `path` may not take an output, or "" when it may (it does
// not exist, or it is a regular file). lstat: a symbolic link is refused
// whatever it points to.
std::string ExistingPathProblem(const std::string& path);
// The directory a path names a file in ("." for a bare name).
std::string DirectoryOf(const std::string& path);
