#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <string>

#include "tools/crosscheck/layer3_decoders.h"
#include "tools/streamgen/layer3_writer.h"
#include "tools/streamgen/music_corpus.h"

namespace tesk::quor::streamgen {
namespace {

constexpr int kFrames = 8;

// Lines falling with frequency, with escapes at the bottom and single
// lines at the top, zero above `top` lines.
void FillSpectrum(Layer3Granule& g, std::uint32_t seed, int top) {
    std::uint32_t state = seed * 2654435761U + 1;
    for (int i = 0; i < kLayer3Lines; ++i) {
        state = state * 1664525U + 1013904223U;
        const int magnitude = static_cast<int>((state >> 8) % 400) * 40 / (i * i / 4 + 40);
        g.values[i] = i < top ? (state & 1 ? -magnitude : magnitude) : 0;
    }
}

struct Feature {
    std::string name;
    std::int32_t rate;
    ChannelMode mode;
    std::int32_t kbps;
    std::function<void(Layer3Frame&, int)> dress; // frame and its number
    bool quorAgrees = true; // false: Quor rejects or differs today; libmad alone is checked
};

void BlockSequence(Layer3Frame& f, int n, bool mixed) {
    static constexpr int kTypes[] = {0, 1, 2, 2, 3, 0, 1, 2};
    for (auto& granule : f.granules) {
        for (Layer3Granule& g : granule) {
            g.blockType = kTypes[n];
            g.mixedBlock = mixed && g.blockType == 2;
            g.subblockGain = {n % 2, 0, 2};
            g.shortScalefac[4] = {1, 2, 3};
        }
    }
}

// Intensity above line `bound` of the right channel, positions 0-6; the left
// channel stays clear of the top short band, where libmad and Quor differ.
void Intensity(Layer3Frame& f, int bound) {
    for (auto& granule : f.granules) {
        std::fill(granule[1].values.begin() + bound, granule[1].values.end(), 0);
        for (int b = 0; b < 21; ++b) {
            granule[1].longScalefac[b] = (b * 5) % 7;
        }
        for (int b = 0; b < 12; ++b) {
            granule[1].shortScalefac[b] = {b % 7, (b + 2) % 7, (b + 4) % 7};
        }
    }
}

std::vector<Feature> Features() {
    const auto scalefacs = [](Layer3Frame& f, int) {
        for (auto& granule : f.granules) {
            granule[0].longScalefac = {3, 1, 0, 2, 5, 4, 1, 0, 3, 2, 1,
                                       0, 2, 1, 3, 0, 1, 2, 0, 1, 3};
            granule[0].preflag = true;
            granule[1].scalefacScale = true;
            granule[1].longScalefac[7] = 9;
        }
        f.scfsi = {0b1010, 0b1111};
    };
    std::vector<Feature> features = {
        {"mpeg1 stereo, scale factors, scfsi, preflag", 44100, ChannelMode::kStereo, 320,
         scalefacs},
        {"mpeg1 joint mid/side, block switching", 48000, ChannelMode::kJointStereo, 320,
         [](Layer3Frame& f, int n) {
             f.header.modeExtension = kModeExtensionMidSide;
             BlockSequence(f, n, false);
         }},
        {"mpeg1 intensity and mid/side, mixed blocks", 32000, ChannelMode::kJointStereo, 320,
         [](Layer3Frame& f, int n) {
             f.header.modeExtension = 3;
             BlockSequence(f, n, true);
             Intensity(f, 150);
         }},
        {"crc, header flags, dual channel", 44100, ChannelMode::kDualChannel, 256,
         [](Layer3Frame& f, int n) {
             f.header.crc = true;
             f.header.privateBit = f.header.copyright = f.header.original = n % 2 == 0;
             f.header.emphasis = n % 2;
             f.privateBits = 5;
         }},
        {"explicit tables, linbits, count1 table B, regions", 44100, ChannelMode::kMono, 320,
         [](Layer3Frame& f, int n) {
             for (auto& granule : f.granules) {
                 granule[0].tableSelect = {n % 2 ? 31 : 23, 28, 20};
                 granule[0].region0Count = 3 + n;
                 granule[0].region1Count = 2;
                 granule[0].count1Table = 1;
                 granule[0].values[0] = 8206 * (n % 2 ? 1 : -1);
             }
             f.ancillaryBytes = 3;
             f.mainDataBegin = n % 3 == 0 ? 0 : -1;
         }},
        {"free format with padding", 44100, ChannelMode::kMono, 0,
         [](Layer3Frame& f, int n) {
             f.header.freeFormatBytes = 1469; // 450 kbit/s; libmad needs whole kbit/s
             f.header.padding = n % 2 == 1;
         }},
        {"lsf joint mid/side, short blocks, preflag", 22050, ChannelMode::kJointStereo, 160,
         [](Layer3Frame& f, int n) {
             f.header.modeExtension = kModeExtensionMidSide;
             BlockSequence(f, n, false);
             f.granules[0][0].preflag = f.granules[0][0].blockType != 2;
         }},
        {"lsf intensity", 24000, ChannelMode::kJointStereo, 160,
         [](Layer3Frame& f, int n) {
             f.header.modeExtension = kModeExtensionIntensity;
             BlockSequence(f, n, false);
             Intensity(f, 100);
         }},
        {"mpeg2.5 12 kHz stereo", 12000, ChannelMode::kStereo, 128, nullptr},
        {"mpeg2.5 8 kHz mono, short blocks", 8000, ChannelMode::kMono, 64,
         [](Layer3Frame& f, int n) { BlockSequence(f, n, false); }},
    };
    for (const std::int32_t rate : {22050, 24000, 16000, 11025, 12000}) {
        features.push_back(
            {"lsf mixed blocks, intensity and mid/side, " + std::to_string(rate) + " Hz", rate,
             ChannelMode::kJointStereo, 160, [](Layer3Frame& f, int n) {
                 f.header.modeExtension = 3;
                 BlockSequence(f, n, true);
                 Intensity(f, 36);
             }});
    }
    return features;
}

std::vector<Layer3Frame> Frames(const Feature& feature) {
    std::vector<Layer3Frame> frames(kFrames);
    for (int n = 0; n < kFrames; ++n) {
        Layer3Frame& f = frames[n];
        f.header.sampleRate = feature.rate;
        f.header.mode = feature.mode;
        f.header.bitRateKbps = feature.kbps;
        for (int gr = 0; gr < 2; ++gr) {
            for (int ch = 0; ch < 2; ++ch) {
                FillSpectrum(f.granules[gr][ch], 4 * n + 2 * gr + ch, 300 - 40 * ch);
                f.granules[gr][ch].globalGain = 130 + 4 * ch;
            }
        }
        if (feature.dress) {
            feature.dress(f, n);
        }
    }
    return frames;
}

double Psnr(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    double squares = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        squares += std::pow(a[i] - b[i], 2.0);
    }
    return squares == 0 ? 200.0 : 10.0 * std::log10(32767.0 * 32767.0 * a.size() / squares);
}

int LargestDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    return std::transform_reduce(
        a.begin(), a.end(), b.begin(), 0, [](int x, int y) { return std::max(x, y); },
        [](int x, int y) { return std::abs(x - y); });
}

// Every feature writes a stream that libmad decodes without complaint (its
// CRC check included) to the full length, and that Quor decodes to within 1
// of libmad's samples.
TEST(Layer3Writer, FeaturesDecodeAlikeInQuorAndLibmad) {
    for (const Feature& feature : Features()) {
        SCOPED_TRACE(feature.name);
        const std::vector<Layer3Frame> frames = Frames(feature);
        std::vector<std::uint8_t> bytes;
        ASSERT_NO_THROW(bytes = WriteLayer3(frames));
        const auto mad = crosscheck::decode_with_mad(crosscheck::with_mad_guard(bytes));
        const std::size_t channels = feature.mode == ChannelMode::kMono ? 1 : 2;
        EXPECT_EQ(mad.errors, 0);
        EXPECT_EQ(mad.samples.size(), kFrames * channels * Layer3FrameSamples(frames[0].header));
        if (feature.quorAgrees) {
            const auto quor = crosscheck::decode_with_quor(bytes);
            EXPECT_EQ(quor.errors, 0);
            ASSERT_EQ(quor.samples.size(), mad.samples.size());
            EXPECT_LE(LargestDifference(quor.samples, mad.samples), 1);
        }
    }
}

// The corpus streams decode alike in both decoders.
TEST(Layer3Writer, MusicCorpusDecodesAlike) {
    for (MusicCorpusEntry entry : MusicCorpus()) {
        SCOPED_TRACE(entry.name);
        entry.options.seconds = 0.5;
        const std::vector<std::uint8_t> bytes = MusicStream(entry.options);
        EXPECT_EQ(bytes, MusicStream(entry.options));
        const auto mad = crosscheck::decode_with_mad(crosscheck::with_mad_guard(bytes));
        const auto quor = crosscheck::decode_with_quor(bytes);
        EXPECT_EQ(mad.errors + quor.errors, 0);
        ASSERT_EQ(quor.samples.size(), mad.samples.size());
        EXPECT_GE(Psnr(quor.samples, mad.samples), 90.0);
    }
}

} // namespace
} // namespace tesk::quor::streamgen
