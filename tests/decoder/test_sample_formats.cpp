// Every output sample format over the conformance streams and a stream with
// an encoder tag, trimmed: rounded to 16 bits each gives the 16-bit decode,
// overs stay in float and saturate in the integer formats, and seeks count
// sample frames of the format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "test_support.h"
#ifdef TESK_QUOR_HAVE_STREAMGEN
#include "tests/support/generated_stream.h"
#endif
#include "tests/support/sample_values.h"

namespace tesk::quor {
namespace {

namespace fs = std::filesystem;

struct Format {
    std::int32_t code;
    std::int32_t bytes;
    double scale;   // over the 16-bit scale
    double highest; // the largest integer, 0 for float
};

// Float first: the integer formats saturate where it goes beyond them.
constexpr Format kFormats[] = {{QUOR_SAMPLES_FLOAT, 4, 32768.0, 0.0},
                               {QUOR_SAMPLES_INT24, 3, 256.0, 8388607.0},
                               {QUOR_SAMPLES_INT32, 4, 65536.0, 2147483647.0}};

// A decoder with gapless trimming, which changes the tagged stream only.
QuorHandle Open(const std::string& path, std::int32_t format) {
    QuorHandle handle = nullptr;
    EXPECT_EQ(Quor_CreateUsingFile(&handle, path.c_str(), QUOR_VERSION), QUOR_OK);
    EXPECT_EQ(Quor_SetOption(handle, QUOR_OPTION_SAMPLE_FORMAT, format), QUOR_OK);
    EXPECT_EQ(Quor_SetOption(handle, QUOR_OPTION_GAPLESS, 1), QUOR_OK);
    return handle;
}

// The samples of a decode to the end in a format, on the 16-bit scale.
std::vector<double> DecodeValues(QuorHandle handle, const Format& format, std::int32_t size) {
    std::vector<double> values;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
    std::int32_t delivered = 0;
    while (Quor_Decode(handle, buffer.data(), size, &delivered) == QUOR_OK) {
        EXPECT_EQ(delivered % format.bytes, 0);
        const std::vector<double> more =
            tesk_quor_test::sampleValues(buffer.data(), static_cast<std::size_t>(delivered),
                                         format.bytes, format.code == QUOR_SAMPLES_FLOAT);
        values.insert(values.end(), more.begin(), more.end());
    }
    return values;
}

TEST(SampleFormatConformance, EachFormatRoundsToThe16BitDecode) {
    std::vector<fs::path> streams;
#ifdef TESK_QUOR_HAVE_STREAMGEN
    streamgen::StreamOptions tagged;
    tagged.layer = streamgen::Layer::kIII;
    tagged.vbrFrame = streamgen::VbrFrame::kInfo;
    tagged.encoderTag = true;
    streams.push_back(tesk_quor_test::generatedStream("quor", "formats.mp3", tagged));
#endif
    const fs::path folder = test::SharedPath("conformance");
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".bit") {
            streams.push_back(entry.path());
        }
    }
    bool oversSeen = false;
    for (const fs::path& stream : streams) {
        std::vector<double> floats;
        QuorHandle plain = Open(stream.string(), QUOR_SAMPLES_INT16);
        const std::vector<std::int16_t> whole = test::DecodeAll(plain).samples;
        Quor_Destroy(plain);
        for (const Format& format : kFormats) {
            SCOPED_TRACE(stream.filename().string() + " format " + std::to_string(format.code));
            QuorHandle handle = Open(stream.string(), format.code);
            QuorStreamFormat reported{};
            ASSERT_EQ(Quor_GetStreamFormat(handle, &reported), QUOR_OK);
            EXPECT_EQ(reported.sampleFormat, format.code);
            EXPECT_EQ(reported.bytesPerSample, format.bytes);
            const std::vector<double> values = DecodeValues(handle, format, 1001);
            ASSERT_EQ(values.size(), whole.size());
            if (format.highest == 0.0) {
                floats = values;
            }
            for (std::size_t i = 0; i < values.size(); ++i) {
                // Rounded as the 16-bit output is: halves away from zero, clipped.
                ASSERT_LE(std::abs(std::clamp(std::round(values[i]), -32768.0, 32767.0) - whole[i]),
                          1.0)
                    << "sample " << i;
                const double exact = floats[i] * format.scale;
                oversSeen = oversSeen || std::abs(floats[i]) > 32768.0;
                if (format.highest != 0.0 && std::abs(exact) > format.highest + 1.0) {
                    ASSERT_EQ(values[i] * format.scale,
                              exact > 0 ? format.highest : -format.highest - 1.0)
                        << "saturated " << i;
                }
            }
            QuorFileInfo info{};
            ASSERT_EQ(Quor_GetFileInfo(handle, &info), QUOR_OK);
            const std::int32_t ms = info.durationMs / 3 + 7;
            const std::int64_t first = (std::int64_t{ms} * info.sampleRate + 500) / 1000;
            ASSERT_EQ(Quor_SeekToTime(handle, ms), QUOR_OK);
            const std::vector<double> after = DecodeValues(handle, format, 4000);
            const auto skipped = static_cast<std::size_t>(first * info.channels);
            ASSERT_EQ(after.size(), values.size() - skipped);
            EXPECT_TRUE(std::equal(after.begin(), after.end(), values.begin() + skipped));
            Quor_Destroy(handle);
        }
    }
    const bool loudStream = fs::exists(folder / "l3-sin1k0db.bit");
    EXPECT_TRUE(oversSeen || !loudStream) << "a full-scale tone decodes above full scale in float";
    if (streams.size() == 1) {
        GTEST_SKIP() << "only the generated stream: no conformance streams in " << folder;
    }
}

} // namespace
} // namespace tesk::quor
