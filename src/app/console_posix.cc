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

// The program is linked to the OpenCL loader, which the system loads before
// the program starts.
std::optional<std::string> LoadOpenClLibrary() { return std::nullopt; }

// A terminal stays open when a program in it ends.
void WaitBeforeWindowCloses() {}

}  // namespace vramcheck
