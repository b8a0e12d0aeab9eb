// A 64-bit millisecond tick for Windows XP, which has no GetTickCount64.
//
// The C++ runtime's thread library (winpthreads, linked statically) measures
// its timed waits with GetTickCount64, a kernel32 function only from Windows
// Vista on: a module importing it does not load on XP. TickCount64.cpp defines
// the import slot the library calls through (__imp_GetTickCount64) and points
// it at MorvekGetTickCount64 below, so the linker never brings in the kernel32
// import. It must be linked into each shipped module as an object file of its
// own: from a static library it would not be picked, since nothing asks for
// the slot before the linker reaches the runtime's libraries.
#ifndef MORVEK_PLATFORM_WIN32_TICKCOUNT64_H
#define MORVEK_PLATFORM_WIN32_TICKCOUNT64_H

#include <atomic>
#include <cstdint>

namespace morvek::win32 {

// Advances the 64-bit count `last` to the 32-bit tick that `now` returns and
// gives the new count. The 32-bit tick wraps every 49.7 days; the count does
// not, as long as it is advanced at least once per wrap (the runtime asks it
// at the start and end of every wait, and no wait lasts that long). Safe from
// any number of threads: the count never goes backwards.
std::uint64_t AdvanceTickCount(std::atomic<std::uint64_t>& last, std::uint32_t (*now)());

// The count the process's clock has reached, for tests.
std::uint64_t LastTickCount();

}  // namespace morvek::win32

// GetTickCount64's stand-in: a millisecond count that starts at the system's
// 32-bit tick (GetTickCount) on first use and runs on past its wraps.
extern "C" unsigned long long __stdcall MorvekGetTickCount64();

#endif  // MORVEK_PLATFORM_WIN32_TICKCOUNT64_H
