#include "result_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vramcheck::fleet {
namespace {

// A file name's part from a host's or job's name: no separator, no control
// character.
std::string NamePart(const std::string& text) {
  std::string part = Printable(text);
  for (char& c : part) {
    if (c == '/' || c == ' ' || c == '_') c = '-';
  }
  return part.empty() ? "-" : part;
}

}  // namespace

bool ResultFile::Create(const std::string& folder, const ResultRecord& r) {
  path_.clear();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::string name = folder + "/" + NamePart(r.job) + "_" +
                     std::to_string(r.task) + "_" + NamePart(r.host) +
                     "_XXXXXX.part";
  const int fd = mkstemps(name.data(), 5);
  if (fd < 0) return false;
  close(fd);
  path_ = name;
  return true;
}

bool ResultFile::Write(const ResultRecord& record, bool final) {
  if (path_.empty()) return false;
  {
    std::ofstream file(path_, std::ios::trunc);
    file << ToJsonLine(record) << '\n';
    file.flush();
    if (!file) return false;
  }
  if (!final) return true;
  const std::string done = path_.substr(0, path_.size() - 5) + ".jsonl";
  if (std::rename(path_.c_str(), done.c_str()) != 0) return false;
  path_ = done;
  return true;
}

}  // namespace vramcheck::fleet
