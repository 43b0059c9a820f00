#ifndef VRAMCHECK_FLEET_JUDGE_H_
#define VRAMCHECK_FLEET_JUDGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vramcheck::fleet {

// The verdicts from best to worst: a machine's is the worst of its devices'.
enum class Verdict { kClean, kFailed, kInterrupted, kErrors };

// "clean", "failed", "interrupted", "errors".
std::string_view VerdictName(Verdict verdict);
// The verdict of a name that VerdictName gives; nullopt for any other text.
std::optional<Verdict> ParseVerdict(std::string_view name);
// 0 clean, 1 errors, 2 failed; 128 + `signal` interrupted.
int VerdictStatus(Verdict verdict, int signal);

// One whole pass of a device's run, as its block records told it.
struct PassFigures {
  double seconds = 0;      // from its first launch's start to its last's end
  double write_gibs = 0;   // the median of its blocks' write bandwidth
  double read_gibs = 0;    // the median of its blocks' read bandwidth
  std::uint64_t word_errors = 0;
  std::uint64_t bit_errors = 0;
};

// Where a device stopped responding: the seconds into its run at which its
// last record came, and the pass (from 1; 0 while it prepared its blocks)
// and block (from 0) whose launch it was waiting for.
struct Stall {
  double seconds = 0;
  std::uint32_t pass = 0;
  std::uint32_t block = 0;
};

// What a device's worker showed the supervisor.
struct RunEvidence {
  std::uint32_t device = 0;
  double planned_seconds = 0;  // the run time asked for
  std::vector<PassFigures> passes;
  // Over every record, whole passes or not.
  std::uint64_t word_errors = 0;
  std::uint64_t bit_errors = 0;
  std::optional<Stall> stall;
  std::string error;        // the worker's own error line, if it sent one
  bool finished = false;    // the worker said it ran its whole time
  std::string ended_with;   // "status N" or "SIGX" where it ended otherwise
  int signal = 0;           // the signal that interrupted the check, if any
};

struct Judgement {
  Verdict verdict = Verdict::kFailed;
  std::string message;
};

// Errors where any record showed an error, whatever came after, with what
// ended the run as "then ..."; interrupted where a signal ended the run;
// failed without a whole run that responded to the end (an error line, a
// stall, an early end, no whole pass); clean otherwise.
Judgement JudgeRun(const RunEvidence& run);

// True where a run should be tried again on fewer blocks: it failed for
// want of resources before any pass finished, found no error and was not
// interrupted (drivers that reserve memory only at a kernel's first launch).
bool RetryOnFewerBlocks(const RunEvidence& run);

// The block counts to try on a device whose limit is `max_blocks`: all of
// them, then 90 % and 75 %, each once and at least 1.
std::vector<std::uint32_t> TrySizes(std::uint32_t max_blocks);

// A device's judgement once its benchmark is known: clean stays clean only
// where the benchmark was; `bench_failure` says how it failed, if it did.
Judgement WithBenchmark(Judgement run, const std::string& bench_failure);

// The median of `values` (sorted inside); 0 for none.
double Median(std::vector<double> values);

// "SIGTERM" and the like; "signal N" for a signal without a name here.
std::string SignalName(int signal);

// Seconds the way people read them: "12 s", "2.5 s".
std::string SecondsText(double seconds);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_JUDGE_H_
