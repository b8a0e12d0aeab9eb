#pragma once
// The output directory (--output-dir): where the files the program names
// itself go, the scan report and the diagnostic log. Paths given on the
// command line (--map, --bad-list) are taken as given, relative to the
// current directory like any command's.
#include <string>

// NAME in DIR; NAME itself where DIR is empty (the current directory).
std::string InOutputDir(const std::string& dir, const std::string& name);

// Why DIR cannot take the outputs, or "" when it can: it must be a directory
// that exists and that files can be made in. Empty DIR is the current
// directory, which is not checked: a run there that cannot write its report
// still ends normally and says so.
std::string OutputDirProblem(const std::string& dir);
