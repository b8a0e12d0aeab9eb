// The terminal front end's own parts: its command line, the view the run
// reports to, the map as text, the progress lines and the files it names.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/linux/Args.h"
#include "app/linux/OutputFiles.h"
#include "app/linux/TerminalView.h"
#include "chart/CDrawPicModel.h"

namespace {

// ---------------------------------------------------------------- arguments
struct Parsed {
  bool ok;
  Options options;
  std::string error;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed p;
  p.ok = ParseArgs(args, p.options, p.error);
  return p;
}

TEST(TerminalArgs, OptionsTakeTheirValueInEitherSpelling) {
  Parsed p = Parse({"--disk", "2", "--map=m.png", "--bad-list", "bad.txt", "/dev/sdb", "img"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.disk, 2);
  EXPECT_TRUE(p.options.diskGiven);
  EXPECT_EQ(p.options.map, "m.png");
  EXPECT_EQ(p.options.badList, "bad.txt");
  EXPECT_EQ(p.options.devices, (std::vector<std::string>{"/dev/sdb", "img"}));
  EXPECT_FALSE(p.options.list);

  // After "--" everything is a device, even what looks like an option.
  p = Parse({"--", "--map", "-"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.devices, (std::vector<std::string>{"--map", "-"}));
  EXPECT_TRUE(p.options.map.empty());
}

TEST(TerminalArgs, BadCommandLinesAreRefusedWithOneLine) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--disk"}, "--disk needs a value (see --help)"},
      {{"--disk", "x"}, "--disk wants a disk number, not 'x'"},
      {{"--disk", "-1"}, "--disk wants a disk number, not '-1'"},
      {{"--disk", "1234567"}, "--disk wants a disk number, not '1234567'"},
      {{"--map"}, "--map needs a value (see --help)"},
      {{"--map="}, "--map needs a file name"},
      {{"--bogus"}, "unknown option '--bogus' (see --help)"},
      {{"--list", "--disk", "1"}, "--list scans nothing; --disk, --map and --bad-list belong to a scan"},
      {{"--list", "--bad-list", "b"}, "--list scans nothing; --disk, --map and --bad-list belong to a scan"},
  };
  for (const auto& [args, message] : cases) {
    const Parsed p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0];
    EXPECT_EQ(p.error, message);
  }
}

TEST(TerminalArgs, TheQueueDepthIsAWholeNumberFromOneTo64) {
  EXPECT_EQ(Parse({"/dev/sdb"}).options.queueDepth, LinuxDeviceIo::kDefaultQueueDepth);
  EXPECT_FALSE(Parse({"/dev/sdb"}).options.queueDepthGiven);
  for (const auto& [arg, depth] : std::vector<std::pair<std::string, uint32_t>>{
           {"--queue-depth=1", 1}, {"--queue-depth=64", 64}, {"--queue-depth=08", 8}}) {
    const Parsed p = Parse({arg, "img"});
    ASSERT_TRUE(p.ok) << arg << ": " << p.error;
    EXPECT_EQ(p.options.queueDepth, depth) << arg;
    EXPECT_TRUE(p.options.queueDepthGiven);
    EXPECT_EQ(p.options.devices, std::vector<std::string>{"img"});
  }
  EXPECT_EQ(Parse({"--queue-depth", "16"}).options.queueDepth, 16u);

  for (const std::string bad : {"0", "65", "-1", "+8", " 8", "8x", "x", "", "4294967297", "1234567890"}) {
    const Parsed p = Parse({"--queue-depth=" + bad});
    EXPECT_FALSE(p.ok) << bad;
    EXPECT_EQ(p.error, "--queue-depth wants a number from 1 to 64, not '" + bad + "'");
  }
  EXPECT_EQ(Parse({"--queue-depth"}).error, "--queue-depth needs a value (see --help)");
  EXPECT_EQ(Parse({"--list", "--queue-depth", "4"}).error, "--list scans nothing; --queue-depth belongs to a scan");
}

TEST(TerminalArgs, TheHelpGivesTheQueueDepthsRangeAndDefault) {
  const std::string help = UsageText();
  EXPECT_NE(help.find("[--queue-depth N]"), std::string::npos);
  EXPECT_NE(
      help.find("--queue-depth N  keep up to N reads in flight, 1 to " + std::to_string(LinuxDeviceIo::kMaxQueueDepth) +
                " (default " + std::to_string(LinuxDeviceIo::kDefaultQueueDepth) + ")"),
      std::string::npos)
      << help;
  EXPECT_NE(help.find("MORVEK_NO_IO_URING=1"), std::string::npos);
}

TEST(TerminalArgs, HelpWinsOverAnythingBeforeTheEndOfOptions) {
  EXPECT_TRUE(Parse({"--bogus", "--help"}).options.help);
  EXPECT_TRUE(Parse({"-h", "--disk"}).ok);
  const Parsed p = Parse({"--", "--help"});
  EXPECT_FALSE(p.options.help);
  EXPECT_EQ(p.options.devices, std::vector<std::string>{"--help"});
}

// ---------------------------------------------------------------- output files
TEST(TerminalOutputs, TheBadListPrintsEverySectorAsAnUnsignedNumber) {
  EXPECT_EQ(BadListText({}), "");
  EXPECT_EQ(BadListText({0, 128, 2147483648u, 4294967168u, 31249999872ull}),
            "0\n128\n2147483648\n4294967168\n31249999872\n");
}

TEST(TerminalOutputs, TheResultLineIsTheReportsOwnInUtf8WithItsMeaning) {
  EXPECT_EQ(ResultLineText(true, true), "扫描结果: 没有坏扇区 (no bad sectors)");
  EXPECT_EQ(ResultLineText(true, false), "扫描结果: 有坏扇区 (bad sectors found)");
  EXPECT_EQ(ResultLineText(false, false), "bad sectors found");
  EXPECT_EQ(GbkToUtf8("\xC9\xA8\xC3\xE8"), "扫描");
  EXPECT_EQ(GbkToUtf8("\xFF"), "");  // not GBK
}

// ---------------------------------------------------------------- the view
TEST(TerminalViewLabels, KeepsWhatTheRunShowsAndEachPercentStep) {
  TerminalView view;
  view.ShowDiskSize("37 G");
  view.ShowCellSize("15 M");
  view.ShowPercent("0");
  view.ShowElapsed("0:0:8");
  view.ShowSpeed("85 M/s");
  view.ShowRemaining("0:7:40");
  view.ShowBadCount("3");
  view.ShowPercent("1");
  view.ReadFailed(2147483648u);
  const ScanLabels l = view.Labels();
  EXPECT_EQ(l.diskSize, "37 G");
  EXPECT_EQ(l.cellSize, "15 M");
  EXPECT_EQ(l.percent, "1");
  EXPECT_EQ(l.bad, "3");
  const std::vector<ScanLabels> steps = view.TakePercentChanges();
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(ProgressLine(steps[0]), "0% - - remaining - bad -");
  EXPECT_EQ(ProgressLine(steps[1]), "1% 0:0:8 85 M/s remaining 0:7:40 bad 3");
  EXPECT_TRUE(view.TakePercentChanges().empty());
  EXPECT_EQ(StatusLine(l), "progress 1%  time 0:0:8  speed 85 M/s  remaining 0:7:40  bad blocks 3");
  EXPECT_EQ(view.FailedReads(), std::vector<uint64_t>{2147483648u});
  EXPECT_TRUE(view.TakeDirty());
  EXPECT_FALSE(view.TakeDirty());
}

// The colour escapes of one map line, as (foreground, background) per column.
std::vector<std::pair<std::string, std::string>> Columns(const std::string& line) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string fg, bg;
  size_t at = 0;
  while (at < line.size()) {
    if (line.compare(at, 2, "\x1b[") == 0) {
      const size_t end = line.find('m', at);
      const std::string code = line.substr(at + 2, end - at - 2);
      if (code.rfind("38;2;", 0) == 0) fg = code.substr(5);
      if (code.rfind("48;2;", 0) == 0) bg = code.substr(5);
      at = end + 1;
    } else if (line.compare(at, 3, "\xE2\x96\x80") == 0) {
      out.emplace_back(fg, bg);
      at += 3;
    } else {
      ++at;
    }
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

TEST(TerminalMap, EachLineShowsTwoRowsOfCellsUpperAndLower) {
  CDrawPicModel model;
  for (int i = 0; i < 54; ++i) model.PaintCell(i, 0x31B229);  // row 0 green
  model.PaintCell(54, 0x31B229);                              // row 1, column 0
  model.PaintCell(55, 0x4265FF);                              // row 1, column 1: red
  const std::vector<std::string> lines = Lines(MapText(&model));
  ASSERT_EQ(lines.size(), 23u);
  const auto first = Columns(lines[0]);
  ASSERT_EQ(first.size(), 54u);
  EXPECT_EQ(first[0], std::make_pair(std::string("41;178;49"), std::string("41;178;49")));
  EXPECT_EQ(first[1], std::make_pair(std::string("41;178;49"), std::string("255;101;66")));
  EXPECT_EQ(first[2], std::make_pair(std::string("41;178;49"), std::string("224;224;224")));
  const auto second = Columns(lines[1]);
  EXPECT_EQ(second[0], std::make_pair(std::string("224;224;224"), std::string("224;224;224")));
  // Each line ends with a colour reset.
  for (const std::string& line : lines) EXPECT_EQ(line.substr(line.size() - 4), "\x1b[0m");
  // No chart yet: all grey.
  EXPECT_EQ(Columns(Lines(MapText(nullptr))[22])[53],
            std::make_pair(std::string("224;224;224"), std::string("224;224;224")));
}

std::string Painted(bool terminal, int rows, int columns,
                    const std::function<void(TerminalPainter&, TerminalView&)>& draw) {
  std::FILE* out = std::tmpfile();
  {
    TerminalView view;
    TerminalPainter painter(out, terminal, rows, columns);
    draw(painter, view);
  }
  std::rewind(out);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
  std::fclose(out);
  return text;
}

TEST(TerminalPainting, WithoutATerminalOnePlainLinePerPercent) {
  const std::string text = Painted(false, 0, 0, [](TerminalPainter& p, TerminalView& v) {
    v.ShowPercent("0");
    v.ShowPercent("1");
    p.Update(v, nullptr, false, true);
    v.ShowBadCount("1");
    p.Update(v, nullptr, false, false);  // no new percent: nothing
    v.ShowPercent("2");
    p.Update(v, nullptr, false, false);
  });
  EXPECT_EQ(text, "0% - - remaining - bad -\n1% - - remaining - bad -\n2% - - remaining - bad 1\n");
}

TEST(TerminalPainting, OnATerminalTheFrameIsRedrawnInPlace) {
  const std::string text = Painted(true, 40, 80, [](TerminalPainter& p, TerminalView& v) {
    p.Update(v, nullptr, false, true);
    v.ShowPercent("5");
    p.Update(v, nullptr, false, false);
    p.Update(v, nullptr, false, false);  // nothing changed: nothing drawn
  });
  // Two frames: the second starts by moving up over the first.
  EXPECT_EQ(text.rfind("\x1b[24A"), text.find("\x1b[24A"));
  EXPECT_NE(text.find("\x1b[24A\rprogress 5%"), std::string::npos);
  EXPECT_EQ(Lines(text).size(), 2 * (1u + 23) + 1);      // two frames, then the line the cursor is left on
  EXPECT_EQ(text.substr(0, 6), "\x1b[?25l");             // cursor hidden while drawing
  EXPECT_EQ(text.substr(text.size() - 6), "\x1b[?25h");  // and back at the end
}

TEST(TerminalPainting, ASmallWindowGetsTheStatusLineAlone) {
  const std::string text = Painted(true, 20, 80, [](TerminalPainter& p, TerminalView& v) {
    p.Update(v, nullptr, false, true);
    v.ShowPercent("5");
    p.Update(v, nullptr, true, false);
  });
  EXPECT_EQ(text.find("\xE2\x96\x80"), std::string::npos);
  EXPECT_EQ(text.find("\x1b[24A"), std::string::npos);
  EXPECT_NE(text.find("\rprogress 5%"), std::string::npos);
  EXPECT_NE(text.find("(stopping after the current read)"), std::string::npos);
}

}  // namespace
