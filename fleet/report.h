#ifndef VRAMCHECK_FLEET_REPORT_H_
#define VRAMCHECK_FLEET_REPORT_H_

#include <string>
#include <string_view>
#include <vector>

#include "record.h"
#include "table.h"

namespace vramcheck::fleet {

// The report pages are one self-contained HTML file each: inline style and
// SVG, no script, nothing fetched, so that they open from a USB stick or an
// e-mail. They read at 800 px wide and in black and white as in colour:
// every colour comes with a word, a dash style or a pattern. Names from
// drivers and hosts are text, never markup. Figures never depend on the
// locale.

// `text` as HTML text or attribute value: &, <, >, " and ' as character
// references, every control byte (0x00 to 0x1f and 0x7f) a blank.
std::string HtmlText(std::string_view text);

// The page of one machine's check: its verdict, large; the table of its
// devices, each verdict coloured; then each device's write and read
// bandwidth over its run's seconds (its passes laid end to end) and the
// wrong words of each pass, every device on the same scales, with the
// passes and blocks that had errors marked, and where a run that was not
// clean ended, and why. `records` with their passes, `speeds` as
// CompareSpeeds gave them with `percent`.
std::string MachinePage(const std::vector<ResultRecord>& records,
                        const std::vector<Speed>& speeds, int percent);

// The page of many machines' results: the worst verdict and the count of
// each; the collector's `problems`; the GPUs that are slow or not clean;
// then every GPU as one row of a chart of its write and read bandwidth (the
// medians) on one scale. `records` need no passes.
std::string FleetPage(const std::vector<ResultRecord>& records,
                      const std::vector<Speed>& speeds, int percent,
                      const std::vector<std::string>& problems);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_REPORT_H_
