#ifndef VRAMCHECK_TESTS_SUPPORT_TEMP_FOLDER_H_
#define VRAMCHECK_TESTS_SUPPORT_TEMP_FOLDER_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vramcheck::test_support {

// A new folder under the temporary folder, removed with everything in it
// when the object ends, so that tests running at the same time, from one
// build tree or several, share no file.
class TempFolder {
 public:
  TempFolder() : path_(testing::TempDir() + "vramcheck-test-XXXXXX") {
    if (mkdtemp(path_.data()) == nullptr) {
      throw std::runtime_error("cannot make a folder like " + path_);
    }
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace vramcheck::test_support

#endif  // VRAMCHECK_TESTS_SUPPORT_TEMP_FOLDER_H_
