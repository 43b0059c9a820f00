#ifndef VRAMCHECK_APP_CONSOLE_H_
#define VRAMCHECK_APP_CONSOLE_H_

#include <ostream>
#include <string_view>

namespace vramcheck {

// Empties the screen and puts the cursor at the top-left corner. Writes
// `sequence`, the escape sequence that does so on a terminal, unless `out` is
// standard output on a Windows console, which is cleared through the console
// API (Wine's console and consoles before Windows 10 show escape sequences as
// text).
void ClearScreen(std::ostream& out, std::string_view sequence);

// False when the process was started with standard output closed. Drivers
// open files of their own, and one could otherwise take its place and
// receive the status lines.
bool StandardOutputIsOpen();

}  // namespace vramcheck

#endif  // VRAMCHECK_APP_CONSOLE_H_
