// The live figures of the terminal's status line: the throughput of the
// last few seconds and the time left at that pace, with a clock the test
// moves.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/linux/LiveRate.h"

namespace {

constexpr uint64_t kMiB = 2048;  // sectors

// ---------------------------------------------------------------- live rate
TEST(TerminalLiveRate, NothingUntilTheFirstSecondThenThePaceOfTheWindow) {
  LiveRate rate(0, 1000 * kMiB);
  rate.Sample(100, 0);
  EXPECT_FALSE(rate.SectorsPerSecond());
  EXPECT_FALSE(rate.SecondsLeft());
  rate.Sample(600, 30 * kMiB);
  rate.Sample(1099, 60 * kMiB);
  EXPECT_FALSE(rate.SectorsPerSecond()) << "999 ms are not a second";
  rate.Sample(1100, 60 * kMiB);
  ASSERT_TRUE(rate.SectorsPerSecond());
  EXPECT_DOUBLE_EQ(*rate.SectorsPerSecond(), 60.0 * kMiB);
  // 940 MiB at 60 MiB/s: 15.67 s, said as 16.
  EXPECT_EQ(rate.SecondsLeft(), 16u);
}

TEST(TerminalLiveRate, AChangeOfPaceShowsWithinTheWindowNotTheWholeRun) {
  LiveRate rate(0, 100000 * kMiB, 5000);
  uint64_t position = 0;
  uint32_t tick = 0;
  // A minute at 100 MiB/s, sampled ten times a second.
  for (int i = 0; i < 600; ++i) {
    tick += 100;
    position += 10 * kMiB;
    rate.Sample(tick, position);
  }
  EXPECT_DOUBLE_EQ(*rate.SectorsPerSecond(), 100.0 * kMiB);
  // Then the disk slows to 10 MiB/s: a whole-run average would still say
  // some 90; after one window the live pace says 10.
  for (int i = 0; i < 50; ++i) {
    tick += 100;
    position += kMiB;
    rate.Sample(tick, position);
  }
  EXPECT_DOUBLE_EQ(*rate.SectorsPerSecond(), 10.0 * kMiB);
  // Halfway into a change the figure lies between the two.
  for (int i = 0; i < 25; ++i) {
    tick += 100;
    position += 10 * kMiB;
    rate.Sample(tick, position);
  }
  EXPECT_DOUBLE_EQ(*rate.SectorsPerSecond(), 55.0 * kMiB);
}

TEST(TerminalLiveRate, AStallReadsZeroWithNoTimeLeftToSay) {
  LiveRate rate(0, 1000 * kMiB, 2000);
  rate.Sample(0, 0);
  rate.Sample(1000, 50 * kMiB);
  for (uint32_t t = 1100; t <= 4000; t += 100) rate.Sample(t, 50 * kMiB);  // a slow area: nothing moves
  ASSERT_TRUE(rate.SectorsPerSecond());
  EXPECT_EQ(*rate.SectorsPerSecond(), 0.0);
  EXPECT_FALSE(rate.SecondsLeft());
  rate.Sample(4500, 51 * kMiB);
  EXPECT_TRUE(rate.SecondsLeft());
}

TEST(TerminalLiveRate, TheTickMayWrapAndTheEndIsNoNegativeTime) {
  LiveRate rate(1000, 1000 + 100 * kMiB);
  rate.Sample(0xFFFFFE00u, 1000);
  rate.Sample(0x00000200u, 1000 + 100 * kMiB);  // 1024 ms later, across the wrap: all read
  ASSERT_TRUE(rate.SectorsPerSecond());
  EXPECT_NEAR(*rate.SectorsPerSecond(), 100.0 * kMiB * 1000 / 1024, 1e-6);
  EXPECT_EQ(rate.SecondsLeft(), 0u);
  // A position that goes back (never within one run) starts afresh.
  rate.Sample(0x00000300u, 0);
  EXPECT_FALSE(rate.SectorsPerSecond());
}

TEST(TerminalLiveRate, FiguresAsTheStatusLineWritesThem) {
  EXPECT_EQ(RateText(0), "0 KiB/s");
  EXPECT_EQ(RateText(1023), "511 KiB/s");
  EXPECT_EQ(RateText(2047.9), "1023 KiB/s");
  EXPECT_EQ(RateText(2048), "1.0 MiB/s");
  EXPECT_EQ(RateText(92.36 * kMiB), "92.3 MiB/s");
  EXPECT_EQ(RateText(99.99 * kMiB), "99.9 MiB/s");  // cut: never a "100.0"
  EXPECT_EQ(RateText(100 * kMiB), "100 MiB/s");
  EXPECT_EQ(RateText(2345.9 * kMiB), "2345 MiB/s");
  EXPECT_EQ(ClockText(0), "0:00:00");
  EXPECT_EQ(ClockText(12), "0:00:12");
  EXPECT_EQ(ClockText(3599), "0:59:59");
  EXPECT_EQ(ClockText(3600), "1:00:00");
  EXPECT_EQ(ClockText(100 * 3600 + 61), "100:01:01");
}

}  // namespace
