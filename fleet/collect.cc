#include "collect.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <fmt/format.h>

#include "output.h"
#include "report.h"
#include "settings.h"
#include "table.h"

namespace vramcheck::fleet {
namespace {

namespace fs = std::filesystem;

// The result files that the arguments name: files as given, and a folder's
// .jsonl, .tsv and .part files, each folder's sorted.
std::vector<std::string> ResultFiles(const std::vector<std::string>& args,
                                     std::vector<std::string>& problems) {
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    std::error_code error;
    if (!fs::is_directory(arg, error)) {
      files.push_back(arg);
      continue;
    }
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(arg, error)) {
      const std::string path = entry.path().string();
      if (path.ends_with(".jsonl") || path.ends_with(".tsv") ||
          path.ends_with(".part")) {
        found.push_back(path);
      }
    }
    if (found.empty()) problems.push_back(arg + ": no result files");
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

// Reads one file's records; a bad file loses only its own.
void ReadResultFile(const std::string& file, std::vector<ResultRecord>& records,
                    std::vector<std::string>& problems) {
  std::ifstream input(file, std::ios::binary);
  std::string text;
  if (input) {
    std::ostringstream content;
    content << input.rdbuf();
    text = content.str();
  }
  if (!input || fs::is_directory(file)) {
    problems.push_back(file + ": cannot be read");
    return;
  }
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    problems.push_back(file +
                       ": empty: its task ended before it wrote its row");
    return;
  }
  std::vector<ResultRecord> found;
  std::size_t start = 0;
  for (std::size_t number = 1; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    std::optional<ResultRecord> record;
    if (line.front() == '{') {
      try {
        record = FromJsonLine(line, /*with_series=*/false);
      } catch (const std::exception&) {
      }
    } else {
      record = FromLegacyRow(line);
    }
    if (!record) {
      problems.push_back(
          fmt::format("{}: line {} is not a result record", file, number));
      return;
    }
    found.push_back(std::move(*record));
  }
  if (file.ends_with(".part")) {
    problems.push_back(
        file + ": its task did not finish: it still runs, or was killed");
  }
  std::move(found.begin(), found.end(), std::back_inserter(records));
}

std::string TaskRun(std::uint64_t first, std::uint64_t last,
                    std::uint64_t step) {
  if (first == last) return fmt::format("task {}", first);
  return step == 1 ? fmt::format("tasks {}-{}", first, last)
                   : fmt::format("tasks {}-{}:{}", first, last, step);
}

}  // namespace

std::vector<std::string> MissingTasks(const std::string& job,
                                      const TaskArray& a,
                                      const std::set<std::uint64_t>& present) {
  const std::string name = Printable(job);
  if (a.count == 0) return {};  // a 1.2.0 row that did not say
  if (a.step == 0 || a.max < a.min || a.count > kMaxArrayTasks ||
      (a.max - a.min) / a.step + 1 != a.count) {
    return {fmt::format("job {}: its rows claim an implausible array (tasks "
                        "{} to {} in steps of {}, {} in all): missing tasks "
                        "are not named",
                        name, a.min, a.max, a.step, a.count)};
  }
  std::vector<std::string> lines;
  std::optional<std::uint64_t> first;
  std::uint64_t last = 0;
  // Counted, not stepped up to the end, which may be the largest number.
  for (std::uint64_t i = 0; i < a.count; ++i) {
    const std::uint64_t task = a.min + i * a.step;
    if (present.count(task) == 0) {
      if (!first) first = task;
      last = task;
      continue;
    }
    if (first) lines.push_back(fmt::format(
        "job {}: {} left no row", name, TaskRun(*first, last, a.step)));
    first.reset();
  }
  if (first) {
    lines.push_back(fmt::format("job {}: {} left no row", name,
                                TaskRun(*first, last, a.step)));
  }
  return lines;
}

void MergeRecords(std::vector<ResultRecord> records, Collection& out) {
  // The latest run of each task: the highest restart count.
  std::map<std::pair<std::string, std::uint64_t>, std::uint64_t> latest;
  for (const ResultRecord& r : records) {
    auto [it, added] = latest.try_emplace({r.job, r.task}, r.restart);
    if (!added) it->second = std::max(it->second, r.restart);
  }
  std::map<std::string, TaskArray> arrays;
  std::map<std::string, std::set<std::uint64_t>> present;
  for (ResultRecord& r : records) {
    if (r.restart < latest[{r.job, r.task}]) {
      out.problems.push_back(fmt::format(
          "job {}: task {} ran again: its run {} on {} is left out",
          Printable(r.job), r.task, r.restart, Printable(r.host)));
      continue;
    }
    TaskArray& array = arrays[r.job];
    if (r.legacy) {
      // A 1.2.0 row gives the array's number of tasks alone.
      array.count = std::max(array.count, r.array.count);
      array.min = 0;
      array.step = 1;
      array.max = array.count > 0 ? array.count - 1 : 0;
    } else {
      array = r.array;
    }
    present[r.job].insert(r.task);
    out.records.push_back(std::move(r));
  }
  for (const auto& [job, array] : arrays) {
    for (std::string& line : MissingTasks(job, array, present[job])) {
      out.problems.push_back(std::move(line));
    }
  }
}

std::vector<ResultRecord> ReadResults(const std::vector<std::string>& args,
                                      bool with_unfinished,
                                      std::vector<std::string>& problems) {
  std::vector<ResultRecord> records;
  for (const std::string& file : ResultFiles(args, problems)) {
    if (with_unfinished || !file.ends_with(".part")) {
      ReadResultFile(file, records, problems);
    }
  }
  return records;
}

int Collect(const std::vector<std::string>& args) {
  int percent = 80;
  std::string html;
  std::size_t first = 0;
  for (; first < args.size(); first += 2) {
    if (args[first] == "--slow-below") {
      const auto parsed = first + 1 < args.size()
                              ? ParseWhole(args[first + 1], 1, 100)
                              : std::nullopt;
      if (!parsed) {
        Complain("--slow-below takes a percentage from 1 to 100");
        return 2;
      }
      percent = static_cast<int>(*parsed);
    } else if (args[first] == "--html") {
      if (first + 1 >= args.size() || args[first + 1].empty()) {
        Complain("--html takes the file to write the page into");
        return 2;
      }
      html = args[first + 1];
    } else {
      break;
    }
  }
  if (first >= args.size()) {
    Complain(
        "usage: gpu-check collect [--slow-below PERCENT] [--html FILE] "
        "RESULT...");
    return 2;
  }
  std::vector<std::string> problems;
  std::vector<ResultRecord> records = ReadResults(
      {args.begin() + static_cast<std::ptrdiff_t>(first), args.end()},
      /*with_unfinished=*/true, problems);
  if (records.empty() && problems.empty()) problems.push_back("no result rows");
  Collection collection;
  collection.problems = std::move(problems);
  MergeRecords(std::move(records), collection);
  SortRecords(collection.records);
  const std::vector<Speed> speeds = CompareSpeeds(collection.records, percent);
  for (const std::string& line : collection.problems) Complain(line);
  if (!Say(MakeTable(collection.records, speeds, percent))) {
    Complain("cannot write to standard output");
    return 2;
  }
  if (!html.empty() &&
      WriteWhole(html, FleetPage(collection.records, speeds, percent,
                                 collection.problems)) != 0) {
    Complain("cannot write " + html);
    return 2;
  }
  const Verdict worst = WorstVerdict(collection.records);
  if (worst == Verdict::kErrors) return 1;
  if (!collection.problems.empty() || worst != Verdict::kClean) return 2;
  if (std::find(speeds.begin(), speeds.end(), Speed::kSlow) != speeds.end()) {
    return 3;
  }
  return 0;
}

}  // namespace vramcheck::fleet
