#pragma once
// The files the terminal front end writes or names besides the report: the
// bad-block list, checks on output paths, and the report's result line as
// the terminal shows it.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

// Why PATH cannot take an output file, or "" when it can. An existing file
// may be replaced only when it is a regular file and none of the DEVICES
// (an image file being scanned must never be overwritten); its directory
// must exist and be writable.
std::string OutputPathProblem(const std::string& path, const std::vector<std::string>& devices);

// The bad-block list: the start sectors, one decimal number and "\n" per
// line (nothing for none).
std::string BadListText(const std::vector<uint64_t>& startSectors);

// PATH made absolute against the current directory (not resolved further).
std::string AbsolutePath(const std::string& path);

// Why FILE in the current directory could not be written, for a message.
std::string WhyNotWritable(const std::string& file);

// Code page 936 (GBK) bytes as UTF-8, or "" when they cannot be converted.
std::string GbkToUtf8(const std::string& gbk);

// The report's result line for a run with or without failed reads, as UTF-8
// followed by its English meaning, e.g. "扫描结果: 没有坏扇区 (no bad sectors)".
// Without a report (`reportWritten` false) only the English meaning is given.
std::string ResultLineText(bool reportWritten, bool clean);
