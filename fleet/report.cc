#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>

#include <fmt/format.h>

#include "trace.h"

namespace vramcheck::fleet {
namespace {

// Every chart is this wide in SVG units, and scales to the page.
constexpr double kWidth = 760;
constexpr double kLeft = 56;  // the y axis's labels
constexpr double kRight = 12;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
// A run's chart: bandwidth above, the errors of each pass below.
constexpr double kPlotTop = 8;
constexpr double kPlotHeight = 64;
constexpr double kStripTop = kPlotTop + kPlotHeight + 6;
constexpr double kStripHeight = 18;
constexpr double kStripBottom = kStripTop + kStripHeight;
constexpr double kRunHeight = kStripBottom + 24;
// The fleet's chart: one row a GPU.
constexpr double kRowHeight = 14;
constexpr double kFleetTop = 26;
constexpr double kBarsLeft = 300;
constexpr double kBarsRight = 680;
constexpr std::size_t kLabelLength = 48;  // characters of a row's label
constexpr std::size_t kNamedBlocks = 6;   // error blocks named in words

constexpr const char* kWriteColour = "#1f5fbf";
constexpr const char* kReadColour = "#c8600a";

constexpr const char* kStyle =
    "body{font:15px/1.4 sans-serif;color:#111;background:#fff;"
    "max-width:900px;margin:12px auto;padding:0 8px}"
    "h1{font-size:44px;margin:0;padding:4px 14px;border:3px solid #111}"
    "h1.errors{border-width:7px}h1.failed{border-style:dashed}"
    "h1.interrupted{border-style:dotted}"
    "h2{font-size:20px;margin:24px 0 6px;border-bottom:1px solid #888}"
    "h3{font-size:16px;margin:12px 0 0}p{margin:2px 0}"
    "table{border-collapse:collapse;font-size:13px;width:100%}"
    "th,td{border:1px solid #999;padding:2px 5px;text-align:left;"
    "vertical-align:top}td.n{text-align:right}"
    ".clean{background:#cdeccd}.errors{background:#f6b6b6;font-weight:bold}"
    ".failed{background:#fbd79b;font-weight:bold}"
    ".interrupted{background:#d4d4ec;font-weight:bold}"
    ".slow{font-weight:bold;text-decoration:underline}"
    ".counts span{display:inline-block;margin:8px 8px 0 0;padding:2px 10px;"
    "border:1px solid #111;font-size:20px}"
    "svg{display:block;width:100%;height:auto}"
    "svg text{font-size:11px;fill:#111}svg text.label{font-size:10px}";

// The patterns the charts fill with: errors cross-hatched in red, read
// bars striped in orange, both still patterns in black and white.
constexpr const char* kPatterns =
    "<svg style=\"position:absolute;width:0;height:0\" aria-hidden=\"true\">"
    "<defs><pattern id=\"err\" width=\"6\" height=\"6\" "
    "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
    "<rect width=\"6\" height=\"6\" fill=\"#f6b6b6\"/><line x1=\"0\" "
    "y1=\"0\" x2=\"0\" y2=\"6\" stroke=\"#b00000\" stroke-width=\"3\"/>"
    "</pattern><pattern id=\"rd\" width=\"4\" height=\"4\" "
    "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
    "<rect width=\"4\" height=\"4\" fill=\"#fff\"/><line x1=\"0\" y1=\"0\" "
    "x2=\"0\" y2=\"4\" stroke=\"#c8600a\" stroke-width=\"2.5\"/></pattern>"
    "</defs></svg>\n";

// The verdicts from worst to best.
constexpr Verdict kWorstFirst[] = {Verdict::kErrors, Verdict::kInterrupted,
                                   Verdict::kFailed, Verdict::kClean};

// The columns of RowCells, and where the Speed column goes among them.
constexpr const char* kColumns[] = {
    "Job",         "Task",    "Host",    "Device",      "GPU",
    "Name",        "Blocks",  "Minutes", "Write GiB/s", "Read GiB/s",
    "Total Error", "Verdict", "Message"};
constexpr std::size_t kVerdictColumn = 11;
constexpr std::size_t kMessageColumn = 12;

// The scales that every run of a page is drawn on.
struct Scale {
  double seconds = 1;
  double gibs = 1;
  std::uint64_t errors = 0;  // the most wrong words of any pass
};

// An SVG coordinate.
std::string At(double value) { return fmt::format("{:.1f}", value); }

std::string Figure(double value) { return fmt::format("{:.2f}", value); }

// The least of 1, 2, 2.5 and 5 times a power of ten that is at least
// `value`; 1 for none.
double NiceTop(double value) {
  if (!(value > 0) || !std::isfinite(value)) return 1;
  // The power of ten at or below `value`, counted rather than taken from
  // pow(), whose newer symbol version the release's glibc 2.17 lacks.
  double power = 1;
  while (power > value) power /= 10;
  while (power * 10 <= value) power *= 10;
  for (const double step : {1.0, 2.0, 2.5, 5.0}) {
    if (value <= step * power * (1 + 1e-9)) return step * power;
  }
  return 10 * power;
}

// About `steps` round steps from 0 to `top`.
std::vector<double> Ticks(double top, int steps) {
  const double step = NiceTop(top / steps);
  std::vector<double> ticks;
  for (int i = 0; i * step <= top * (1 + 1e-9); ++i) ticks.push_back(i * step);
  return ticks;
}

// `text`'s first `length` UTF-8 characters, with "…" where it is longer.
std::string Shortened(const std::string& text, std::size_t length) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xc0) == 0x80) continue;
    if (characters++ == length) return text.substr(0, i) + "…";
  }
  return text;
}

double RunSeconds(const ResultRecord& r) {
  double seconds = 0;
  for (const PassFigures& pass : r.passes) seconds += pass.seconds;
  return seconds;
}

// Seconds up to the longest run; GiB/s up to BandwidthTop of write and
// read together (passes above it are drawn at its top); wrong words up to
// the most of any pass.
Scale RunScale(const std::vector<ResultRecord>& records) {
  double seconds = 0;
  Scale scale;
  for (const ResultRecord& r : records) {
    seconds = std::max(seconds, RunSeconds(r));
    for (const PassFigures& pass : r.passes) {
      scale.errors = std::max(scale.errors, pass.word_errors);
    }
  }
  scale.seconds = NiceTop(seconds);
  scale.gibs = NiceTop(BandwidthTop(
      records, {&PassFigures::write_gibs, &PassFigures::read_gibs}));
  return scale;
}

std::string Page(const std::string& title, const std::string& body) {
  return fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width\">\n"
      "<title>{}</title>\n<style>{}</style>\n</head>\n<body>\n{}{}</body>\n"
      "</html>\n",
      HtmlText(title), kStyle, kPatterns, body);
}

std::string Banner(const std::string& what, Verdict verdict) {
  return fmt::format("<h1 class=\"{0}\">{1}: {0}</h1>\n", VerdictName(verdict),
                     HtmlText(what));
}

// The table of `records` with the columns of RowCells that `columns` picks,
// and Speed before Message; each verdict coloured.
std::string Table(const std::vector<ResultRecord>& records,
                  const std::vector<Speed>& speeds,
                  const std::vector<std::size_t>& columns) {
  std::string html = "<table>\n<tr>";
  for (const std::size_t c : columns) {
    if (c == kMessageColumn) html += "<th>Speed</th>";
    html += fmt::format("<th>{}</th>", kColumns[c]);
  }
  html += "</tr>\n";
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::vector<std::string> cells = RowCells(records[i]);
    html += "<tr>";
    for (const std::size_t c : columns) {
      if (c == kMessageColumn) {
        html += fmt::format("<td{}>{}</td>",
                            speeds[i] == Speed::kSlow ? " class=\"slow\"" : "",
                            SpeedName(speeds[i]));
      }
      const char* kind = c >= 6 && c <= 10 ? " class=\"n\"" : "";
      if (c == kVerdictColumn) {
        html += fmt::format("<td class=\"{0}\">{0}</td>",
                            VerdictName(records[i].verdict));
      } else {
        html += fmt::format("<td{}>{}</td>", kind, HtmlText(cells[c]));
      }
    }
    html += "</tr>\n";
  }
  return html + "</table>\n";
}

// The legend of the runs' charts, a chart of its own.
std::string Legend() {
  return fmt::format(
      "<svg viewBox=\"0 0 {0} 18\" aria-label=\"legend\">"
      "<line x1=\"{1}\" y1=\"9\" x2=\"{2}\" y2=\"9\" stroke=\"{3}\" "
      "stroke-width=\"2.5\"/><text x=\"{4}\" y=\"13\">write</text>"
      "<line x1=\"{5}\" y1=\"9\" x2=\"{6}\" y2=\"9\" stroke=\"{7}\" "
      "stroke-width=\"2.5\" stroke-dasharray=\"6 3\"/>"
      "<text x=\"{8}\" y=\"13\">read (dashed)</text>"
      "<rect x=\"{9}\" y=\"3\" width=\"14\" height=\"11\" "
      "fill=\"url(#err)\" stroke=\"#b00000\"/><text x=\"{10}\" y=\"13\">"
      "pass with errors (bar: its wrong words)</text><rect x=\"{11}\" "
      "y=\"3\" width=\"4\" height=\"10\" fill=\"#111\"/>"
      "<text x=\"{12}\" y=\"13\">block with errors</text>"
      "<line x1=\"{13}\" y1=\"2\" x2=\"{13}\" y2=\"16\" stroke=\"#111\" "
      "stroke-width=\"2\" stroke-dasharray=\"2 2\"/>"
      "<text x=\"{14}\" y=\"13\">end of a run cut short</text></svg>\n",
      kWidth, kLeft, kLeft + 24, kWriteColour, kLeft + 28, kLeft + 70,
      kLeft + 94, kReadColour, kLeft + 98, kLeft + 180, kLeft + 198,
      kLeft + 420, kLeft + 428, kLeft + 540, kLeft + 546);
}

// The axes and grid of a run's chart.
std::string RunAxes(const Scale& scale) {
  const auto x = [&](double t) {
    return kLeft + t / scale.seconds * kPlotWidth;
  };
  std::string svg =
      fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"end\">GiB/s</text>",
                  At(kLeft - 24), At(kPlotTop + kPlotHeight / 2 + 4));
  for (const double v : Ticks(scale.gibs, 3)) {
    const double y = kPlotTop + kPlotHeight - v / scale.gibs * kPlotHeight;
    svg += fmt::format(
        "<line x1=\"{0}\" y1=\"{2}\" x2=\"{1}\" y2=\"{2}\" stroke=\"#ddd\"/>"
        "<text x=\"{3}\" y=\"{4}\" text-anchor=\"end\">{5:g}</text>",
        At(kLeft), At(kWidth - kRight), At(y), At(kLeft - 4), At(y + 4), v);
  }
  for (const double t : Ticks(scale.seconds, 5)) {
    svg += fmt::format(
        "<line x1=\"{0}\" y1=\"{1}\" x2=\"{0}\" y2=\"{2}\" stroke=\"#ddd\"/>"
        "<text x=\"{0}\" y=\"{3}\" text-anchor=\"middle\">{4:g} s</text>",
        At(x(t)), At(kPlotTop), At(kStripBottom), At(kStripBottom + 20), t);
  }
  svg += fmt::format(
      "<rect x=\"{0}\" y=\"{1}\" width=\"{2}\" height=\"{3}\" fill=\"none\" "
      "stroke=\"#777\"/><rect x=\"{0}\" y=\"{4}\" width=\"{2}\" "
      "height=\"{5}\" fill=\"none\" stroke=\"#777\"/>"
      "<text x=\"{6}\" y=\"{7}\" text-anchor=\"end\">errors</text>"
      "<text class=\"label\" x=\"{6}\" y=\"{8}\" text-anchor=\"end\">"
      "0 to {9}</text>",
      At(kLeft), At(kPlotTop), At(kPlotWidth), At(kPlotHeight), At(kStripTop),
      At(kStripHeight), At(kLeft - 4), At(kStripTop + 8), At(kStripBottom + 4),
      scale.errors);
  return svg;
}

// A run's chart: its bandwidth as steps, one a pass; its passes with
// errors shaded above and drawn as bars below; its blocks with errors
// marked under those, each at its share of its pass; and where a run that
// did not go well ended.
std::string RunChart(const ResultRecord& r, const Scale& scale) {
  const auto x = [&](double t) {
    return kLeft + t / scale.seconds * kPlotWidth;
  };
  const auto y = [&](double v) {
    return kPlotTop + kPlotHeight - std::min(v / scale.gibs, 1.0) * kPlotHeight;
  };
  std::string svg = fmt::format(
      "<svg viewBox=\"0 0 {} {}\" role=\"img\" aria-label=\"device {}: "
      "{}\">",
      kWidth, kRunHeight, r.device ? std::to_string(*r.device) : "-",
      VerdictName(r.verdict));
  svg += RunAxes(scale);
  std::vector<double> starts;
  double t = 0;
  // Each path starts at its first pass's height, then steps pass by pass.
  std::string write;
  std::string read;
  if (!r.passes.empty()) {
    write = fmt::format("M{} {}", At(x(0)), At(y(r.passes[0].write_gibs)));
    read = fmt::format("M{} {}", At(x(0)), At(y(r.passes[0].read_gibs)));
  }
  for (std::size_t i = 0; i < r.passes.size(); ++i) {
    const PassFigures& pass = r.passes[i];
    starts.push_back(t);
    const double end = t + pass.seconds;
    write += fmt::format(" V{} H{}", At(y(pass.write_gibs)), At(x(end)));
    read += fmt::format(" V{} H{}", At(y(pass.read_gibs)), At(x(end)));
    if (pass.word_errors > 0) {
      const double width = std::max(x(end) - x(t), 1.5);
      const double height =
          std::max(3.0, static_cast<double>(pass.word_errors) /
                            static_cast<double>(scale.errors) * kStripHeight);
      svg += fmt::format(
          "<g class=\"error-pass\"><title>pass {0}: {1} wrong words, {2} "
          "bits</title><rect x=\"{3}\" y=\"{4}\" width=\"{5}\" height=\"{6}\" "
          "fill=\"#f6b6b6\" opacity=\"0.6\"/><rect x=\"{3}\" y=\"{7}\" "
          "width=\"{5}\" height=\"{8}\" fill=\"url(#err)\" stroke=\"#b00000\" "
          "stroke-width=\"0.5\"/></g>",
          i + 1, pass.word_errors, pass.bit_errors, At(x(t)), At(kPlotTop),
          At(width), At(kPlotHeight), At(kStripBottom - height), At(height));
    }
    t = end;
  }
  if (r.passes.empty()) {
    svg += fmt::format(
        "<text x=\"{}\" y=\"{}\" text-anchor=\"middle\">no whole pass</text>",
        At(kLeft + kPlotWidth / 2), At(kPlotTop + kPlotHeight / 2));
  } else {
    svg += fmt::format(
        "<path class=\"write\" d=\"{}\" fill=\"none\" stroke=\"{}\" "
        "stroke-width=\"2.5\"/><path class=\"read\" d=\"{}\" fill=\"none\" "
        "stroke=\"{}\" stroke-width=\"2.5\" stroke-dasharray=\"6 3\"/>",
        write, kWriteColour, read, kReadColour);
  }
  std::uint32_t blocks = r.blocks;
  for (const ErrorBlock& b : r.error_blocks) {
    blocks = std::max(blocks, b.block + 1);
  }
  for (const ErrorBlock& b : r.error_blocks) {
    if (b.pass < 1 || b.pass > r.passes.size()) continue;
    const double at = starts[b.pass - 1] +
                      r.passes[b.pass - 1].seconds * (b.block + 0.5) / blocks;
    svg += fmt::format(
        "<rect class=\"error-block\" x=\"{}\" y=\"{}\" width=\"4\" "
        "height=\"7\" fill=\"#111\"><title>pass {}, block {}: {} wrong "
        "words, {} bits</title></rect>",
        At(x(at) - 2), At(kStripBottom + 1), b.pass, b.block, b.word_errors,
        b.bit_errors);
  }
  const bool ended_early =
      r.verdict == Verdict::kFailed || r.verdict == Verdict::kInterrupted ||
      (r.verdict == Verdict::kErrors && !r.message.empty());
  if (ended_early) {
    const bool right = x(t) > kLeft + kPlotWidth / 2;
    svg += fmt::format(
        "<g class=\"end\"><line x1=\"{0}\" y1=\"{1}\" x2=\"{0}\" y2=\"{2}\" "
        "stroke=\"#111\" stroke-width=\"2\" stroke-dasharray=\"2 2\"/>"
        "<text x=\"{3}\" y=\"{4}\" text-anchor=\"{5}\" font-weight=\"bold\">"
        "end: {6}</text></g>",
        At(x(t)), At(kPlotTop - 2), At(kStripBottom),
        At(x(t) + (right ? -4 : 4)), At(kPlotTop + 14), right ? "end" : "start",
        VerdictName(r.verdict));
  }
  return svg + "</svg>\n";
}

// "1 word", "2 words"; "1 whole pass", "2 whole passes".
std::string Count(std::uint64_t count, std::string_view what) {
  return fmt::format("{} {}{}", count, what,
                     count == 1            ? ""
                     : what.ends_with('s') ? "es"
                                           : "s");
}

// What a run found, in words: its figures, its errors and how it ended.
std::string RunText(const ResultRecord& r) {
  const auto faulty = std::count_if(
      r.passes.begin(), r.passes.end(),
      [](const PassFigures& pass) { return pass.word_errors > 0; });
  const auto bandwidth = Bandwidth(r);
  std::string html = fmt::format(
      "<p>{}{} in {}; {} ({}){}.",
      bandwidth
          ? fmt::format("Write {} GiB/s, read {} GiB/s (medians); ",
                        Figure(bandwidth->first), Figure(bandwidth->second))
          : std::string(),
      Count(r.passes.size(), "whole pass"), SecondsText(RunSeconds(r)),
      Count(r.word_errors, "wrong word"), Count(r.bit_errors, "bit"),
      faulty > 0 ? fmt::format(" in {} of the passes", faulty) : "");
  for (std::size_t i = 0; i < std::min(r.error_blocks.size(), kNamedBlocks);
       ++i) {
    const ErrorBlock& b = r.error_blocks[i];
    html += fmt::format("{} pass {} block {}: {}",
                        i == 0 ? " Blocks with "
                                 "errors:"
                               : ";",
                        b.pass, b.block, Count(b.word_errors, "word"));
  }
  if (r.error_blocks.size() > kNamedBlocks) {
    html += fmt::format("; and {} more", r.error_blocks.size() - kNamedBlocks);
  }
  html += r.error_blocks.empty() ? "</p>\n" : ".</p>\n";
  if (!r.message.empty()) {
    html += fmt::format("<p class=\"outcome\">Verdict: <b>{}</b>: {}</p>\n",
                        VerdictName(r.verdict), HtmlText(r.message));
  }
  return html;
}

// A GPU as the fleet's chart names it: host, device and name.
std::string GpuLabel(const ResultRecord& r) {
  return fmt::format("{} · {} · {}", r.host,
                     r.device ? "device " + std::to_string(*r.device)
                              : "task " + std::to_string(r.task),
                     r.identity.name);
}

// What makes a GPU stand out in the fleet: its verdict unless clean, and
// slowness.
std::string Flags(const ResultRecord& r, Speed speed) {
  std::string flags;
  if (r.verdict != Verdict::kClean) flags = VerdictName(r.verdict);
  if (speed == Speed::kSlow) flags += flags.empty() ? "slow" : ", slow";
  return flags;
}

std::string FleetChart(const std::vector<ResultRecord>& records,
                       const std::vector<Speed>& speeds) {
  double top = 0;
  for (const ResultRecord& r : records) {
    if (const auto bandwidth = Bandwidth(r)) {
      top = std::max({top, bandwidth->first, bandwidth->second});
    }
  }
  top = NiceTop(top);
  const auto x = [&](double v) {
    return kBarsLeft + std::min(v / top, 1.0) * (kBarsRight - kBarsLeft);
  };
  const double height =
      kFleetTop + kRowHeight * static_cast<double>(records.size()) + 4;
  std::string svg = fmt::format(
      "<svg viewBox=\"0 0 {} {}\" role=\"img\" aria-label=\"bandwidth of "
      "every GPU\"><rect x=\"0\" y=\"4\" width=\"14\" height=\"6\" "
      "fill=\"{}\"/><text x=\"18\" y=\"11\">write</text><rect x=\"60\" "
      "y=\"4\" width=\"14\" height=\"6\" fill=\"url(#rd)\" stroke=\"{}\" "
      "stroke-width=\"0.5\"/><text x=\"78\" y=\"11\">read</text>"
      "<text x=\"{}\" y=\"11\" text-anchor=\"end\">GiB/s</text>",
      kWidth, height, kWriteColour, kReadColour, At(kBarsLeft - 6));
  for (const double v : Ticks(top, 5)) {
    svg += fmt::format(
        "<line x1=\"{0}\" y1=\"{1}\" x2=\"{0}\" y2=\"{2}\" stroke=\"#ccc\"/>"
        "<text x=\"{0}\" y=\"11\" text-anchor=\"middle\">{3:g}</text>",
        At(x(v)), At(kFleetTop - 10), At(height), v);
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ResultRecord& r = records[i];
    const double row = kFleetTop + kRowHeight * static_cast<double>(i);
    const std::string flags = Flags(r, speeds[i]);
    const auto bandwidth = Bandwidth(r);
    svg += fmt::format("<g class=\"gpu{}\"><title>{}: {}{}</title>",
                       flags.empty() ? "" : " flagged", HtmlText(GpuLabel(r)),
                       bandwidth ? fmt::format("write {} GiB/s, read {} GiB/s",
                                               Figure(bandwidth->first),
                                               Figure(bandwidth->second))
                                 : "no figures",
                       flags.empty() ? "" : ", " + flags);
    if (!flags.empty()) {
      svg += fmt::format(
          "<rect x=\"0\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"{}\"/>",
          At(row), kWidth, kRowHeight,
          r.verdict == Verdict::kClean ? "#fff0b8" : "#fbd0d0");
    }
    svg += fmt::format(
        "<text class=\"label\" x=\"{}\" y=\"{}\" text-anchor=\"end\">{}</text>",
        At(kBarsLeft - 6), At(row + 10.5),
        HtmlText(Shortened(GpuLabel(r), kLabelLength)));
    if (bandwidth) {
      svg += fmt::format(
          "<rect x=\"{0}\" y=\"{1}\" width=\"{2}\" height=\"5\" fill=\"{3}\"/>"
          "<rect x=\"{0}\" y=\"{4}\" width=\"{5}\" height=\"5\" "
          "fill=\"url(#rd)\" stroke=\"{6}\" stroke-width=\"0.5\"/>",
          At(kBarsLeft), At(row + 2), At(x(bandwidth->first) - kBarsLeft),
          kWriteColour, At(row + 7), At(x(bandwidth->second) - kBarsLeft),
          kReadColour);
    } else {
      svg += fmt::format(
          "<text class=\"label\" x=\"{}\" y=\"{}\">no "
          "figures</text>",
          At(kBarsLeft + 4), At(row + 10.5));
    }
    if (!flags.empty()) {
      svg += fmt::format(
          "<text class=\"label\" x=\"{}\" y=\"{}\" font-weight=\"bold\">{}"
          "</text>",
          At(kBarsRight + 6), At(row + 10.5), flags);
    }
    svg += "</g>";
  }
  return svg + "</svg>\n";
}

}  // namespace

std::string HtmlText(std::string_view text) {
  std::string html;
  html.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        html += "&amp;";
        break;
      case '<':
        html += "&lt;";
        break;
      case '>':
        html += "&gt;";
        break;
      case '"':
        html += "&quot;";
        break;
      case '\'':
        html += "&#39;";
        break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        html += byte < 0x20 || byte == 0x7f ? ' ' : c;
      }
    }
  }
  return html;
}

std::string MachinePage(const std::vector<ResultRecord>& records,
                        const std::vector<Speed>& speeds, int percent) {
  const Verdict worst = WorstVerdict(records);
  const std::string host = records.empty() ? "" : records[0].host;
  std::string body = Banner("Verdict", worst);
  body += fmt::format(
      "<p>{} on {}, started {}: {}.</p>\n",
      records.empty() ? "A GPU check"
                      : "The GPU check " + HtmlText(records[0].job),
      HtmlText(host), records.empty() ? "-" : HtmlText(records[0].started),
      Count(records.size(), "device"));
  body += "<h2>Devices</h2>\n" +
          Table(records, speeds, {3, 5, 6, 7, 8, 9, 10, 11, 12});
  body += fmt::format(
      "<p>Speed: slow where the write or read bandwidth is below {} % of the "
      "median of the devices of the same name and memory, with 3 or more of "
      "them.</p>\n",
      percent);
  body +=
      "<h2>Each device's run</h2>\n<p>Bandwidth over the seconds of "
      "each device's whole passes, and the wrong words of each pass, "
      "every device on the same scales.</p>\n" +
      Legend();
  const Scale scale = RunScale(records);
  for (const ResultRecord& r : records) {
    const std::string device =
        r.device ? std::to_string(*r.device) : std::string("-");
    body += fmt::format(
        "<section id=\"device-{0}\">\n<h3>Device {0}: {1} · <span "
        "class=\"{2}\">{2}</span></h3>\n",
        device, HtmlText(r.identity.name), VerdictName(r.verdict));
    body += RunText(r) + RunChart(r, scale) + "</section>\n";
  }
  return Page(fmt::format("GPU check of {}: {}", host, VerdictName(worst)),
              body);
}

std::string FleetPage(const std::vector<ResultRecord>& records,
                      const std::vector<Speed>& speeds, int percent,
                      const std::vector<std::string>& problems) {
  const Verdict worst = WorstVerdict(records);
  std::string body = Banner("Fleet", worst) + "<p class=\"counts\">";
  for (const Verdict verdict : kWorstFirst) {
    const auto count = std::count_if(
        records.begin(), records.end(),
        [&](const ResultRecord& r) { return r.verdict == verdict; });
    body += fmt::format("<span class=\"{0}\"><b>{1}</b> {0}</span>",
                        VerdictName(verdict), count);
  }
  std::set<std::string> hosts;
  std::set<std::string> jobs;
  std::vector<ResultRecord> flagged;
  std::vector<Speed> flagged_speeds;
  for (std::size_t i = 0; i < records.size(); ++i) {
    hosts.insert(records[i].host);
    jobs.insert(records[i].job);
    if (!Flags(records[i], speeds[i]).empty()) {
      flagged.push_back(records[i]);
      flagged_speeds.push_back(speeds[i]);
    }
  }
  body += fmt::format("</p>\n<p>{} on {} in {}.</p>\n",
                      Count(records.size(), "GPU"), Count(hosts.size(), "host"),
                      Count(jobs.size(), "job"));
  if (!problems.empty()) {
    body += "<h2>Problems</h2>\n<ul>\n";
    for (const std::string& line : problems) {
      body += "<li>" + HtmlText(line) + "</li>\n";
    }
    body += "</ul>\n";
  }
  body += "<h2>Slow and faulty GPUs</h2>\n";
  const std::vector<std::size_t> all = {0, 1, 2, 3,  4,  5, 6,
                                        7, 8, 9, 10, 11, 12};
  body += flagged.empty()
              ? "<p>None: every GPU is clean, and none is slow.</p>\n"
              : Table(flagged, flagged_speeds, all);
  body += fmt::format(
      "<p>Slow: the write or read bandwidth is below {} % of the median of "
      "the GPUs of the same name and memory in the same job, with 3 or more "
      "of them.</p>\n<h2>Bandwidth of every GPU</h2>\n<p>One row a GPU, in "
      "the order of job, task, host and device, on one scale: the medians of "
      "its passes. Slow and faulty GPUs are shaded and named at the right."
      "</p>\n",
      percent);
  body += FleetChart(records, speeds);
  return Page(fmt::format("GPU fleet: {}", VerdictName(worst)), body);
}

}  // namespace vramcheck::fleet
