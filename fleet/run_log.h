#ifndef VRAMCHECK_FLEET_RUN_LOG_H_
#define VRAMCHECK_FLEET_RUN_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "judge.h"
#include "record.h"

namespace vramcheck::fleet {

// What the supervisor learns of one worker's run from its lines (worker.h),
// each taken with the seconds since the worker started.
class RunLog {
 public:
  // At most this many error blocks are kept; the totals count them all.
  static constexpr std::size_t kMaxErrorBlocks = 1000;

  RunLog(std::uint32_t device, std::uint32_t blocks, double planned_seconds);

  void Take(const std::string& line, double at_seconds);

  // The evidence for the judgement, once the worker has ended: `stalled`
  // where it stopped responding, `ended_with` how it ended ("status N",
  // "SIGX"), `signal` the signal that interrupted the check, or 0.
  RunEvidence Evidence(bool stalled, const std::string& ended_with,
                       int signal) const;

  const std::vector<PassFigures>& passes() const { return passes_; }
  const std::vector<ErrorBlock>& error_blocks() const { return error_blocks_; }
  double seconds() const { return last_seconds_; }
  std::uint64_t word_errors() const { return word_errors_; }
  std::uint64_t bit_errors() const { return bit_errors_; }

 private:
  void TakeBlock(const struct BlockLine& block);
  void EndPass();

  std::uint32_t device_;
  std::uint32_t blocks_;
  double planned_seconds_;
  bool ready_ = false;
  bool finished_ = false;
  std::string error_;
  // The last block record: its pass (0 for none yet), its kernel (true for
  // read), its block.
  std::uint32_t last_pass_ = 0;
  bool last_read_ = true;
  std::uint32_t last_block_ = 0;
  double last_seconds_ = 0;
  // The pass under way.
  std::vector<double> write_gibs_;
  std::vector<double> read_gibs_;
  double pass_host_seconds_ = 0;
  std::uint64_t pass_word_errors_ = 0;
  std::uint64_t pass_bit_errors_ = 0;

  std::vector<PassFigures> passes_;
  std::vector<ErrorBlock> error_blocks_;
  std::uint64_t word_errors_ = 0;
  std::uint64_t bit_errors_ = 0;
};

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_RUN_LOG_H_
