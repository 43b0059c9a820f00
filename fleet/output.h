#ifndef VRAMCHECK_FLEET_OUTPUT_H_
#define VRAMCHECK_FLEET_OUTPUT_H_

#include <string>

namespace vramcheck::fleet {

// Writes "gpu-check: LINE" to standard error.
void Complain(const std::string& line);

// Writes `text` to standard output and flushes it; false where it could not.
bool Say(const std::string& text);

// Writes `text` into `path` so that a reader never sees half of it: into a
// temporary file in the same folder whose name starts with a dot, made
// readable by every user, then renamed over `path`. Returns 0, or the
// errno of what failed.
int WriteWhole(const std::string& path, const std::string& text);

// Ends the process by `signal`, as the shell that started it expects of a
// program that a signal interrupted.
[[noreturn]] void DieBy(int signal);

// The folder of this program's executable.
std::string ProgramFolder();

// Now in UTC: "2026-12-09T13:00:00Z", or with `compact` "20261209T130000Z".
std::string UtcNow(bool compact = false);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_OUTPUT_H_
