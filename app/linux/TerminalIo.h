#pragma once
// What the terminal front end asks of the terminal it may be running in:
// whether an output is one, its size, and its resizes (SIGWINCH).
#include <string>

#include "app/linux/Args.h"
#include "app/linux/TerminalView.h"

// Blocks SIGWINCH for the whole process, so that it waits, pending, until
// the painter asks for it (TakeResize): no thread is ever interrupted by a
// resize, not a read of the disk either. Call it before any thread starts;
// the threads started later inherit it.
void HoldResizeSignals();

// True, once, when the terminal was resized since the last call. Never
// waits.
bool TakeResize();

// The size of the terminal on FD; false where it cannot be told.
bool TerminalSizeOf(int fd, int& rows, int& columns);

// How a scan shows its run on `out` (whose descriptor is `fd`): live on a
// terminal that moves its cursor, else plain lines; the palette asked for,
// or characters under NO_COLOR; the terminal's size; `title` on top.
TerminalPainter::Setup PainterSetupFor(std::FILE* out, int fd, const Options& options, const std::string& title);
