#pragma once
// Writing the program's own files: the diagnostic log, the scan report and
// the terminal front end's outputs. An output never goes through a symbolic
// link and never lands on anything but a regular file, so that a link planted
// under a fixed name (kestrune.log -> a disk) cannot turn a report into a
// write onto a disk.
#include <memory>
#include <string>
#include <string_view>

// A file open for writing from its start.
class IOutputFile {
 public:
  virtual ~IOutputFile() = default;
  // Appends the bytes and hands them to the system at once; false when they
  // did not all go out (a full disk).
  virtual bool Write(std::string_view bytes) = 0;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  // Opens `path` for writing from its start, creating it or emptying the
  // regular file that is there. Null, with the reason in `error`, where that
  // cannot be done or `path` is a symbolic link or not a regular file.
  //
  // With `busy` given, the file is also locked for as long as it is open,
  // before it is emptied: where another process holds it, nothing is
  // changed, *busy is set and null returned (one run per log).
  virtual std::unique_ptr<IOutputFile> CreateOutputFile(const std::string& path, std::string* error,
                                                        bool* busy = nullptr) = 0;
  // Replaces the file at `path` as a whole: the bytes go to a new temporary
  // file beside it, made exclusively under an unpredictable name, which is
  // renamed over `path` only once complete. False, with the reason in
  // `error`, where that fails; an older file at `path` is then left as it
  // was and no temporary file remains. A symbolic link or anything but a
  // regular file at `path` is refused.
  virtual bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error) = 0;
};
