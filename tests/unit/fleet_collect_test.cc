// Result records, their rows, the collector that merges them, and what is
// made of them for Prometheus and for draining a node.

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "collect.h"
#include "health.h"
#include "metrics.h"
#include "record.h"
#include "report.h"
#include "temp_folder.h"
#include "trace.h"

namespace vramcheck::fleet {
namespace {

using test_support::TempFolder;

constexpr char kLegacyRow[] =
    "4711\t3\t8\tnode7\t1\t2\tNVIDIA A100\t300/316\t3.0\t1200.50\t1300.25\t0\t"
    "clean\t";

ResultRecord Record(const std::string& job, std::uint64_t task,
                    Verdict verdict = Verdict::kClean, double gibs = 10) {
  ResultRecord r;
  r.job = job;
  r.task = task;
  r.array = {task, task, 1, 1};
  r.host = "node1";
  r.device = 0;
  r.gpu = "-";
  r.identity.name = "Card";
  r.blocks = r.max_blocks = 7;
  r.seconds = 90;
  r.passes = {{1, gibs, gibs, 0, 0}, {1, gibs, gibs, 0, 0}};
  r.verdict = verdict;
  return r;
}

TEST(ResultRecordTest, JsonLineKeepsEveryByteOfTextsAndReplacesInvalidUtf8) {
  std::string name;
  for (char c = 0x01; c < 0x20; ++c) name += c;
  name += "\x7f\"quoted\" back\\slash";
  ResultRecord r = Record("job\n1", 5);
  r.identity = {name + "\xff\xc3", "vendor\t", "driver", 1ull << 40,
                "0000:3b:00.0", std::string(32, 'a')};
  r.error_blocks = {{2, 3, 4, 5}};
  r.word_errors = 4;
  r.bit_errors = 5;
  r.verdict = Verdict::kErrors;
  r.message = "then interrupted by SIGTERM";
  const std::string line = ToJsonLine(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const ResultRecord back = FromJsonLine(line);
  EXPECT_EQ(back.identity.name, name + "\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(back.error_blocks.size(), 1u);
  EXPECT_EQ(ToJsonLine(back), line);
  EXPECT_THROW(FromJsonLine("{}"), std::exception);
  std::string other_verdict = line;
  other_verdict.replace(other_verdict.find("\"errors\""), 8, "\"84\"");
  EXPECT_THROW(FromJsonLine(other_verdict), std::exception);
}

TEST(ResultRecordTest, RowsHoldNoSeparatorFromDriversOrHosts) {
  ResultRecord r = Record("j\x1fob", 0);
  r.host = "no\tde\r\n";
  r.gpu = "0\x1f" "1";
  r.identity.name = "Card\x1f\t\nX\x7f";
  r.message = "line\nend";
  const std::vector<std::string> cells = RowCells(r);
  ASSERT_EQ(cells.size(), 13u);
  for (const std::string& cell : cells) {
    EXPECT_EQ(cell.find_first_of("\t\r\n\x1f\x7f"), std::string::npos) << cell;
  }
  EXPECT_EQ(cells[5], "Card   X ");
  EXPECT_EQ(cells[12], "line end");
  EXPECT_EQ(cells[11], "clean");
  const std::string line = RowLine(r);
  EXPECT_EQ(line.find_first_of("\r\n\x1f"), std::string::npos);
  // The row reads back as what it says, its verdict in its column.
  const auto back = FromLegacyRow(line);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->verdict, Verdict::kClean);
  EXPECT_EQ(back->identity.name, cells[5]);
  EXPECT_EQ(back->legacy_write, "10.00");
}

TEST(ResultRecordTest, BandwidthLeavesOutTheFirstPassUnlessAlone) {
  ResultRecord r = Record("1", 0);
  // The first pass includes the start; the one after it counts.
  r.passes = {{3, 1, 2, 0, 0}, {1, 10, 20, 0, 0}, {1, 12, 24, 0, 0}};
  EXPECT_EQ(Bandwidth(r), (std::pair{11.0, 22.0}));
  // A collector reads the medians without the series.
  const ResultRecord read = FromJsonLine(ToJsonLine(r), false);
  EXPECT_TRUE(read.passes.empty());
  EXPECT_EQ(Bandwidth(read), (std::pair{11.0, 22.0}));
  r.passes.resize(1);
  EXPECT_EQ(Bandwidth(r), (std::pair{1.0, 2.0}));
  r.passes.clear();
  EXPECT_FALSE(Bandwidth(r));
  EXPECT_FALSE(Bandwidth(FromJsonLine(ToJsonLine(r), false)));
}

TEST(ResultRecordTest, ReadsOnlyWhole120Rows) {
  const auto r = FromLegacyRow(kLegacyRow);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->legacy);
  EXPECT_EQ(r->array.max, 7u);
  EXPECT_EQ(RowCells(*r),
            (std::vector<std::string>{"4711", "3", "node7", "1", "2",
                                      "NVIDIA A100", "300/316", "3.0",
                                      "1200.50", "1300.25", "0", "clean",
                                      ""}));
  EXPECT_EQ(Bandwidth(*r), (std::pair{1200.5, 1300.25}));
  const std::string row = kLegacyRow;
  for (const std::string& bad :
       {row + "\textra", row.substr(0, row.rfind('\t')), std::string(""),
        row.substr(0, row.find("clean")) + "84\t",
        "4711\tx" + row.substr(row.find('\t', 5)), std::string("a,b,c")}) {
    EXPECT_FALSE(FromLegacyRow(bad)) << bad;
  }
}

TEST(ResultRecordTest, FiguresIgnoreTheLocale) {
  std::locale german;
  try {
    german = std::locale("de_DE.UTF-8");
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "the locale de_DE.UTF-8 is not installed";
  }
  const std::locale old = std::locale::global(german);
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  ResultRecord r = Record("1", 0, Verdict::kClean, 1234.5);
  r.word_errors = 1234567;
  const std::vector<std::string> cells = RowCells(r);
  const std::string line = ToJsonLine(r);
  std::locale::global(old);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(cells[7], "1.5");
  EXPECT_EQ(cells[8], "1234.50");
  EXPECT_EQ(cells[10], "1234567");
  EXPECT_NE(line.find("1234.5"), std::string::npos) << line;
}

TEST(CollectorTest, MissingTasksOfSteppedArraysAndRuns) {
  const TaskArray stepped{0, 10, 2, 6};
  EXPECT_EQ(MissingTasks("9", stepped, {0, 2, 4, 6, 10}),
            (std::vector<std::string>{"job 9: task 8 left no row"}));
  EXPECT_EQ(MissingTasks("9", stepped, {0, 2, 10}),
            (std::vector<std::string>{"job 9: tasks 4-8:2 left no row"}));
  EXPECT_EQ(MissingTasks("9", stepped, {0, 1, 2, 3, 4, 5, 6, 8, 10}),
            std::vector<std::string>{});
  EXPECT_EQ(MissingTasks("9", {0, 9, 1, 10}, {0, 5, 9}),
            (std::vector<std::string>{"job 9: tasks 1-4 left no row",
                                      "job 9: tasks 6-8 left no row"}));
  EXPECT_EQ(MissingTasks("9", {3, 3, 1, 1}, {}),
            (std::vector<std::string>{"job 9: task 3 left no row"}));
}

TEST(CollectorTest, ImplausibleArraysAreRefusedInOneLineAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  const std::uint64_t kTop = UINT64_MAX;
  for (const TaskArray& array :
       {TaskArray{0, 9999999, 1, 10000000}, TaskArray{0, 10, 2, 5},
        TaskArray{5, 4, 1, 1},
        TaskArray{0, 10, 0, 11}, TaskArray{0, kTop, 1, 10}}) {
    const auto lines = MissingTasks("9", array, {});
    ASSERT_EQ(lines.size(), 1u) << array.count;
    EXPECT_NE(lines[0].find("implausible"), std::string::npos) << lines[0];
  }
  // Steps that would run past the largest number.
  EXPECT_EQ(MissingTasks("9", {0, kTop - 1, kTop / 2, 3}, {0, kTop - 1}),
            (std::vector<std::string>{"job 9: task " +
                                      std::to_string(kTop / 2) +
                                      " left no row"}));
  EXPECT_EQ(MissingTasks("9", {kTop - 2, kTop, 2, 2}, {}),
            (std::vector<std::string>{"job 9: tasks " +
                                      std::to_string(kTop - 2) + "-" +
                                      std::to_string(kTop) +
                                      ":2 left no row"}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(CollectorTest, MergeKeepsTheLatestRunOfEachTask) {
  ResultRecord early = Record("5", 1, Verdict::kFailed);
  early.array = {0, 2, 1, 3};
  early.host = "old";
  ResultRecord late = early;
  late.host = "new";
  late.restart = 1;
  late.verdict = Verdict::kClean;
  // Two machines checked outside Slurm: the same job and task, both kept.
  ResultRecord a = Record("local", 0);
  ResultRecord b = Record("local", 0);
  b.host = "node2";
  Collection out;
  MergeRecords({early, a, late, b}, out);
  ASSERT_EQ(out.records.size(), 3u);
  EXPECT_EQ(out.records[0].host, "node1");
  EXPECT_EQ(out.records[1].host, "new");
  EXPECT_EQ(out.records[2].host, "node2");
  EXPECT_EQ(out.problems,
            (std::vector<std::string>{
                "job 5: task 1 ran again: its run 0 on old is left out",
                "job 5: task 0 left no row", "job 5: task 2 left no row"}));
}

TEST(CollectorTest, LegacyRowsExpectTasksUpToTheirCount) {
  std::string row = kLegacyRow;
  row[7] = '4';  // the array's task count
  std::vector<ResultRecord> records;
  for (const char* task : {"0", "1", "3"}) {
    records.push_back(*FromLegacyRow(row.replace(5, 1, task)));
  }
  Collection out;
  MergeRecords(records, out);
  EXPECT_EQ(out.records.size(), 3u);
  EXPECT_EQ(out.problems,
            (std::vector<std::string>{"job 4711: task 2 left no row"}));
}

TEST(CollectorTest, ExitStatusSaysTheWorstFound) {
  const std::string clean = ToJsonLine(Record("1", 0)) + "\n";
  ResultRecord pair_of_two = Record("2", 0);
  pair_of_two.array = {0, 1, 1, 2};
  const auto slow = [](std::uint64_t task, double gibs) {
    ResultRecord r = Record("3", task, Verdict::kClean, gibs);
    r.array = {0, 2, 1, 3};
    return ToJsonLine(r) + "\n";
  };
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    int status;
    std::string complaint;
  };
  const std::vector<Case> cases = {
      {"clean", {{"a.jsonl", clean}}, 0, ""},
      {"a lone task outside an array",
       {{"a.jsonl", ToJsonLine(Record("local", 5)) + "\n"}}, 0, ""},
      {"errors beat failures",
       {{"a.jsonl", ToJsonLine(Record("1", 0, Verdict::kErrors))},
        {"b.jsonl", ToJsonLine(Record("2", 0, Verdict::kFailed))},
        {"c.jsonl", ""}},
       1, "c.jsonl: empty"},
      {"failed", {{"a.jsonl", ToJsonLine(Record("1", 0, Verdict::kFailed))}},
       2, ""},
      {"interrupted",
       {{"a.jsonl", ToJsonLine(Record("1", 0, Verdict::kInterrupted))}}, 2,
       ""},
      {"a missing task", {{"a.jsonl", ToJsonLine(pair_of_two)}}, 2,
       "job 2: task 1 left no row"},
      {"an unfinished file", {{"a.part", clean}}, 2, "did not finish"},
      {"an empty file", {{"a.jsonl", clean}, {"b.jsonl", "\n"}}, 2,
       "b.jsonl: empty"},
      {"not a record", {{"a.jsonl", clean}, {"b.tsv", "hello\n"}}, 2,
       "b.tsv: line 1 is not a result record"},
      {"a folder of other files", {{"notes.txt", clean}}, 2,
       "no result files"},
      {"slow", {{"a.jsonl", slow(0, 10) + slow(1, 10) + slow(2, 5)}}, 3, ""},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    for (const auto& [name, text] : c.files) {
      std::ofstream(folder.File(name), std::ios::binary) << text;
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = Collect({folder.path()});
    const std::string table = testing::internal::GetCapturedStdout();
    const std::string complaints = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status) << c.what << "\n" << complaints << table;
    EXPECT_NE(complaints.find(c.complaint), std::string::npos)
        << c.what << "\n" << complaints;
    if (c.complaint.empty() && c.status != 2) {
      EXPECT_EQ(complaints, "") << c.what;
    }
  }
  TempFolder folder;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Collect({folder.File("gone.jsonl")}), 2);
  testing::internal::GetCapturedStdout();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot be read"),
            std::string::npos);
}

TEST(MetricsTest, LabelsAreEscapedAndFiguresInBaseUnits) {
  ResultRecord faulty = Record("1", 0, Verdict::kErrors, 2);
  faulty.identity.name = "A \"B\" \\ C\nD";
  faulty.identity.pci_bus = "0000:3b:00.0";
  faulty.word_errors = 3;
  ResultRecord untested = Record("1", 1, Verdict::kFailed);
  untested.device = 1;
  untested.passes.clear();
  const std::string text =
      MetricsText({faulty, untested}, Verdict::kErrors, 1.5);
  const std::string faulty_labels =
      "{device=\"0\",model_name=\"A \\\"B\\\" \\\\ C D\","
      "pci_bus_id=\"0000:3b:00.0\"}";
  EXPECT_NE(text.find("vramcheck_word_errors" + faulty_labels + " 3\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("vramcheck_write_bytes_per_second" + faulty_labels +
                      " 2147483648\n"),
            std::string::npos) << text;
  // No bandwidth without a whole pass, and no UUID label where unknown.
  EXPECT_EQ(text.find("per_second{device=\"1\""), std::string::npos) << text;
  EXPECT_EQ(text.find("uuid="), std::string::npos) << text;
  EXPECT_NE(text.find("vramcheck_device_verdict{device=\"1\",model_name="
                      "\"Card\",verdict=\"failed\"} 1\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("vramcheck_machine_verdict{verdict=\"errors\"} 1\n"),
            std::string::npos) << text;
  // The same HELP and TYPE lines whatever the results.
  const auto headers = [](const std::string& metrics) {
    std::string lines;
    for (std::size_t at = 0; (at = metrics.find("# ", at)) != std::string::npos;
         at = metrics.find('\n', at)) {
      lines += metrics.substr(at, metrics.find('\n', at) - at) + "\n";
    }
    return lines;
  };
  EXPECT_EQ(headers(text), headers(MetricsText({}, Verdict::kFailed, 0)));
}

TEST(HealthTest, ReasonsNameTheCardAndOnlyFaultsDrain) {
  ResultRecord errors = Record("7", 1, Verdict::kErrors);
  errors.word_errors = 22;
  errors.device = 1;
  errors.gpu = "3";
  errors.identity.pci_bus = "0000:03:00.0";
  errors.identity.uuid = std::string(32, 'b');
  ResultRecord stalled = Record("7", 2, Verdict::kFailed);
  stalled.device = 2;
  stalled.identity.uuid = std::string(32, 'c');
  stalled.message = "stopped responding\nin pass 3" + std::string(100, '.');
  ResultRecord refused = Record("7", 3, Verdict::kFailed);
  refused.device.reset();
  refused.message = "VRAMCHECK_MINUTES is not a number above 0: x";
  ResultRecord interrupted = Record("7", 4, Verdict::kInterrupted);
  ResultRecord errors_then_interrupted = Record("7", 5, Verdict::kErrors);
  errors_then_interrupted.word_errors = 1;
  struct Case {
    ResultRecord record;
    std::optional<std::string> reason;
  };
  const std::vector<Case> cases = {
      {errors,
       "vramcheck: 22 errors on device 1 (GPU 3, PCI 0000:03:00.0)"},
      {stalled, "vramcheck: device 2 (UUID " + std::string(32, 'c') +
                    ") failed: stopped responding in pass 3" +
                    std::string(80 - 28, '.') + "..."},
      {refused, std::nullopt},
      {Record("7", 0), std::nullopt},
      {interrupted, std::nullopt},
      {errors_then_interrupted, "vramcheck: 1 errors on device 0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DrainReason(c.record), c.reason) << c.record.task;
  }
}

TEST(HealthTest, TheNewestRunOfEachCardOfTheHostCounts) {
  const auto run = [](const char* started, std::uint32_t device,
                      Verdict verdict, const char* host = "node1") {
    ResultRecord r = Record(started, device, verdict);
    r.started = started;
    r.device = device;
    r.host = host;
    r.word_errors = verdict == Verdict::kErrors ? 5 : 0;
    return r;
  };
  struct Case {
    const char* what;
    std::vector<ResultRecord> records;
    int status;
    std::string reasons;
  };
  const std::vector<Case> cases = {
      {"errors, then clean",
       {run("2026-12-02", 0, Verdict::kClean),
        run("2026-12-01", 0, Verdict::kErrors)},
       0, ""},
      {"clean, then errors on one card while the other stays as it was",
       {run("2026-12-01", 0, Verdict::kClean),
        run("2026-12-01", 1, Verdict::kFailed),
        run("2026-12-02", 0, Verdict::kErrors)},
       1,
       "vramcheck: 5 errors on device 0; vramcheck: device 1 failed: \n"},
      {"a failure alone", {run("2026-12-01", 1, Verdict::kFailed)}, 2,
       "vramcheck: device 1 failed: \n"},
      {"another host's errors", {run("2026-12-01", 0, Verdict::kErrors, "x")},
       0, ""},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    std::ofstream file(folder.File("r.jsonl"));
    for (const ResultRecord& r : c.records) file << ToJsonLine(r) << "\n";
    file.close();
    testing::internal::CaptureStdout();
    EXPECT_EQ(Health({"--host", "node1", folder.path()}), c.status) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.reasons) << c.what;
  }
  // A run that has not finished is no newer evidence.
  TempFolder folder;
  std::ofstream(folder.File("old.jsonl"))
      << ToJsonLine(run("2026-12-01", 0, Verdict::kErrors)) << "\n";
  std::ofstream(folder.File("new.part"))
      << ToJsonLine(run("2026-12-02", 0, Verdict::kFailed)) << "\n";
  testing::internal::CaptureStdout();
  EXPECT_EQ(Health({folder.path()}), 1);
  testing::internal::GetCapturedStdout();
}

TEST(ReportTest, NamesFromDriversAndHostsAreTextNeverMarkup) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain 1.0", "plain 1.0"},
      {"<b>&amp;</b>", "&lt;b&gt;&amp;amp;&lt;/b&gt;"},
      {"\"q\" 'a'", "&quot;q&quot; &#39;a&#39;"},
      {"a\x01\t\n\x1b[1m\x7fz", "a    [1m z"},
      {"Ger\xc3\xa4t", "Ger\xc3\xa4t"},
  };
  for (const auto& [text, html] : cases) EXPECT_EQ(HtmlText(text), html);
  const std::string name = "<script>x</script>\x1b";
  ResultRecord faulty = Record("1", 0, Verdict::kErrors);
  faulty.host = "<i>node</i>";
  faulty.identity.name = name;
  faulty.passes[1].word_errors = 3;
  faulty.error_blocks = {{2, 5, 3, 3}};
  faulty.message = "then <interrupted> by SIGTERM";
  ResultRecord stopped = Record("1", 1, Verdict::kFailed);
  stopped.passes.clear();
  stopped.message = "device 1 stopped responding after 4 s in pass 1, block 0";
  const std::vector<ResultRecord> records = {faulty, stopped};
  const std::vector<Speed> speeds = {Speed::kUnknown, Speed::kUnknown};
  for (const std::string& page :
       {MachinePage(records, speeds, 80),
        FleetPage(records, speeds, 80, {"job <1>: task 2 left no row"})}) {
    for (const char* markup : {"<script", "<i>", "<interrupted", "<1>"}) {
      EXPECT_EQ(page.find(markup), std::string::npos) << markup;
    }
    EXPECT_NE(page.find("&lt;script&gt;x&lt;/script&gt; "), std::string::npos);
    EXPECT_EQ(page.find_first_of("\x01\x1b\x7f"), std::string::npos);
  }
  // The faulty pass and block are marked; the stopped run ends at its start.
  const std::string page = MachinePage(records, speeds, 80);
  EXPECT_NE(page.find("pass 2, block 5: 3 wrong words"), std::string::npos);
  EXPECT_NE(page.find("no whole pass"), std::string::npos);
  EXPECT_NE(page.find("end: failed"), std::string::npos);
  EXPECT_NE(page.find("stopped responding after 4 s"), std::string::npos);
}

TEST(TraceTest, SharesOfTheRunsSecondsOnOneScale) {
  const auto passes = [](std::vector<std::pair<double, double>> figures) {
    std::vector<PassFigures> list;
    for (const auto& [seconds, gibs] : figures) {
      list.push_back({seconds, gibs, gibs / 2, 0, 0});
    }
    return list;
  };
  const auto write = &PassFigures::write_gibs;
  EXPECT_EQ(Trace(passes({{1, 1}, {1, 2}, {1, 4}, {1, 8}}), write, 8, true),
            "▂▃▅█");
  EXPECT_EQ(Trace(passes({{1, 1}, {1, 2}, {1, 4}, {1, 8}}), write, 8, false),
            ".:=#");
  // Two shares of 2 s: the second holds the end of the long pass and the
  // slow one, and shows the slow one.
  EXPECT_EQ(Trace(passes({{3, 8}, {1, 0}}), write, 8, true), "█▁");
  EXPECT_EQ(Trace(passes({{0, 8}, {0, 4}}), write, 8, false), "#=");
  EXPECT_EQ(Trace(passes({{1, 8}}), write, 0, false), "_");
  EXPECT_EQ(Trace({}, write, 8, true), "");
  EXPECT_EQ(Trace(std::vector<PassFigures>(500, {1, 3, 3, 0, 0}), write, 3,
                  false),
            std::string(kTraceWidth, '#'));
  ResultRecord fast = Record("1", 0, Verdict::kClean, 8);
  fast.passes = passes({{1, 8}, {1, 8}});
  ResultRecord slow = fast;
  slow.device = 1;
  slow.passes = passes({{1, 2}, {1, 4}});
  ResultRecord none = fast;
  none.device = 2;
  none.passes.clear();
  EXPECT_EQ(TraceLines({fast, slow, none}, false),
            "trace: bandwidth over each device's run, each character the "
            "slowest pass of its share, on one scale: write up to 8.00 GiB/s, "
            "read up to 4.00 GiB/s\n"
            "trace: device 0 write ## read ##\n"
            "trace: device 1 write := read :=\n"
            "trace: device 2 write - read -\n");
  const char* saved = std::getenv("LC_ALL");
  const std::string old = saved != nullptr ? saved : "";
  setenv("LC_ALL", "C", 1);
  EXPECT_FALSE(LocaleIsUtf8());
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_TRUE(LocaleIsUtf8());
  if (saved != nullptr) {
    setenv("LC_ALL", old.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

}  // namespace
}  // namespace vramcheck::fleet
