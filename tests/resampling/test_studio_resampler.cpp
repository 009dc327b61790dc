#include "resampling/studio_resampler.h"

#include "tools/tone_fit/tone_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace tesk::samplerateconverter {
namespace {

constexpr std::size_t kEdge = 1500;
constexpr double kAmplitude = 30000.0;

// A tone at inRate resampled to outRate in one block, unrounded.
std::vector<double> resampleTone(int inRate, int outRate, double frequency) {
    const int count = 12000;
    std::vector<std::int16_t> input(count);
    for (int n = 0; n < count; ++n) {
        input[n] = static_cast<std::int16_t>(
            std::lrint(kAmplitude * std::sin(2.0 * std::numbers::pi * frequency * n / inRate)));
    }
    CStudioResampler resampler(std::make_shared<const CStudioFilter>(inRate, outRate));
    std::vector<float> output(static_cast<std::size_t>(count) * outRate / inRate + 16);
    int consumed = 0;
    const int written = resampler.resample(output.data(), input.data(), &consumed, count,
                                           static_cast<int>(output.size()));
    return std::vector<double>(output.begin(), output.begin() + written);
}

// The level in dB, against the input tone, at which a tone of inFrequency
// comes out at outFrequency.
double levelAt(int inRate, int outRate, double inFrequency, double outFrequency) {
    std::vector<double> frequencies = {outFrequency};
    if (outFrequency != inFrequency && inFrequency < outRate / 2.0) {
        frequencies.push_back(inFrequency);
    }
    const tonefit::ToneFit fit =
        tonefit::fitTones(resampleTone(inRate, outRate, inFrequency), outRate, frequencies, kEdge);
    return tonefit::decibels(fit.amplitudes.front() / kAmplitude);
}

// Pairs with exact filter phases and one (44100 -> 31999) that interpolates
// between phases.
TEST(StudioResampler, PassBandIsFlatAndAliasesAndImagesAre100DbDown) {
    const int pairs[][2] = {{44100, 48000}, {48000, 44100}, {44100, 32000},
                            {44100, 31999}, {8000, 44100},  {22050, 44100}};
    for (const auto& [in, out] : pairs) {
        SCOPED_TRACE(std::to_string(in) + " -> " + std::to_string(out));
        const double nyquist = std::min(in, out) / 2.0;
        for (double share : {0.05, 0.5, 0.8, 0.9}) {
            EXPECT_NEAR(levelAt(in, out, share * nyquist, share * nyquist), 0.0, 0.1) << share;
        }
        for (double share : {1.01, 1.05, 1.3, 1.8}) {
            // Decimating, a tone above the output's Nyquist frequency folds
            // back; interpolating, a tone below the input's comes with an
            // image above it.
            const double unwanted = share * nyquist;
            const bool decimating = out < in;
            if (!decimating && unwanted >= out / 2.0) {
                continue;
            }
            const double tone = decimating ? unwanted : in - unwanted;
            const double heard = decimating ? out - unwanted : unwanted;
            if (tone <= 0.0 || tone >= (decimating ? in / 2.0 : nyquist) || heard <= 0.0) {
                continue;
            }
            EXPECT_LE(levelAt(in, out, tone, heard), -100.0) << share;
        }
    }
}

TEST(StudioResampler, EqualRatesPassTheInputThrough) {
    const std::vector<std::int16_t> input = {5, -32768, 32767, 1, 0, 7, 8, 9, 10, 11, 12, 13};
    CStudioResampler resampler(std::make_shared<const CStudioFilter>(32000, 32000));
    std::vector<std::int16_t> output(input.size());
    int consumed = 0;
    const int written =
        resampler.resample(output.data(), input.data(), &consumed, static_cast<int>(input.size()),
                           static_cast<int>(output.size()));
    output.resize(static_cast<std::size_t>(written));
    EXPECT_EQ(output, std::vector<std::int16_t>(input.begin(), input.end() - 1));
    EXPECT_EQ(consumed, written);
    EXPECT_EQ(resampler.resample(output.data(), input.data(), nullptr, 4, 4), -1);
}

} // namespace
} // namespace tesk::samplerateconverter
