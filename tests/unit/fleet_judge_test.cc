// The fleet program's judgement of a run, its settings and its table.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "judge.h"
#include "run_log.h"
#include "settings.h"
#include "table.h"

namespace vramcheck::fleet {
namespace {

constexpr char kFewerBlocks[] =
    "clEnqueueNDRangeKernel failed with CL_OUT_OF_RESOURCES (-5): the device "
    "could not provide the resources; try fewer blocks";

// A run of device 2 planned for 60 s: its errors, whole passes, whether
// it sent its end, how it stalled, its error line and the signal.
struct JudgeCase {
  std::uint64_t errors;
  std::size_t passes;
  bool finished;
  std::optional<Stall> stall;
  std::string error;
  int signal;
  std::string ended_with;
  Verdict verdict;
  std::string message;
};

RunEvidence Evidence(const JudgeCase& c) {
  RunEvidence run;
  run.device = 2;
  run.planned_seconds = 60;
  run.passes.resize(c.passes);
  run.word_errors = c.errors;
  run.stall = c.stall;
  run.error = c.error;
  run.finished = c.finished;
  run.ended_with = c.ended_with;
  run.signal = c.signal;
  return run;
}

TEST(JudgeRunTest, JudgesEveryWayARunCanGo) {
  const std::string stall_text =
      "device 2 stopped responding after 12 s in pass 2, block 0";
  const std::vector<JudgeCase> cases = {
      {0, 1, true, {}, "", 0, "status 0", Verdict::kClean, ""},
      // Errors in one pass stay errors, whatever the passes after showed.
      {4, 3, true, {}, "", 0, "status 0", Verdict::kErrors, ""},
      {1, 1, false, Stall{12, 2, 0}, "", 0, "SIGKILL", Verdict::kErrors,
       "then " + stall_text},
      {1, 0, false, {}, "clFinish failed", 0, "status 1", Verdict::kErrors,
       "then clFinish failed"},
      {1, 1, false, {}, "", SIGTERM, "SIGTERM", Verdict::kErrors,
       "then interrupted by SIGTERM"},
      {0, 0, true, {}, "", 0, "status 0", Verdict::kFailed,
       "no pass finished in 60 s"},
      {0, 1, false, Stall{12, 2, 0}, "", 0, "SIGKILL", Verdict::kFailed,
       stall_text},
      {0, 0, false, Stall{7.5, 0, 0}, "", 0, "SIGKILL", Verdict::kFailed,
       "device 2 stopped responding after 7.5 s while preparing its blocks"},
      {0, 1, false, {}, "", SIGINT, "SIGINT", Verdict::kInterrupted,
       "interrupted by SIGINT"},
      // Without its end message a run is no whole run, whatever its status.
      {0, 2, false, {}, "", 0, "status 0", Verdict::kFailed,
       "the worker ended with status 0"},
      {0, 2, false, {}, "", 0, "SIGSEGV", Verdict::kFailed,
       "the worker ended with SIGSEGV"},
      {0, 1, false, {}, kFewerBlocks, 0, "status 1", Verdict::kFailed,
       kFewerBlocks},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Judgement judged = JudgeRun(Evidence(cases[i]));
    EXPECT_EQ(judged.verdict, cases[i].verdict) << "case " << i;
    EXPECT_EQ(judged.message, cases[i].message) << "case " << i;
  }
  RunEvidence bits = Evidence(cases[0]);
  bits.bit_errors = 1;
  EXPECT_EQ(JudgeRun(bits).verdict, Verdict::kErrors);
}

TEST(JudgeRunTest, RetriesOnFewerBlocksOnlyForWantOfResourcesBeforeAPass) {
  const std::vector<std::pair<JudgeCase, bool>> cases = {
      {{0, 0, false, {}, kFewerBlocks, 0, "status 1", {}, ""}, true},
      {{0, 1, false, {}, kFewerBlocks, 0, "status 1", {}, ""}, false},
      {{1, 0, false, {}, kFewerBlocks, 0, "status 1", {}, ""}, false},
      {{0, 0, false, {}, kFewerBlocks, SIGTERM, "status 1", {}, ""}, false},
      {{0, 0, false, {}, "Failure to prepare memory test.", 0, "", {}, ""},
       false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(RetryOnFewerBlocks(Evidence(cases[i].first)), cases[i].second)
        << "case " << i;
  }
}

TEST(JudgeRunTest, TrySizesAreTheLimitThen90And75PercentEachOnce) {
  using Sizes = std::vector<std::uint32_t>;
  EXPECT_EQ(TrySizes(316), (Sizes{316, 284, 237}));
  EXPECT_EQ(TrySizes(10), (Sizes{10, 9, 7}));
  EXPECT_EQ(TrySizes(3), (Sizes{3, 2}));
  EXPECT_EQ(TrySizes(2), (Sizes{2, 1}));
  EXPECT_EQ(TrySizes(1), (Sizes{1}));
  EXPECT_EQ(TrySizes(0), Sizes{});
  EXPECT_EQ(TrySizes(UINT32_MAX),
            (Sizes{UINT32_MAX, 3865470565u, 3221225471u}));
}

TEST(JudgeRunTest, BenchmarkFailureSpoilsOnlyACleanRun) {
  const Judgement clean = WithBenchmark({Verdict::kClean, ""}, "");
  EXPECT_EQ(clean.verdict, Verdict::kClean);
  const Judgement failed =
      WithBenchmark({Verdict::kClean, ""}, "ended with status 1");
  EXPECT_EQ(failed.verdict, Verdict::kFailed);
  EXPECT_EQ(failed.message, "the benchmark ended with status 1");
  const Judgement errors =
      WithBenchmark({Verdict::kErrors, "then x"}, "ended with status 1");
  EXPECT_EQ(errors.verdict, Verdict::kErrors);
  EXPECT_EQ(errors.message, "then x");
}

TEST(VerdictTest, StatusesNamesAndTheWorstOfSeveral) {
  EXPECT_EQ(VerdictStatus(Verdict::kClean, 0), 0);
  EXPECT_EQ(VerdictStatus(Verdict::kErrors, SIGTERM), 1);
  EXPECT_EQ(VerdictStatus(Verdict::kFailed, 0), 2);
  EXPECT_EQ(VerdictStatus(Verdict::kInterrupted, SIGTERM), 128 + SIGTERM);
  for (const Verdict v : {Verdict::kClean, Verdict::kFailed,
                          Verdict::kInterrupted, Verdict::kErrors}) {
    EXPECT_EQ(ParseVerdict(VerdictName(v)), v);
  }
  for (const char* word : {"84", "", "Clean", "clean ", "ok", "0"}) {
    EXPECT_EQ(ParseVerdict(word), std::nullopt) << word;
  }
  const auto worst = [](std::vector<Verdict> verdicts) {
    std::vector<ResultRecord> records(verdicts.size());
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
      records[i].verdict = verdicts[i];
    }
    return WorstVerdict(records);
  };
  EXPECT_EQ(worst({}), Verdict::kClean);
  EXPECT_EQ(worst({Verdict::kClean, Verdict::kFailed}), Verdict::kFailed);
  EXPECT_EQ(worst({Verdict::kFailed, Verdict::kInterrupted, Verdict::kClean}),
            Verdict::kInterrupted);
  EXPECT_EQ(worst({Verdict::kInterrupted, Verdict::kErrors, Verdict::kFailed}),
            Verdict::kErrors);
}

// A block record as the worker sends it; 125,000,000 ns is 1 GiB/s.
std::string Block(std::uint32_t pass, std::uint32_t block, bool read,
                  std::uint64_t device_ns = 125000000,
                  std::uint64_t word_errors = 0, std::uint64_t bit_errors = 0) {
  return fmt::format(
      R"({{"kind":"block","pass":{},"block":{},"kernel":"{}","device_ns":{},)"
      R"("host_ns":500000000,"word_errors":{},"bit_errors":{}}})",
      pass, block, read ? "read" : "write", device_ns, word_errors,
      bit_errors);
}

constexpr char kReady[] = R"({"kind":"ready","blocks":3})";

std::string PassEnd(std::uint32_t pass) {
  return fmt::format(R"({{"kind":"pass","pass":{}}})", pass);
}

TEST(RunLogTest, PassMediansTakeEveryBlock) {
  RunLog log(0, 3, 60);
  log.Take(kReady, 1);
  // Write at 1, 2 and 4 GiB/s, read at 4, 1 and 2: the medians are 2 only
  // with no block left out.
  for (const auto& [block, ns] :
       std::vector<std::pair<int, std::uint64_t>>{
           {0, 125000000}, {1, 62500000}, {2, 31250000}}) {
    log.Take(Block(1, block, false, ns), 2);
  }
  for (const auto& [block, ns] :
       std::vector<std::pair<int, std::uint64_t>>{
           {0, 31250000}, {1, 125000000}, {2, 62500000}}) {
    log.Take(Block(1, block, true, ns, block == 2 ? 3 : 0, block == 2), 3);
  }
  log.Take(PassEnd(1), 3);
  ASSERT_EQ(log.passes().size(), 1u);
  EXPECT_DOUBLE_EQ(log.passes()[0].write_gibs, 2);
  EXPECT_DOUBLE_EQ(log.passes()[0].read_gibs, 2);
  EXPECT_DOUBLE_EQ(log.passes()[0].seconds, 3);
  EXPECT_EQ(log.passes()[0].word_errors, 3u);
  // A partial pass is no pass, but its errors count.
  log.Take(Block(2, 0, false), 4);
  log.Take(Block(2, 0, true, 125000000, 5, 6), 4);
  log.Take(PassEnd(2), 4);
  EXPECT_EQ(log.passes().size(), 1u);
  EXPECT_EQ(log.word_errors(), 8u);
  EXPECT_EQ(log.bit_errors(), 7u);
  ASSERT_EQ(log.error_blocks().size(), 2u);
  EXPECT_EQ(log.error_blocks()[1].pass, 2u);
  const Judgement judged = JudgeRun(log.Evidence(true, "SIGKILL", 0));
  EXPECT_EQ(judged.verdict, Verdict::kErrors);
  EXPECT_EQ(judged.message,
            "then device 0 stopped responding after 4 s in pass 2, block 1");
}

TEST(RunLogTest, StallIsTheLaunchAfterTheLastRecord) {
  struct Case {
    std::vector<std::string> lines;
    std::uint32_t pass;
    std::uint32_t block;
  };
  const std::vector<Case> cases = {
      {{}, 0, 0},
      {{"a driver's note"}, 0, 0},
      {{kReady}, 1, 0},
      {{kReady, Block(1, 0, false)}, 1, 1},
      {{kReady, Block(1, 0, false), Block(1, 1, false)}, 1, 0},
      {{kReady, Block(1, 0, false), Block(1, 1, false), Block(1, 0, true)},
       1, 1},
      {{kReady, Block(1, 1, false), Block(1, 1, true)}, 2, 0},
      {{kReady, Block(1, 1, true), PassEnd(1)}, 2, 0},
      {{kReady, Block(1, 1, true), PassEnd(1), Block(2, 0, false)}, 2, 1},
      {{kReady, Block(4, 1, true), "{}", "not json"}, 5, 0},
  };
  for (const Case& c : cases) {
    RunLog log(1, 2, 60);
    double at = 0;
    for (const std::string& line : c.lines) log.Take(line, at += 1.5);
    const RunEvidence run = log.Evidence(true, "SIGKILL", 0);
    ASSERT_TRUE(run.stall);
    EXPECT_EQ(run.stall->pass, c.pass) << c.lines.size();
    EXPECT_EQ(run.stall->block, c.block) << c.lines.size();
    EXPECT_EQ(run.stall->seconds, at);
    EXPECT_EQ(JudgeRun(run).verdict, Verdict::kFailed);
  }
}

TEST(RunLogTest, IgnoresGarbageAndKeepsTheFirstErrorLine) {
  RunLog log(0, 1, 60);
  for (const char* line :
       {"", "garbage", "[1,2]", "{}", R"({"kind":7})", R"({"kind":"block"})",
        R"({"kind":"block","pass":1,"block":0,"kernel":"read"})",
        R"({"kind":"error"})", "{\"kind\":\"end\""}) {
    log.Take(line, 1);
  }
  log.Take(kReady, 1);
  log.Take(Block(1, 0, false), 2);
  log.Take(Block(1, 0, true), 2);
  log.Take(PassEnd(1), 2);
  EXPECT_EQ(log.passes().size(), 1u);
  EXPECT_EQ(log.word_errors(), 0u);
  EXPECT_EQ(JudgeRun(log.Evidence(false, "status 0", 0)).message,
            "the worker ended with status 0");
  log.Take(R"({"kind":"error","message":"clFinish failed\nlog"})", 3);
  log.Take(R"({"kind":"error","message":"later"})", 3);
  EXPECT_EQ(JudgeRun(log.Evidence(false, "status 1", 0)).message,
            "clFinish failed");
}

TEST(RunLogTest, AnEndBeforeTheSignalIsNoInterruption) {
  RunLog log(0, 1, 60);
  for (const std::string& line :
       {std::string(kReady), Block(1, 0, false), Block(1, 0, true),
        PassEnd(1)}) {
    log.Take(line, 1);
  }
  EXPECT_EQ(JudgeRun(log.Evidence(false, "SIGTERM", SIGTERM)).verdict,
            Verdict::kInterrupted);
  log.Take(R"({"kind":"end"})", 2);
  const RunEvidence run = log.Evidence(false, "status 0", SIGTERM);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(JudgeRun(run).verdict, Verdict::kClean);
}

TEST(FleetSettingsTest, WholeNumbersAreStrictDecimal) {
  const std::uint64_t kMax = UINT64_MAX;
  EXPECT_EQ(ParseWhole("010", 0, kMax), 10u);  // not octal 8
  EXPECT_EQ(ParseWhole("08", 0, kMax), 8u);
  EXPECT_EQ(ParseWhole("0", 0, kMax), 0u);
  EXPECT_EQ(ParseWhole("18446744073709551615", 0, kMax), kMax);
  EXPECT_EQ(ParseWhole("100", 1, 100), 100u);
  for (const char* text : {"+1", "-1", " 1", "1 ", "0x10", "", "1e3", "1.0",
                           "18446744073709551616", "99999999999999999999"}) {
    EXPECT_EQ(ParseWhole(text, 0, kMax), std::nullopt) << "'" << text << "'";
  }
  EXPECT_EQ(ParseWhole("0", 1, 100), std::nullopt);
  EXPECT_EQ(ParseWhole("101", 1, 100), std::nullopt);
}

TEST(FleetSettingsTest, DeviceLists) {
  std::string error;
  using Devices = std::vector<std::uint32_t>;
  EXPECT_EQ(ParseDevices(" 3, 1,,0\t2 ", 4, error), (Devices{3, 1, 0, 2}));
  EXPECT_EQ(ParseDevices("010", 11, error), (Devices{10}));
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"010,10", "GPU_CHECK_DEVICES names device 10 twice"},
      {"1 40", "GPU_CHECK_DEVICES: there is no device 40"},
      {"1,x", "GPU_CHECK_DEVICES: not a device number: x"},
      {"-1", "GPU_CHECK_DEVICES: not a device number: -1"},
      {"", "GPU_CHECK_DEVICES names no device"},
      {" , ,", "GPU_CHECK_DEVICES names no device"},
  };
  for (const auto& [text, line] : refused) {
    error.clear();
    EXPECT_EQ(ParseDevices(text, 16, error), std::nullopt) << text;
    EXPECT_EQ(error, line) << text;
  }
  error.clear();
  EXPECT_EQ(ParseDevices("4", 4, error), std::nullopt);
  EXPECT_EQ(error, "GPU_CHECK_DEVICES: there is no device 4");
}

TEST(FleetSettingsTest, MinutesAreWholeSecondsRoundedUp) {
  const std::vector<std::pair<const char*, std::uint64_t>> taken = {
      {"0.1", 6},    {"0.5", 30},   {"10", 600},      {"1", 60},
      {"010", 600},  {"0.01", 1},   {"0.025", 2},     {"1.05", 63},
      {"0.000001", 1}, {"527040", 366u * 24 * 3600},
  };
  for (const auto& [text, seconds] : taken) {
    EXPECT_EQ(ParseMinutes(text), seconds) << text;
  }
  for (const char* text : {"0", "0.0", ".5", "1.", "-1", "1,5", "", "+1",
                           " 1", "1e1", "0x10", "1.2.3", "527041",
                           "527040.5"}) {
    EXPECT_EQ(ParseMinutes(text), std::nullopt) << "'" << text << "'";
  }
}

ResultRecord Measured(const std::string& job, const std::string& name,
                      std::uint32_t max_blocks, double gibs) {
  ResultRecord r;
  r.job = job;
  r.identity.name = name;
  r.max_blocks = max_blocks;
  r.passes = {{1, gibs, gibs, 0, 0}};
  r.verdict = Verdict::kClean;
  return r;
}

TEST(ResultTableTest, SlowOnlyBesideThreeSiblingsWithFigures) {
  const std::vector<ResultRecord> records = {
      Measured("7", "A100", 316, 8.30),  Measured("7", "A100", 316, 10.50),
      Measured("7", "A100", 316, 10.40),
      // Other jobs, names and memory are no siblings.
      Measured("8", "A100", 316, 1.00),  Measured("7", "H100", 316, 1.00),
      Measured("7", "A100", 632, 1.00),  Measured("7", "A100", 632, 10.0),
      Measured("7", "A100", 632, 10.0),
  };
  using S = Speed;
  EXPECT_EQ(CompareSpeeds(records, 80),
            (std::vector<Speed>{S::kSlow, S::kOk, S::kOk, S::kUnknown,
                                S::kUnknown, S::kSlow, S::kOk, S::kOk}));
  // 8.30 is 79.8 % of the median 10.40.
  EXPECT_EQ(CompareSpeeds(records, 79)[0], S::kOk);
  // Without figures a record is unknown and no sibling.
  std::vector<ResultRecord> two = {records[0], records[1], records[2]};
  two[2].passes.clear();
  EXPECT_EQ(CompareSpeeds(two, 80),
            (std::vector<Speed>{S::kUnknown, S::kUnknown, S::kUnknown}));
}

// The column of each line at which `cell` starts, in UTF-8 characters.
std::vector<std::size_t> ColumnsOf(const std::string& table,
                                   const std::string& cell) {
  std::vector<std::size_t> columns;
  std::size_t start = 0;
  for (std::size_t end; (end = table.find('\n', start)) != std::string::npos;
       start = end + 1) {
    const std::string line = table.substr(start, end - start);
    const std::size_t at = line.find(cell);
    if (at == std::string::npos) continue;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < at; ++i) {
      if ((static_cast<unsigned char>(line[i]) & 0xc0) != 0x80) ++characters;
    }
    columns.push_back(characters);
  }
  return columns;
}

TEST(ResultTableTest, ColumnsAlignInCharacters) {
  std::vector<ResultRecord> records = {
      Measured("7", "Видеокарта", 316, 10), Measured("7", "Card", 316, 10)};
  records[0].blocks = records[1].blocks = 300;
  const std::string table =
      MakeTable(records, CompareSpeeds(records, 80), 80);
  EXPECT_EQ(ColumnsOf(table, "300/316"),
            (std::vector<std::size_t>{ColumnsOf(table, "Blocks")[0],
                                      ColumnsOf(table, "Blocks")[0]}))
      << table;
}

}  // namespace
}  // namespace vramcheck::fleet
