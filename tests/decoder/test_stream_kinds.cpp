// Streams that real files hold besides plain frames: each kind decodes to
// the end, seekable or not, with the samples of the plain stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "test_support.h"

#ifdef TESK_QUOR_HAVE_STREAMGEN
#include "tools/streamgen/dressing.h"
#include "tools/streamgen/layer3_writer.h"
#include "tools/streamgen/streamgen.h"

namespace tesk::quor {
namespace {

using namespace streamgen;

struct Opened {
    explicit Opened(test::MemoryInput& input, std::int32_t version = QUOR_VERSION) {
        Quor_Create(&handle, input.Callbacks(), &input, version);
    }
    ~Opened() { Quor_Destroy(handle); }
    QuorHandle handle = nullptr;
};

test::Decoded DecodeBytes(const std::vector<std::uint8_t>& bytes, bool seekable = true,
                          std::int32_t version = QUOR_VERSION) {
    test::MemoryInput input;
    input.bytes = bytes;
    input.seekable = seekable;
    Opened d(input, version);
    return test::DecodeAll(d.handle);
}

Stream Make(Layer layer, ChannelMode mode, std::int32_t samples, std::int32_t rate = 44100,
            std::int32_t kbps = 128) {
    StreamOptions options;
    options.bitRateKbps = kbps;
    options.layer = layer;
    options.mode = mode;
    options.sampleRate = rate;
    options.samplesPerChannel = samples;
    return Generate(options);
}

struct Kind {
    const char* name;
    Layer layer;
    std::int32_t samples;
    std::function<void(Stream&)> dress;
    std::int32_t kbps = 128;
};

TEST(StreamKinds, EveryKindDecodesToTheEndLikeThePlainStream) {
    const Kind kinds[] = {
        {"free-format Layer II", Layer::kII, 30000, MakeFreeFormat, 192}, // another table
        {"free-format Layer III", Layer::kIII, 30000, MakeFreeFormat},
        {"varied header flags", Layer::kIII, 30000, VaryHeaderFlags},
        {"sync words in junk", Layer::kII, 30000,
         [](Stream& s) {
             const std::vector<std::uint8_t> junk = JunkWithHeaders(s, 4, 500);
             s.bytes.insert(s.bytes.begin(), junk.begin(), junk.end());
         }},
        {"junk between frames", Layer::kII, 30000,
         [](Stream& s) {
             // The junk starts one byte into a header, so its words lie inside it.
             const std::vector<std::uint8_t> junk = JunkWithHeaders(s, 3, 700);
             s.bytes.insert(s.bytes.begin() + s.frameOffsets[10], junk.begin() + 1, junk.end());
         }},
        {"one frame and an APE tag", Layer::kII, 1152,
         [](Stream& s) { Dress(s, {.apeBytes = 300}, false); }},
        {"two frames, APE tag with header, ID3v1", Layer::kIII, 2304,
         [](Stream& s) { Dress(s, {.apeBytes = 300, .apeHeader = true, .id3v1 = true}, false); }},
        {"APE, Lyrics3 and ID3v1 tags", Layer::kII, 30000,
         [](Stream& s) { Dress(s, {.apeBytes = 5000, .lyrics3 = true, .id3v1 = true}, false); }},
    };
    for (const Kind& kind : kinds) {
        Stream stream = Make(kind.layer, ChannelMode::kStereo, kind.samples, 44100, kind.kbps);
        const test::Decoded plain = DecodeBytes(stream.bytes);
        kind.dress(stream);
        for (const bool seekable : {true, false}) {
            const test::Decoded dressed = DecodeBytes(stream.bytes, seekable);
            EXPECT_EQ(dressed.result, QUOR_END) << kind.name;
            EXPECT_EQ(dressed.samples, plain.samples) << kind.name << ", seekable " << seekable;
        }
    }
}

TEST(StreamKinds, ModeChangesKeepTheOpeningChannelCountAndARateChangeGoesOn) {
    Stream stream = Make(Layer::kII, ChannelMode::kMono, 11520);
    for (const ChannelMode mode : {ChannelMode::kDualChannel, ChannelMode::kStereo,
                                   ChannelMode::kJointStereo, ChannelMode::kMono}) {
        Join(stream, Make(Layer::kII, mode, 11520));
    }
    test::Decoded decoded = DecodeBytes(stream.bytes);
    EXPECT_EQ(decoded.result, QUOR_END);
    EXPECT_EQ(decoded.samples.size(), stream.frameOffsets.size() * 1152);

    // A stereo stream delivers its mono frames on both channels.
    stream = Make(Layer::kII, ChannelMode::kStereo, 11520);
    const std::size_t stereoFrames = stream.frameOffsets.size();
    Join(stream, Make(Layer::kII, ChannelMode::kMono, 11520));
    const std::size_t frames = stream.frameOffsets.size();
    const Stream last = Make(Layer::kIII, ChannelMode::kStereo, 11520, 48000);
    Join(stream, last);
    // Callers of version 4 see the decode end at the change; later ones get
    // the new part too, as it decodes alone.
    EXPECT_EQ(DecodeBytes(stream.bytes, true, 4).result, QUOR_ERROR_DECODE);
    EXPECT_EQ(DecodeBytes(stream.bytes, true, 4).samples.size(), frames * 2304);
    decoded = DecodeBytes(stream.bytes);
    EXPECT_EQ(decoded.result, QUOR_END);
    ASSERT_EQ(decoded.samples.size(), stream.frameOffsets.size() * 2304);
    for (std::size_t i = stereoFrames * 2304; i < frames * 2304; i += 2) {
        ASSERT_EQ(decoded.samples[i], decoded.samples[i + 1]) << i;
    }
    const std::vector<std::int16_t> alone = DecodeBytes(last.bytes).samples;
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), decoded.samples.end() - alone.size()));
    // Callers of version 6 are told the format of the last part; the time
    // counts each part at its own rate.
    for (const std::int32_t version : {5, QUOR_VERSION}) {
        test::MemoryInput input;
        input.bytes = stream.bytes;
        Opened d(input, version);
        test::DecodeAll(d.handle);
        QuorStreamFormat format{};
        std::int32_t ms = 0;
        ASSERT_EQ(Quor_GetStreamFormat(d.handle, &format), QUOR_OK);
        ASSERT_EQ(Quor_GetTime(d.handle, &ms), QUOR_OK);
        EXPECT_EQ(format.deliveredLayer * format.deliveredRate, version == 5 ? 0 : 3 * 48000);
        const double seconds = frames * 1152 / 44100.0 + alone.size() / 2 / 48000.0;
        EXPECT_EQ(ms, static_cast<std::int32_t>(seconds * 1000));
    }
}

// Frames of two bit rates without a Xing header report their average.
TEST(StreamKinds, VariableBitRateWithoutXingReportsTheAverage) {
    Stream joined = Make(Layer::kII, ChannelMode::kStereo, 11520, 44100, 384);
    Join(joined, Make(Layer::kII, ChannelMode::kStereo, 11520, 44100, 128));
    test::MemoryInput input;
    input.bytes = joined.bytes;
    Opened d(input);
    QuorFileInfo info{};
    ASSERT_EQ(Quor_GetFileInfo(d.handle, &info), QUOR_OK);
    EXPECT_NEAR(info.bitRate, 256000, 1000);
}

TEST(StreamKinds, TrailingTagsAndFreeFormatKeepDurationAndSeeking) {
    Stream plain = Make(Layer::kIII, ChannelMode::kStereo, 4 * 44100);
    for (const bool freeFormat : {false, true}) {
        Stream stream = plain;
        Dress(stream, {.freeFormat = freeFormat, .apeBytes = 65536}, false);
        test::MemoryInput input;
        input.bytes = stream.bytes;
        Opened d(input);
        QuorFileInfo info{};
        ASSERT_EQ(Quor_GetFileInfo(d.handle, &info), QUOR_OK);
        EXPECT_EQ(info.durationMs,
                  static_cast<std::int64_t>(plain.frameOffsets.size()) * 1152 * 1000 / 44100);
        for (const std::int32_t ms : {2000, 2500, 3000}) {
            ASSERT_EQ(Quor_SeekToTime(d.handle, ms), QUOR_OK);
            const std::size_t rest = test::DecodeAll(d.handle).samples.size() / 2;
            EXPECT_EQ(rest, plain.frameOffsets.size() * 1152 - static_cast<std::size_t>(ms * 44.1))
                << ms << (freeFormat ? " free format" : "");
        }
    }
}

// LSF intensity stereo with intensity scale 1 multiplies a band by
// 2^(-m / 2), m = (p + 1) / 2 on the left for odd positions p and p / 2 on
// the right for even ones: exactly m scale-factor steps. So the intensity
// frame must decode like a plain stereo frame that codes the left values in
// both channels with the steps added to the scale factors. A position that
// is the largest value of its scale-factor length leaves the band alone.
TEST(StreamKinds, LsfIntensityStereoDecodesLikeItsPlainStereoEquivalent) {
    constexpr int kBound = 10;         // right channel data in bands 0-9
    constexpr int kTopBandStart = 522; // 22.05 kHz long band 21, left zero there
    // Bands 10-13 share a 3-bit length (7 marks no intensity), 14-20 a
    // 4-bit one (15 marks none; 7 is a position).
    const int positions[21] = {0, 1, 0, 3, 0, 0, 1, 2, 0, 0, 7, 2, 5, 0, 7, 15, 1, 13, 4, 0, 8};
    Layer3Frame joint;
    joint.header = {.sampleRate = 22050,
                    .mode = ChannelMode::kJointStereo,
                    .modeExtension = kModeExtensionIntensity,
                    .bitRateKbps = 160};
    Layer3Frame plain = joint;
    plain.header.mode = ChannelMode::kStereo;
    plain.header.modeExtension = 0;
    Layer3Granule& left = joint.granules[0][0];
    Layer3Granule& right = joint.granules[0][1];
    for (int i = 0; i < kTopBandStart; ++i) {
        left.values[static_cast<std::size_t>(i)] = (i * 7 % 5 - 2) * (i % 3 == 0 ? 2 : 1);
        if (i < LongBandStart(22050, kBound)) {
            right.values[static_cast<std::size_t>(i)] = (i * 3 % 7) - 3;
        }
    }
    left.globalGain = right.globalGain = 170;
    right.intensityScale = 1;
    Layer3Granule& plainLeft = plain.granules[0][0] = left;
    Layer3Granule& plainRight = plain.granules[0][1] = right;
    for (int b = 0; b < 21; ++b) {
        const auto band = static_cast<std::size_t>(b);
        const int p = positions[b];
        right.longScalefac[band] = p;
        plainRight.longScalefac[band] = b < kBound ? p : 0;
        if (b < kBound || p == 7 * (b < 14) + 15 * (b >= 14)) {
            continue; // below the bound, or not intensity-coded
        }
        plainLeft.longScalefac[band] = p % 2 == 1 ? (p + 1) / 2 : 0;
        plainRight.longScalefac[band] = p % 2 == 0 ? p / 2 : 0;
        for (int i = LongBandStart(22050, b); i < LongBandStart(22050, b + 1); ++i) {
            plainRight.values[static_cast<std::size_t>(i)] =
                left.values[static_cast<std::size_t>(i)];
        }
    }
    const test::Decoded fromJoint = DecodeBytes(WriteLayer3({joint, joint, joint}));
    const test::Decoded fromPlain = DecodeBytes(WriteLayer3({plain, plain, plain}));
    ASSERT_EQ(fromJoint.samples.size(), 3u * 576 * 2);
    ASSERT_EQ(fromPlain.samples.size(), fromJoint.samples.size());
    int largest = 0;
    for (std::size_t i = 0; i < fromJoint.samples.size(); ++i) {
        largest = std::max(largest, std::abs(fromJoint.samples[i] - fromPlain.samples[i]));
    }
    EXPECT_LE(largest, 1);
}

} // namespace
} // namespace tesk::quor

#endif
