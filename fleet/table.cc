#include "table.h"

#include <algorithm>
#include <map>
#include <tuple>

#include <fmt/format.h>

namespace vramcheck::fleet {
namespace {

std::size_t Utf8Length(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
      }));
}

}  // namespace

std::string_view SpeedName(Speed speed) {
  switch (speed) {
    case Speed::kOk: return "ok";
    case Speed::kSlow: return "slow";
    case Speed::kUnknown: break;
  }
  return "-";
}

std::vector<Speed> CompareSpeeds(const std::vector<ResultRecord>& records,
                                 int percent) {
  using Key = std::tuple<std::string, std::string, std::uint32_t>;
  std::map<Key, std::pair<std::vector<double>, std::vector<double>>> groups;
  // Names as the table shows them: a driver's name that differs in
  // control characters alone is the same model's.
  const auto key = [](const ResultRecord& r) {
    return Key{r.job, Printable(r.identity.name), r.max_blocks};
  };
  for (const ResultRecord& r : records) {
    if (const auto bandwidth = Bandwidth(r)) {
      auto& [write, read] = groups[key(r)];
      write.push_back(bandwidth->first);
      read.push_back(bandwidth->second);
    }
  }
  std::map<Key, std::pair<double, double>> lows;
  for (const auto& [group, figures] : groups) {
    if (figures.first.size() < 3) continue;
    lows[group] = {Median(figures.first) * percent / 100,
                   Median(figures.second) * percent / 100};
  }
  std::vector<Speed> speeds;
  for (const ResultRecord& r : records) {
    const auto bandwidth = Bandwidth(r);
    const auto low = lows.find(key(r));
    if (!bandwidth || low == lows.end()) {
      speeds.push_back(Speed::kUnknown);
    } else if (bandwidth->first < low->second.first ||
               bandwidth->second < low->second.second) {
      speeds.push_back(Speed::kSlow);
    } else {
      speeds.push_back(Speed::kOk);
    }
  }
  return speeds;
}

void SortRecords(std::vector<ResultRecord>& records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const ResultRecord& a, const ResultRecord& b) {
                     return std::tie(a.job, a.task, a.host, a.device) <
                            std::tie(b.job, b.task, b.host, b.device);
                   });
}

std::string MakeTable(const std::vector<ResultRecord>& records,
                      const std::vector<Speed>& speeds, int percent) {
  std::vector<std::vector<std::string>> rows = {
      {"Job", "Task", "Host", "Device", "GPU", "Name", "Blocks", "Minutes",
       "Write GiB/s", "Read GiB/s", "Total Error", "Verdict", "Speed",
       "Message"}};
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::vector<std::string> cells = RowCells(records[i]);
    cells.insert(cells.end() - 1, std::string(SpeedName(speeds[i])));
    rows.push_back(std::move(cells));
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], Utf8Length(row[c]));
    }
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) {
        line.append(widths[c] - Utf8Length(row[c]) + 2, ' ');
      }
    }
    line.erase(line.find_last_not_of(' ') + 1);
    table += line + "\n";
  }
  table += fmt::format(
      "\nSpeed: slow where the write or read bandwidth is below {} % of the "
      "median of the\nGPUs of the same name and memory in the same job, with "
      "3 or more of them.\n",
      percent);
  return table;
}

Verdict WorstVerdict(const std::vector<ResultRecord>& records) {
  Verdict worst = Verdict::kClean;
  for (const ResultRecord& r : records) worst = std::max(worst, r.verdict);
  return worst;
}

}  // namespace vramcheck::fleet
