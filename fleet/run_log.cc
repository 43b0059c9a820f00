#include "run_log.h"

#include <exception>

#include <nlohmann/json.hpp>

#include "test_engine/memory_tester.h"

namespace vramcheck::fleet {

struct BlockLine {
  std::uint32_t pass;
  std::uint32_t block;
  bool read;
  std::uint64_t device_ns;
  std::uint64_t host_ns;
  std::uint64_t word_errors;
  std::uint64_t bit_errors;
};

RunLog::RunLog(std::uint32_t device, std::uint32_t blocks,
               double planned_seconds)
    : device_(device), blocks_(blocks), planned_seconds_(planned_seconds) {}

void RunLog::Take(const std::string& line, double at_seconds) {
  last_seconds_ = at_seconds;
  try {
    const nlohmann::json message = nlohmann::json::parse(line);
    const std::string kind = message.at("kind").get<std::string>();
    if (kind == "block") {
      TakeBlock({message.at("pass").get<std::uint32_t>(),
                 message.at("block").get<std::uint32_t>(),
                 message.at("kernel").get<std::string>() == "read",
                 message.at("device_ns").get<std::uint64_t>(),
                 message.at("host_ns").get<std::uint64_t>(),
                 message.at("word_errors").get<std::uint64_t>(),
                 message.at("bit_errors").get<std::uint64_t>()});
    } else if (kind == "pass") {
      EndPass();
    } else if (kind == "ready") {
      ready_ = true;
    } else if (kind == "end") {
      finished_ = true;
    } else if (kind == "error" && error_.empty()) {
      // The first line says it; a build log may follow.
      const std::string text = message.at("message").get<std::string>();
      error_ = text.substr(0, text.find('\n'));
    }
  } catch (const std::exception&) {
    // A driver may write to standard output: such lines are no records.
  }
}

void RunLog::TakeBlock(const BlockLine& block) {
  last_pass_ = block.pass;
  last_read_ = block.read;
  last_block_ = block.block;
  const double gibs = BlockBandwidth(block.device_ns);
  (block.read ? read_gibs_ : write_gibs_).push_back(gibs);
  pass_host_seconds_ += static_cast<double>(block.host_ns) / 1e9;
  if (block.word_errors == 0 && block.bit_errors == 0) return;
  pass_word_errors_ += block.word_errors;
  pass_bit_errors_ += block.bit_errors;
  word_errors_ += block.word_errors;
  bit_errors_ += block.bit_errors;
  if (error_blocks_.size() < kMaxErrorBlocks) {
    error_blocks_.push_back(
        {block.pass, block.block, block.word_errors, block.bit_errors});
  }
}

void RunLog::EndPass() {
  // A pass is whole only with every block written and read.
  if (write_gibs_.size() == blocks_ && read_gibs_.size() == blocks_) {
    passes_.push_back({pass_host_seconds_, Median(write_gibs_),
                       Median(read_gibs_), pass_word_errors_,
                       pass_bit_errors_});
  }
  write_gibs_.clear();
  read_gibs_.clear();
  pass_host_seconds_ = 0;
  pass_word_errors_ = 0;
  pass_bit_errors_ = 0;
}

RunEvidence RunLog::Evidence(bool stalled, const std::string& ended_with,
                             int signal) const {
  RunEvidence run;
  run.device = device_;
  run.planned_seconds = planned_seconds_;
  run.passes = passes_;
  run.word_errors = word_errors_;
  run.bit_errors = bit_errors_;
  run.error = error_;
  run.finished = finished_;
  run.ended_with = ended_with;
  // A run that had ended by itself was not interrupted.
  run.signal = finished_ ? 0 : signal;
  if (stalled) {
    // The launch it was waiting for: the one after the last record, or
    // the first once its blocks were ready (pass 0 while it prepared them).
    Stall stall{last_seconds_, ready_ ? 1u : 0u, 0};
    if (last_pass_ > 0 && last_block_ + 1 < blocks_) {
      stall = {last_seconds_, last_pass_, last_block_ + 1};
    } else if (last_pass_ > 0) {
      stall = {last_seconds_, last_pass_ + (last_read_ ? 1 : 0), 0};
    }
    run.stall = stall;
  }
  return run;
}

}  // namespace vramcheck::fleet
