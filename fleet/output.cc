#include "output.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace vramcheck::fleet {

void Complain(const std::string& line) {
  std::fprintf(stderr, "gpu-check: %s\n", line.c_str());
  std::fflush(stderr);
}

bool Say(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

void DieBy(int signal) {
  std::fflush(nullptr);
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);
}

std::string ProgramFolder() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : self.parent_path().string();
}

std::string UtcNow(bool compact) {
  const std::time_t now = std::time(nullptr);
  std::tm utc = {};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text,
                compact ? "%Y%m%dT%H%M%SZ" : "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace vramcheck::fleet
