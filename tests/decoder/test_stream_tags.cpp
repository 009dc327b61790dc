// Tags through Quor_GetTag and Quor_GetPicture: every ID3v2 version and text
// encoding, APEv2, ID3v1 and their precedence, pictures, the encoder tag's
// ReplayGain, and damaged tags, which give no value and never cost audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "decoder/stream_tags.h"
#include "test_support.h"
#include "tests/support/tag_bytes.h"
#include "tools/streamgen/streamgen.h"

namespace tesk::quor::test {
namespace {

using tesk_quor_test::Bytes;
using tesk_quor_test::Id3v2Writer;
using Values = std::map<std::string, std::string>;

const char* const kKeys[] = {"title",
                             "artist",
                             "album",
                             "album_artist",
                             "track",
                             "disc",
                             "date",
                             "genre",
                             "comment",
                             "composer",
                             "replaygain_track_gain",
                             "replaygain_track_peak",
                             "replaygain_album_gain",
                             "replaygain_album_peak",
                             "picture"};

Bytes audio() {
    streamgen::StreamOptions options;
    options.samplesPerChannel = 11025;
    static const Bytes bytes = streamgen::Generate(options).bytes;
    return bytes;
}

Bytes comment(const std::string& text, int encoding) {
    Bytes body{static_cast<std::uint8_t>(encoding), 'e', 'n', 'g'};
    for (const Bytes& part : {tesk_quor_test::encodedText("", encoding, true),
                              tesk_quor_test::encodedText(text, encoding, false)}) {
        body.insert(body.end(), part.begin(), part.end());
    }
    return body;
}

struct TagCase {
    const char* name;
    Bytes front;
    Bytes back;
    Values expected;
};

std::vector<TagCase> tagCases() {
    const std::string title = "Grüße aus 東京 🎵";
    return {
        {"ID3v2.2 Latin-1",
         Id3v2Writer(2)
             .text("TT2", "Grüße", 0)
             .text("TP1", "Ångström", 0)
             .text("TRK", "3/12", 0)
             .userText("REPLAYGAIN_TRACK_GAIN", "-6.20 dB", 0)
             .bytes(),
         {},
         {{"title", "Grüße"},
          {"artist", "Ångström"},
          {"track", "3/12"},
          {"replaygain_track_gain", "-6.20 dB"}}},
        {"ID3v2.3 UTF-16 with byte-order mark",
         Id3v2Writer(3)
             .text("TIT2", title, 1)
             .text("TPE1", "Ärtist", 1)
             .text("TALB", "Album", 1)
             .text("TPE2", "Band", 1)
             .text("TPOS", "1/2", 1)
             .text("TYER", "2001", 0)
             .userText("replaygain_album_gain", "+1.50 dB", 1)
             .userText("replaygain_album_peak", "0.750000", 1)
             .bytes(),
         {},
         {{"title", title},
          {"artist", "Ärtist"},
          {"album", "Album"},
          {"album_artist", "Band"},
          {"disc", "1/2"},
          {"date", "2001"},
          {"replaygain_album_gain", "+1.50 dB"},
          {"replaygain_album_peak", "0.750000"}}},
        {"ID3v2.4 UTF-16BE",
         Id3v2Writer(4)
             .text("TIT2", title, 2)
             .text("TCOM", "Komponist", 2)
             .text("TCON", "Rock", 2)
             .bytes(),
         {},
         {{"title", title}, {"composer", "Komponist"}, {"genre", "Rock"}}},
        {"ID3v2.4 UTF-8",
         Id3v2Writer(4)
             .text("TIT2", title, 3)
             .text("TDRC", "2020-05-01", 3)
             .frame("COMM", comment("Anmerkung ü", 3))
             .userText("REPLAYGAIN_TRACK_PEAK", "0.988", 3)
             .bytes(),
         {},
         {{"title", title},
          {"date", "2020-05-01"},
          {"comment", "Anmerkung ü"},
          {"replaygain_track_peak", "0.988"}}},
        {"APEv2",
         {},
         tesk_quor_test::apeTag({{"Title", title},
                                 {"Artist", "Ape"},
                                 {"Track", "7"},
                                 {"REPLAYGAIN_TRACK_GAIN", "-3.50 dB"}}),
         {{"title", title},
          {"artist", "Ape"},
          {"track", "7"},
          {"replaygain_track_gain", "-3.50 dB"}}},
        {"ID3v1",
         {},
         tesk_quor_test::id3v1Tag("Grüße", "Eins", 5),
         {{"title", "Grüße"},
          {"artist", "Eins"},
          {"track", "5"},
          {"date", "1999"},
          {"genre", "Rock"}}},
        {"ID3v2 before APEv2 before ID3v1",
         Id3v2Writer(3).text("TIT2", "Front", 0).bytes(),
         [] {
             Bytes back = tesk_quor_test::apeTag({{"Title", "Ape"}, {"Album", "Ape album"}});
             const Bytes v1 = tesk_quor_test::id3v1Tag("Last", "Only here", 1);
             back.insert(back.end(), v1.begin(), v1.end());
             return back;
         }(),
         {{"title", "Front"},
          {"album", "Ape album"},
          {"artist", "Only here"},
          {"track", "1"},
          {"date", "1999"},
          {"genre", "Rock"}}},
    };
}

QuorHandle openOn(MemoryInput& input) {
    QuorHandle handle = nullptr;
    EXPECT_EQ(Quor_Create(&handle, input.Callbacks(), &input, QUOR_VERSION), QUOR_OK);
    return handle;
}

// Every key's value, read as a caller reads it: the length first.
Values readValues(QuorHandle handle) {
    Values values;
    for (const char* key : kKeys) {
        std::int32_t length = -1;
        if (Quor_GetTag(handle, key, nullptr, 0, &length) != QUOR_OK) {
            continue;
        }
        std::string value(static_cast<std::size_t>(length) + 1, '\0');
        EXPECT_EQ(Quor_GetTag(handle, key, value.data(), length + 1, &length), QUOR_OK) << key;
        value.resize(static_cast<std::size_t>(length));
        values[key] = value;
    }
    return values;
}

Bytes dressed(const Bytes& front, const Bytes& back) {
    Bytes bytes = front;
    const Bytes sound = audio();
    bytes.insert(bytes.end(), sound.begin(), sound.end());
    bytes.insert(bytes.end(), back.begin(), back.end());
    return bytes;
}

class StreamTagsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TagReadingBuiltIn()) {
            GTEST_SKIP() << "built without TagLib: no tags are read";
        }
        MemoryInput plain{audio()};
        QuorHandle handle = openOn(plain);
        m_samples = DecodeAll(handle).samples.size();
        Quor_Destroy(handle);
    }

    // Reads the tags, then decodes: the audio must be what the bare
    // stream gives.
    Values readAndDecode(const Bytes& bytes) {
        MemoryInput input{bytes};
        QuorHandle handle = openOn(input);
        const Values values = readValues(handle);
        const Decoded decoded = DecodeAll(handle);
        EXPECT_EQ(decoded.result, QUOR_END);
        EXPECT_EQ(decoded.samples.size(), m_samples);
        Quor_Destroy(handle);
        return values;
    }

    std::size_t m_samples = 0;
};

TEST_F(StreamTagsTest, EveryTagKindGivesItsValuesInUtf8) {
    for (const TagCase& c : tagCases()) {
        EXPECT_EQ(readAndDecode(dressed(c.front, c.back)), c.expected) << c.name;
    }
}

TEST_F(StreamTagsTest, FrontCoverIsPreferredAndDeliveredWhole) {
    const Bytes cover = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8};
    for (const int version : {2, 3, 4}) {
        const Bytes tag = Id3v2Writer(version)
                              .picture(0, "image/jpeg", {1, 2, 3})
                              .picture(3, "image/png", cover)
                              .bytes();
        MemoryInput input{dressed(tag, {})};
        QuorHandle handle = openOn(input);
        EXPECT_EQ(readValues(handle)["picture"], "type 3, image/png, 12 bytes") << version;
        std::int32_t length = 0;
        Bytes bytes(cover.size());
        EXPECT_EQ(Quor_GetPicture(handle, bytes.data(), 4, &length), QUOR_ERROR_PARAM);
        EXPECT_EQ(length, 12);
        EXPECT_EQ(Quor_GetPicture(handle, bytes.data(), 12, &length), QUOR_OK);
        EXPECT_EQ(bytes, cover) << version;
        Quor_Destroy(handle);
    }
}

// Sizes past the end of the tag or the file, a tag claiming 256 MB, an
// unknown text encoding: no value, the audio intact.
TEST_F(StreamTagsTest, DamagedTagsGiveNoValueAndCostNoAudio) {
    Bytes frameTooLong = Id3v2Writer(3).text("TIT2", "Cut", 0).bytes();
    frameTooLong[17] = 0x7F;
    Bytes badEncoding = Id3v2Writer(4).text("TIT2", "Odd", 9).bytes();
    Bytes badApe = tesk_quor_test::apeTag({{"Title", "Ape"}});
    badApe[0] = 0xFF;
    badApe[1] = 0xFF;
    badApe[2] = 0xFF;
    badApe[3] = 0x7F;
    const struct {
        const char* name;
        Bytes front;
        Bytes back;
    } cases[] = {
        {"frame past the tag's end", frameTooLong, {}},
        {"unknown text encoding", badEncoding, {}},
        {"APEv2 item past the tag", {}, badApe},
        {"tag claiming 256 MB at the end",
         {},
         Id3v2Writer(4).text("TIT2", "X", 0).bytes(0x0FFFFFFF)},
        {"tag claiming 256 MB in front", Id3v2Writer(3).text("TIT2", "X", 0).bytes(0x0FFFFFFF), {}},
    };
    for (const auto& c : cases) {
        const Values values = readAndDecode(dressed(c.front, c.back));
        EXPECT_EQ(values.count("title") == 0 || values.at("title").size() < 4, true) << c.name;
    }
}

TEST(StreamTags, AnInputThatCannotSeekHasNoTagsAndDecodes) {
    MemoryInput input{dressed(Id3v2Writer(3).text("TIT2", "Live", 0).bytes(), {})};
    input.seekable = false;
    QuorHandle handle = openOn(input);
    std::int32_t length = 0;
    EXPECT_EQ(Quor_GetTag(handle, "title", nullptr, 0, &length), QUOR_ERROR_UNSUPPORTED);
    EXPECT_EQ(DecodeAll(handle).result, QUOR_END);
    Quor_Destroy(handle);
}

// The encoder tag records the gains as 16-bit fields (name, originator, sign,
// tenths of a decibel) and the peak as a 9.23 fixed-point fraction.
TEST(StreamTags, EncoderTagGivesReplayGainWhereTextTagsGiveNone) {
    streamgen::StreamOptions options;
    options.layer = streamgen::Layer::kIII;
    options.samplesPerChannel = 11025;
    options.vbrFrame = streamgen::VbrFrame::kInfo;
    options.encoderTag = true;
    streamgen::Stream stream = streamgen::Generate(options);
    auto& bytes = stream.bytes;
    const std::string info = "Info";
    const auto tag = static_cast<std::size_t>(std::search(bytes.begin() + stream.firstFramePosition,
                                                          bytes.end(), info.begin(), info.end()) -
                                              bytes.begin());
    const std::size_t encoder = tag + 8 + 4 + 4 + 100 + 4;
    const std::uint8_t fields[] = {0x00, 0x60, 0x00, 0x00, 0x2E, 0x3E, 0x4C, 0x0F};
    std::copy(std::begin(fields), std::end(fields),
              bytes.begin() + static_cast<long>(encoder + 11));
    MemoryInput input{bytes};
    QuorHandle handle = openOn(input);
    const Values values = readValues(handle);
    EXPECT_EQ(values.at("replaygain_track_gain"), "-6.2 dB");
    EXPECT_EQ(values.at("replaygain_album_gain"), "1.5 dB");
    EXPECT_EQ(values.at("replaygain_track_peak"), "0.750000");
    Quor_Destroy(handle);
}

} // namespace
} // namespace tesk::quor::test
