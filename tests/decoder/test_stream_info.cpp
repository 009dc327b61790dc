#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "decoder/stream_info.h"
#include "test_support.h"

#ifdef TESK_QUOR_HAVE_STREAMGEN
#include "tools/streamgen/streamgen.h"
#endif

namespace tesk::quor {
namespace {

using test::AppendFrames;
using test::MemoryInput;

// A frame of the 44100 Hz stereo kind holding a Xing header.
std::vector<std::uint8_t> XingFrame(std::uint32_t flags, std::uint32_t frames, std::uint32_t bytes,
                                    std::uint8_t tocStart) {
    std::vector<std::uint8_t> frame;
    AppendFrames(frame, test::kLayer3At44100, 1);
    std::size_t at = 36;
    const auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            frame[at++] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
        }
    };
    std::memcpy(frame.data() + at, "Xing", 4);
    at += 4;
    put(flags);
    if ((flags & 1) != 0) {
        put(frames);
    }
    if ((flags & 2) != 0) {
        put(bytes);
    }
    if ((flags & 4) != 0) {
        for (int i = 0; i < 100; ++i) {
            frame[at++] = static_cast<std::uint8_t>(tocStart + i * 2);
        }
    }
    return frame;
}

struct Scanned {
    bool ok = false;
    CStreamInfo info;
    bool holdsFrame = false;
};

Scanned ScanInput(MemoryInput& input) {
    CQuorFileAccess file(input.Callbacks(), &input);
    SkipID3v2Tag(file);
    CFrameScanner scanner;
    Scanned out;
    out.ok = out.info.Scan(scanner, file);
    out.holdsFrame = scanner.GetState() == CFrameScanner::kFrameComplete;
    return out;
}

TEST(StreamInfo, EveryFrameCountsTowardsTheDuration) {
    MemoryInput input;
    test::AppendJunk(input.bytes, 300);
    AppendFrames(input.bytes, test::kLayer3At44100, 100);
    input.bytes.resize(input.bytes.size() + 128, 0);
    const Scanned s = ScanInput(input);
    ASSERT_TRUE(s.ok);
    EXPECT_TRUE(s.holdsFrame);
    EXPECT_EQ(s.info.firstFramePosition, 300);
    EXPECT_EQ(s.info.audioLength, static_cast<std::int32_t>(input.bytes.size()) - 300);
    EXPECT_EQ(s.info.durationMs, 1000 * 100 * 1152 / 44100);
    EXPECT_EQ(s.info.bitRate, 128000);
    EXPECT_EQ(s.info.sampleRate, 44100);
    EXPECT_EQ(s.info.channels, 2);
    EXPECT_FALSE(s.info.hasXing);

    EXPECT_EQ(s.info.PositionForTime(0), 300);
    EXPECT_EQ(s.info.PositionForTime(s.info.durationMs), 300 + s.info.audioLength);
    EXPECT_EQ(s.info.PositionForTime(2147483647), 300 + s.info.audioLength);
}

TEST(StreamInfo, XingTableOfContentsIsRescaledToStartAtZero) {
    MemoryInput input;
    input.bytes = XingFrame(7, 50, 417 * 51, 10);
    AppendFrames(input.bytes, test::kLayer3At44100, 50);
    const Scanned s = ScanInput(input);
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(s.info.hasXing);
    EXPECT_EQ(s.info.xing.frameCount, 50);
    EXPECT_EQ(s.info.seekTable[0], 0.0f);
    EXPECT_EQ(s.info.seekTable[100], 1.0f);
    const float first = 10.0f / 256.0f;
    EXPECT_FLOAT_EQ(s.info.seekTable[50], ((10.0f + 100.0f) / 256.0f - first) / (1.0f - first));
    EXPECT_EQ(s.info.durationMs, 1000 * (51 - s.info.leadingFrames) * 1152 / 44100);
    EXPECT_EQ(s.info.bitRate, static_cast<std::int32_t>(417LL * 51 * 8 * 1000 / s.info.durationMs));

    const std::int32_t middle = s.info.PositionForTime(s.info.durationMs / 2);
    const auto expected =
        static_cast<std::int32_t>(s.info.seekTable[50] * static_cast<float>(s.info.audioLength));
    EXPECT_NEAR(middle, expected, 3 * s.info.audioLength / 100);
}

#ifdef TESK_QUOR_HAVE_STREAMGEN

struct Dressing {
    const char* name;
    streamgen::StreamOptions options;
};

class GeneratedStreamInfo : public ::testing::TestWithParam<Dressing> {};

TEST_P(GeneratedStreamInfo, DurationAndFirstFrameAreExact) {
    const streamgen::Stream stream = streamgen::Generate(GetParam().options);
    MemoryInput input;
    input.bytes = stream.bytes;
    const Scanned s = ScanInput(input);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.info.firstFramePosition, stream.firstFramePosition);
    // The duration counts the frames that give audio, not a Xing frame.
    const auto frames = static_cast<std::int64_t>(stream.frameOffsets.size());
    EXPECT_EQ(s.info.durationMs, frames * stream.samplesPerFrame * 1000 / stream.sampleRate);
    EXPECT_EQ(s.info.sampleRate, stream.sampleRate);
    EXPECT_EQ(s.info.channels, stream.channels);
    EXPECT_EQ(s.info.hasXing, GetParam().options.vbrFrame == streamgen::VbrFrame::kXing);
}

streamgen::StreamOptions Dressed(void (*dress)(streamgen::StreamOptions&)) {
    streamgen::StreamOptions options;
    options.samplesPerChannel = 30000;
    dress(options);
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Dressings, GeneratedStreamInfo,
    ::testing::Values(
        Dressing{"Plain", Dressed([](streamgen::StreamOptions&) {})},
        Dressing{"ID3v2", Dressed([](streamgen::StreamOptions& o) { o.id3v2Size = 2000; })},
        Dressing{"Junk", Dressed([](streamgen::StreamOptions& o) { o.junkBytes = 3000; })},
        Dressing{"Xing", Dressed([](streamgen::StreamOptions& o) {
                     o.layer = streamgen::Layer::kIII;
                     o.vbrFrame = streamgen::VbrFrame::kXing;
                 })},
        Dressing{"InfoNoToc", Dressed([](streamgen::StreamOptions& o) {
                     o.layer = streamgen::Layer::kIII;
                     o.vbrFrame = streamgen::VbrFrame::kInfo;
                     o.vbrToc = false;
                 })},
        Dressing{"ID3v1", Dressed([](streamgen::StreamOptions& o) { o.id3v1 = true; })},
        Dressing{"Truncated", Dressed([](streamgen::StreamOptions& o) { o.truncateBytes = 150; })},
        Dressing{"Layer3At8000", Dressed([](streamgen::StreamOptions& o) {
                     o.layer = streamgen::Layer::kIII;
                     o.sampleRate = 8000;
                     o.bitRateKbps = 32;
                     o.samplesPerChannel = 8000;
                     o.id3v2Size = 100;
                     o.vbrFrame = streamgen::VbrFrame::kXing;
                 })}),
    [](const ::testing::TestParamInfo<Dressing>& param) { return std::string(param.param.name); });

#endif

} // namespace
} // namespace tesk::quor
