#pragma once
// The files the terminal front end writes or names besides the report: the
// bad-block list, checks on output paths, and the report's result line as
// the terminal shows it.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

// A file the run is to write, as the command line (or the program) names it.
struct NamedOutput {
  std::string what;  // "--map", "the report" ...
  std::string path;
  // Checked now: a problem with it refuses the run. The report and the log
  // are not (the run goes on without them and says so), but no other
  // output may be one of them.
  bool checked = true;
};

// Why the outputs cannot be written as given, or "" when they can. Each
// checked one must be a regular file (not a symbolic link, a device or a
// FIFO) or not exist yet, in a writable directory, and must not be a disk
// being scanned (DEVICES); no two outputs may be the same file, however
// spelt. Files are compared by identity: device and inode where they exist,
// the resolved directory and name where they do not.
std::string OutputsProblem(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& devices);

// The bad-block list (the failed blocks' start sectors) and the bad-sector
// list alike: one decimal number and "\n" per line (nothing for none).
std::string BadListText(const std::vector<uint64_t>& sectors);

// PATH made absolute against the current directory (not resolved further).
std::string AbsolutePath(const std::string& path);

// Why FILE could not be written, for a message.
std::string WhyNotWritable(const std::string& file);

// Code page 936 (GBK) bytes as UTF-8, or "" when they cannot be converted.
std::string GbkToUtf8(const std::string& gbk);

// The report's result line for a run with or without failed reads, as UTF-8
// followed by its English meaning, e.g. "扫描结果: 没有坏扇区 (no bad sectors)".
// Without a report (`reportWritten` false) only the English meaning is given.
std::string ResultLineText(bool reportWritten, bool clean);
