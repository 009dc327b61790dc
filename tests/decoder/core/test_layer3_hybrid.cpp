#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <numbers>

#include "decoder/core/layer3_hybrid.h"
#include "decoder/core/simd_path.h"

namespace tesk::quor {
namespace {

constexpr double kPi = std::numbers::pi;

// The standard's block windows, written out independently of the decoder.
double block_window(unsigned block_type, int i) {
    const auto long_entry = [](int n) { return std::sin(kPi / 36 * (n + 0.5)); };
    const auto short_entry = [](int n) { return std::sin(kPi / 12 * (n + 0.5)); };
    switch (block_type) {
    case 1:
        return i < 18 ? long_entry(i) : i < 24 ? 1.0 : i < 30 ? short_entry(i - 18) : 0.0;
    case 2:
        return short_entry(i);
    case 3:
        return i < 6 ? 0.0 : i < 12 ? short_entry(i - 6) : i < 18 ? 1.0 : long_entry(i);
    default:
        return long_entry(i);
    }
}

// 36 windowed IMDCT samples of one sub-band straight from the formulas,
// frequency inversion included for odd sub-bands.
std::vector<double> reference_imdct(const double* x, unsigned block_type, int subband) {
    std::vector<double> z(36, 0.0);
    if (block_type == 2) {
        for (int w = 0; w < 3; ++w) {
            for (int i = 0; i < 12; ++i) {
                double sum = 0.0;
                for (int k = 0; k < 6; ++k) {
                    sum += x[3 * k + w] * std::cos(kPi * (2 * i + 7) * (2 * k + 1) / 24);
                }
                z[6 + 6 * w + i] += sum * block_window(2, i);
            }
        }
    } else {
        for (int i = 0; i < 36; ++i) {
            double sum = 0.0;
            for (int k = 0; k < 18; ++k) {
                sum += x[k] * std::cos(kPi * (2 * i + 19) * (2 * k + 1) / 72);
            }
            z[i] = sum * block_window(block_type, i);
        }
    }
    for (int i = 1; i < 36 && subband % 2 == 1; i += 2) {
        z[i] = -z[i];
    }
    return z;
}

class HybridSynthesis : public ::testing::Test {
protected:
    void SetUp() override {
        state_ = std::make_unique<Layer3State>();
        for (int i = 0; i < kLinesPerGranule; ++i) {
            lines_[i] = std::sin(0.37 * i) * (1.0 + i % 7);
        }
        granule_.active_subbands = 32;
    }
    // Output slot i of sub-band s of channel 0, in the precision of the
    // transforms.
    static double output(const Layer3State& state, int i, int s) {
        return precision() == Precision::kSingle ? state.subbands_single[0][i][s]
                                                 : state.subbands[0][i][s];
    }
    // Outputs of sub-band s for one granule from a zero overlap and for a
    // following granule of zero lines, which gives the overlap it kept.
    void expect_two_granules(int s, unsigned block_type, const Layer3State& first) const {
        const std::vector<double> z = reference_imdct(lines_ + 18 * s, block_type, s);
        for (int i = 0; i < 18; ++i) {
            EXPECT_NEAR(output(first, i, s), z[i], tolerance()) << "sub-band " << s << " i " << i;
            EXPECT_NEAR(output(*state_, i, s), z[i + 18], tolerance())
                << "overlap of sub-band " << s << " i " << i;
        }
    }
    // Runs the granule and a granule of zero lines after it, checking the
    // sub-bands of `block_types` (index s, or the last entry beyond it). The
    // zero granule has few active sub-bands, so that its overlap comes both
    // through transforms and past them.
    void expect_transforms(std::initializer_list<unsigned> block_types) {
        hybrid_synthesis(*state_, lines_, 0, granule_);
        const auto first = std::make_unique<Layer3State>(*state_);
        const double zeros[kLinesPerGranule] = {};
        GranuleInfo zero_granule = granule_;
        zero_granule.active_subbands = 5;
        hybrid_synthesis(*state_, zeros, 0, zero_granule);
        const int active = static_cast<int>(granule_.active_subbands);
        for (int s = 0; s < active; ++s) {
            const std::size_t index = std::min<std::size_t>(s, block_types.size() - 1);
            expect_two_granules(s, block_types.begin()[index], *first);
        }
    }
    // In single precision the rounding errors of the transform's sums, some
    // larger than its outputs, add up to about 1e-5 here.
    static double tolerance() { return precision() == Precision::kSingle ? 5e-5 : 1e-9; }
    std::unique_ptr<Layer3State> state_;
    double lines_[kLinesPerGranule];
    GranuleInfo granule_;
};

TEST_F(HybridSynthesis, LongBlocksOfEveryTypeFollowTheTransform) {
    for (unsigned block_type : {0u, 1u, 3u}) {
        SetUp();
        granule_.block_type = block_type;
        expect_transforms({block_type});
    }
}

TEST_F(HybridSynthesis, MixedBlocksTransformTheFirstTwoSubbandsAsLongBlocks) {
    granule_.block_type = 2;
    granule_.mixed_block_flag = 1;
    expect_transforms({0, 0, 2});
}

class AliasReduction : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < kLinesPerGranule; ++i) {
            lines_[i] = 1.0 + i;
            original_[i] = lines_[i];
        }
    }
    bool boundary_changed(int k) const {
        return lines_[18 * k + 17] != original_[18 * k + 17] ||
               lines_[18 * (k + 1)] != original_[18 * (k + 1)];
    }
    double lines_[kLinesPerGranule];
    double original_[kLinesPerGranule];
    GranuleInfo granule_;
};

TEST_F(AliasReduction, ButterfliesBetweenActiveSubbands) {
    granule_.active_subbands = 3;
    antialias(lines_, granule_);
    const double c = -0.6;
    const double cs = 1 / std::sqrt(1 + c * c);
    const double ca = c / std::sqrt(1 + c * c);
    EXPECT_DOUBLE_EQ(lines_[17], 18.0 * cs - 19.0 * ca);
    EXPECT_DOUBLE_EQ(lines_[18], 19.0 * cs + 18.0 * ca);
    EXPECT_TRUE(boundary_changed(1));
    EXPECT_FALSE(boundary_changed(2));
    EXPECT_EQ(lines_[18 * 0 + 9], original_[9]) << "lines 8 apart from the boundary stay";
}

} // namespace
} // namespace tesk::quor
