// Tags through Quor_GetTag and Quor_GetPicture: every ID3v2 version and text
// encoding, APEv2, ID3v1 and their precedence, pictures, the encoder tag's
// ReplayGain, and damaged tags, which never cost audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "decoder/stream_tags.h"
#include "test_support.h"

#ifdef TESK_QUOR_HAVE_STREAMGEN
#include "tests/support/tag_bytes.h"
#include "tools/streamgen/streamgen.h"

namespace tesk::quor::test {
namespace {

using namespace tesk_quor_test;
using namespace std::string_literals;
using Values = std::map<std::string, std::string>;

// A short stream, with streamgen's ID3v1 tag (title "generated") when asked.
Bytes audio(bool id3v1 = false) {
    streamgen::StreamOptions options;
    options.samplesPerChannel = 11025;
    options.id3v1 = id3v1;
    return streamgen::Generate(options).bytes;
}

// Every key's value, read as a caller reads it (the length first), and the
// picture's bytes as "cover".
Values readValues(QuorHandle handle) {
    Values values;
    for (std::int32_t index = 0; const char* key = Quor_GetTagKey(index); ++index) {
        std::int32_t length = -1;
        if (Quor_GetTag(handle, key, nullptr, 0, &length) == QUOR_OK) {
            std::string value(static_cast<std::size_t>(length) + 1, '\0');
            EXPECT_EQ(Quor_GetTag(handle, key, value.data(), length + 1, &length), QUOR_OK);
            values[key] = value.substr(0, static_cast<std::size_t>(length));
        }
    }
    std::int32_t length = 0;
    if (Quor_GetPicture(handle, nullptr, 0, &length) == QUOR_OK) {
        std::string cover(static_cast<std::size_t>(length), '\0');
        EXPECT_EQ(Quor_GetPicture(handle, cover.data(), length - 1, &length), QUOR_ERROR_PARAM);
        EXPECT_EQ(Quor_GetPicture(handle, cover.data(), length, &length), QUOR_OK);
        values["cover"] = cover;
    }
    return values;
}

// The tags of front + audio + back, read before the decode, which must give
// the bare stream's samples.
Values readAndDecode(const Bytes& front, const Bytes& back, bool seekable = true) {
    MemoryInput bare{audio()};
    MemoryInput input{joined(joined(front, audio()), back)};
    input.seekable = seekable;
    QuorHandle handles[2] = {};
    EXPECT_EQ(Quor_Create(&handles[0], bare.Callbacks(), &bare, QUOR_VERSION), QUOR_OK);
    EXPECT_EQ(Quor_Create(&handles[1], input.Callbacks(), &input, QUOR_VERSION), QUOR_OK);
    const Values values = readValues(handles[1]);
    const Decoded decoded = DecodeAll(handles[1]);
    EXPECT_EQ(decoded.result, QUOR_END);
    EXPECT_EQ(decoded.samples, DecodeAll(handles[0]).samples);
    Quor_Destroy(handles[0]);
    Quor_Destroy(handles[1]);
    return values;
}

class StreamTagsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TagReadingBuiltIn()) {
            GTEST_SKIP() << "built without TagLib: no tags are read";
        }
    }
};

TEST_F(StreamTagsTest, EveryTagKindGivesItsValuesInUtf8) {
    const std::u16string wide = u"Grüße aus 東京 🎵";
    const std::string title = "Grüße aus 東京 🎵";
    const Bytes gain = text(0, bytesOf("REPLAYGAIN_TRACK_GAIN\0-6.20 dB"s));
    const Bytes comment = text(3, bytesOf("eng\0Anmerkung ü"s));
    // A front cover after another picture, in every version.
    const auto pictures = [](int version) {
        const std::string id = version == 2 ? "PIC" : "APIC";
        return std::vector<std::pair<std::string, Bytes>>{
            {id, picture(version, 0, "image/jpg", {1})},
            {id, picture(version, 3, "image/png", bytesOf("\x89PNG cover"))}};
    };
    const Values cover = {{"picture", "type 3, image/png, 10 bytes"}, {"cover", "\x89PNG cover"}};
    const Bytes dressed = audio(true);
    const Bytes id3v1(dressed.end() - 128, dressed.end());
    const struct {
        Bytes front, back;
        Values expected;
    } cases[] = {
        {id3v2(2, {{"TT2", text(0, bytesOf("Gr\xFC\xDF"
                                           "e"))},
                   {"TRK", text(0, bytesOf("3/12"))},
                   {"TXX", gain}}),
         {},
         {{"title", "Grüße"}, {"track", "3/12"}, {"replaygain_track_gain", "-6.20 dB"}}},
        {id3v2(3, {{"TIT2", text(1, utf16(wide, false))},
                   {"TPE2", text(1, utf16(u"Bänd", false))},
                   {"TPOS", text(0, bytesOf("1/2"))},
                   {"TYER", text(0, bytesOf("2001"))}}),
         {},
         {{"title", title}, {"album_artist", "Bänd"}, {"disc", "1/2"}, {"date", "2001"}}},
        {id3v2(4, {{"TIT2", text(2, utf16(wide, true))},
                   {"TCOM", text(3, bytesOf("Kompönist"))},
                   {"TCON", text(0, bytesOf("Rock"))},
                   {"COMM", comment}}),
         {},
         {{"title", title},
          {"composer", "Kompönist"},
          {"genre", "Rock"},
          {"comment", "Anmerkung ü"}}},
        {{},
         apeTag({{"Title", title}, {"Album Artist", "Ape"}, {"REPLAYGAIN_ALBUM_PEAK", "0.988"}}),
         {{"title", title}, {"album_artist", "Ape"}, {"replaygain_album_peak", "0.988"}}},
        {id3v2(3, {{"TIT2", text(0, bytesOf("Front"))}}),
         joined(apeTag({{"Title", "Ape"}, {"Album", "Ape album"}, {"Artist", "Ape"}}), id3v1),
         {{"title", "Front"}, {"album", "Ape album"}, {"artist", "Ape"}, {"genre", "Other"}}},
        {{}, id3v1, {{"title", "generated"}, {"genre", "Other"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readAndDecode(c.front, c.back), c.expected) << &c - cases;
    }
    for (const int version : {2, 3, 4}) {
        EXPECT_EQ(readAndDecode(id3v2(version, pictures(version)), {}), cover) << version;
    }
}

// Sizes past the end of the tag or the file, tags claiming 256 MB, an
// unknown text encoding: the audio intact, no value from a frame or tag that
// does not fit; an input that cannot seek has no tags.
TEST_F(StreamTagsTest, DamagedTagsCostNoAudio) {
    Bytes frameTooLong = id3v2(3, {{"TIT2", text(0, bytesOf("Cut"))}});
    frameTooLong[17] = 0x7F;
    Bytes itemTooLong = apeTag({{"Title", "Ape"}});
    std::fill_n(itemTooLong.begin(), 3, 0xFF);
    const Bytes huge = id3v2(4, {{"TIT2", text(0, bytesOf("X"))}}, 0x0FFFFFFF);
    readAndDecode(id3v2(4, {{"TIT2", text(9, bytesOf("Odd"))}}), itemTooLong);
    readAndDecode({}, huge);
    EXPECT_EQ(readAndDecode(frameTooLong, {}).count("title"), 0u);
    EXPECT_EQ(readAndDecode(huge, {}).count("title"), 0u);
    EXPECT_TRUE(readAndDecode(id3v2(3, {{"TIT2", text(0, bytesOf("Live"))}}), {}, false).empty());
}

// The encoder tag records the gains as 16-bit fields (name, originator, sign,
// tenths of a decibel) and the peak as a 9.23 fixed-point fraction.
TEST_F(StreamTagsTest, EncoderTagGivesReplayGainWhereTextTagsGiveNone) {
    streamgen::StreamOptions options;
    options.layer = streamgen::Layer::kIII;
    options.samplesPerChannel = 11025;
    options.vbrFrame = streamgen::VbrFrame::kInfo;
    options.encoderTag = true;
    Bytes bytes = streamgen::Generate(options).bytes;
    const std::string info = "Info";
    const auto tag = std::search(bytes.begin(), bytes.end(), info.begin(), info.end());
    const Bytes fields = {0x00, 0x60, 0x00, 0x00, 0x2E, 0x3E, 0x4C, 0x0F};
    std::copy(fields.begin(), fields.end(), tag + 120 + 11);
    MemoryInput input{bytes};
    QuorHandle handle = nullptr;
    ASSERT_EQ(Quor_Create(&handle, input.Callbacks(), &input, QUOR_VERSION), QUOR_OK);
    const Values expected = {{"replaygain_track_gain", "-6.2 dB"},
                             {"replaygain_album_gain", "1.5 dB"},
                             {"replaygain_track_peak", "0.750000"}};
    EXPECT_EQ(readValues(handle), expected);
    Quor_Destroy(handle);
}

} // namespace
} // namespace tesk::quor::test

#endif
