#pragma once
// printf-style formatting into std::string. The program's texts are fixed
// printf formats ("Disk %d: %s", "%u G", ...) and must come out byte for byte
// as those formats give them, so they are formatted with the C library rules
// rather than with iostreams.
#include <cstdarg>
#include <string>

#if defined(__GNUC__)
#define MORVEK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MORVEK_PRINTF(fmt, args)
#endif

std::string StrFormat(const char* fmt, ...) MORVEK_PRINTF(1, 2);
std::string StrFormatV(const char* fmt, va_list args);
