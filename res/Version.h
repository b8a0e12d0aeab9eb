// The product's version: the one definition that the VERSIONINFO resource of
// MorvekScan.exe, the programs' own texts (such as a --version answer) and the
// release package's name all take it from. Plain #defines, so that the
// resource compiler, C and C++ can read this file and CMake can parse it; it
// includes nothing.
//
// The build number is the release date. VERSIONINFO holds four 16-bit fields,
// so the date goes in as year and month-day; write the month-day without a
// leading zero (105 for 5 January: 0105 would be an octal number). The text
// cannot be derived from the fields by the preprocessor for that very reason;
// configuring the build checks that it matches them.
#ifndef MORVEK_RES_VERSION_H
#define MORVEK_RES_VERSION_H

#define MORVEK_VERSION_MAJOR 1
#define MORVEK_VERSION_MINOR 1
#define MORVEK_VERSION_YEAR 2007
#define MORVEK_VERSION_MONTHDAY 1201
#define MORVEK_VERSION_TEXT "1.1.20071201"

#endif  // MORVEK_RES_VERSION_H
