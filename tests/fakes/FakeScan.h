#pragma once
// A window and a clock for the scan run's tests: the view records what it is
// told (from the worker thread too), the clock is moved by the test.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/ScanView.h"
#include "chart/CDrawPicModel.h"
#include "platform/Clock.h"

class FakeClock : public IClock {
 public:
  std::atomic<uint32_t> now{0};
  LocalDate today{2007, 12, 1};
  std::atomic<int64_t> utc{1194048000};  // 2007-11-03 00:00 UTC
  uint32_t TimeGetTime() override { return now.load(); }
  LocalDate Today() override { return today; }
  // The same clock as TimeGetTime, in nanoseconds.
  uint64_t NowNs() override { return uint64_t{now.load()} * 1000000; }
  int64_t UtcSeconds() override { return utc.load(); }
};

// The labels of the scan window, by what they show.
enum class Label { kPercent, kElapsed, kSpeed, kRemaining, kBadCount, kDiskSize, kCellSize };

class FakeScanView : public IScanView {
 public:
  void ShowPercent(const std::string& text) override { Set(Label::kPercent, text); }
  void ShowElapsed(const std::string& text) override { Set(Label::kElapsed, text); }
  void ShowSpeed(const std::string& text) override { Set(Label::kSpeed, text); }
  void ShowRemaining(const std::string& text) override { Set(Label::kRemaining, text); }
  void ShowBadCount(const std::string& text) override { Set(Label::kBadCount, text); }
  void ShowDiskSize(const std::string& text) override { Set(Label::kDiskSize, text); }
  void ShowCellSize(const std::string& text) override { Set(Label::kCellSize, text); }
  void ShowRunning(bool isRunning) override {
    std::lock_guard<std::mutex> hold(lock);
    running = isRunning;
    runningHistory.push_back(isRunning);
  }
  void AddDiskEntry(const std::string& text) override {
    std::lock_guard<std::mutex> hold(lock);
    entries.push_back(text);
  }
  int SelectDiskEntry(int index) override {
    std::lock_guard<std::mutex> hold(lock);
    if (index < 0 || static_cast<size_t>(index) >= entries.size()) return -1;
    selected = index;
    return index;
  }
  std::unique_ptr<CDrawPicModel> CreateChart() override {
    ++chartsCreated;
    return std::make_unique<CDrawPicModel>();
  }
  void InvalidateMap() override { ++invalidations; }
  void OpenReport(const std::string& file) override {
    std::lock_guard<std::mutex> hold(lock);
    opened.push_back(file);
  }
  void ShowDiskStoppedAnswering(const std::string& text) override {
    std::lock_guard<std::mutex> hold(lock);
    goneText = text;
  }
  void ReadFailed(uint64_t startSector) override {
    std::lock_guard<std::mutex> hold(lock);
    failedReads.push_back(startSector);
  }

  std::string Text(Label label) {
    std::lock_guard<std::mutex> hold(lock);
    return texts.count(label) ? texts[label] : std::string();
  }
  std::vector<std::string> History(Label label) {
    std::lock_guard<std::mutex> hold(lock);
    return history[label];
  }
  bool Running() {
    std::lock_guard<std::mutex> hold(lock);
    return running;
  }

  std::mutex lock;
  std::map<Label, std::string> texts;
  std::map<Label, std::vector<std::string>> history;
  bool running = false;
  std::vector<bool> runningHistory;
  std::vector<std::string> entries;
  int selected = -1;
  std::atomic<int> chartsCreated{0};
  std::atomic<int> invalidations{0};
  std::vector<std::string> opened;
  std::vector<uint64_t> failedReads;
  std::string goneText;

 private:
  void Set(Label label, const std::string& text) {
    std::lock_guard<std::mutex> hold(lock);
    texts[label] = text;
    history[label].push_back(text);
  }
};
