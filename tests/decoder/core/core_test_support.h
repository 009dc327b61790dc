// Helpers shared by the frame decoder core's tests: reading the conformance
// streams and decoding a byte stream through decode_frame in pieces.
#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "decoder/core/frame_decoder.h"

namespace tesk::quor::test {

inline std::filesystem::path conformance_dir() {
    return std::filesystem::path(TESK_QUOR_SHARED_DIR) / "conformance";
}

inline std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::int16_t> read_pcm(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> bytes = read_file(path);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return samples;
}

struct ManifestEntry {
    long decoded_samples = 0;
    long compare_samples = 0;
};

// The conformance manifest's line for a stream, when present.
inline std::optional<ManifestEntry> manifest_entry(const std::string& name) {
    std::ifstream in(conformance_dir() / "MANIFEST.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string stream, layer, version, rate, channels;
        ManifestEntry entry;
        long reference = 0;
        fields >> stream >> layer >> version >> rate >> channels >> entry.decoded_samples >>
            reference >> entry.compare_samples;
        if (stream == name && fields) {
            return entry;
        }
    }
    return std::nullopt;
}

struct FrameDecoderDeleter {
    void operator()(FrameDecoder* decoder) const { frame_decoder_destroy(decoder); }
};
using FrameDecoderPtr = std::unique_ptr<FrameDecoder, FrameDecoderDeleter>;

inline FrameDecoderPtr make_decoder() {
    return FrameDecoderPtr(frame_decoder_create());
}

// The four bytes of a header word.
inline std::vector<std::uint8_t> header_bytes(std::uint32_t word) {
    return {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
            static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
}

// A whole frame of the given header whose payload is one repeated byte.
inline std::vector<std::uint8_t> silent_frame(std::uint32_t word, std::uint8_t fill = 0) {
    FrameHeader header;
    decode_header(header, word);
    std::vector<std::uint8_t> bytes = header_bytes(word);
    bytes.resize(4 + static_cast<std::size_t>(header.frame_size), fill);
    return bytes;
}

// One decode_frame call with the bytes (none when empty).
inline int decode_bytes(FrameDecoder& decoder, const std::vector<std::uint8_t>& bytes, int& done) {
    std::vector<std::int16_t> out(kMinOutputBytes / 2);
    return decode_frame(decoder, bytes.empty() ? nullptr : bytes.data(),
                        static_cast<int>(bytes.size()),
                        reinterpret_cast<unsigned char*>(out.data()), kMinOutputBytes, done);
}

struct DecodeResult {
    std::vector<std::int16_t> samples;
    int frames = 0;
    int errors = 0;
};

// Feeds the stream in pieces of the given sizes (cycled) and collects every
// decoded frame.
inline DecodeResult decode_stream(FrameDecoder& decoder, const std::vector<std::uint8_t>& stream,
                                  const std::vector<int>& piece_sizes) {
    DecodeResult result;
    std::vector<std::int16_t> frame(kMinOutputBytes / 2);
    auto drain = [&](const std::uint8_t* input, int count) {
        for (;;) {
            int done = 0;
            const int status =
                decode_frame(decoder, input, count, reinterpret_cast<unsigned char*>(frame.data()),
                             kMinOutputBytes, done);
            input = nullptr;
            count = 0;
            if (status == NEED_MORE) {
                return;
            }
            if (status == 0) {
                ++result.frames;
                result.samples.insert(result.samples.end(), frame.begin(),
                                      frame.begin() + done / 2);
            } else {
                ++result.errors;
            }
        }
    };
    std::size_t at = 0;
    for (std::size_t piece = 0; at < stream.size(); ++piece) {
        const std::size_t size = std::min<std::size_t>(
            static_cast<std::size_t>(piece_sizes[piece % piece_sizes.size()]), stream.size() - at);
        drain(stream.data() + at, static_cast<int>(size));
        at += size;
    }
    drain(nullptr, 0);
    return result;
}

struct Comparison {
    int max_difference = 0;
    double psnr = 0.0;
};

inline Comparison compare(const std::vector<std::int16_t>& decoded,
                          const std::vector<std::int16_t>& reference, std::size_t count) {
    Comparison result;
    double squares = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const int difference = std::abs(decoded[i] - reference[i]);
        result.max_difference = std::max(result.max_difference, difference);
        squares += static_cast<double>(difference) * difference;
    }
    const double mean = squares / static_cast<double>(count);
    result.psnr = mean == 0.0 ? 200.0 : 10.0 * std::log10(32767.0 * 32767.0 / mean);
    return result;
}

// Decodes the named conformance stream, prepared by `prepare`, in pieces of
// the given sizes and expects the reference samples within one step and
// 96 dB. Skips when the stream, its reference or its manifest entry is missing.
template <typename Prepare>
void expect_matches_reference(const std::string& name, const std::vector<int>& piece_sizes,
                              Prepare prepare) {
    const auto bit = conformance_dir() / (name + ".bit");
    const auto pcm = conformance_dir() / (name + ".pcm");
    const auto entry = manifest_entry(name);
    if (!std::filesystem::exists(bit) || !std::filesystem::exists(pcm) || !entry) {
        GTEST_SKIP() << "conformance stream " << name << " not found in " << conformance_dir();
    }
    const std::vector<std::int16_t> reference = read_pcm(pcm);
    auto decoder = make_decoder();
    const DecodeResult decoded = decode_stream(*decoder, prepare(read_file(bit)), piece_sizes);
    EXPECT_EQ(decoded.errors, 0);
    ASSERT_EQ(static_cast<long>(decoded.samples.size()), entry->decoded_samples);
    ASSERT_LE(entry->compare_samples, static_cast<long>(reference.size()));
    const Comparison result =
        compare(decoded.samples, reference, static_cast<std::size_t>(entry->compare_samples));
    EXPECT_LE(result.max_difference, 1);
    EXPECT_GE(result.psnr, 96.0);
}

// Decodes the named conformance streams one after the other on this thread
// and, with one decoder each, on threads of their own all at once, in other
// input pieces, and expects the same samples. Skips when a stream is missing.
inline void expect_threads_agree(const std::vector<std::string>& names) {
    std::vector<std::vector<std::uint8_t>> streams;
    for (const auto& name : names) {
        const auto path = conformance_dir() / (name + ".bit");
        if (!std::filesystem::exists(path)) {
            GTEST_SKIP() << "conformance stream " << path << " not found";
        }
        streams.push_back(read_file(path));
    }
    std::vector<std::vector<std::int16_t>> sequential;
    for (const auto& stream : streams) {
        auto decoder = make_decoder();
        sequential.push_back(decode_stream(*decoder, stream, {4096}).samples);
    }
    std::vector<std::vector<std::int16_t>> parallel(streams.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < streams.size(); ++i) {
            threads.emplace_back([&, i] {
                auto decoder = make_decoder();
                parallel[i] = decode_stream(*decoder, streams[i], {517}).samples;
            });
        }
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
        EXPECT_FALSE(sequential[i].empty()) << names[i];
        EXPECT_EQ(parallel[i], sequential[i]) << names[i];
    }
}

} // namespace tesk::quor::test
