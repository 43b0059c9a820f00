#ifndef VRAMCHECK_APP_TERMINAL_H_
#define VRAMCHECK_APP_TERMINAL_H_

#include <ostream>
#include <string_view>

namespace vramcheck::terminal {

// How a terminal that interprets escape sequences is redrawn, and what goes
// to a pipe or a file in place of a redraw. The console functions of
// app/console.h use these wherever no console API does the work.

// Erases the whole screen, then moves the cursor to the top-left corner.
void ClearScreen(std::ostream& out);

// Moves the cursor to the top-left corner and erases from there to the end
// of the screen, so that the line stands alone whatever stood there before,
// then writes `line` with no newline.
void DrawStatusLine(std::ostream& out, std::string_view line);

}  // namespace vramcheck::terminal

#endif  // VRAMCHECK_APP_TERMINAL_H_
