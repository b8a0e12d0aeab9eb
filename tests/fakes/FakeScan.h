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
#include "scan/Clock.h"

class FakeClock : public IClock {
 public:
  std::atomic<uint32_t> now{0};
  LocalDate today{2007, 12, 1};
  uint32_t TimeGetTime() override { return now.load(); }
  LocalDate Today() override { return today; }
};

class FakeScanView : public IScanView {
 public:
  void SetControlText(int id, const std::string& text) override {
    std::lock_guard<std::mutex> hold(lock);
    texts[id] = text;
    history[id].push_back(text);
  }
  void EnableControl(int id, bool enable) override {
    std::lock_guard<std::mutex> hold(lock);
    enabled[id] = enable;
  }
  void ShowControl(int id, bool show) override {
    std::lock_guard<std::mutex> hold(lock);
    shown[id] = show;
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
  void InvalidateChart() override { ++invalidations; }
  void ShellOpen(const std::string& file) override {
    std::lock_guard<std::mutex> hold(lock);
    opened.push_back(file);
  }
  void ReadFailed(uint32_t startSector) override {
    std::lock_guard<std::mutex> hold(lock);
    failedReads.push_back(startSector);
  }

  std::string Text(int id) {
    std::lock_guard<std::mutex> hold(lock);
    return texts.count(id) ? texts[id] : std::string();
  }
  std::vector<std::string> History(int id) {
    std::lock_guard<std::mutex> hold(lock);
    return history[id];
  }

  std::mutex lock;
  std::map<int, std::string> texts;
  std::map<int, std::vector<std::string>> history;
  std::map<int, bool> enabled;
  std::map<int, bool> shown;
  std::vector<std::string> entries;
  int selected = -1;
  std::atomic<int> chartsCreated{0};
  std::atomic<int> invalidations{0};
  std::vector<std::string> opened;
  std::vector<uint32_t> failedReads;
};
