#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "engine/ImageState.h"
#include "engine/filters/AdaptiveThreshold.h"
#include "engine/filters/BWThreshold.h"
#include "engine/filters/NoiseRemoval.h"
#include "engine/filters/Sharpen.h"

namespace {

// Widths no memory can hold: the sizes overflow or exceed any vector, so init must report
// failure instead of building a short buffer (or throwing).
constexpr size_t kHuge = std::numeric_limits<size_t>::max() / 2;
constexpr size_t kTooBig = static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max() / 2);

TEST(FilterLimits, InitsReportImpossibleSizes) {
  for (size_t w : {kHuge, kTooBig}) {
    orb::DescreenRecord d;
    NoiseRemovalState ns;
    EXPECT_EQ(NoiseRemovalInit(&ns, &d, IK_GREY, w), nullptr);
    NoiseRemovalFree(&ns);

    orb::SharpenRecord s;
    CSharpenLineFilter f(w, &s, IK_GREY);
    EXPECT_FALSE(f.ok());
    uint8_t line[4] = {1, 2, 3, 4};
    EXPECT_EQ(f.Process(line, 4), -2);  // a failed filter leaves bands alone

    CIAT e;
    EXPECT_FALSE(e.Init(25, 12, w, 25, 10));
    uint8_t out[4];
    EXPECT_FALSE(e.ThresholdRows(line, out, 1));

    for (int type : {1, 2}) {
      orb::BWThresholdRecord r;
      r.ThresholdingType = type;
      r.DiffusionHybrid = 1;
      BWThresholdState st;
      EXPECT_EQ(BWThresholdInit(&st, &r, w, w), nullptr) << type;
      BWThresholdFree(&st);
    }
  }
}

}  // namespace
