#include "record.h"

#include <charconv>
#include <cmath>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include <fmt/format.h>

#include "settings.h"

namespace vramcheck::fleet {
namespace {

using nlohmann::json;

constexpr int kFormat = 1;  // the record format's version

json PassJson(const PassFigures& pass) {
  return {{"seconds", pass.seconds},
          {"write_gibs", pass.write_gibs},
          {"read_gibs", pass.read_gibs},
          {"word_errors", pass.word_errors},
          {"bit_errors", pass.bit_errors}};
}

// A whole decimal number and nothing else.
std::optional<std::uint64_t> Decimal(std::string_view text) {
  return ParseWhole(text, 0, UINT64_MAX);
}

std::string Figure(double value) { return fmt::format("{:.2f}", value); }

}  // namespace

bool SameCard(const DeviceIdentity& listed, const DeviceIdentity& now) {
  const auto same_where_known = [](const std::string& a, const std::string& b) {
    return a.empty() || b.empty() || a == b;
  };
  return listed.name == now.name && listed.memory == now.memory &&
         same_where_known(listed.pci_bus, now.pci_bus) &&
         same_where_known(listed.uuid, now.uuid);
}

json IdentityJson(const DeviceIdentity& identity) {
  return {{"name", identity.name},
          {"vendor", identity.vendor},
          {"driver_version", identity.driver_version},
          {"memory", identity.memory},
          {"pci_bus", identity.pci_bus},
          {"uuid", identity.uuid}};
}

DeviceIdentity IdentityFromJson(const json& j) {
  DeviceIdentity identity;
  j.at("name").get_to(identity.name);
  j.at("vendor").get_to(identity.vendor);
  j.at("driver_version").get_to(identity.driver_version);
  j.at("memory").get_to(identity.memory);
  j.at("pci_bus").get_to(identity.pci_bus);
  j.at("uuid").get_to(identity.uuid);
  return identity;
}

std::string ToJsonLine(const ResultRecord& r) {
  json passes = json::array();
  for (const PassFigures& pass : r.passes) passes.push_back(PassJson(pass));
  json error_blocks = json::array();
  for (const ErrorBlock& b : r.error_blocks) {
    error_blocks.push_back({{"pass", b.pass},
                            {"block", b.block},
                            {"word_errors", b.word_errors},
                            {"bit_errors", b.bit_errors}});
  }
  const auto bandwidth = Bandwidth(r);
  const json record = {
      {"format", kFormat},
      {"job", r.job},
      {"task", r.task},
      {"array",
       {{"min", r.array.min},
        {"max", r.array.max},
        {"step", r.array.step},
        {"count", r.array.count}}},
      {"restart", r.restart},
      {"started", r.started},
      {"host", r.host},
      {"device", r.device ? json(*r.device) : json(nullptr)},
      {"gpu", r.gpu},
      {"identity", IdentityJson(r.identity)},
      {"blocks", r.blocks},
      {"max_blocks", r.max_blocks},
      {"seconds", r.seconds},
      {"pass_count", r.passes.size()},
      {"write_gibs", bandwidth ? json(bandwidth->first) : json(nullptr)},
      {"read_gibs", bandwidth ? json(bandwidth->second) : json(nullptr)},
      {"passes", passes},
      {"error_blocks", error_blocks},
      {"word_errors", r.word_errors},
      {"bit_errors", r.bit_errors},
      {"verdict", VerdictName(r.verdict)},
      {"message", r.message}};
  // Invalid UTF-8 from a driver is replaced, never refused.
  return record.dump(-1, ' ', false, json::error_handler_t::replace);
}

ResultRecord FromJsonLine(const std::string& line, bool with_series) {
  const auto skip_series = [with_series](int depth, json::parse_event_t event,
                                         json& parsed) {
    return with_series || event != json::parse_event_t::key || depth != 1 ||
           (parsed != "passes" && parsed != "error_blocks");
  };
  const json j = json::parse(line, skip_series);
  if (j.at("format").get<int>() != kFormat) {
    throw std::invalid_argument("not a record of format 1");
  }
  ResultRecord r;
  j.at("job").get_to(r.job);
  j.at("task").get_to(r.task);
  const json& array = j.at("array");
  array.at("min").get_to(r.array.min);
  array.at("max").get_to(r.array.max);
  array.at("step").get_to(r.array.step);
  array.at("count").get_to(r.array.count);
  j.at("restart").get_to(r.restart);
  j.at("started").get_to(r.started);
  j.at("host").get_to(r.host);
  if (!j.at("device").is_null()) r.device = j.at("device").get<std::uint32_t>();
  j.at("gpu").get_to(r.gpu);
  r.identity = IdentityFromJson(j.at("identity"));
  j.at("blocks").get_to(r.blocks);
  j.at("max_blocks").get_to(r.max_blocks);
  j.at("seconds").get_to(r.seconds);
  if (!j.at("write_gibs").is_null() && !j.at("read_gibs").is_null()) {
    r.bandwidth = {j.at("write_gibs").get<double>(),
                   j.at("read_gibs").get<double>()};
  }
  j.at("word_errors").get_to(r.word_errors);
  j.at("bit_errors").get_to(r.bit_errors);
  const auto verdict = ParseVerdict(j.at("verdict").get<std::string>());
  if (!verdict) throw std::invalid_argument("no such verdict");
  r.verdict = *verdict;
  j.at("message").get_to(r.message);
  if (!with_series) return r;
  for (const json& p : j.at("passes")) {
    r.passes.push_back({p.at("seconds").get<double>(),
                        p.at("write_gibs").get<double>(),
                        p.at("read_gibs").get<double>(),
                        p.at("word_errors").get<std::uint64_t>(),
                        p.at("bit_errors").get<std::uint64_t>()});
  }
  for (const json& b : j.at("error_blocks")) {
    r.error_blocks.push_back({b.at("pass").get<std::uint32_t>(),
                              b.at("block").get<std::uint32_t>(),
                              b.at("word_errors").get<std::uint64_t>(),
                              b.at("bit_errors").get<std::uint64_t>()});
  }
  return r;
}

std::optional<ResultRecord> FromLegacyRow(const std::string& line) {
  const std::vector<std::string_view> f = Split(line, "\t");
  if (f.size() != 14) return std::nullopt;
  const auto task = Decimal(f[1]);
  const auto count = Decimal(f[2]);
  const auto verdict = ParseVerdict(f[12]);
  if (!task || (!count && f[2] != "-") || !verdict) return std::nullopt;
  ResultRecord r;
  r.legacy = true;
  r.job = f[0];
  r.task = *task;
  if (count && *count > 0) r.array = {0, *count - 1, 1, *count};
  r.array.count = count.value_or(0);  // 0: the row did not say
  r.host = f[3];
  if (const auto device = Decimal(f[4])) {
    r.device = static_cast<std::uint32_t>(*device);
  }
  r.gpu = f[5];
  r.identity.name = f[6];
  const std::size_t slash = f[7].find('/');
  if (slash != std::string::npos) {
    r.blocks = static_cast<std::uint32_t>(
        Decimal(f[7].substr(0, slash)).value_or(0));
    r.max_blocks = static_cast<std::uint32_t>(
        Decimal(f[7].substr(slash + 1)).value_or(0));
  }
  r.legacy_minutes = f[8];
  r.legacy_write = f[9];
  r.legacy_read = f[10];
  r.legacy_total = f[11];
  r.word_errors = Decimal(f[11]).value_or(0);
  r.verdict = *verdict;
  r.message = f[13];
  return r;
}

std::optional<std::pair<double, double>> Bandwidth(const ResultRecord& r) {
  if (r.legacy) {
    double write = 0;
    double read = 0;
    // Figures as 1.2.0 wrote them, "1.05", whatever the locale; "inf"
    // and "nan" are none.
    const auto number = [](const std::string& text, double& value) {
      std::istringstream in(text);
      in.imbue(std::locale::classic());
      in >> std::noskipws >> value;
      return !text.empty() && in && in.peek() == EOF &&
             std::isfinite(value);
    };
    if (!number(r.legacy_write, write) || !number(r.legacy_read, read)) {
      return std::nullopt;
    }
    return std::pair{write, read};
  }
  if (r.passes.empty()) return r.bandwidth;
  std::vector<double> write;
  std::vector<double> read;
  for (std::size_t i = r.passes.size() > 1 ? 1 : 0; i < r.passes.size(); ++i) {
    write.push_back(r.passes[i].write_gibs);
    read.push_back(r.passes[i].read_gibs);
  }
  return std::pair{Median(write), Median(read)};
}

std::string Printable(std::string text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = ' ';
  }
  return text;
}

std::vector<std::string> RowCells(const ResultRecord& r) {
  std::string write = "-";
  std::string read = "-";
  std::string minutes = fmt::format("{:.1f}", r.seconds / 60);
  std::string total = std::to_string(r.word_errors);
  if (r.legacy) {
    write = r.legacy_write;
    read = r.legacy_read;
    minutes = r.legacy_minutes;
    total = r.legacy_total;
  } else if (const auto bandwidth = Bandwidth(r)) {
    write = Figure(bandwidth->first);
    read = Figure(bandwidth->second);
  }
  const std::string blocks =
      r.blocks == 0 && r.max_blocks == 0
          ? "-"
          : fmt::format("{}/{}", r.blocks == 0 ? std::string("-")
                                               : std::to_string(r.blocks),
                        r.max_blocks);
  return {Printable(r.job),
          std::to_string(r.task),
          Printable(r.host),
          r.device ? std::to_string(*r.device) : "-",
          Printable(r.gpu.empty() ? "-" : r.gpu),
          Printable(r.identity.name.empty() ? "-" : r.identity.name),
          blocks,
          minutes,
          write,
          read,
          total,
          std::string(VerdictName(r.verdict)),
          Printable(r.message)};
}

}  // namespace vramcheck::fleet

namespace vramcheck::fleet {

std::string RowLine(const ResultRecord& record) {
  std::vector<std::string> cells = RowCells(record);
  cells.insert(cells.begin() + 2, std::to_string(record.array.count));
  std::string line;
  for (const std::string& cell : cells) {
    line += (line.empty() ? "" : "\t") + cell;
  }
  return line;
}

}  // namespace vramcheck::fleet
