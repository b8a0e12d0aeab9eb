// The terminal front end's own parts: its command line, the view the run
// reports to, the map as text, the progress lines and the files it names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "app/linux/Args.h"
#include "app/linux/OutputFiles.h"
#include "app/linux/TerminalView.h"
#include "chart/CDrawPicModel.h"
#include "fakes/FakeScan.h"

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
      {{"--list", "--disk", "1"},
       "--list scans nothing; --disk, --map, --bad-list and the other outputs belong to a scan"},
      {{"--list", "--bad-list", "b"},
       "--list scans nothing; --disk, --map, --bad-list and the other outputs belong to a scan"},
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
  EXPECT_NE(help.find("keep up to N reads in flight, 1 to " + std::to_string(LinuxDeviceIo::kMaxQueueDepth) +
                      " (default " + std::to_string(LinuxDeviceIo::kDefaultQueueDepth) + ")"),
            std::string::npos)
      << help;
  EXPECT_NE(help.find("MORVEK_NO_IO_URING=1"), std::string::npos);
}

TEST(TerminalArgs, TheOptionsOfTheUnixConventions) {
  Parsed p = Parse({"--output-dir", "out", "--palette=blue-orange", "--bad-list", "-", "--map", "Map.PNG", "img"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.outputDir, "out");
  EXPECT_EQ(p.options.palette, MapPalette::kBlueOrange);
  EXPECT_TRUE(p.options.paletteGiven);
  EXPECT_EQ(p.options.badList, "-");
  EXPECT_TRUE(IsStandardOutput(p.options.badList));
  EXPECT_FALSE(IsStandardOutput("./-"));  // a file that happens to be named "-"
  EXPECT_EQ(p.options.map, "Map.PNG");
  EXPECT_EQ(Parse({"--palette", "window"}).options.palette, MapPalette::kWindow);
  EXPECT_EQ(Parse({"--palette", "text"}).options.palette, MapPalette::kText);
  EXPECT_EQ(Parse({}).options.palette, MapPalette::kWindow);
  // --list writes Scan.log: the output directory is its too.
  p = Parse({"--list", "--output-dir=/tmp"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.outputDir, "/tmp");
  // A lone "-" is a device name, as before.
  EXPECT_EQ(Parse({"-"}).options.devices, std::vector<std::string>{"-"});
}

TEST(TerminalArgs, NewOptionsRefuseWhatTheyCannotDo) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--map", "m.jpg"}, "--map saves a PNG picture: give a name ending in .png, not 'm.jpg'"},
      {{"--map", "png"}, "--map saves a PNG picture: give a name ending in .png, not 'png'"},
      {{"--map", "-"}, "--map saves a PNG picture: give a name ending in .png, not '-'"},
      {{"--map=m.png.txt"}, "--map saves a PNG picture: give a name ending in .png, not 'm.png.txt'"},
      {{"--palette", "rainbow"}, "--palette is window, blue-orange or text, not 'rainbow'"},
      {{"--palette"}, "--palette needs a value (see --help)"},
      {{"--output-dir="}, "--output-dir needs a directory name"},
      {{"--output-dir"}, "--output-dir needs a value (see --help)"},
      {{"--list", "--palette", "text"}, "--list draws no map; --palette belongs to a scan"},
      {{"--list", "--bad-list", "-"},
       "--list scans nothing; --disk, --map, --bad-list and the other outputs belong to a scan"},
  };
  for (const auto& [args, message] : cases) {
    const Parsed p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0];
    EXPECT_EQ(p.error, message);
  }
}

TEST(TerminalArgs, VersionIsTheOneDefinitionAndWinsLikeHelp) {
  EXPECT_EQ(std::string(VersionText()), "morvek-scan 1.1.20071201\n");
  Parsed p = Parse({"--bogus", "--version"});
  EXPECT_TRUE(p.ok);
  EXPECT_TRUE(p.options.version);
  p = Parse({"--version", "--help"});  // help first: it names --version too
  EXPECT_TRUE(p.options.help);
  EXPECT_FALSE(p.options.version);
  p = Parse({"--", "--version"});
  EXPECT_FALSE(p.options.version);
  EXPECT_EQ(p.options.devices, std::vector<std::string>{"--version"});
}

TEST(TerminalArgs, HelpGivesEveryOptionOneLineAndTheExitStatuses) {
  const std::vector<std::string> help = [] {
    std::vector<std::string> lines;
    std::string text = UsageText();
    size_t at = 0;
    while (at < text.size()) {
      const size_t end = text.find('\n', at);
      lines.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    return lines;
  }();
  for (const std::string& line : help) EXPECT_LE(line.size(), 79u) << line;
  // Each option the parser takes starts exactly one line of the option list.
  const std::vector<std::pair<std::string, std::vector<std::string>>> options = {
      {"--disk N", {"--disk", "1"}},
      {"--map FILE.png", {"--map", "m.png"}},
      {"--bad-list FILE", {"--bad-list", "b"}},
      {"--bad-sectors FILE", {"--bad-sectors", "s"}},
      {"--json FILE", {"--json", "r.json"}},
      {"--speed-graph FILE.svg", {"--speed-graph", "s.svg"}},
      {"--prometheus FILE", {"--prometheus", "m.prom"}},
      {"--output-dir DIR", {"--output-dir", "d"}},
      {"--from SECTOR", {"--from", "0"}},
      {"--to SECTOR", {"--to", "128"}},
      {"--resume FILE.json", {"--resume", "r.json"}},
      {"--smartctl PATH", {"--smartctl", "/usr/sbin/smartctl"}},
      {"--no-smart", {"--no-smart"}},
      {"--palette NAME", {"--palette", "text"}},
      {"--queue-depth N", {"--queue-depth", "4"}},
      {"--list", {"--list"}},
      {"--version", {"--version"}},
      {"--help", {"--help"}},
  };
  for (const auto& [caption, args] : options) {
    int count = 0;
    for (const std::string& line : help) count += line.rfind("  " + caption + " ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(count, 1) << caption;
    EXPECT_TRUE(Parse(args).ok) << caption;
  }
  // Anything that looks like an option line is one of those.
  for (const std::string& line : help) {
    if (line.rfind("  --", 0) != 0) continue;
    const std::string name = line.substr(2, line.find(' ', 2) - 2);
    EXPECT_TRUE(Parse({name}).error.find("unknown option") == std::string::npos) << name;
  }
  const auto has = [&help](const std::string& line) { return std::find(help.begin(), help.end(), line) != help.end(); };
  EXPECT_TRUE(has("Exit status:"));
  EXPECT_TRUE(has("  0    the scan ended and no read failed (--list: the list was printed)"));
  EXPECT_TRUE(has("  1    some reads failed"));
  EXPECT_TRUE(has("  2    usage error, no such disk, or no disk could be opened"));
  EXPECT_TRUE(has("  3    the disk stopped answering"));
  EXPECT_TRUE(has("  130  the scan was stopped"));
}

TEST(TerminalArgs, RangesReadingsAndResume) {
  Parsed p = Parse({"--from", "6442450944", "--to=6442451072", "--json", "r.json", "--speed-graph", "s.SVG",
                    "--prometheus", "m.prom", "--bad-sectors", "-", "--no-smart", "/dev/sdb"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.fromGiven && p.options.toGiven);
  EXPECT_EQ(p.options.from, 6442450944u);  // past 2^32
  EXPECT_EQ(p.options.to, 6442451072u);
  EXPECT_EQ(p.options.json, "r.json");
  EXPECT_EQ(p.options.speedGraph, "s.SVG");
  EXPECT_EQ(p.options.badSectors, "-");
  EXPECT_TRUE(p.options.noSmart);
  EXPECT_TRUE(p.options.DataOnStandardOutput());
  for (const char* option : {"--json", "--prometheus", "--bad-list"}) {
    p = Parse({option, "-", "--speed-graph", "s.svg", "/dev/sdb"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.options.DataOnStandardOutput()) << option;
  }
  EXPECT_FALSE(Parse({"--json", "./-", "/dev/sdb"}).options.DataOnStandardOutput());
  p = Parse({"--resume", "r.json", "--smartctl", "/opt/smartctl", "/dev/sdb"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.resume, "r.json");
  EXPECT_EQ(p.options.smartctl, "/opt/smartctl");

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--from", "12x"}, "--from wants a sector number, not '12x'"},
      {{"--to", "-1"}, "--to wants a sector number, not '-1'"},
      {{"--from", "18446744073709551616"}, "--from wants a sector number, not '18446744073709551616'"},
      {{"--from", "10", "--to", "10"}, "--from must be below --to"},
      {{"--to", "0"}, "--to 0 leaves nothing to scan (the range ends before its first sector)"},
      {{"--resume", "r.json", "--from", "0"},
       "--resume goes on with the stopped run's own range; --from and --to belong to a new run"},
      {{"--speed-graph", "s.png"}, "--speed-graph draws an SVG picture: give a name ending in .svg, not 's.png'"},
      {{"--bad-list", "-", "--bad-sectors", "-"},
       "only one of --bad-list, --bad-sectors, --json and --prometheus can go to standard output"},
      {{"--json", "-", "--prometheus", "-"},
       "only one of --bad-list, --bad-sectors, --json and --prometheus can go to standard output"},
      {{"--list", "--json", "r.json"},
       "--list scans nothing; --disk, --map, --bad-list and the other outputs belong to a scan"},
  };
  for (const auto& [args, message] : refused) {
    const Parsed q = Parse(args);
    EXPECT_FALSE(q.ok) << args[0];
    EXPECT_EQ(q.error, message);
  }
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

class TerminalOutputPaths : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() / ("morvek-outputs-" + std::to_string(::getpid()));
    std::filesystem::remove_all(m_dir);
    std::filesystem::create_directories(m_dir / "sub");
    m_old = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
  }
  void TearDown() override {
    std::filesystem::current_path(m_old);
    std::filesystem::remove_all(m_dir);
  }
  static std::vector<NamedOutput> With(std::vector<NamedOutput> outputs) {
    outputs.insert(outputs.begin(), {{"the report", "kestrune.log", false}, {"the log", "Scan.log", false}});
    return outputs;
  }
  std::filesystem::path m_dir, m_old;
};

TEST_F(TerminalOutputPaths, OneFileTwoSpellingsIsRefused) {
  EXPECT_EQ(OutputsProblem(With({{"--map", "x.png"}, {"--bad-list", "./x.png"}}), {}),
            "--map and --bad-list name the same file, " + (m_dir / "x.png").string());
  EXPECT_EQ(OutputsProblem(With({{"--map", "sub/../x.png"}, {"--bad-list", "x.png"}}), {}).substr(0, 34),
            "--map and --bad-list name the same");
  // The report and the log are outputs too.
  EXPECT_EQ(OutputsProblem(With({{"--bad-list", "kestrune.log"}}), {}).substr(0, 40),
            "the report and --bad-list name the same ");
  std::ofstream("Scan.log") << "x";
  EXPECT_EQ(OutputsProblem(With({{"--map", (m_dir / "Scan.log").string()}}), {}).substr(0, 35),
            "the log and --map name the same fil");
  // A hard link is the same file under another name.
  std::ofstream("a.txt") << "x";
  std::filesystem::create_hard_link("a.txt", "b.txt");
  EXPECT_NE(OutputsProblem(With({{"--map", "a.txt"}, {"--bad-list", "b.txt"}}), {}), "");
  EXPECT_EQ(OutputsProblem(With({{"--map", "a.txt"}, {"--bad-list", "c.txt"}}), {}), "");
}

TEST_F(TerminalOutputPaths, LinksDevicesFifosAndScannedImagesAreRefused) {
  std::ofstream("disk.img") << "an image being scanned";
  std::filesystem::create_symlink("disk.img", "link.png");
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  EXPECT_EQ(OutputsProblem(With({{"--map", "link.png"}}), {}), "cannot write link.png (--map): it is a symbolic link");
  EXPECT_EQ(OutputsProblem(With({{"--bad-list", "fifo"}}), {}),
            "cannot write fifo (--bad-list): it exists and is not a regular file");
  EXPECT_EQ(OutputsProblem(With({{"--bad-list", "/dev/null"}}), {}),
            "cannot write /dev/null (--bad-list): it exists and is not a regular file");
  EXPECT_EQ(OutputsProblem(With({{"--bad-list", "./disk.img"}}), {"disk.img"}),
            "cannot write ./disk.img (--bad-list): it is a disk to be scanned");
  // The report and the log are written as the run goes: an image under
  // their names must be refused before anything is opened for writing.
  std::ofstream("Scan.log") << "an image being scanned";
  EXPECT_EQ(OutputsProblem(With({}), {"./Scan.log"}), "cannot write Scan.log (the log): it is a disk to be scanned");
  std::filesystem::rename("Scan.log", "kestrune.log");
  EXPECT_EQ(OutputsProblem(With({}), {"kestrune.log"}),
            "cannot write kestrune.log (the report): it is a disk to be scanned");
  std::filesystem::remove("kestrune.log");
  EXPECT_EQ(OutputsProblem(With({{"--map", "missing/m.png"}}), {}).substr(0, 42),
            "cannot write missing/m.png (--map): missin");
  // A planted link in the report's place does not stop the run (the report
  // is said at the end), but no output may be the report either way.
  std::filesystem::create_symlink("disk.img", "kestrune.log");
  EXPECT_EQ(OutputsProblem(With({{"--map", "m.png"}}), {"disk.img"}), "");
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

std::string ReadAll(std::FILE* out) {
  std::rewind(out);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
  return text;
}

TerminalPainter::Setup SetupFor(std::FILE* out, bool live, int rows, int columns,
                                MapPalette palette = MapPalette::kWindow) {
  TerminalPainter::Setup setup;
  setup.out = out;
  setup.mode.live = live;
  setup.mode.palette = palette;
  setup.rows = rows;
  setup.columns = columns;
  setup.title = "Scanning Disk 0:  (/dev/loop3): disk size 37 G, each cell 15 M";
  return setup;
}

std::string Painted(bool terminal, int rows, int columns,
                    const std::function<void(TerminalPainter&, TerminalView&)>& draw,
                    MapPalette palette = MapPalette::kWindow) {
  std::FILE* out = std::tmpfile();
  {
    TerminalView view;
    TerminalPainter painter(SetupFor(out, terminal, rows, columns, palette));
    draw(painter, view);
  }
  const std::string text = ReadAll(out);
  std::fclose(out);
  return text;
}

// Plays the escapes of a live frame onto a screen of ROWS x COLUMNS, as a
// terminal would: cursor positioning, erase to the end of the line and of
// the screen, the alternate screen (what is drawn there is gone when it
// ends), colours skipped. Fails the test on a line written past the last
// column (it would wrap) and on a line end while on the alternate screen (it
// could scroll). Returns the normal screen's text and what followed it: the
// lines printed after the alternate screen ended.
struct Screen {
  std::vector<std::string> alternate;  // the alternate screen as last drawn
  std::vector<std::string> after;      // lines printed on the normal screen
  int frames = 0;                      // writes that started at the home position
};

Screen Play(const std::string& text, int rows, int columns) {
  Screen screen;
  screen.alternate.assign(static_cast<size_t>(rows), std::string());
  bool onAlternate = false;
  int row = 0, col = 0;
  std::string normal;
  auto put = [&](const std::string& ch) {
    if (!onAlternate) {
      normal += ch;
      return;
    }
    EXPECT_LT(col, columns) << "a character past the last column (it wraps) on row " << row;
    std::vector<std::string>& line = screen.alternate;
    // One string per row, one entry per column kept as UTF-8 text.
    std::string& r = line[static_cast<size_t>(row)];
    // Rows hold one character per column: pad, then set.
    std::vector<std::string> cells;
    for (size_t i = 0; i < r.size();) {
      const auto c = static_cast<unsigned char>(r[i]);
      const size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      cells.push_back(r.substr(i, n));
      i += n;
    }
    while (static_cast<int>(cells.size()) <= col) cells.push_back(" ");
    cells[static_cast<size_t>(col)] = ch;
    r.clear();
    for (const std::string& cell : cells) r += cell;
    ++col;
  };
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      size_t end = i + 2;
      while (end < text.size() && !(text[end] >= 0x40 && text[end] <= 0x7e)) ++end;
      const std::string params = text.substr(i + 2, end - i - 2);
      const char final = text[end];
      if (params == "?1049" && final == 'h') onAlternate = true;
      if (params == "?1049" && final == 'l') onAlternate = false;
      if (onAlternate && final == 'H') {
        row = params.empty() ? 0 : std::atoi(params.c_str()) - 1;
        const size_t semi = params.find(';');
        col = semi == std::string::npos ? 0 : std::atoi(params.c_str() + semi + 1) - 1;
        if (params.empty()) ++screen.frames;
        EXPECT_LT(row, rows) << "a line below the screen";
      }
      if (onAlternate && final == 'K') {
        std::string& r = screen.alternate[static_cast<size_t>(row)];
        // Cut at the cursor's column (one column per character).
        size_t at = 0;
        for (int c = 0; c < col && at < r.size(); ++c) {
          const auto b = static_cast<unsigned char>(r[at]);
          at += b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        }
        r.resize(std::min(at, r.size()));
      }
      if (onAlternate && final == 'J' && params == "2")
        for (std::string& r : screen.alternate) r.clear();
      if (!onAlternate && final == 'm') {  // colours are kept in the text printed after
        normal += text.substr(i, end + 1 - i);
      }
      i = end + 1;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (text[i] == '\n') {
      EXPECT_FALSE(onAlternate) << "a line end on the alternate screen";
      if (!onAlternate) normal += '\n';
    } else if (text[i] == '\r') {
      EXPECT_FALSE(onAlternate) << "a carriage return on the alternate screen";
    } else {
      put(text.substr(i, n));
    }
    i += n;
  }
  screen.after = Lines(normal);
  return screen;
}

// The text of a line without its colour escapes.
std::string Plain(const std::string& line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\x1b') {
      while (i < line.size() && line[i] != 'm') ++i;
      continue;
    }
    out += line[i];
  }
  return out;
}

// Columns a line takes on a terminal, one per character, escapes left out.
int VisibleColumns(const std::string& line) {
  int columns = 0;
  const std::string plain = Plain(line);
  for (char c : plain) columns += (static_cast<unsigned char>(c) & 0xC0) == 0x80 ? 0 : 1;
  return columns;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
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
  std::vector<size_t> sizes;
  std::FILE* out = std::tmpfile();
  {
    TerminalView view;
    TerminalPainter painter(SetupFor(out, true, 40, 80));
    const auto written = [&] {
      std::fflush(out);
      sizes.push_back(static_cast<size_t>(std::ftell(out)));
    };
    painter.Update(view, nullptr, false, true);
    written();
    view.ShowPercent("5");
    painter.Update(view, nullptr, false, false);
    written();
    painter.Update(view, nullptr, false, false);  // nothing changed: nothing drawn
    written();
  }
  const std::string text = ReadAll(out);
  std::fclose(out);
  // The alternate screen, the cursor hidden, one clear, then the lines.
  EXPECT_EQ(text.rfind("\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J", 0), 0u);
  EXPECT_EQ(Count(text, "\x1b[2J"), 1u);
  // The second frame rewrites the status line alone, in its place.
  const std::string second = text.substr(sizes[0], sizes[1] - sizes[0]);
  EXPECT_EQ(second, "\x1b[2;1Hprogress 5%  time -  speed -  remaining -  bad blocks -\x1b[K");
  EXPECT_EQ(sizes[2], sizes[1]);
  const Screen screen = Play(text, 40, 80);
  EXPECT_EQ(screen.frames, 1);
  // At the end: the normal screen again, the cursor back, the last picture
  // printed once (status line, 23 map lines, legend), nothing else.
  const std::string leave = "\x1b[?25h\x1b[?1049l";
  const size_t end = text.find(leave);
  ASSERT_NE(end, std::string::npos);
  const std::vector<std::string> after = Lines(text.substr(end + leave.size()));
  ASSERT_EQ(after.size(), 1u + 23 + 1);
  EXPECT_EQ(after[0], "progress 5%  time -  speed -  remaining -  bad blocks -");
  EXPECT_EQ(Columns(after[1]).size(), 54u);
  EXPECT_EQ(Plain(after[24]), "\xE2\x96\x88 read  \xE2\x96\x88 failed  \xE2\x96\x88 not yet");
  EXPECT_EQ(text.back(), '\n');
}

TEST(TerminalPainting, ASmallWindowGetsTheStatusLineAlone) {
  const std::string text = Painted(true, 20, 80, [](TerminalPainter& p, TerminalView& v) {
    EXPECT_FALSE(p.MapShown());
    EXPECT_EQ(p.FrameLines(), 2);
    p.Update(v, nullptr, false, true);
    v.ShowPercent("5");
    p.Update(v, nullptr, true, false);
  });
  EXPECT_EQ(text.find("\xE2\x96\x80"), std::string::npos);
  EXPECT_NE(text.find("\x1b[1;1HScanning Disk 0:  (/dev/loop3): disk size 37 G, each cell 15 M\x1b[K"),
            std::string::npos);
  const Screen screen = Play(text, 20, 80);
  // Title and note do not fit side by side in 80 columns: the note wins.
  EXPECT_EQ(screen.alternate[0], "(stopping after the current read)");
  EXPECT_EQ(screen.alternate[1], "progress 5%  time -  speed -  remaining -  bad blocks -");
  for (size_t row = 2; row < screen.alternate.size(); ++row) EXPECT_EQ(screen.alternate[row], "");
  EXPECT_EQ(screen.after, std::vector<std::string>{"progress 5%  time -  speed -  remaining -  bad blocks -"});
}

TEST(TerminalPainting, AStoppingRunSaysSoWhereverThereIsRoom) {
  // Beside the title where both fit, instead of it where not, in the status
  // line where a one-line terminal has no title row.
  const std::vector<std::tuple<int, int, std::string, std::string>> cases = {
      {30, 120, "Scanning Disk 0:  (/dev/loop3): disk size 37 G, each cell 15 M  (stopping after the current read)",
       "progress -  time -  speed -  remaining -  bad blocks -"},
      {30, 60, "(stopping after the current read)", "progress -  time -  speed -  remaining -  bad blocks -"},
      {1, 60, "-  -  -  left -  bad -  (stopping)", ""},
      {1, 30, "-  -  bad -  (stopping)", ""},
  };
  for (const auto& [rows, columns, first, second] : cases) {
    const std::string text = Painted(true, rows, columns, [](TerminalPainter& p, TerminalView& v) {
      p.Update(v, nullptr, true, true);
      p.Finish();
    });
    const Screen screen = Play(text, rows, columns);
    EXPECT_EQ(screen.alternate[0], first) << rows << " x " << columns;
    if (rows > 1) {
      EXPECT_EQ(screen.alternate[1], second) << rows << " x " << columns;
    }
  }
}

TEST(TerminalPainting, EveryFrameFitsAndTheMapShowsOnlyWhereItFits) {
  CDrawPicModel model;
  for (int i = 0; i < 700; ++i) model.PaintCell(i, i == 77 ? 0x4265FF : 0x31B229);
  // Sizes of split panes and phone clients to a wide window: rows, columns,
  // whether the map is there.
  const std::vector<std::tuple<int, int, bool>> sizes = {
      {24, 40, false}, {40, 40, false}, {25, 120, false}, {26, 54, true}, {26, 53, false},
      {30, 60, true},  {50, 120, true}, {1, 20, false},   {2, 12, false}, {100, 300, true},
  };
  for (const auto& [rows, columns, map] : sizes) {
    const std::string text = Painted(true, rows, columns, [&model](TerminalPainter& p, TerminalView& v) {
      v.ShowPercent("28");
      v.ShowElapsed("1:2:35");
      v.ShowSpeed("118 M/s");
      v.ShowRemaining("2:40:10");
      v.ShowBadCount("1");
      v.ShowCellSize("15 M");
      p.Update(v, &model, false, true);
    });
    const Screen screen = Play(text, rows, columns);  // fails on anything that would wrap or scroll
    int mapRows = 0, statusRows = 0;
    for (const std::string& line : screen.alternate) {
      mapRows += line.find("\xE2\x96\x80") != std::string::npos ? 1 : 0;
      statusRows += line.find("28%") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(mapRows, map ? 23 : 0) << rows << " x " << columns;
    EXPECT_EQ(statusRows, 1) << rows << " x " << columns;
    const bool legend = std::any_of(screen.alternate.begin(), screen.alternate.end(),
                                    [](const std::string& l) { return l.find(" not yet") != std::string::npos; });
    EXPECT_EQ(legend, map) << rows << " x " << columns;
    // The picture left behind fits too, with the map on the same terms.
    for (const std::string& line : screen.after) EXPECT_LE(VisibleColumns(line), columns) << line;
    EXPECT_EQ(screen.after.size(), map ? 25u : 1u) << rows << " x " << columns;
  }
}

TEST(TerminalPainting, AResizeDrawsTheWholeFrameAnewForTheNewSize) {
  CDrawPicModel model;
  model.PaintCell(0, 0x31B229);
  std::vector<size_t> marks;
  std::FILE* out = std::tmpfile();
  {
    TerminalView view;
    TerminalPainter painter(SetupFor(out, true, 40, 120));
    const auto mark = [&] {
      std::fflush(out);
      marks.push_back(static_cast<size_t>(std::ftell(out)));
    };
    painter.Update(view, &model, false, false);
    mark();
    painter.Resize(40, 40);
    painter.Update(view, &model, false, false);
    mark();
    painter.Resize(30, 60);
    painter.Update(view, &model, false, false);
    mark();
  }
  const std::string text = ReadAll(out);
  std::fclose(out);
  const std::string narrow = text.substr(marks[0], marks[1] - marks[0]);
  const std::string wider = text.substr(marks[1], marks[2] - marks[1]);
  // Each size starts from a clear screen: nothing of the wider frame stays.
  EXPECT_EQ(narrow.substr(0, 7), "\x1b[H\x1b[2J");
  EXPECT_EQ(wider.substr(0, 7), "\x1b[H\x1b[2J");
  EXPECT_EQ(narrow.find("\xE2\x96\x80"), std::string::npos);
  EXPECT_EQ(Play("\x1b[?1049h" + narrow, 40, 40).alternate[1], "-  -  -  left -  bad -");
  EXPECT_EQ(Count(wider, "\xE2\x96\x80"), 23u * 54);
  // The picture left at the end is for the last size.
  const Screen screen = Play("\x1b[?1049h" + text.substr(marks[1]), 30, 60);
  EXPECT_EQ(screen.after.size(), 25u);
}

TEST(TerminalPainting, NoColourMeansNoColourEscapeAtAll) {
  CDrawPicModel model;
  for (int i = 0; i < 120; ++i) model.PaintCell(i, i == 60 ? 0x4265FF : 0x31B229);
  const std::string text = Painted(
      true, 40, 100,
      [&model](TerminalPainter& p, TerminalView& v) {
        v.ShowCellSize("15 M");
        p.Update(v, &model, false, true);
      },
      MapPalette::kText);
  for (size_t at = text.find("\x1b["); at != std::string::npos; at = text.find("\x1b[", at + 1)) {
    size_t end = at + 2;
    while (end < text.size() && !(text[end] >= 0x40 && text[end] <= 0x7e)) ++end;
    EXPECT_NE(text[end], 'm') << "a colour escape: " << text.substr(at + 1, end - at);
  }
  const Screen screen = Play(text, 40, 100);
  // Rows 0 and 1 read but cell 60 (row 1, column 6); row 2 read up to
  // column 11, row 3 not yet.
  EXPECT_EQ(screen.alternate[2], "######X" + std::string(47, '#'));
  EXPECT_EQ(screen.alternate[3], std::string(12, '+') + std::string(42, '.'));
  EXPECT_EQ(screen.alternate[4], std::string(54, '.'));
  EXPECT_EQ(screen.alternate[25], "# read  X failed  + partly read  . not yet  each cell 15 M");
  EXPECT_EQ(screen.after[2], screen.alternate[3]);  // the final picture has no title line
}

TEST(TerminalPainting, TheLiveFiguresComeFromTheFirstSecondOn) {
  FakeClock clock;
  clock.now = 5000;
  uint64_t position = 0;
  std::FILE* out = std::tmpfile();
  std::vector<std::string> statusLines;
  {
    TerminalView view;
    TerminalPainter painter(SetupFor(out, true, 10, 120));
    painter.Follow(
        clock, [&position] { return position; }, 0, 2048 * 1000);  // 1000 MiB
    const auto status = [&] {
      std::fflush(out);
      const Screen screen = Play(ReadAll(out), 10, 120);
      statusLines.push_back(screen.alternate[1]);
      std::fseek(out, 0, SEEK_END);
    };
    painter.Update(view, nullptr, false, true);
    status();
    clock.now = 5500;
    position = 2048 * 40;  // 40 MiB in half a second
    painter.Update(view, nullptr, false, false);
    status();
    clock.now = 6000;
    position = 2048 * 100;  // 100 MiB in the first second
    painter.Update(view, nullptr, false, false);
    status();
  }
  std::fclose(out);
  const std::string labels = "progress -  time -  speed -  remaining -  bad blocks -";
  EXPECT_EQ(statusLines[0], labels + "  now -  eta -");
  EXPECT_EQ(statusLines[1], labels + "  now -  eta -");
  // 100 MiB/s; 900 MiB to go: 9 seconds.
  EXPECT_EQ(statusLines[2], labels + "  now 100 MiB/s  eta 0:00:09");
}

TEST(TerminalStatusLine, ShorterCaptionsThenFieldsGoInAFixedOrder) {
  ScanLabels labels;
  labels.percent = "28";
  labels.elapsed = "1:2:35";
  labels.speed = "118 M/s";
  labels.remaining = "2:40:10";
  labels.bad = "3";
  const LiveFigures live{"92.3 MiB/s", "2:51:07"};
  const std::string full =
      "progress 28%  time 1:2:35  speed 118 M/s  remaining 2:40:10  bad blocks 3  now 92.3 MiB/s  eta 2:51:07";
  // Each form in turn, at the narrowest terminal that takes it whole (one
  // column stays free, so that nothing wraps); one column less gives the next.
  const std::vector<std::string> forms = {
      full,
      "28%  1:2:35  118 M/s  left 2:40:10  bad 3  now 92.3 MiB/s  eta 2:51:07",  // shorter captions
      "28%  1:2:35  left 2:40:10  bad 3  now 92.3 MiB/s  eta 2:51:07",           // the window's speed goes
      "28%  1:2:35  bad 3  now 92.3 MiB/s  eta 2:51:07",                         // then its remaining time
      "28%  bad 3  now 92.3 MiB/s  eta 2:51:07",                                 // then the scan time
      "28%  bad 3  eta 2:51:07",                                                 // then the live throughput
      "28%  bad 3",                                                              // then the live time left
  };
  for (size_t i = 0; i < forms.size(); ++i) {
    const int width = static_cast<int>(forms[i].size()) + 1;
    EXPECT_EQ(FittedStatusLine(labels, &live, false, width), forms[i]) << width;
    if (i + 1 < forms.size()) {
      EXPECT_EQ(FittedStatusLine(labels, &live, false, width - 1), forms[i + 1]) << width - 1;
    }
  }
  // Narrower than the percent and the bad blocks: cut, never wider.
  EXPECT_EQ(FittedStatusLine(labels, &live, false, 8), "28%  ba");
  EXPECT_EQ(FittedStatusLine(labels, &live, false, 1), "");
  // The window's texts are never reworded, only their captions.
  for (int width = 1; width <= 120; ++width) {
    const std::string line = FittedStatusLine(labels, &live, width % 2 == 0, width);
    EXPECT_LE(static_cast<int>(line.size()), std::max(0, width - 1)) << line;
    EXPECT_EQ(line.find("0:0:"), std::string::npos);
  }
}

TEST(TerminalStatusLine, FitToWidthNeverSplitsACharacterNorPassesAControl) {
  EXPECT_EQ(FitToWidth("abc", 2), "ab");
  EXPECT_EQ(FitToWidth("a\tb\x1b[2Jc", 20), "a?b?[2Jc");
  EXPECT_EQ(FitToWidth("\xE7\xA3\x81\xE7\x9B\x98x", 4), "\xE7\xA3\x81\xE7\x9B\x98");  // two wide characters
  EXPECT_EQ(FitToWidth("\xE7\xA3\x81\xE7\x9B\x98x", 3), "\xE7\xA3\x81");
  EXPECT_EQ(FitToWidth("ab\xE7\xA3", 10), "ab??");  // a broken sequence
}

TEST(TerminalPaintMode, TerminalTermAndNoColourDecide) {
  struct Case {
    bool terminal;
    const char* term;
    const char* noColor;
    MapPalette asked;
    bool live;
    MapPalette palette;
  };
  const Case cases[] = {
      {true, "xterm-256color", nullptr, MapPalette::kWindow, true, MapPalette::kWindow},
      {true, "tmux-256color", nullptr, MapPalette::kBlueOrange, true, MapPalette::kBlueOrange},
      {true, "dumb", nullptr, MapPalette::kWindow, false, MapPalette::kWindow},
      {true, "DUMB", nullptr, MapPalette::kWindow, true, MapPalette::kWindow},  // TERM names are exact
      {true, nullptr, nullptr, MapPalette::kWindow, true, MapPalette::kWindow},
      {false, "xterm", nullptr, MapPalette::kWindow, false, MapPalette::kWindow},
      {true, "xterm", "1", MapPalette::kWindow, true, MapPalette::kText},
      {true, "xterm", "0", MapPalette::kBlueOrange, true, MapPalette::kText},  // any value
      {true, "xterm", "", MapPalette::kWindow, true, MapPalette::kWindow},     // set but empty: not asked
      {true, "xterm", nullptr, MapPalette::kText, true, MapPalette::kText},
  };
  for (const Case& c : cases) {
    const PaintMode mode = ChoosePaintMode(c.terminal, c.term, c.noColor, c.asked);
    EXPECT_EQ(mode.live, c.live) << (c.term ? c.term : "(unset)");
    EXPECT_EQ(mode.palette, c.palette) << (c.noColor ? c.noColor : "(unset)");
  }
}

}  // namespace

namespace {

TEST(TerminalMapReadTimes, SlowCellsStandApartAndTheLegendSaysSo) {
  CDrawPicModel model;
  for (int i = 0; i < 4; ++i) model.PaintCell(i, kGoodCellColor);
  model.PaintCell(4, kBadCellColor);
  // Cell 1 slowest block 250 ms, cell 2 700 ms, cell 3 199 ms; the failed
  // cell's time does not make it slow (it stays failed).
  const CellReadTimes times = {1000000, 250000000, 700000000, 199000000, 900000000};
  const std::vector<std::string> lines = MapLines(&model, MapPalette::kWindow, times);
  const std::string& first = lines[0];
  const CellColours c = PaletteColours(MapPalette::kWindow);
  auto fg = [](Rgb rgb) {
    return "38;2;" + std::to_string(rgb.r) + ";" + std::to_string(rgb.g) + ";" + std::to_string(rgb.b);
  };
  // Cells 0 to 4 are the top halves of the first line's first five characters.
  const size_t slow = first.find(fg(c.slow));
  const size_t verySlow = first.find(fg(c.verySlow));
  const size_t failed = first.find(fg(c.failed));
  ASSERT_NE(slow, std::string::npos);
  ASSERT_NE(verySlow, std::string::npos);
  ASSERT_NE(failed, std::string::npos);
  EXPECT_LT(slow, verySlow);
  EXPECT_LT(verySlow, failed);
  // Without read times the same cells are plainly read.
  EXPECT_EQ(MapLines(&model, MapPalette::kWindow)[0].find(fg(c.slow)), std::string::npos);

  const std::vector<std::string> text = MapLines(&model, MapPalette::kText, times);
  EXPECT_EQ(text[0].substr(0, 6), "+sS+X.");  // cell 3 (199 ms) is no slow cell: '+' read over not yet
  EXPECT_NE(LegendLine(MapPalette::kText, "", 120, true).find("s slow  S very slow"), std::string::npos);
  EXPECT_EQ(LegendLine(MapPalette::kText, "", 120, false).find("slow"), std::string::npos);
  EXPECT_NE(LegendLine(MapPalette::kWindow, "15 M", 120, true).find("600ms+"), std::string::npos);
}

}  // namespace
