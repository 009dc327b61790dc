#include "resampling/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace tesk::samplerateconverter {
namespace {

constexpr int kFilterLength = 16;
constexpr int kLog2Phases = 10;

struct ContextCloser {
    void operator()(ResampleContext* context) const { av_resample_close(context); }
};
using Context = std::unique_ptr<ResampleContext, ContextCloser>;

Context makeContext(int inRate, int outRate) {
    return Context(av_resample_init(outRate, inRate, kFilterLength, kLog2Phases, 0, 1.0));
}

std::vector<short> sine(int rate, double frequency, double amplitude, int count) {
    std::vector<short> samples(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        const double value = amplitude * std::sin(2.0 * std::numbers::pi * frequency * n / rate);
        samples[n] = static_cast<short>(std::lrint(value));
    }
    return samples;
}

// Feeds the input in blocks of the given sizes, carrying what the context
// did not consume into the next block, as the converter does.
std::vector<short> resampleInBlocks(ResampleContext* context, const std::vector<short>& input,
                                    const std::vector<int>& blockSizes, int dstSize) {
    std::vector<short> pending;
    std::vector<short> output;
    std::vector<short> dst(static_cast<std::size_t>(dstSize));
    std::size_t position = 0;
    for (int size : blockSizes) {
        const std::size_t end = std::min(input.size(), position + static_cast<std::size_t>(size));
        pending.insert(pending.end(), input.begin() + static_cast<std::ptrdiff_t>(position),
                       input.begin() + static_cast<std::ptrdiff_t>(end));
        position = end;
        int consumed = -1;
        const int written = av_resample(context, dst.data(), pending.data(), &consumed,
                                        static_cast<int>(pending.size()), dstSize, 1);
        EXPECT_GE(written, 0);
        EXPECT_GE(consumed, 0);
        EXPECT_LE(consumed, static_cast<int>(pending.size()));
        output.insert(output.end(), dst.begin(), dst.begin() + written);
        pending.erase(pending.begin(), pending.begin() + consumed);
    }
    return output;
}

std::vector<short> resampleWhole(int inRate, int outRate, const std::vector<short>& input) {
    Context context = makeContext(inRate, outRate);
    const int bound = static_cast<int>(input.size() * outRate / inRate + 64);
    return resampleInBlocks(context.get(), input, {static_cast<int>(input.size())}, bound);
}

// Signal-to-noise ratio in dB of output against the ideal sine at the
// output rate, leaving out the filter's run-in at both ends.
double sineSnr(const std::vector<short>& output, int rate, double frequency, double amplitude) {
    const std::size_t margin = 64;
    double signal = 0.0;
    double noise = 0.0;
    for (std::size_t n = margin; n + margin < output.size(); ++n) {
        const double ideal = amplitude * std::sin(2.0 * std::numbers::pi * frequency *
                                                  static_cast<double>(n) / rate);
        signal += ideal * ideal;
        noise += (output[n] - ideal) * (output[n] - ideal);
    }
    return 10.0 * std::log10(signal / noise);
}

TEST(ResamplerQuality, SineAt1kHzKeepsAnSnrOfAtLeast70dBForEveryRatePair) {
    const int pairs[][2] = {{44100, 48000}, {48000, 44100}, {22050, 48000},
                            {8000, 44100},  {48000, 8000},  {32000, 32000}};
    const double amplitude = 32767.0 * std::pow(10.0, -1.0 / 20.0);
    for (const auto& pair : pairs) {
        const int inRate = pair[0];
        const int outRate = pair[1];
        const std::vector<short> output =
            resampleWhole(inRate, outRate, sine(inRate, 1000.0, amplitude, inRate / 2));
        EXPECT_GE(sineSnr(output, outRate, 1000.0, amplitude), 70.0) << inRate << " -> " << outRate;
    }
}

TEST(ResamplerQuality, FullScaleSquareWaveClipsInsteadOfWrapping) {
    constexpr int halfPeriod = 20;
    std::vector<short> input(4000);
    for (std::size_t n = 0; n < input.size(); ++n) {
        input[n] = (n / halfPeriod) % 2 == 0 ? 32767 : -32768;
    }
    const std::vector<short> output = resampleWhole(44100, 48000, input);
    const auto [low, high] = std::minmax_element(output.begin(), output.end());
    EXPECT_EQ(*high, 32767);
    EXPECT_EQ(*low, -32768);
    // The filter rings past full scale next to each edge; away from the
    // edges every sample keeps the sign and level of its plateau.
    for (std::size_t n = 0; n < output.size(); ++n) {
        const double position = static_cast<double>(n) * 44100.0 / 48000.0 + 0.5;
        const double intoPlateau = std::fmod(position, 2.0 * halfPeriod);
        const double fromEdge = std::fmod(position, static_cast<double>(halfPeriod));
        if (fromEdge < 2.5 || fromEdge > halfPeriod - 2.5) {
            continue;
        }
        if (intoPlateau < halfPeriod) {
            EXPECT_GT(output[n], 28000) << n;
        } else {
            EXPECT_LT(output[n], -28000) << n;
        }
    }
}

TEST(ResamplerContinuation, RandomBlockSizesGiveTheSameStreamAsOneBlock) {
    const int pairs[][2] = {{44100, 48000}, {48000, 44100}, {8000, 44100}, {48000, 11025}};
    std::mt19937 random(2024);
    for (const auto& pair : pairs) {
        const int inRate = pair[0];
        const int outRate = pair[1];
        const std::vector<short> input = sine(inRate, 440.0, 20000.0, 3 * inRate);
        const std::vector<short> whole = resampleWhole(inRate, outRate, input);
        std::uniform_int_distribution<int> blockSize(0, 3000);
        std::vector<int> sizes;
        for (int total = 0; total < static_cast<int>(input.size());) {
            sizes.push_back(blockSize(random));
            total += sizes.back();
        }
        Context context = makeContext(inRate, outRate);
        EXPECT_EQ(resampleInBlocks(context.get(), input, sizes, 96000), whole)
            << inRate << " -> " << outRate;
    }
}

// Output n sits at input position n * in / out; it is written once its last
// tap, at floor(n * in / out) + taps / 2, is inside the input. The count
// after a long stream must follow this exactly: no rounding of the ratio.
TEST(ResamplerContinuation, OutputCountFollowsTheExactRateRatio) {
    const int pairs[][3] = {
        {44100, 48000, 16}, {48000, 44100, 18}, {8000, 44100, 16}, {44099, 48001, 16}};
    const std::vector<short> input(1234567, 0);
    const std::vector<int> sizes(static_cast<std::size_t>(input.size() / 10007 + 1), 10007);
    for (const auto& pair : pairs) {
        const std::int64_t inRate = pair[0];
        const std::int64_t outRate = pair[1];
        const std::int64_t lastFirstTap = static_cast<std::int64_t>(input.size()) - pair[2] / 2 - 1;
        const std::int64_t expected = ((lastFirstTap + 1) * outRate + inRate - 1) / inRate;
        Context context = makeContext(pair[0], pair[1]);
        const std::vector<short> output = resampleInBlocks(context.get(), input, sizes, 96000);
        EXPECT_EQ(static_cast<std::int64_t>(output.size()), expected)
            << inRate << " -> " << outRate;
    }
}

// Channels resampled together give each channel's own stream, in blocks of
// any size; contexts at different positions are refused.
TEST(ResamplerContinuation, PlanesTogetherGiveEachChannelsOwnStream) {
    const int pairs[][3] = {{44100, 48000, 2}, {48000, 44100, 3}, {44099, 48001, 1}};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> blockSize(1, 2000);
    for (const auto& [inRate, outRate, planes] : pairs) {
        std::vector<Context> contexts;
        std::vector<ResampleContext*> raw;
        std::vector<std::vector<float>> input;
        std::vector<std::vector<float>> output(static_cast<std::size_t>(planes));
        for (int plane = 0; plane < planes; ++plane) {
            contexts.push_back(makeContext(inRate, outRate));
            raw.push_back(contexts.back().get());
            const std::vector<short> tone = sine(inRate, 300.0 + 500.0 * plane, 20000.0, inRate);
            input.emplace_back(tone.begin(), tone.end());
        }
        std::vector<float> dst(4096 * static_cast<std::size_t>(planes));
        for (std::size_t start = 0; input[0].size() - start > 64;) {
            const int size = std::min(blockSize(random), static_cast<int>(input[0].size() - start));
            std::vector<const float*> src;
            std::vector<float*> out;
            for (int plane = 0; plane < planes; ++plane) {
                src.push_back(input[plane].data() + start);
                out.push_back(dst.data() + 4096 * plane);
            }
            int consumed = 0;
            const int written = av_resample_planes(raw.data(), planes, out.data(), src.data(),
                                                   &consumed, size, 4096);
            ASSERT_GE(written, 0);
            for (int plane = 0; plane < planes; ++plane) {
                output[plane].insert(output[plane].end(), out[plane], out[plane] + written);
            }
            start += static_cast<std::size_t>(consumed);
        }
        for (int plane = 0; plane < planes; ++plane) {
            const Context alone = makeContext(inRate, outRate);
            std::vector<float> whole(input[plane].size() * 2);
            int consumed = 0;
            const int written = av_resample(alone.get(), whole.data(), input[plane].data(),
                                            &consumed, static_cast<int>(input[plane].size()),
                                            static_cast<int>(whole.size()), 1);
            ASSERT_GT(output[plane].size() + 100, static_cast<std::size_t>(written));
            whole.resize(output[plane].size());
            EXPECT_EQ(output[plane], whole) << inRate << " -> " << outRate << ", plane " << plane;
        }
    }
    const Context ahead = makeContext(44100, 48000);
    const Context behind = makeContext(44100, 48000);
    std::vector<float> src(100, 0.0f);
    std::vector<float> dst(200);
    int consumed = 0;
    ASSERT_GT(av_resample(ahead.get(), dst.data(), src.data(), &consumed, 100, 200, 1), 0);
    ResampleContext* both[] = {ahead.get(), behind.get()};
    const float* sources[] = {src.data(), src.data()};
    float* targets[] = {dst.data(), dst.data() + 100};
    EXPECT_EQ(av_resample_planes(both, 2, targets, sources, &consumed, 100, 100), -1);
}

} // namespace
} // namespace tesk::samplerateconverter
