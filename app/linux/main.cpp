// morvek-scan: the terminal front end on Linux.
//
// The scan itself is the scan window's logic (CScan) with a terminal in the
// window's place: the same handlers run in the same order as in the dialog
// (initialisation, a selection, Start, and Stop on an interrupt), and the
// worker reports through TerminalView.
#include <cstdio>
#include <string>
#include <vector>

#include "app/linux/Args.h"
#include "app/linux/Commands.h"
#include "app/linux/ListDisks.h"
#include "app/linux/TerminalIo.h"

int main(int argc, char** argv) {
  PrepareProcess();
  HoldResizeSignals();  // before any thread starts
  Options options;
  std::string error;
  if (!ParseArgs(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "morvek-scan: %s\n", error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return kExitClean;
  }
  if (options.version) {
    std::fputs(VersionText(), stdout);
    return kExitClean;
  }
  return options.list ? ListDisks(options) : ScanOneDisk(options);
}
