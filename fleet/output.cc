#include "output.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

int WriteWhole(const std::string& path, const std::string& text) {
  const std::size_t slash = path.rfind('/');
  std::string temporary =
      slash == std::string::npos
          ? "." + path + ".XXXXXX"
          : path.substr(0, slash + 1) + "." + path.substr(slash + 1) +
                ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return errno;
  std::size_t written = 0;
  errno = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  int failure = written == text.size() ? 0 : (errno != 0 ? errno : EIO);
  if (failure == 0 && fchmod(fd, 0644) != 0) failure = errno;
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
    failure = errno;
  }
  if (failure != 0) unlink(temporary.c_str());
  return failure;
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
