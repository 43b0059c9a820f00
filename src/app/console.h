#ifndef VRAMCHECK_APP_CONSOLE_H_
#define VRAMCHECK_APP_CONSOLE_H_

#include <ostream>
#include <string_view>

namespace vramcheck {

// What the console program does differently on Windows; elsewhere each
// function does what a terminal needs, or nothing.

// Empties the screen and puts the cursor at the top-left corner, once
// before the first pass.
void ClearScreen(std::ostream& out);

// Shows `line` as the one status line at the top of the screen, in place of
// whatever stood there, and flushes `out`; the cursor rests at its end.
//
// Both write escape sequences (app/terminal.h), unless `out` is standard
// output on a Windows console, which is redrawn through the console API
// (Wine's console and consoles before Windows 10 show escape sequences as
// text).
void DrawStatusLine(std::ostream& out, std::string_view line);

// False when the process was started with standard output closed. Drivers
// open files of their own, and one could otherwise take its place and
// receive the status lines.
bool StandardOutputIsOpen();

// Called last before the program ends. When the program is the only process
// on a Windows console, whose window closes with it (it was started by a
// double click), asks for Enter and waits for it or for the end of input,
// so that the last lines stay readable. Returns at once in every other case:
// started from a shell, with standard input or output redirected, outside
// Windows.
void WaitBeforeWindowCloses();

}  // namespace vramcheck

#endif  // VRAMCHECK_APP_CONSOLE_H_
