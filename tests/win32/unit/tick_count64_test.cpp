// GetTickCount64's stand-in for Windows XP: the 64-bit count over the 32-bit
// tick, and that the runtime's timed waits really run on it.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/TickCount64.h"

using morvek::win32::AdvanceTickCount;

namespace {

std::uint32_t g_fakeTick;
std::uint32_t FakeTick() { return g_fakeTick; }

std::uint64_t At(std::atomic<std::uint64_t>& last, std::uint32_t tick) {
  g_fakeTick = tick;
  return AdvanceTickCount(last, &FakeTick);
}

TEST(TickCount64, CountsOnWhereTheTickWraps) {
  std::atomic<std::uint64_t> last{0};
  EXPECT_EQ(At(last, 1000), 1000u) << "the count starts at the tick of its first use";
  EXPECT_EQ(At(last, 0xFFFFFFF0u), 0xFFFFFFF0u);
  EXPECT_EQ(At(last, 0xFFFFFFF0u), 0xFFFFFFF0u) << "an unchanged tick leaves the count as it is";
  EXPECT_EQ(At(last, 0x10), 0x1'0000'0010u) << "32 ms later, past the wrap";
  EXPECT_EQ(At(last, 0xFFFFFFFFu), 0x1'FFFF'FFFFu);
  EXPECT_EQ(At(last, 0), 0x2'0000'0000u) << "the second wrap, to the millisecond";
  EXPECT_EQ(last.load(), 0x2'0000'0000u);
}

std::atomic<std::uint64_t> g_racedCount;
int g_racedCalls;

// The first tick read loses against another thread that stores a newer count
// (its tick read later) before this one can store its own.
std::uint32_t TickRacedByAnotherThread() {
  if (++g_racedCalls == 1) {
    g_racedCount.store(0x1'0000'0200);
    return 0x150;
  }
  return 0x210;
}

TEST(TickCount64, AStepThatLostARaceIsTakenAgainWithAFreshTick) {
  g_racedCount.store(0x1'0000'0100);
  g_racedCalls = 0;
  // Stepping from the newer count with the older tick would jump a whole
  // wrap (49.7 days) ahead; keeping the older count would go backwards.
  EXPECT_EQ(AdvanceTickCount(g_racedCount, &TickRacedByAnotherThread), 0x1'0000'0210u);
  EXPECT_GE(g_racedCalls, 2);
  EXPECT_EQ(g_racedCount.load(), 0x1'0000'0210u);
}

TEST(TickCount64Concurrent, FollowsTheSystemTickAndNeverGoesBackInAnyThread) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures] {
      std::uint64_t previous = 0;
      for (int i = 0; i < 100000; ++i) {
        const DWORD before = ::GetTickCount();
        const std::uint64_t count = MorvekGetTickCount64();
        const DWORD after = ::GetTickCount();
        // The count's low half is the system tick read between the two.
        if (count < previous || static_cast<DWORD>(count - before) > static_cast<DWORD>(after - before)) ++failures;
        previous = count;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(TickCount64, IsTheClockOfTheRuntimesTimedWaits) {
  // The thread library measures a timed wait on GetTickCount64 through the
  // import slot that TickCount64.cpp fills: the wait must take its full time,
  // and the count must have been advanced by the library while it waited.
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock lock(mutex);
  const std::uint64_t before = MorvekGetTickCount64();
  const DWORD start = ::GetTickCount();
  const std::cv_status status = never.wait_for(lock, std::chrono::milliseconds(300));
  const DWORD took = ::GetTickCount() - start;
  EXPECT_EQ(status, std::cv_status::timeout);
  EXPECT_GE(took, 280u) << "the tick's resolution is about 16 ms";
  EXPECT_GE(morvek::win32::LastTickCount() - before, 250u)
      << "the library's wait did not ask this clock (the kernel32 import is in use)";

  std::timed_mutex held;
  held.lock();
  const std::uint64_t beforeLock = MorvekGetTickCount64();
  std::thread([&held] { EXPECT_FALSE(held.try_lock_for(std::chrono::milliseconds(200))); }).join();
  EXPECT_GE(morvek::win32::LastTickCount() - beforeLock, 150u);
  held.unlock();
}

}  // namespace
