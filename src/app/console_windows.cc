#include "app/console.h"

#include <windows.h>

namespace vramcheck {

void PrepareConsole() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  // GetConsoleMode fails for redirected output, which is left alone.
  if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return;
  // Consoles older than Windows 10 refuse the mode; the status line then
  // shows its escape sequences as text.
  SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace vramcheck
