#include "app/console.h"

#include <windows.h>

namespace vramcheck {

// Microsoft's documented way of clearing a console without escape
// sequences, which works on every Windows console and on Wine's.
void ClearScreen(std::ostream& out, std::string_view sequence) {
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  // GetConsoleMode fails for a pipe or a file, which get the sequence.
  if (console == INVALID_HANDLE_VALUE || console == nullptr ||
      !GetConsoleMode(console, &mode)) {
    out << sequence;
    return;
  }
  // What `out` holds must reach the console before it is cleared.
  out.flush();
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info)) return;
  const COORD home = {0, 0};
  const DWORD cells = static_cast<DWORD>(info.dwSize.X) *
                      static_cast<DWORD>(info.dwSize.Y);
  DWORD written = 0;
  FillConsoleOutputCharacterA(console, ' ', cells, home, &written);
  FillConsoleOutputAttribute(console, info.wAttributes, cells, home,
                             &written);
  SetConsoleCursorPosition(console, home);
}

bool StandardOutputIsOpen() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE;
}

}  // namespace vramcheck
