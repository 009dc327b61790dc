#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "decoder/core/layer3_stereo.h"

namespace tesk::quor {
namespace {

constexpr int kRow44k = 0;
constexpr int kRow22k = 3;
constexpr unsigned kNotCoded = 7;

class JointStereo : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < kLinesPerGranule; ++i) {
            left_[i] = 1.0 + i;
            right_[i] = 0.0;
        }
        for (unsigned& position : positions_) {
            position = kNotCoded;
        }
    }
    // Checks that lines [first, first + count) at `step` were rebuilt from
    // the left channel with the given factors.
    void expect_rebuilt(int first, int count, int step, double left_factor,
                        double right_factor) const {
        for (int i = 0, line = first; i < count; ++i, line += step) {
            EXPECT_DOUBLE_EQ(left_[line], (1.0 + line) * left_factor) << "line " << line;
            EXPECT_DOUBLE_EQ(right_[line], (1.0 + line) * right_factor) << "line " << line;
        }
    }
    void short_blocks(unsigned limit0, unsigned limit1, unsigned limit2) {
        granule_.block_type = 2;
        granule_.short_band_limit[0] = limit0;
        granule_.short_band_limit[1] = limit1;
        granule_.short_band_limit[2] = limit2;
    }
    int lsf_intensity() {
        return intensity_stereo(left_, right_, positions_, notCoded_, granule_, kRow22k, false,
                                true);
    }
    void expect_untouched(int first, int count, int step) const {
        expect_rebuilt(first, count, step, 1.0, 0.0);
    }
    double left_[kLinesPerGranule];
    double right_[kLinesPerGranule];
    unsigned positions_[kScaleFactorStoreSize];
    bool notCoded_[kScaleFactorStoreSize] = {};
    GranuleInfo granule_;
};

TEST_F(JointStereo, MidSideSumsAndDifferences) {
    right_[5] = 0.25;
    mid_side_stereo(left_, right_, kLinesPerGranule);
    EXPECT_DOUBLE_EQ(left_[5], 6.25);
    EXPECT_DOUBLE_EQ(right_[5], 5.75);
    EXPECT_DOUBLE_EQ(left_[575], 576.0);
    EXPECT_DOUBLE_EQ(right_[575], 576.0);
}

TEST_F(JointStereo, LongBlocksFromTheBandLimitWithTheLastBandReusingBandTwenty) {
    granule_.long_band_limit = 19;
    positions_[19] = 0;
    positions_[20] = 3; // tan(pi / 4) = 1: both factors 1/2
    positions_[18] = 3; // below the limit: not touched
    ASSERT_EQ(intensity_stereo(left_, right_, positions_, nullptr, granule_, kRow44k, false, false),
              1);
    expect_untouched(0, 288, 1);
    expect_rebuilt(288, 54, 1, 0.0, 1.0); // band 19 at position 0: all right
    expect_rebuilt(342, 576 - 342, 1, 0.5, 0.5);
}

TEST_F(JointStereo, LsfFactorsFollowTheIntensityScale) {
    granule_.long_band_limit = 20;
    granule_.scalefac_compress = 1; // intensity scale 1: k = 2^(-1/2)
    positions_[20] = 3;             // odd: left k^2
    ASSERT_EQ(lsf_intensity(), 1);
    expect_rebuilt(464, 522 - 464, 1, 0.5, 1.0);
    expect_rebuilt(522, 576 - 522, 1, 0.5, 1.0);
    SetUp();
    granule_.scalefac_compress = 0; // k = 2^(-1/4)
    positions_[20] = 4;             // even: right k^2
    ASSERT_EQ(lsf_intensity(), 1);
    expect_rebuilt(464, 522 - 464, 1, 1.0, std::sqrt(0.5));
    SetUp();
    positions_[20] = 30; // five-bit positions reach beyond 15: right k^15
    ASSERT_EQ(lsf_intensity(), 1);
    expect_rebuilt(464, 522 - 464, 1, 1.0, std::pow(2.0, -15.0 / 4.0));
}

TEST_F(JointStereo, MixedBlocksReachTheLongBandsOnlyWhenNoShortBandIsCoded) {
    granule_.block_type = 2;
    granule_.mixed_block_flag = 1;
    granule_.long_band_limit = 6;
    for (unsigned& limit : granule_.short_band_limit) {
        limit = 3;
    }
    positions_[6] = 0;
    positions_[3 * 3 + 0 - 1] = 0; // short band 3, window 0, stored after the 8 long bands
    ASSERT_EQ(intensity_stereo(left_, right_, positions_, nullptr, granule_, kRow44k, false, false),
              1);
    expect_rebuilt(24, 6, 1, 0.0, 1.0);         // long band 6
    expect_untouched(30, 6, 1);                 // long band 7 keeps position 7
    expect_rebuilt(3 * 12 + 0, 4, 3, 0.0, 1.0); // short band 3, window 0
    SetUp();
    positions_[6] = 0;
    granule_.short_band_limit[1] = 4;
    ASSERT_EQ(intensity_stereo(left_, right_, positions_, nullptr, granule_, kRow44k, false, false),
              1);
    expect_untouched(24, 6, 1);
}

} // namespace
} // namespace tesk::quor
