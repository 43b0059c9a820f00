#include "app/terminal.h"

namespace vramcheck::terminal {

void ClearScreen(std::ostream& out) { out << "\033[2J\033[0;0H"; }

void DrawStatusLine(std::ostream& out, std::string_view line) {
  out << "\033[0;0H\033[0J" << line;
}

}  // namespace vramcheck::terminal
