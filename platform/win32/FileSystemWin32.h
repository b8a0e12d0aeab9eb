#pragma once
#include "platform/FileSystem.h"

// Outputs through CreateFileA; whole-file replacements through a temporary
// of GetTempFileNameA beside the target, moved over it with MoveFileExA.
// Reparse points (links) and anything but a plain file are refused.
class Win32FileSystem : public IFileSystem {
 public:
  std::unique_ptr<IOutputFile> CreateOutputFile(const std::string& path, std::string* error,
                                                bool* busy = nullptr) override;
  bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error) override;
};
