#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <string>

#include "decoder/core/layer3_dequant.h"
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

// Decoder order of a coding-order line: short bands interleave their windows.
int DecoderLine(const Layer3Frame& f, const Layer3Granule& g, int index) {
    const int rate = f.header.sampleRate;
    if (g.blockType != 2 || index < (g.mixedBlock ? 36 : 0)) {
        return index;
    }
    int band = 0;
    while (3 * ShortBandStart(rate, band + 1) <= index) {
        ++band;
    }
    const int width = ShortBandStart(rate, band + 1) - ShortBandStart(rate, band);
    const int offset = index - 3 * ShortBandStart(rate, band);
    return 3 * (ShortBandStart(rate, band) + offset % width) + offset / width;
}

// Quor's side-information, scale-factor and spectrum readers, run over a
// frame the writer made alone, give the lines Layer3LineSteps predicts.
void ExpectDequantisedLines(const Layer3Frame& f) {
    const std::vector<std::uint8_t> bytes = WriteLayer3({f});
    static constexpr std::int32_t kRates[] = {44100, 48000, 32000, 22050, 24000,
                                              16000, 11025, 12000, 8000};
    const int rateIndex = static_cast<int>(
        std::find(std::begin(kRates), std::end(kRates), f.header.sampleRate) - std::begin(kRates));
    const bool lsf = f.header.sampleRate < 32000;
    const int channels = f.header.mode == ChannelMode::kMono ? 1 : 2;
    const bool midSide = (f.header.modeExtension & kModeExtensionMidSide) != 0;
    BitReader reader{bytes.data(), bytes.size(), f.header.crc ? 6u : 4u, 0};
    Layer3SideInfo info;
    (lsf ? read_side_info_lsf : read_side_info_mpeg1)(reader, info, channels, midSide, rateIndex);
    unsigned store[2][kScaleFactorStoreSize] = {};
    for (int gr = 0; gr < (lsf ? 1 : 2); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            GranuleInfo& granule = info.granules[ch][gr];
            const bool intensity = ch == 1 && (f.header.modeExtension & 1) != 0;
            const ScaleFactorRead read =
                lsf ? read_scale_factors_lsf(reader, store[ch], granule, intensity)
                    : read_scale_factors_mpeg1(reader, store[ch], granule);
            double lines[kLinesPerGranule];
            ASSERT_EQ(decode_spectrum(reader, lines, {store[ch], read.end}, granule, rateIndex,
                                      read.bits),
                      0);
            const Layer3Granule& g = f.granules[gr][ch];
            const std::array<double, kLayer3Lines> steps = Layer3LineSteps(f, gr, ch);
            for (int i = 0; i < kLayer3Lines; ++i) {
                const double expected =
                    std::copysign(std::pow(std::abs(g.values[i]), 4.0 / 3.0), g.values[i]) *
                    steps[i] * (midSide ? std::sqrt(0.5) : 1.0);
                ASSERT_NEAR(lines[DecoderLine(f, g, i)], expected, 1e-12 * std::abs(expected))
                    << "granule " << gr << " channel " << ch << " line " << i;
            }
        }
    }
}

TEST(Layer3Writer, SpectraReadBackAsDequantisedByQuor) {
    for (const Feature& feature : Features()) {
        SCOPED_TRACE(feature.name);
        for (const Layer3Frame& frame : Frames(feature)) {
            ExpectDequantisedLines(frame);
        }
    }
}

TEST(Layer3Writer, RefusesWhatCannotBeCoded) {
    const std::vector<std::pair<std::string, std::function<void(Layer3Frame&)>>> cases = {
        {"sample rate", [](Layer3Frame& f) { f.header.sampleRate = 44000; }},
        {"bit rate", [](Layer3Frame& f) { f.header.bitRateKbps = 100; }},
        {"table", [](Layer3Frame& f) { f.granules[0][0].tableSelect[0] = 5; }},
        {"scale factor", [](Layer3Frame& f) { f.granules[0][0].longScalefac[12] = 8; }},
        {"scfsi",
         [](Layer3Frame& f) {
             f.scfsi[0] = 8;
             f.granules[1][0].longScalefac[0] = 1;
         }},
        {"big values", [](Layer3Frame& f) { f.granules[0][0].bigValues = 10; }},
        {"main data", [](Layer3Frame& f) { f.header.bitRateKbps = 32; }},
    };
    for (const auto& [name, spoil] : cases) {
        Layer3Frame frame = Frames(Features()[0])[0];
        spoil(frame);
        Layer3Writer writer;
        EXPECT_THROW(writer.Add(frame), std::invalid_argument) << name;
        EXPECT_TRUE(writer.bytes().empty()) << name;
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
