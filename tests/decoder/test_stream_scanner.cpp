#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "decoder/stream_scanner.h"
#include "test_support.h"

namespace tesk::quor {
namespace {

using test::AppendFrames;
using test::AppendJunk;
using test::MemoryInput;

struct ScanResult {
    bool found = false;
    std::int32_t firstFramePosition = -1;
    std::int32_t frames = 0;
    std::int32_t sampleRate = 0;
    bool gaveUp = false;
    bool streamChanged = false;
};

// Runs the scanner over the bytes as the decoder object does and counts the
// frames it hands out.
ScanResult Scan(const std::vector<std::uint8_t>& bytes, bool probeTag = false,
                bool seekable = true) {
    MemoryInput input;
    input.bytes = bytes;
    input.seekable = seekable;
    CQuorFileAccess file(input.Callbacks(), &input);
    if (probeTag) {
        SkipID3v2Tag(file);
    }
    CFrameScanner scanner;
    ScanResult result;
    while (scanner.GetFrame(file)) {
        if (!result.found) {
            result.found = true;
            result.firstFramePosition = scanner.FirstFramePosition();
            result.sampleRate = scanner.CurrentHeader().sampleRate;
        }
        EXPECT_EQ(scanner.FrameLength(), scanner.CurrentHeader().frameLength);
        ++result.frames;
    }
    result.gaveUp = scanner.GaveUp();
    result.streamChanged = scanner.StreamChanged();
    return result;
}

TEST(StreamScanner, FindsTheFirstFrameBehindJunkAndHandsOutEveryFrame) {
    std::vector<std::uint8_t> bytes;
    AppendFrames(bytes, test::kLayer3At44100, 20);
    ScanResult plain = Scan(bytes);
    EXPECT_TRUE(plain.found);
    EXPECT_EQ(plain.firstFramePosition, 0);
    EXPECT_EQ(plain.frames, 20);

    std::vector<std::uint8_t> junk;
    AppendJunk(junk, 1234);
    AppendFrames(junk, test::kLayer3At44100, 20);
    const ScanResult behind = Scan(junk);
    EXPECT_EQ(behind.firstFramePosition, 1234);
    EXPECT_EQ(behind.frames, 20);
}

// The first frame is searched to the end of an input that can seek, and
// through the first 16 MiB of one that cannot.
TEST(StreamScanner, SearchesFarForTheFirstFrame) {
    constexpr std::size_t kLimit = CFrameScanner::kStreamSearchLimit;
    const std::tuple<std::size_t, bool, bool> kCases[] = {// zeros, seekable, found
                                                          {64279, true, true},
                                                          {kLimit - 4096, false, true},
                                                          {kLimit + 70000, false, false},
                                                          {kLimit + 70000, true, true}};
    for (const auto& [zeros, seekable, found] : kCases) {
        std::vector<std::uint8_t> bytes(zeros, 0);
        AppendFrames(bytes, test::kLayer3At44100, 20);
        const ScanResult result = Scan(bytes, false, seekable);
        EXPECT_EQ(result.firstFramePosition, found ? static_cast<std::int32_t>(zeros) : -1)
            << zeros;
        EXPECT_EQ(result.frames + result.gaveUp, found ? 20 : 1) << zeros;
    }
}

TEST(StreamScanner, AShortStreamOpensWhenItsFramesReachTheEnd) {
    std::vector<std::uint8_t> three;
    AppendJunk(three, 50);
    AppendFrames(three, test::kLayer3At44100, 3);
    ScanResult result = Scan(three);
    EXPECT_TRUE(result.found);
    EXPECT_EQ(result.firstFramePosition, 50);
    EXPECT_EQ(result.frames, 3);

    // A trailing ID3v1 tag is allowed after the last frame.
    std::vector<std::uint8_t> tagged;
    AppendFrames(tagged, test::kLayer3At44100, 2);
    const std::size_t tag = tagged.size();
    tagged.resize(tag + 128, 0);
    std::memcpy(tagged.data() + tag, "TAG", 3);
    result = Scan(tagged);
    EXPECT_TRUE(result.found);
    EXPECT_EQ(result.frames, 2);

    // The input may end inside the last frame.
    std::vector<std::uint8_t> cut;
    AppendFrames(cut, test::kLayer3At44100, 3);
    cut.resize(cut.size() - 2);
    result = Scan(cut);
    EXPECT_TRUE(result.found);
    EXPECT_EQ(result.frames, 2);

    // A lone header whose frame runs past the end is not enough.
    std::vector<std::uint8_t> lone;
    AppendJunk(lone, 500);
    AppendFrames(lone, test::kLayer3At44100, 1);
    lone.resize(lone.size() - 10);
    EXPECT_FALSE(Scan(lone).found);

    // A chain that does not end where the input ends is not confirmed.
    std::vector<std::uint8_t> trailing;
    AppendFrames(trailing, test::kLayer3At44100, 3);
    AppendJunk(trailing, 40);
    EXPECT_FALSE(Scan(trailing).found);
}

TEST(StreamScanner, AfterLostSyncTheNextChainGoesOnOrEndsAChangedStream) {
    std::vector<std::uint8_t> bytes;
    AppendFrames(bytes, test::kLayer3At44100, 10);
    AppendJunk(bytes, 700);
    bytes.insert(bytes.end(), test::kLayer3At48000, test::kLayer3At48000 + 4); // no chain
    AppendJunk(bytes, 700);
    AppendFrames(bytes, test::kLayer3At44100, 10);
    ScanResult result = Scan(bytes);
    EXPECT_EQ(result.frames, 20);
    EXPECT_FALSE(result.streamChanged);
    AppendFrames(bytes, test::kLayer3At48000, 10);
    result = Scan(bytes);
    EXPECT_EQ(result.frames, 20);
    EXPECT_TRUE(result.streamChanged);
}

TEST(ID3v2Probe, PassesOverATagAndGivesOtherBytesBack) {
    std::vector<std::uint8_t> bytes = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x01, 0x10};
    bytes.resize(10 + 0x90, 0);
    AppendFrames(bytes, test::kLayer3At44100, 10);
    ScanResult result = Scan(bytes, true);
    EXPECT_EQ(result.firstFramePosition, 10 + 0x90);
    EXPECT_EQ(result.frames, 10);

    // A footer is not counted in the size; the search passes over it.
    std::vector<std::uint8_t> footer = {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0, 20};
    footer.resize(30, 0);
    const std::uint8_t foot[10] = {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 0, 20};
    footer.insert(footer.end(), foot, foot + 10);
    AppendFrames(footer, test::kLayer3At44100, 10);
    EXPECT_EQ(Scan(footer, true).firstFramePosition, 40);

    // Not a tag (a size byte of 0x80): the bytes are read again by the search.
    std::vector<std::uint8_t> fake = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x80, 0};
    AppendFrames(fake, test::kLayer3At44100, 10);
    EXPECT_EQ(Scan(fake, true).firstFramePosition, 10);

    std::vector<std::uint8_t> none;
    AppendFrames(none, test::kLayer3At44100, 10);
    result = Scan(none, true);
    EXPECT_EQ(result.firstFramePosition, 0);
    EXPECT_EQ(result.frames, 10);
}

} // namespace
} // namespace tesk::quor
