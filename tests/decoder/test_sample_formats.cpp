// Every output sample format over the conformance streams and a stream with
// an encoder tag: rounded to 16 bits each gives the 16-bit decode, overs
// stay in float and saturate in the integer formats, and seeks and gapless
// trimming count sample frames of the format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "test_support.h"
#include "tests/support/generated_stream.h"

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

QuorHandle Open(const std::string& path, std::int32_t format, bool gapless = false) {
    QuorHandle handle = nullptr;
    EXPECT_EQ(Quor_CreateUsingFile(&handle, path.c_str(), QUOR_VERSION), QUOR_OK);
    EXPECT_EQ(Quor_SetOption(handle, QUOR_OPTION_SAMPLE_FORMAT, format), QUOR_OK);
    EXPECT_EQ(Quor_SetOption(handle, QUOR_OPTION_GAPLESS, gapless ? 1 : 0), QUOR_OK);
    return handle;
}

// The samples of a decode to the end in a format, on the 16-bit scale.
std::vector<double> DecodeValues(QuorHandle handle, const Format& format, std::int32_t size) {
    std::vector<double> values;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
    std::int32_t delivered = 0;
    while (Quor_Decode(handle, buffer.data(), size, &delivered) == QUOR_OK) {
        EXPECT_EQ(delivered % format.bytes, 0);
        for (std::int32_t at = 0; at < delivered; at += format.bytes) {
            if (format.code == QUOR_SAMPLES_FLOAT) {
                float value = 0.0f;
                std::memcpy(&value, buffer.data() + at, sizeof value);
                values.push_back(static_cast<double>(value) * format.scale);
                continue;
            }
            std::uint32_t bits = 0;
            for (std::int32_t b = 0; b < format.bytes; ++b) {
                bits |= static_cast<std::uint32_t>(buffer[static_cast<std::size_t>(at + b)])
                        << (8 * (4 - format.bytes + b));
            }
            values.push_back((static_cast<std::int32_t>(bits) >> (8 * (4 - format.bytes))) /
                             format.scale);
        }
    }
    return values;
}

// The sample as the 16-bit output rounds it: halves away from zero, clipped.
std::int32_t Rounded16(double value) {
    return static_cast<std::int32_t>(std::clamp(std::round(value), -32768.0, 32767.0));
}

TEST(SampleFormatConformance, EachFormatRoundsToThe16BitDecode) {
    const fs::path folder = test::SharedPath("conformance");
    std::vector<fs::path> streams;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".bit") {
            streams.push_back(entry.path());
        }
    }
    if (streams.empty()) {
        GTEST_SKIP() << "no conformance streams in " << folder;
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
                ASSERT_LE(std::abs(Rounded16(values[i]) - whole[i]), 1) << "sample " << i;
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
            std::int64_t position = 0;
            ASSERT_EQ(Quor_GetPosition(handle, &position), QUOR_OK);
            EXPECT_EQ(position, first);
            const std::vector<double> after = DecodeValues(handle, format, 4000);
            const auto skipped = static_cast<std::size_t>(first * info.channels);
            ASSERT_EQ(after.size(), values.size() - skipped);
            EXPECT_TRUE(std::equal(after.begin(), after.end(), values.begin() + skipped));
            Quor_Destroy(handle);
        }
    }
    const bool loudStream = fs::exists(folder / "l3-sin1k0db.bit");
    EXPECT_TRUE(oversSeen || !loudStream) << "a full-scale tone decodes above full scale in float";
}

// Trimming and positions count sample frames whatever the format; a caller
// of version 4 cannot ask for a format.
TEST(SampleFormats, GaplessTrimmingAndOlderCallers) {
    namespace gen = streamgen;
    gen::StreamOptions options;
    options.layer = gen::Layer::kIII;
    options.vbrFrame = gen::VbrFrame::kInfo;
    options.encoderTag = true;
    const std::string path = tesk_quor_test::generatedStream("quor", "formats.mp3", options);
    QuorHandle plain = Open(path, QUOR_SAMPLES_INT16, true);
    const std::size_t samples = test::DecodeAll(plain).samples.size();
    QuorFileInfo info{};
    ASSERT_EQ(Quor_GetFileInfo(plain, &info), QUOR_OK);
    Quor_Destroy(plain);
    for (const Format& format : kFormats) {
        QuorHandle handle = Open(path, format.code, true);
        EXPECT_EQ(DecodeValues(handle, format, 777).size(), samples) << format.code;
        std::int64_t position = 0;
        ASSERT_EQ(Quor_GetPosition(handle, &position), QUOR_OK);
        EXPECT_EQ(static_cast<std::size_t>(position * info.channels), samples) << format.code;
        Quor_Destroy(handle);
    }
    QuorHandle older = nullptr;
    ASSERT_EQ(Quor_CreateUsingFile(&older, path.c_str(), 4), QUOR_OK);
    EXPECT_EQ(Quor_SetOption(older, QUOR_OPTION_SAMPLE_FORMAT, QUOR_SAMPLES_FLOAT),
              QUOR_ERROR_PARAM);
    Quor_Destroy(older);
}

} // namespace
} // namespace tesk::quor
