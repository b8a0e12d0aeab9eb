#include "platform/win32/TickCount64.h"

#include <windows.h>

namespace morvek::win32 {

std::uint64_t AdvanceTickCount(std::atomic<std::uint64_t>& last, std::uint32_t (*now)()) {
  std::uint64_t seen = last.load();
  for (;;) {
    // The tick is read after the count was loaded, so it is never older than
    // the tick that count was made from: their low halves differ by the time
    // gone by since, modulo 2^32, which is how a wrap of the tick is counted.
    // Another thread storing a newer count in between makes the exchange fail,
    // and the step is taken again from that count with a fresh tick.
    const std::uint32_t tick = now();
    const std::uint64_t next = seen + static_cast<std::uint32_t>(tick - static_cast<std::uint32_t>(seen));
    if (last.compare_exchange_weak(seen, next)) return next;
  }
}

namespace {

// Constant-initialised: the runtime may wait on something before any
// constructor of ours has run.
constinit std::atomic<std::uint64_t> g_tickCount{0};

std::uint32_t SystemTick() { return ::GetTickCount(); }

}  // namespace

std::uint64_t LastTickCount() { return g_tickCount.load(); }

}  // namespace morvek::win32

extern "C" unsigned long long __stdcall MorvekGetTickCount64() {
  return morvek::win32::AdvanceTickCount(morvek::win32::g_tickCount, &morvek::win32::SystemTick);
}

// The import slot itself. Its name is the one the compiler gives a call to an
// imported __stdcall function: decorated with the argument bytes on i686.
using TickCountFunction = unsigned long long(__stdcall*)();
#if defined(__i386__)
#define MORVEK_TICK_SLOT "__imp__GetTickCount64@0"
#else
#define MORVEK_TICK_SLOT "__imp_GetTickCount64"
#endif
extern "C" {
extern TickCountFunction morvekTickCountSlot __asm__(MORVEK_TICK_SLOT);
__attribute__((used)) TickCountFunction morvekTickCountSlot = &MorvekGetTickCount64;
}
