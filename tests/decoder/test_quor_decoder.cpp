#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "test_support.h"

#ifdef TESK_QUOR_HAVE_STREAMGEN
#include "tools/streamgen/streamgen.h"
#endif

namespace tesk::quor {
namespace {

using test::MemoryInput;

// A decoder over an in-memory input, destroyed with the fixture.
class Opened {
public:
    explicit Opened(MemoryInput& input) {
        result = Quor_Create(&handle, input.Callbacks(), &input, QUOR_VERSION);
    }
    ~Opened() { Quor_Destroy(handle); }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    QuorHandle handle = nullptr;
    std::int32_t result = QUOR_OK;
};

std::int32_t DecodeInto(QuorHandle handle, std::vector<std::uint8_t>& buffer, std::int32_t size,
                        std::int32_t& delivered) {
    return Quor_Decode(handle, buffer.data(), size, &delivered);
}

// The two ways to name a file, each given the same name as UTF-8 and as a
// wide text: a UTF-8 path and a wide path.
using PathEntry = std::int32_t (*)(QuorHandle*, const char*, const wchar_t*, std::int32_t);
constexpr PathEntry kPathEntries[] = {
    [](QuorHandle* out, const char* path, const wchar_t*, std::int32_t version) {
        return Quor_CreateUsingFile(out, path, version);
    },
    [](QuorHandle* out, const char*, const wchar_t* path, std::int32_t version) {
        return Quor_CreateUsingFileW(out, path, version);
    },
};

TEST(QuorDecoder, CreationChecksVersionCallbacksAndPaths) {
    MemoryInput input;
    QuorHandle handle = nullptr;
    EXPECT_EQ(Quor_Create(&handle, input.Callbacks(), &input, QUOR_VERSION + 1),
              QUOR_ERROR_INCOMPATIBLEVERSION);
    QuorCallbacks noPosition = input.Callbacks();
    noPosition.getPosition = nullptr;
    EXPECT_EQ(Quor_Create(&handle, noPosition, &input, QUOR_VERSION), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_Create(nullptr, input.Callbacks(), &input, QUOR_VERSION), QUOR_ERROR_PARAM);
    EXPECT_EQ(handle, nullptr);

    for (const auto& open : kPathEntries) {
        errno = 0;
        EXPECT_EQ(open(&handle, "/nonexistent/a.mp3", L"/nonexistent/a.mp3", QUOR_VERSION),
                  QUOR_ERROR_OPENFILE);
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(open(&handle, "/", L"/", QUOR_VERSION), QUOR_ERROR_OPENFILE);
        EXPECT_EQ(errno, EISDIR);
        EXPECT_EQ(open(&handle, "/nonexistent/a.mp3", L"/nonexistent/a.mp3", QUOR_VERSION + 1),
                  QUOR_ERROR_INCOMPATIBLEVERSION);
        EXPECT_EQ(open(&handle, nullptr, nullptr, QUOR_VERSION), QUOR_ERROR_PARAM);
        EXPECT_EQ(handle, nullptr);
    }
    Quor_Destroy(nullptr);
}

TEST(QuorDecoder, CallsWithoutTheirPointersOrWithBadValuesAreRefused) {
    MemoryInput input;
    test::AppendFrames(input.bytes, test::kLayer3At44100, 20);
    Opened d(input);
    ASSERT_EQ(d.result, QUOR_OK);
    std::int32_t out = 0;
    QuorFileInfo info{};
    std::vector<std::uint8_t> buffer(64);
    EXPECT_EQ(Quor_GetFileInfo(nullptr, &info), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_GetFileInfo(d.handle, nullptr), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_Decode(nullptr, buffer.data(), 64, &out), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_Decode(d.handle, buffer.data(), 64, nullptr), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_Decode(d.handle, nullptr, 64, &out), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_Decode(d.handle, buffer.data(), -2, &out), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_SeekToTime(nullptr, 0), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_SeekToTime(d.handle, -1), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_GetTime(nullptr, &out), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_GetTime(d.handle, nullptr), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_GetTime(d.handle, &out), QUOR_OK);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(Quor_GetPosition(d.handle, nullptr), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_SetOption(nullptr, QUOR_OPTION_GAPLESS, 1), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_SetOption(d.handle, 99, 1), QUOR_ERROR_PARAM);
    EXPECT_EQ(Quor_SetOption(d.handle, QUOR_OPTION_SAMPLE_FORMAT, QUOR_SAMPLES_FLOAT + 1),
              QUOR_ERROR_PARAM);
    QuorHandle older = nullptr;
    ASSERT_EQ(Quor_Create(&older, input.Callbacks(), &input, 4), QUOR_OK);
    EXPECT_EQ(Quor_SetOption(older, QUOR_OPTION_SAMPLE_FORMAT, QUOR_SAMPLES_FLOAT),
              QUOR_ERROR_PARAM);
    Quor_Destroy(older);
}

TEST(QuorDecoder, WithoutAFrameEveryCallFailsToDecode) {
    for (const std::size_t junk : {std::size_t{70000}, std::size_t{5000}}) {
        MemoryInput input;
        test::AppendJunk(input.bytes, junk);
        Opened d(input);
        QuorFileInfo info{};
        std::int32_t out = 0;
        std::vector<std::uint8_t> buffer(4608);
        EXPECT_EQ(Quor_GetFileInfo(d.handle, &info), QUOR_ERROR_DECODE) << junk;
        EXPECT_EQ(DecodeInto(d.handle, buffer, 4608, out), QUOR_ERROR_DECODE);
        EXPECT_EQ(Quor_SeekToTime(d.handle, 0), QUOR_ERROR_DECODE);
        EXPECT_EQ(Quor_GetFileInfo(d.handle, &info), QUOR_ERROR_DECODE);
    }
}

// Frames that give no audio (concealment only): an error at the end for this
// version's callers, the end as before for callers of version 4.
TEST(QuorDecoder, NoAudioIsAnErrorFromVersionFiveOn) {
    const char* seed =
        TESK_QUOR_SOURCE_DIR "/tools/fuzz/corpus/quor_fuzz/noaudio-two-frames-layer1";
    for (const std::int32_t version : {4, QUOR_VERSION}) {
        QuorHandle handle = nullptr;
        ASSERT_EQ(Quor_CreateUsingFile(&handle, seed, version), QUOR_OK);
        std::vector<std::uint8_t> pcm(4608);
        std::int32_t delivered = 0;
        std::int32_t result = QUOR_OK;
        while (result == QUOR_OK) {
            result = DecodeInto(handle, pcm, 4608, delivered);
        }
        EXPECT_EQ(result, version == 4 ? QUOR_END : QUOR_ERROR_NOAUDIO);
        Quor_Destroy(handle);
    }
}

TEST(QuorDecoder, AReadErrorSurfacesWhenNoFurtherFrameCanBeHad) {
    for (const std::int32_t failAfter : {12000, 0}) {
        MemoryInput input;
        input.knowsLength = false;
        input.failReadsAfter = failAfter;
        test::AppendFrames(input.bytes, test::kLayer3At44100, 60);
        Opened d(input);
        const test::Decoded decoded = test::DecodeAll(d.handle);
        EXPECT_EQ(decoded.result, QUOR_ERROR_READ) << failAfter;
    }
}

TEST(QuorDecoder, UnseekableInputsRefuseToSeek) {
    MemoryInput input;
    input.seekable = false;
    test::AppendFrames(input.bytes, test::kLayer3At44100, 20);
    Opened d(input);
    EXPECT_EQ(Quor_SeekToTime(d.handle, 0), QUOR_ERROR_UNSUPPORTED);
}

#ifdef TESK_QUOR_HAVE_STREAMGEN

streamgen::Stream Layer2Stereo(std::int32_t samples = 44100) {
    streamgen::StreamOptions options;
    options.samplesPerChannel = samples;
    options.id3v2Size = 200;
    return streamgen::Generate(options);
}

test::Decoded DecodeBytes(const std::vector<std::uint8_t>& bytes, std::int32_t bufferBytes) {
    MemoryInput input;
    input.bytes = bytes;
    Opened d(input);
    return test::DecodeAll(d.handle, bufferBytes);
}

TEST(QuorDecoderStreams, DeliveriesAreWholeSampleFramesOfTheAskedSize) {
    MemoryInput input;
    input.bytes = Layer2Stereo().bytes;
    Opened d(input);
    QuorFileInfo info{};
    ASSERT_EQ(Quor_GetFileInfo(d.handle, &info), QUOR_OK);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.isVBR, 0);
    EXPECT_EQ(info.bitRate, 128000);

    std::vector<std::uint8_t> buffer(4608);
    std::int32_t out = 0;
    std::vector<std::int32_t> sizes;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(DecodeInto(d.handle, buffer, 1000, out), QUOR_OK);
        sizes.push_back(out);
    }
    EXPECT_EQ(sizes, (std::vector<std::int32_t>{1000, 1000, 1000, 1000, 608}));
    ASSERT_EQ(DecodeInto(d.handle, buffer, 6, out), QUOR_OK);
    EXPECT_EQ(out, 4);
    EXPECT_EQ(DecodeInto(d.handle, buffer, 3, out), QUOR_ERROR_PARAM) << "room for no sample";
    ASSERT_EQ(DecodeInto(d.handle, buffer, -1, out), QUOR_OK);
    EXPECT_EQ(out, 4608 - 4);
}

TEST(QuorDecoderStreams, BufferSizesDoNotChangeTheSamples) {
    const streamgen::Stream stream = Layer2Stereo(20000);
    const test::Decoded whole = DecodeBytes(stream.bytes, 4608);
    EXPECT_EQ(whole.result, QUOR_END);
    EXPECT_EQ(whole.samples.size(), stream.frameOffsets.size() * 1152 * 2);
    for (const std::int32_t size : {1000, 6, 9216}) {
        const test::Decoded other = DecodeBytes(stream.bytes, size);
        EXPECT_EQ(other.result, QUOR_END);
        EXPECT_EQ(other.samples, whole.samples) << size;
    }
}

// Every version, tag frames behind ID3v2 tags and a VBR stream without a table
// of contents seek exactly: in the first and last frame, on a boundary, inside.
TEST(QuorDecoderStreams, SeeksLandOnTheSampleAskedInEveryKindOfStream) {
    using streamgen::Layer;
    using streamgen::VbrFrame;
    std::vector<std::vector<std::uint8_t>> streams;
    for (const auto& [layer, rate, kbps, tag] : {std::tuple{Layer::kII, 22050, 64, VbrFrame::kXing},
                                                 {Layer::kIII, 48000, 128, VbrFrame::kInfo},
                                                 {Layer::kIII, 24000, 32, VbrFrame::kNone},
                                                 {Layer::kIII, 8000, 8, VbrFrame::kNone}}) {
        streamgen::StreamOptions options{layer, rate, streamgen::ChannelMode::kStereo, kbps, 30000};
        options.vbrFrame = tag;
        options.id3v2Size = 100;
        streams.push_back(streamgen::Generate(options).bytes);
    }
    streams.push_back(Layer2Stereo(30000).bytes);
    streamgen::StreamOptions fast;
    fast.bitRateKbps = 320;
    const std::vector<std::uint8_t> fastFrames = streamgen::Generate(fast).bytes;
    streams.back().insert(streams.back().end(), fastFrames.begin(), fastFrames.end());

    for (const std::vector<std::uint8_t>& bytes : streams) {
        MemoryInput input;
        input.bytes = bytes;
        Opened d(input);
        const test::Decoded whole = test::DecodeAll(d.handle);
        QuorFileInfo info{};
        ASSERT_EQ(Quor_GetFileInfo(d.handle, &info), QUOR_OK);
        const std::int32_t frameMs = 1152 * 1000 / info.sampleRate;
        for (const std::int32_t ms : {info.durationMs - 1, 1, frameMs, info.durationMs / 2, 0}) {
            EXPECT_EQ(test::SeekDifference(d.handle, whole.samples, info, ms), 0)
                << info.sampleRate << " Hz, " << ms << " ms";
        }
    }
}

// A joined stream counts each part at its own rate (ticks of 1/14112000 s): a
// seek into a part's start, middle or last frame lands on the sample nearest
// the time, and the time at the end reads the duration, the parts' sum.
TEST(QuorDecoderStreams, SeeksLandOnTheSampleAskedInEveryPartOfAJoinedStream) {
    using enum streamgen::Layer;
    MemoryInput input;
    std::vector<std::array<std::int64_t, 3>> parts{{0, 0, 0}}; // start tick and sample, period
    for (const auto& [layer, rate, kbps] :
         {std::tuple{kII, 44100, 128}, {kIII, 48000, 128}, {kIII, 8000, 8}, {kII, 32000, 96}}) {
        const streamgen::Stream part =
            streamgen::Generate({layer, rate, streamgen::ChannelMode::kStereo, kbps, 20000});
        input.bytes.insert(input.bytes.end(), part.bytes.begin(), part.bytes.end());
        const std::int64_t samples = std::ssize(part.frameOffsets) * (rate < 32000 ? 576 : 1152);
        parts.back()[2] = 14112000 / rate;
        parts.push_back(
            {parts.back()[0] + samples * parts.back()[2], parts.back()[1] + samples, 0});
    }
    Opened d(input);
    const test::Decoded whole = test::DecodeAll(d.handle);
    QuorFileInfo info{};
    ASSERT_EQ(Quor_GetFileInfo(d.handle, &info), QUOR_OK);
    EXPECT_EQ(info.durationMs, parts.back()[0] / 14112);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto [start, first, period] = parts[i];
        const std::int64_t end = parts[i + 1][0];
        for (const std::int64_t ms : {start / 14112 + 1, (start + end) / 28224, end / 14112 - 1}) {
            const std::int64_t nearest = first + (2 * (ms * 14112 - start) + period) / (2 * period);
            std::int32_t last = 0;
            EXPECT_EQ(
                test::SeekDifference(d.handle, whole.samples, info, std::int32_t(ms), nearest), 0);
            EXPECT_TRUE(Quor_GetTime(d.handle, &last) == QUOR_OK && last == info.durationMs) << ms;
        }
    }
}

// A stream whose encoder tag records the encoder's delay and padding
// decodes, with trimming on, to the encoder's input: its length, lined up
// with it, the untrimmed samples from delay + 529 on; seeks count from the
// first kept sample. Without trimming every frame but the tag frame stays.
TEST(QuorDecoderStreams, GaplessTrimmingGivesTheEncodersInput) {
    streamgen::StreamOptions options{
        streamgen::Layer::kIII,   22050, streamgen::ChannelMode::kStereo, 64, 20000,
        streamgen::Signal::kNoise};
    options.vbrFrame = streamgen::VbrFrame::kInfo;
    options.encoderTag = true;
    const streamgen::Stream stream = streamgen::Generate(options);
    const test::Decoded untrimmed = DecodeBytes(stream.bytes, 4608);
    EXPECT_EQ(untrimmed.samples.size(), stream.frameOffsets.size() * 576 * 2);
    MemoryInput input;
    input.bytes = stream.bytes;
    Opened d(input);
    ASSERT_EQ(Quor_SetOption(d.handle, QUOR_OPTION_GAPLESS, 1), QUOR_OK);
    QuorFileInfo info{};
    ASSERT_EQ(Quor_GetFileInfo(d.handle, &info), QUOR_OK);
    EXPECT_EQ(info.encoderDelay, stream.encoderDelay);
    EXPECT_EQ(info.encoderPadding, stream.encoderPadding);
    EXPECT_EQ(info.durationMs, 20000 * 1000 / 22050);
    const test::Decoded trimmed = test::DecodeAll(d.handle);
    ASSERT_EQ(trimmed.samples.size(), 2u * 20000);
    const auto skipped = static_cast<std::ptrdiff_t>(2 * (stream.encoderDelay + 529));
    EXPECT_TRUE(std::equal(trimmed.samples.begin(), trimmed.samples.end(),
                           untrimmed.samples.begin() + skipped));
    const std::vector<std::int16_t> pcm = streamgen::Synthesise(options);
    const auto correlation = [&](std::ptrdiff_t lag) {
        return std::inner_product(trimmed.samples.begin() + 1000, trimmed.samples.end() - 1000,
                                  pcm.begin() + 1000 + 2 * lag, 0.0);
    };
    for (const std::ptrdiff_t lag : {-2, -1, 1, 2}) {
        EXPECT_GT(correlation(0), correlation(lag)) << lag;
    }
    for (const std::int32_t ms : {1, 450, 906}) {
        EXPECT_EQ(test::SeekDifference(d.handle, trimmed.samples, info, ms), 0) << ms;
    }
}

TEST(QuorDecoderThreads, IndependentDecodersAgreeWithSingleThreadedDecodes) {
    std::vector<streamgen::StreamOptions> kinds(4);
    kinds[1].layer = streamgen::Layer::kIII;
    kinds[1].signal = streamgen::Signal::kSweep;
    kinds[2].layer = streamgen::Layer::kIII;
    kinds[2].sampleRate = 22050;
    kinds[2].bitRateKbps = 64;
    kinds[2].mode = streamgen::ChannelMode::kMono;
    kinds[3].sampleRate = 48000;
    kinds[3].signal = streamgen::Signal::kNoise;
    kinds[3].mode = streamgen::ChannelMode::kJointStereo;
    std::vector<std::vector<std::uint8_t>> streams;
    std::vector<test::Decoded> alone;
    for (streamgen::StreamOptions& kind : kinds) {
        kind.samplesPerChannel = 60000;
        streams.push_back(streamgen::Generate(kind).bytes);
        alone.push_back(DecodeBytes(streams.back(), 4608));
        ASSERT_EQ(alone.back().result, QUOR_END);
    }
    std::vector<test::Decoded> together(streams.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round) {
                together[i] = DecodeBytes(streams[i], 1000 + static_cast<std::int32_t>(i) * 4);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
        EXPECT_EQ(together[i].result, QUOR_END) << i;
        EXPECT_EQ(together[i].samples, alone[i].samples) << i;
    }
}

#else

TEST(QuorDecoderStreams, NeedsTheStreamGenerator) {
    GTEST_SKIP() << "the test-stream generator is not built (twolame or shine missing)";
}

#endif

} // namespace
} // namespace tesk::quor
