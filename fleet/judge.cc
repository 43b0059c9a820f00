#include "judge.h"

#include <algorithm>
#include <array>
#include <csignal>

#include <fmt/format.h>

namespace vramcheck::fleet {
namespace {

constexpr std::array<std::string_view, 4> kVerdictNames = {
    "clean", "failed", "interrupted", "errors"};

// Why a run without errors does not count as a whole one, or "".
std::string WhyNotWhole(const RunEvidence& run) {
  if (!run.error.empty()) return run.error;
  if (run.stall && run.stall->pass == 0) {
    return fmt::format(
        "device {} stopped responding after {} while preparing its blocks",
        run.device, SecondsText(run.stall->seconds));
  }
  if (run.stall) {
    return fmt::format(
        "device {} stopped responding after {} in pass {}, block {}",
        run.device, SecondsText(run.stall->seconds), run.stall->pass,
        run.stall->block);
  }
  if (!run.finished) {
    return "the worker ended with " +
           (run.ended_with.empty() ? std::string("no result") : run.ended_with);
  }
  if (run.passes.empty()) {
    return "no pass finished in " + SecondsText(run.planned_seconds);
  }
  return "";
}

}  // namespace

std::string_view VerdictName(Verdict verdict) {
  return kVerdictNames[static_cast<std::size_t>(verdict)];
}

std::optional<Verdict> ParseVerdict(std::string_view name) {
  for (std::size_t i = 0; i < kVerdictNames.size(); ++i) {
    if (kVerdictNames[i] == name) return static_cast<Verdict>(i);
  }
  return std::nullopt;
}

int VerdictStatus(Verdict verdict, int signal) {
  switch (verdict) {
    case Verdict::kClean: return 0;
    case Verdict::kErrors: return 1;
    case Verdict::kInterrupted: return 128 + signal;
    case Verdict::kFailed: break;
  }
  return 2;
}

Judgement JudgeRun(const RunEvidence& run) {
  const std::string why = run.signal != 0
                              ? "interrupted by " + SignalName(run.signal)
                              : WhyNotWhole(run);
  if (run.word_errors > 0 || run.bit_errors > 0) {
    return {Verdict::kErrors, why.empty() ? "" : "then " + why};
  }
  if (run.signal != 0) return {Verdict::kInterrupted, why};
  if (!why.empty()) return {Verdict::kFailed, why};
  return {Verdict::kClean, ""};
}

bool RetryOnFewerBlocks(const RunEvidence& run) {
  return run.passes.empty() && run.word_errors == 0 && run.bit_errors == 0 &&
         run.signal == 0 &&
         run.error.find("try fewer blocks") != std::string::npos;
}

std::vector<std::uint32_t> TrySizes(std::uint32_t max_blocks) {
  std::vector<std::uint32_t> sizes;
  for (const std::uint64_t size :
       {std::uint64_t{max_blocks}, std::uint64_t{max_blocks} * 9 / 10,
        std::uint64_t{max_blocks} * 3 / 4}) {
    if (size >= 1 &&
        std::find(sizes.begin(), sizes.end(), size) == sizes.end()) {
      sizes.push_back(static_cast<std::uint32_t>(size));
    }
  }
  return sizes;
}

Judgement WithBenchmark(Judgement run, const std::string& bench_failure) {
  if (run.verdict == Verdict::kClean && !bench_failure.empty()) {
    return {Verdict::kFailed, "the benchmark " + bench_failure};
  }
  return run;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGHUP: return "SIGHUP";
    case SIGINT: return "SIGINT";
    case SIGKILL: return "SIGKILL";
    case SIGSEGV: return "SIGSEGV";
    case SIGTERM: return "SIGTERM";
    case SIGABRT: return "SIGABRT";
    default: return fmt::format("signal {}", signal);
  }
}

std::string SecondsText(double seconds) {
  if (seconds == static_cast<double>(static_cast<std::uint64_t>(seconds))) {
    return fmt::format("{} s", static_cast<std::uint64_t>(seconds));
  }
  return fmt::format("{:.1f} s", seconds);
}

}  // namespace vramcheck::fleet
