// How many passes a stuck bit needs to be found, as the README and the manual
// quote it.

#include "stuck_bit_passes.h"

#include <gtest/gtest.h>

namespace vramcheck::tools {
namespace {

TEST(StuckBitPassesTest, FoundInTheFirstPassWhoseBitDiffers) {
  // Pass 1 writes 0x4c445445 into lane 0 of element 0: bit 0 is 1, bit 1 0.
  EXPECT_EQ(FirstDetectingPass({0, 0, 0, false}, 1000), 1u);
  EXPECT_EQ(FirstDetectingPass({0, 0, 1, true}, 1000), 1u);
  EXPECT_GT(FirstDetectingPass({0, 0, 0, true}, 1000), 1u);
  EXPECT_EQ(FirstDetectingPass({0, 0, 0, true}, 1), 0u);
}

TEST(StuckBitPassesTest, FiguresOfTheDocumentedSample) {
  // stuck_bit_figures prints these; README.md and the manual page quote
  // them as 49.97 %, 75.03 %, 93.28 %, 99.31 % and pass 24.
  const DetectionCounts counts = CountDetections(200'000, 1, 1000);
  EXPECT_EQ(counts.never_found, 0u);
  EXPECT_DOUBLE_EQ(ShareFoundBy(counts, 1), 99'948 / 200'000.0);
  EXPECT_DOUBLE_EQ(ShareFoundBy(counts, 2), 150'063 / 200'000.0);
  EXPECT_DOUBLE_EQ(ShareFoundBy(counts, 4), 186'558 / 200'000.0);
  EXPECT_DOUBLE_EQ(ShareFoundBy(counts, 8), 198'624 / 200'000.0);
  EXPECT_EQ(LatestDetectingPass(counts), 24u);
  EXPECT_DOUBLE_EQ(ShareFoundBy(counts, 24), 1.0);
}

}  // namespace
}  // namespace vramcheck::tools
