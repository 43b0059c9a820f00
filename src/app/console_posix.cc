#include "app/console.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/terminal.h"

namespace vramcheck {

// Terminals outside Windows interpret escape sequences.
void ClearScreen(std::ostream& out) { terminal::ClearScreen(out); }

void DrawStatusLine(std::ostream& out, std::string_view line) {
  terminal::DrawStatusLine(out, line);
  out.flush();
}

bool StandardOutputIsOpen() { return fcntl(STDOUT_FILENO, F_GETFD) != -1; }

// A terminal stays open when a program in it ends.
void WaitBeforeWindowCloses() {}

}  // namespace vramcheck
