// Helpers shared by the frame decoder core's tests: reading a conformance
// stream and decoding a byte stream through decode_frame in pieces.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
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

} // namespace tesk::quor::test
