#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "decoder/core/generated/core_tables.h"
#include "decoder/core/synthesis.h"

namespace tesk::quor::test {
namespace {

// The filter bank evaluated term by term: a 1024-value V history per
// channel, the 64 x 32 matrixing, U built from it and windowed by D.
class DirectFilterBank {
public:
    std::array<double, 32> block(const double* samples) {
        std::memmove(v_.data() + 64, v_.data(), (v_.size() - 64) * sizeof(double));
        for (int i = 0; i < 64; ++i) {
            double sum = 0.0;
            for (int k = 0; k < 32; ++k) {
                sum += std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64.0) * samples[k];
            }
            v_[i] = sum;
        }
        std::array<double, 512> u{};
        for (int i = 0; i < 8; ++i) {
            for (int j = 0; j < 32; ++j) {
                u[64 * i + j] = v_[128 * i + j];
                u[64 * i + 32 + j] = v_[128 * i + 96 + j];
            }
        }
        std::array<double, 32> out{};
        for (int j = 0; j < 32; ++j) {
            for (int i = 0; i < 16; ++i) {
                out[j] += u[j + 32 * i] * kSynthesisWindowUnits[j + 32 * i] * kSynthesisWindowUnit;
            }
        }
        return out;
    }

private:
    std::array<double, 1024> v_{};
};

std::int16_t expected_pcm(double value) {
    int clips = 0;
    return round_to_pcm16(value * 32768.0, clips);
}

// One block of each channel (left, then right when given).
int synthesize_one(FrameDecoder& decoder, const double* left, const double* right,
                   unsigned char* output, int& position) {
    const double* blocks[2] = {left, right};
    return synthesize_blocks16(decoder, blocks, right == nullptr ? 1 : 2, 1, output, position);
}

std::vector<std::int16_t> as_samples(const std::vector<unsigned char>& bytes) {
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

TEST(Synthesis, StereoOutputEqualsTheFilterBankFormula) {
    auto decoder = make_decoder();
    DirectFilterBank left_bank;
    DirectFilterBank right_bank;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> amplitude(-0.06, 0.06);
    constexpr int kBlocks = 40;
    std::vector<unsigned char> output(kBlocks * 128);
    std::vector<std::int16_t> expected(kBlocks * 64);
    int position = 0;
    for (int b = 0; b < kBlocks; ++b) {
        double left[32];
        double right[32];
        for (int k = 0; k < 32; ++k) {
            left[k] = amplitude(random) / (1 + k % 7);
            right[k] = amplitude(random) / (1 + k % 5);
        }
        EXPECT_EQ(synthesize_one(*decoder, left, right, output.data(), position), 0);
        EXPECT_EQ(position, (b + 1) * 128);
        const auto l = left_bank.block(left);
        const auto r = right_bank.block(right);
        for (int n = 0; n < 32; ++n) {
            expected[b * 64 + 2 * n] = expected_pcm(l[n]);
            expected[b * 64 + 2 * n + 1] = expected_pcm(r[n]);
        }
    }
    const std::vector<std::int16_t> actual = as_samples(output);
    int differing = 0;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_LE(std::abs(actual[i] - expected[i]), 1) << "sample " << i;
        differing += actual[i] != expected[i] ? 1 : 0;
    }
    // Only a sum within rounding noise of a half can round the other way.
    EXPECT_LE(differing, 2);
}

// Blocks handed over together (four at a time, then one by one) come out as
// they do handed over singly, for one and two channels.
TEST(Synthesis, BlocksTogetherEqualBlockAfterBlock) {
    constexpr int kCount = 7;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> amplitude(-1.2, 1.2);
    for (int channels : {1, 2}) {
        auto together = make_decoder();
        auto one_by_one = make_decoder();
        std::vector<unsigned char> expected(3 * kCount * 128);
        std::vector<unsigned char> actual(expected.size());
        int expected_position = 0;
        int actual_position = 0;
        for (int round = 0; round < 3; ++round) {
            double blocks[2][kCount][32];
            for (auto& channel : blocks) {
                for (auto& block : channel) {
                    for (double& sample : block) {
                        sample = amplitude(random);
                    }
                }
            }
            int expected_clips = 0;
            for (int t = 0; t < kCount; ++t) {
                expected_clips += synthesize_one(*one_by_one, blocks[0][t],
                                                 channels == 2 ? blocks[1][t] : nullptr,
                                                 expected.data(), expected_position);
            }
            const double* starts[2] = {blocks[0][0], blocks[1][0]};
            EXPECT_EQ(synthesize_blocks16(*together, starts, channels, kCount, actual.data(),
                                          actual_position),
                      expected_clips);
            ASSERT_EQ(actual_position, expected_position);
        }
        EXPECT_EQ(actual, expected) << channels << " channel(s)";
    }
}

TEST(Synthesis, RoundingIsHalfAwayFromZeroAndClipsAreCounted) {
    struct Case {
        double sum;
        std::int16_t pcm;
        int clips;
    };
    const Case cases[] = {{32767.0, 32767, 0},
                          {32767.2, 32767, 1},
                          {-32768.0, -32768, 0},
                          {-32768.1, -32768, 1},
                          {0.0, 0, 0},
                          {-0.0, 0, 0},
                          {0.5, 1, 0},
                          {-0.5, -1, 0},
                          {2.49, 2, 0},
                          {-2.5, -3, 0},
                          {1e9, 32767, 1},
                          {-1e9, -32768, 1},
                          // Halves and the floats just below them.
                          {0.49999997, 0, 0},
                          {-0.49999997, 0, 0},
                          {16383.5, 16384, 0},
                          {-16383.499, -16383, 0}};
    constexpr int kCases = sizeof cases / sizeof cases[0];
    // The block rounding, in both precisions, sees every case at every
    // position of a block.
    for (int shift = 0; shift < 32; ++shift) {
        double sums[32];
        float single_sums[32];
        int clips = 0;
        for (int n = 0; n < 32; ++n) {
            sums[n] = cases[(n + shift) % kCases].sum;
            single_sums[n] = static_cast<float>(sums[n]);
            clips += cases[(n + shift) % kCases].clips;
        }
        std::int16_t pcm[32];
        std::int16_t single_pcm[32];
        EXPECT_EQ(round_block_to_pcm16(sums, pcm), clips);
        EXPECT_EQ(round_block_to_pcm16(single_sums, single_pcm), clips);
        for (int n = 0; n < 32; ++n) {
            const Case& c = cases[(n + shift) % kCases];
            int single_clips = 0;
            EXPECT_EQ(pcm[n], c.pcm) << c.sum;
            EXPECT_EQ(single_pcm[n], c.pcm) << c.sum;
            EXPECT_EQ(round_to_pcm16(c.sum, single_clips), c.pcm) << c.sum;
            EXPECT_EQ(single_clips, c.clips) << c.sum;
        }
    }
}

// The float samples of a stream, fed whole and decoded frame by frame.
std::vector<float> decode_floats(const std::vector<std::uint8_t>& stream) {
    auto decoder = make_decoder();
    std::vector<float> samples;
    std::vector<float> frame(kMinFloatOutputBytes / sizeof(float));
    const std::uint8_t* input = stream.data();
    int count = static_cast<int>(stream.size());
    for (int status = 0; status != NEED_MORE; input = nullptr, count = 0) {
        int done = 0;
        status =
            decode_frame(*decoder, input, count, reinterpret_cast<unsigned char*>(frame.data()),
                         kMinFloatOutputBytes, done, SampleOutput::kFloat);
        samples.insert(samples.end(), frame.begin(), frame.begin() + done / 4);
    }
    return samples;
}

// The float output of each layer's streams is the 16-bit output before its
// rounding and clipping: every float rounds to its 16-bit sample.
TEST(Synthesis, FloatOutputRoundsToThe16BitOutput) {
    for (const char* name : {"l1-fl2", "l2-fl10", "l3-compl", "M2L3_compl24"}) {
        const auto stream = read_file(conformance_dir() / (std::string(name) + ".bit"));
        if (stream.empty()) {
            GTEST_SKIP() << "conformance stream " << name << " absent";
        }
        auto decoder = make_decoder();
        const std::vector<std::int16_t> pcm = decode_stream(*decoder, stream, {1 << 20}).samples;
        const std::vector<float> floats = decode_floats(stream);
        ASSERT_EQ(floats.size(), pcm.size()) << name;
        int clipped = 0;
        for (std::size_t i = 0; i < pcm.size(); ++i) {
            const float bounded = std::clamp(floats[i], -32768.0F, 32767.0F);
            clipped += bounded != floats[i] ? 1 : 0;
            // Double sums turned into floats may cross a half by a hair.
            ASSERT_LE(std::abs(bounded - pcm[i]), 0.5F + 0.002F) << name << " sample " << i;
        }
        EXPECT_LT(clipped, 100) << name;
    }
}

} // namespace
} // namespace tesk::quor::test
