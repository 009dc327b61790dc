#include "programs/common/output_file.h"
#include "programs/common/progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/file_bytes.h"

using tesk::cli::makeWavHeader;
using tesk_quor_test::wordAt;

TEST(WavHeader, DescribesIntegerPcmOfTheFormat) {
    const std::string header = makeWavHeader({48000, 2, 2}, 1000);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(header.substr(0, 4), "RIFF");
    EXPECT_EQ(wordAt(header, 4), 1036u);
    EXPECT_EQ(header.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(wordAt(header, 16), 16u);
    EXPECT_EQ(wordAt(header, 20, 2), 1u);
    EXPECT_EQ(wordAt(header, 22, 2), 2u);
    EXPECT_EQ(wordAt(header, 24), 48000u);
    EXPECT_EQ(wordAt(header, 28), 192000u);
    EXPECT_EQ(wordAt(header, 32, 2), 4u);
    EXPECT_EQ(wordAt(header, 34, 2), 16u);
    EXPECT_EQ(header.substr(36, 4), "data");
    EXPECT_EQ(wordAt(header, 40), 1000u);
    const std::string mono8 = makeWavHeader({8000, 1, 1}, 0xFFFFFFFFu);
    EXPECT_EQ(wordAt(mono8, 4), 0xFFFFFFFFu) << "the RIFF size saturates";
    EXPECT_EQ(wordAt(mono8, 32, 2), 1u);
    EXPECT_EQ(wordAt(mono8, 34, 2), 8u);
}

// Samples above 16 bits and float samples take the extensible form, whose
// every field follows from the format: the plain fields, then the valid bits,
// the speaker mask and the integer or float sub-format.
TEST(WavHeader, WideAndFloatSamplesTakeTheExtensibleForm) {
    struct Case {
        tesk::cli::PcmFormat format;
        std::uint32_t mask, subFormat;
    };
    const Case cases[] = {{{44100, 2, 3, false}, 0x3u, 1u},
                          {{48000, 1, 4, true}, 0x4u, 3u},
                          {{96000, 6, 4, false}, 0x3Fu, 1u}};
    for (const auto& [format, mask, subFormat] : cases) {
        const std::string header = makeWavHeader(format, 6000);
        const auto channels = static_cast<std::uint32_t>(format.channels);
        const auto bits = static_cast<std::uint32_t>(format.bytesPerSample * 8);
        const std::uint32_t align = channels * bits / 8;
        const auto rate = static_cast<std::uint32_t>(format.sampleRate);
        ASSERT_EQ(header.size(), 68u);
        EXPECT_EQ(header.substr(0, 4) + header.substr(8, 8) + header.substr(60, 4),
                  "RIFFWAVEfmt data");
        // Offset, width and value of every number in the header.
        const std::uint32_t fields[][3] = {{4, 4, 6060},      {16, 4, 40},   {20, 2, 0xFFFE},
                                           {22, 2, channels}, {24, 4, rate}, {28, 4, rate * align},
                                           {32, 2, align},    {34, 2, bits}, {36, 2, 22},
                                           {38, 2, bits},     {40, 4, mask}, {44, 2, subFormat},
                                           {64, 4, 6000}};
        for (const auto& [offset, width, value] : fields) {
            EXPECT_EQ(wordAt(header, offset, static_cast<int>(width)), value) << offset;
        }
        EXPECT_EQ(header.substr(46, 14),
                  std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14));
    }
}

// Past 4 GiB a header with room kept becomes RF64 of the same length.
TEST(WavHeader, TakesRf64PastFourGiBInTheRoomKept) {
    using tesk::cli::WavForm;
    for (const int channels : {2, 6}) {
        const tesk::cli::PcmFormat format{44100, channels, 2};
        const std::string kept = makeWavHeader(WavForm::kReserved, format, 1000);
        const std::string rf64 = makeWavHeader(WavForm::kReserved, format, 5ull << 30);
        EXPECT_EQ(kept.substr(0, 4) + kept.substr(12, 4) + rf64.substr(12, 4), "RIFFJUNKds64");
        EXPECT_EQ(wordAt(kept, 4), kept.size() - 8 + 1000);
        EXPECT_EQ(rf64.size(), kept.size());
        EXPECT_EQ(rf64, makeWavHeader(WavForm::kRf64, format, 5ull << 30));
    }
}

// Times are rounded to the tenth before the minutes are taken.
TEST(ProgressLine, CarriesTheRoundingIntoTheMinutes) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    {
        tesk::cli::ProgressLine line(true, stream);
        line.begin("", 3599.96);
        line.show(59.98);
    }
    std::rewind(stream);
    char text[256] = {};
    const std::size_t size = std::fread(text, 1, sizeof text - 1, stream);
    std::fclose(stream);
    EXPECT_NE(std::string(text, size).find("1:00.0 / 60:00.0"), std::string::npos) << text;
}
