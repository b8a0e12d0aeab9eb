// The hand-over of the worker's window changes to the window thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/win32/ViewUpdateQueue.h"

namespace {

ViewUpdate Text(int id, const std::string& text) { return {ViewUpdate::Kind::SetText, id, false, text}; }
ViewUpdate Show(int id, bool show) { return {ViewUpdate::Kind::Show, id, show, {}}; }
ViewUpdate Enable(int id, bool enable) { return {ViewUpdate::Kind::Enable, id, enable, {}}; }
ViewUpdate Open(const std::string& file) { return {ViewUpdate::Kind::ShellOpen, 0, false, file}; }

TEST(ViewUpdateQueue, OnlyTheFirstPushAfterADrainAsksForAWakeUp) {
  CViewUpdateQueue queue;
  EXPECT_TRUE(queue.Push(Text(1027, "1")));
  EXPECT_FALSE(queue.Push(Text(1027, "2"))) << "one wake-up message is enough for everything queued";
  EXPECT_FALSE(queue.Push(Show(1014, false)));
  EXPECT_EQ(queue.TakeAll().size(), 2u);
  EXPECT_TRUE(queue.Push(Text(1027, "3"))) << "after a drain the next push needs a new wake-up";
}

TEST(ViewUpdateQueue, AFailedWakeUpIsTriedAgainByTheNextPush) {
  CViewUpdateQueue queue;
  EXPECT_TRUE(queue.Push(Text(1018, "0:0:1")));
  queue.WakeFailed();  // the post did not go out (window closing, queue full)
  EXPECT_TRUE(queue.Push(Text(1018, "0:0:2")));
  EXPECT_EQ(queue.Size(), 2u) << "nothing is lost while no wake-up reached the window";
}

TEST(ViewUpdateQueue, KeepsTheOrderOfShowEnableAndOpen) {
  CViewUpdateQueue queue;
  // The end of a run, as the worker asks for it.
  queue.Push(Text(1027, "100"));
  queue.Push(Enable(1000, true));
  queue.Push(Show(1014, false));
  queue.Push(Show(1000, true));
  queue.Push(Open("kestrune.log"));
  const std::vector<ViewUpdate> expected = {Text(1027, "100"), Enable(1000, true), Show(1014, false), Show(1000, true),
                                            Open("kestrune.log")};
  EXPECT_EQ(queue.TakeAll(), expected);
  EXPECT_TRUE(queue.TakeAll().empty());
}

TEST(ViewUpdateQueue, OnlyTheLastTextOfEachControlIsApplied) {
  CViewUpdateQueue queue;
  queue.Push(Text(1027, "1"));
  queue.Push(Text(1018, "0:0:1"));
  queue.Push(Show(1014, true));
  queue.Push(Text(1027, "2"));
  queue.Push(Text(1027, "3"));
  // Each control's last text stays where it was queued; nothing else moves.
  const std::vector<ViewUpdate> expected = {Text(1018, "0:0:1"), Show(1014, true), Text(1027, "3")};
  EXPECT_EQ(queue.TakeAll(), expected);
}

TEST(ViewUpdateQueue, ShowAndEnableAreNeverMerged) {
  CViewUpdateQueue queue;
  queue.Push(Show(1000, false));
  queue.Push(Show(1000, true));
  queue.Push(Enable(1000, false));
  queue.Push(Enable(1000, true));
  EXPECT_EQ(queue.TakeAll().size(), 4u);
}

TEST(ViewUpdateQueueConcurrent, PushesFromSeveralThreadsAllArriveInPerThreadOrder) {
  CViewUpdateQueue queue;
  constexpr int kThreads = 4;
  constexpr int kPushes = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&queue, t] {
      for (int i = 0; i < kPushes; ++i) queue.Push(Enable(t, i % 2 == 0));
    });
  }
  std::vector<ViewUpdate> taken;
  while (taken.size() < size_t{kThreads} * kPushes) {
    for (ViewUpdate& u : queue.TakeAll()) taken.push_back(std::move(u));
    std::this_thread::yield();
  }
  for (std::thread& t : threads) t.join();
  std::vector<int> seen(kThreads, 0);
  for (const ViewUpdate& u : taken) {
    ASSERT_EQ(u.flag, seen[static_cast<size_t>(u.controlId)] % 2 == 0) << "updates of one thread out of order";
    ++seen[static_cast<size_t>(u.controlId)];
  }
  for (int count : seen) EXPECT_EQ(count, kPushes);
}

}  // namespace
