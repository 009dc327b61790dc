#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "decoder/core/simd_path.h"

namespace tesk::quor::test {
namespace {

// The test suite runs the core tests once more with TESK_QUOR_SIMD=baseline;
// that run must really take the baseline build.
TEST(SimdPath, TheEnvironmentForcesTheBaseline) {
    const char* setting = std::getenv("TESK_QUOR_SIMD");
    if (setting != nullptr && std::string(setting) == "baseline") {
        EXPECT_EQ(simd_path(), SimdPath::kBaseline);
    }
    std::printf("vector path: %s\n", simd_path_name(simd_path()));
}

// Likewise with TESK_QUOR_PRECISION=double; single precision is the default.
TEST(SimdPath, TheEnvironmentChoosesThePrecision) {
    const char* setting = std::getenv("TESK_QUOR_PRECISION");
    const bool double_asked = setting != nullptr && std::string(setting) == "double";
    EXPECT_EQ(precision(), double_asked ? Precision::kDouble : Precision::kSingle);
    std::printf("precision: %s\n", precision_name(precision()));
}

} // namespace
} // namespace tesk::quor::test
