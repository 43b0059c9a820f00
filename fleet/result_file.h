#ifndef VRAMCHECK_FLEET_RESULT_FILE_H_
#define VRAMCHECK_FLEET_RESULT_FILE_H_

#include <string>

#include "record.h"

namespace vramcheck::fleet {

// A device's result file: JOB_TASK_HOST_XXXXXX.part in its folder, never
// the same as another's, until the final record renames it .jsonl.
class ResultFile {
 public:
  // Makes the folder and the file; false where it cannot (`path()` empty).
  bool Create(const std::string& folder, const ResultRecord& record);
  // Writes `record` as the file's one line; where `final`, renames the file
  // .jsonl. False where it cannot.
  bool Write(const ResultRecord& record, bool final);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_RESULT_FILE_H_
