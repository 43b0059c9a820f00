#include "app/console.h"

#include <windows.h>

#include <cstdio>

#include "app/terminal.h"

namespace vramcheck {
namespace {

bool IsConsole(DWORD standard_handle) {
  const HANDLE handle = GetStdHandle(standard_handle);
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr &&
         GetConsoleMode(handle, &mode);
}

// Microsoft's documented way of clearing a console without escape
// sequences, which works on every Windows console and on Wine's.
void ClearConsole(std::ostream& out) {
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
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

}  // namespace

// A pipe or a file gets what a terminal would.
void ClearScreen(std::ostream& out) {
  if (IsConsole(STD_OUTPUT_HANDLE)) {
    ClearConsole(out);
  } else {
    terminal::ClearScreen(out);
  }
}

void DrawStatusLine(std::ostream& out, std::string_view line) {
  if (IsConsole(STD_OUTPUT_HANDLE)) {
    ClearConsole(out);
    out << line;
  } else {
    terminal::DrawStatusLine(out, line);
  }
  out.flush();
}

bool StandardOutputIsOpen() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE;
}

// A console window closes when its last process ends. A program started
// from a shell shares the console with the shell; one started by a double
// click is alone on a console of its own.
void WaitBeforeWindowCloses() {
  DWORD processes[1];
  if (!IsConsole(STD_INPUT_HANDLE) || !IsConsole(STD_OUTPUT_HANDLE) ||
      GetConsoleProcessList(processes, 1) != 1) {
    return;
  }
  // The prompt goes to the console directly, after what the program wrote.
  std::fflush(stdout);
  static constexpr char kPrompt[] = "Press Enter to close this window.\r\n";
  DWORD count = 0;
  if (!WriteConsoleA(GetStdHandle(STD_OUTPUT_HANDLE), kPrompt,
                     sizeof(kPrompt) - 1, &count, nullptr)) {
    return;
  }
  // Only a key pressed after the prompt closes the window, not a line typed
  // ahead. A line-mode console read returns at Enter, at the end of input
  // and on Ctrl+C, which ends the program as before.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  FlushConsoleInputBuffer(input);
  char line[256];
  ReadConsoleA(input, line, sizeof(line), &count, nullptr);
}

}  // namespace vramcheck
