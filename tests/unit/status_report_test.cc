// The status line and when it is drawn, with a fake clock.

#include "app/status_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace vramcheck {
namespace {

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kStart = 123 * kSecond;  // an arbitrary epoch

std::optional<std::string> Pass(StatusReport& report, std::int64_t start,
                                std::uint32_t errors, float write,
                                float read, std::size_t blocks = 2) {
  std::vector<std::uint32_t> word_errors(blocks, 0);
  word_errors[0] = errors;
  return report.AddPass(start, word_errors, std::vector<float>(blocks, write),
                        std::vector<float>(blocks, read));
}

TEST(StatusReportTest, FirstLineIsExactBytes) {
  StatusReport report(kStart);
  const auto line = Pass(report, kStart, 0, 100.0f, 250.5f, 8);
  ASSERT_TRUE(line);
  EXPECT_EQ(*line,
            "Write: 100.00 [GiB/s], Read: 250.50 [GiB/s], Total Error: 0");
}

TEST(StatusReportTest, TwoSecondPassesDrawAfterPasses1_4_7_10) {
  StatusReport report(kStart);
  std::vector<int> drawn;
  for (int pass = 1; pass <= 11; ++pass) {
    // Each pass reports its own number as its bandwidth.
    const auto line = Pass(report, kStart + (pass - 1) * 2 * kSecond, 0,
                           static_cast<float>(pass), 1.0f);
    if (line) drawn.push_back(pass);
    if (pass == 4) {
      ASSERT_TRUE(line);
      EXPECT_NE(line->find("Write: 3.00 [GiB/s]"), std::string::npos) << *line;
    }
  }
  EXPECT_EQ(drawn, (std::vector<int>{1, 4, 7, 10}));
}

TEST(StatusReportTest, LongPassesDrawEveryTime) {
  StatusReport report(kStart);
  for (int pass = 0; pass < 4; ++pass) {
    EXPECT_TRUE(Pass(report, kStart + pass * 6 * kSecond, 0, 1.0f, 1.0f));
  }
}

TEST(StatusReportTest, PassStartingExactlyWhenDueDraws) {
  StatusReport report(kStart);
  ASSERT_TRUE(Pass(report, kStart, 0, 1.0f, 1.0f));
  EXPECT_FALSE(Pass(report, kStart + 5 * kSecond - 1, 0, 1.0f, 1.0f));
  EXPECT_TRUE(Pass(report, kStart + 5 * kSecond, 0, 1.0f, 1.0f));
}

TEST(StatusReportTest, TotalErrorKeepsEarlierPassesAndCountsWords) {
  StatusReport report(kStart);
  EXPECT_NE(Pass(report, kStart, 3, 1.0f, 1.0f)->find("Total Error: 3"),
            std::string::npos);
  Pass(report, kStart + kSecond, 4, 1.0f, 1.0f);  // no line: not due
  const auto line = Pass(report, kStart + 5 * kSecond, 0, 1.0f, 1.0f);
  ASSERT_TRUE(line);
  EXPECT_NE(line->find("Total Error: 7"), std::string::npos) << *line;
}

TEST(StatusReportTest, TotalErrorGoesPast32Bits) {
  StatusReport report(kStart);
  const std::vector<float> speeds(2, 1.0f);
  const std::vector<std::uint32_t> errors(2, 0xFFFFFFFF);
  const auto line = report.AddPass(kStart, errors, speeds, speeds);
  EXPECT_NE(line->find("Total Error: 8589934590"), std::string::npos);
}

TEST(StatusReportTest, InfiniteSampleShowsInf) {
  StatusReport report(kStart);
  const auto line = Pass(report, kStart, 0,
                         std::numeric_limits<float>::infinity(), 2.0f);
  EXPECT_NE(line->find("Write: inf [GiB/s], Read: 2.00"), std::string::npos)
      << *line;
}

TEST(StatusReportTest, AverageSumsInOrderInSinglePrecision) {
  EXPECT_EQ(Average({1.0f, 2.0f, 4.0f}), 7.0f / 3.0f);
  // 2^24 + 1 is not a float: summing in order drops each 1.
  EXPECT_EQ(Average({16777216.0f, 1.0f, 1.0f, 0.0f}), 16777216.0f / 4.0f);
}

}  // namespace
}  // namespace vramcheck
