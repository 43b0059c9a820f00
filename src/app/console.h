#ifndef VRAMCHECK_APP_CONSOLE_H_
#define VRAMCHECK_APP_CONSOLE_H_

namespace vramcheck {

// Makes a console on standard output interpret the status line's escape
// sequences. Windows consoles need this switched on; elsewhere, and when
// standard output is not a console, it does nothing. Failing to switch it on
// is not an error: the program carries on.
void PrepareConsole();

}  // namespace vramcheck

#endif  // VRAMCHECK_APP_CONSOLE_H_
