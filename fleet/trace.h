#ifndef VRAMCHECK_FLEET_TRACE_H_
#define VRAMCHECK_FLEET_TRACE_H_

#include <initializer_list>
#include <string>
#include <vector>

#include "judge.h"
#include "record.h"

namespace vramcheck::fleet {

// The most characters a trace has.
constexpr std::size_t kTraceWidth = 48;

// The top of a bandwidth scale in GiB/s that `records`' passes of the
// `figures` (write, read or both) share: the highest pass, or half as much
// again as the highest median where a pass went above that, so that one
// outlier flattens no run.
double BandwidthTop(const std::vector<ResultRecord>& records,
                    std::initializer_list<double PassFigures::*> figures);

// True where the environment's LC_ALL, LC_CTYPE or LANG asks for UTF-8
// characters; the process's own locale stays as it was.
bool LocaleIsUtf8();

// A run's `figure` over its seconds as one line: the passes laid end to end
// by their seconds and cut into as many equal shares as there are passes,
// at most kTraceWidth, each share drawn by the lowest figure of the passes
// it overlaps, as one of eight heights from 0 to `top`: "▁▂▃▄▅▆▇█", or
// without `utf8` "_.:-=+*#". "" for no pass.
std::string Trace(const std::vector<PassFigures>& passes,
                  double PassFigures::*figure, double top, bool utf8);

// The summary's lines on the traces of `records`: one on the scales, of
// write and of read, each up to the highest pass of them all, or to half
// as much again as the highest median where a pass went above that (such
// a pass is drawn at the top); then "trace: device N write TRACE read
// TRACE" a record ("-" without a pass).
std::string TraceLines(const std::vector<ResultRecord>& records, bool utf8);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_TRACE_H_
