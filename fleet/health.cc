#include "health.h"

#include <algorithm>
#include <map>
#include <tuple>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "collect.h"
#include "output.h"

namespace vramcheck::fleet {
namespace {

// A failure's message is cut, so that the reason stays one short line.
constexpr std::size_t kMessageLength = 80;

// "device 1 (GPU 3, PCI 0000:03:00.0)": the device, and what names its card.
std::string CardName(const ResultRecord& r) {
  std::vector<std::string> names;
  if (!r.gpu.empty() && r.gpu != "-") names.push_back("GPU " + r.gpu);
  if (!r.identity.pci_bus.empty()) {
    names.push_back("PCI " + r.identity.pci_bus);
  } else if (!r.identity.uuid.empty()) {
    names.push_back("UUID " + r.identity.uuid);
  }
  std::string name =
      r.device ? fmt::format("device {}", *r.device) : "no device";
  if (!names.empty()) name += fmt::format(" ({})", fmt::join(names, ", "));
  return Printable(name);
}

std::string CardKey(const ResultRecord& r) {
  if (!r.identity.uuid.empty()) return "uuid " + r.identity.uuid;
  if (!r.identity.pci_bus.empty()) return "pci " + r.identity.pci_bus;
  return r.device ? fmt::format("device {}", *r.device) : "none";
}

}  // namespace

std::optional<std::string> DrainReason(const ResultRecord& r) {
  if (r.word_errors > 0 || r.verdict == Verdict::kErrors) {
    return fmt::format("vramcheck: {} errors on {}", r.word_errors,
                       CardName(r));
  }
  if (r.verdict == Verdict::kFailed && r.device) {
    std::string message = Printable(r.message);
    if (message.size() > kMessageLength) {
      message = message.substr(0, kMessageLength) + "...";
    }
    return fmt::format("vramcheck: {} failed: {}", CardName(r), message);
  }
  return std::nullopt;
}

std::vector<ResultRecord> NewestPerCard(std::vector<ResultRecord> records,
                                        const std::string& host) {
  std::map<std::pair<std::string, std::string>, ResultRecord> newest;
  for (ResultRecord& r : records) {
    if (!host.empty() && r.host != host) continue;
    auto [it, added] = newest.try_emplace({r.host, CardKey(r)}, r);
    if (!added && std::tie(r.started, r.restart) >=
                      std::tie(it->second.started, it->second.restart)) {
      it->second = std::move(r);
    }
  }
  std::vector<ResultRecord> cards;
  for (auto& [key, r] : newest) cards.push_back(std::move(r));
  return cards;
}

int Health(const std::vector<std::string>& args) {
  std::string host;
  std::size_t first = 0;
  if (!args.empty() && args[0] == "--host") {
    if (args.size() < 2 || args[1].empty()) {
      Complain("--host takes a host's name");
      return 2;
    }
    host = args[1];
    first = 2;
  }
  if (first >= args.size()) {
    Complain("usage: gpu-check health [--host HOST] RESULT...");
    return 2;
  }
  // Unfinished and unreadable files are no evidence against a card.
  std::vector<std::string> problems;
  const std::vector<ResultRecord> records = ReadResults(
      {args.begin() + static_cast<std::ptrdiff_t>(first), args.end()},
      /*with_unfinished=*/false, problems);
  std::vector<std::string> reasons;
  int status = 0;
  for (const ResultRecord& r : NewestPerCard(records, host)) {
    if (const auto reason = DrainReason(r)) {
      reasons.push_back(*reason);
      if (r.word_errors > 0 || r.verdict == Verdict::kErrors) {
        status = 1;
      } else if (status == 0) {
        status = 2;
      }
    }
  }
  if (!reasons.empty() &&
      !Say(fmt::format("{}\n", fmt::join(reasons, "; ")))) {
    Complain("cannot write to standard output");
    return 2;
  }
  return status;
}

}  // namespace vramcheck::fleet
