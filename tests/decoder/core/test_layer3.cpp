#include <gtest/gtest.h>

#include <thread>

#include "core_test_support.h"
#include "decoder/core/layer3.h"

namespace tesk::quor::test {
namespace {

// ---- conformance streams ---------------------------------------------------

std::uint32_t word_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

// The stream up to its last whole frame, as the stream scanner hands frames
// to the frame decoder: a final frame cut short by the end of the file is
// left out. Frames are walked from the first header by their sizes.
std::vector<std::uint8_t> whole_frames(std::vector<std::uint8_t> stream) {
    std::size_t at = 0;
    while (at + 4 <= stream.size() && !header_is_valid(word_at(stream, at), 0)) {
        ++at;
    }
    while (at + 4 <= stream.size() && header_is_valid(word_at(stream, at), 0)) {
        FrameHeader header;
        decode_header(header, word_at(stream, at));
        const std::size_t length = 4 + static_cast<std::size_t>(header.frame_size);
        if (header.frame_size == 0) {
            break;
        }
        if (at + length > stream.size()) {
            stream.resize(at);
            break;
        }
        at += length;
    }
    return stream;
}

class Layer3Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Layer3Conformance, MatchesReferenceDecoding) {
    const std::string name = GetParam();
    const auto bit = conformance_dir() / (name + ".bit");
    const auto pcm = conformance_dir() / (name + ".pcm");
    const auto entry = manifest_entry(name);
    if (!std::filesystem::exists(bit) || !std::filesystem::exists(pcm) || !entry) {
        GTEST_SKIP() << "conformance stream " << name << " not found in " << conformance_dir();
    }
    const std::vector<std::int16_t> reference = read_pcm(pcm);
    auto decoder = make_decoder();
    const DecodeResult decoded =
        decode_stream(*decoder, whole_frames(read_file(bit)), {4096, 13, 1500});
    EXPECT_EQ(decoded.errors, 0);
    ASSERT_EQ(static_cast<long>(decoded.samples.size()), entry->decoded_samples);
    ASSERT_LE(entry->compare_samples, static_cast<long>(reference.size()));
    const Comparison result =
        compare(decoded.samples, reference, static_cast<std::size_t>(entry->compare_samples));
    EXPECT_LE(result.max_difference, 1);
    EXPECT_GE(result.psnr, 96.0);
}

INSTANTIATE_TEST_SUITE_P(Streams, Layer3Conformance,
                         ::testing::Values("l3-compl", "l3-he_32khz", "l3-he_44khz", "l3-si",
                                           "l3-si_block", "l3-sin1k0db", "M2L3_bitrate_22_all",
                                           "M2L3_compl24", "M2L3_noise"));

} // namespace
} // namespace tesk::quor::test
