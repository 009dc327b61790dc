#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "decoder/frame_header.h"
#include "tools/streamgen/streamgen.h"

namespace tesk::quor::streamgen {
namespace {

StreamOptions Short(Layer layer) {
    StreamOptions options;
    options.layer = layer;
    options.samplesPerChannel = 12000;
    return options;
}

TEST(StreamGen, StreamsAreDeterministicAndBackToBack) {
    for (const Layer layer : {Layer::kII, Layer::kIII}) {
        const Stream a = Generate(Short(layer));
        const Stream b = Generate(Short(layer));
        EXPECT_EQ(a.bytes, b.bytes);
        ASSERT_GE(a.frameOffsets.size(), 10u);
        EXPECT_EQ(a.frameOffsets.front(), 0);
        for (std::size_t i = 0; i + 1 < a.frameOffsets.size(); ++i) {
            CFrameHeader header;
            ASSERT_TRUE(header.Parse(a.bytes.data() + a.frameOffsets[i]));
            EXPECT_EQ(a.frameOffsets[i] + header.frameLength, a.frameOffsets[i + 1]);
            EXPECT_EQ(header.layer, static_cast<int>(layer));
        }
    }
}

// The command writes the stream the library generates for its options.
TEST(StreamGen, TheCommandWritesTheEncoderStream) {
    const std::string out = std::string(TESK_QUOR_BINARY_DIR) + "/streamgen-command-" +
                            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                            ".mp3";
    const std::string command =
        std::string(QUOR_STREAMGEN_PATH) + " --layer 3 --samples 12000 '" + out + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream file(out, std::ios::binary);
    const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(file), {}};
    std::remove(out.c_str());
    EXPECT_EQ(written, Generate(Short(Layer::kIII)).bytes);
}

TEST(StreamGen, DressingLandsWhereItIsAsked) {
    StreamOptions options = Short(Layer::kIII);
    options.id3v2Size = 300;
    options.id3v2Footer = true;
    options.junkBytes = 77;
    options.vbrFrame = VbrFrame::kXing;
    options.id3v1 = true;
    const Stream s = Generate(options);
    EXPECT_EQ(0, std::memcmp(s.bytes.data(), "ID3", 3));
    EXPECT_EQ(0, std::memcmp(s.bytes.data() + 310, "3DI", 3));
    EXPECT_EQ(s.firstFramePosition, 320 + 77);
    EXPECT_TRUE(std::none_of(s.bytes.begin() + 320, s.bytes.begin() + 397,
                             [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(0, std::memcmp(s.bytes.data() + s.firstFramePosition + 36, "Xing", 4));
    EXPECT_EQ(s.frameOffsets.front(), s.audioPosition);
    EXPECT_GT(s.audioPosition, s.firstFramePosition);
    EXPECT_EQ(0, std::memcmp(s.bytes.data() + s.bytes.size() - 128, "TAG", 3));

    options.vbrFrame = VbrFrame::kInfo;
    options.vbrToc = false;
    const Stream info = Generate(options);
    EXPECT_EQ(0, std::memcmp(info.bytes.data() + info.firstFramePosition + 36, "Info", 4));
    EXPECT_EQ(info.bytes.size(), s.bytes.size());
}

} // namespace
} // namespace tesk::quor::streamgen
