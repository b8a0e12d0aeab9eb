#include "app/linux/TerminalIo.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace {
sigset_t ResizeSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGWINCH);
  return set;
}
}  // namespace

void HoldResizeSignals() {
  const sigset_t set = ResizeSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool TakeResize() {
  // Held on this thread too, whoever called HoldResizeSignals: otherwise the
  // signal would be dropped (its default action is to ignore it) instead of
  // waiting here.
  HoldResizeSignals();
  const sigset_t set = ResizeSet();
  const timespec now{0, 0};
  bool resized = false;
  while (sigtimedwait(&set, nullptr, &now) == SIGWINCH) resized = true;
  return resized;
}

bool TerminalSizeOf(int fd, int& rows, int& columns) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) return false;
  rows = size.ws_row;
  columns = size.ws_col;
  return true;
}

TerminalPainter::Setup PainterSetupFor(std::FILE* out, int fd, const Options& options, const std::string& title) {
  TerminalPainter::Setup setup;
  setup.out = out;
  setup.mode = ChoosePaintMode(isatty(fd) == 1, std::getenv("TERM"), std::getenv("NO_COLOR"), options.palette);
  setup.title = title;
  if (setup.mode.live) {
    TerminalSizeOf(fd, setup.rows, setup.columns);
    setup.sizeFd = fd;
    // Resizes from now on are the painter's: one still pending from before
    // the run would only draw the same frame twice.
    TakeResize();
  }
  return setup;
}
