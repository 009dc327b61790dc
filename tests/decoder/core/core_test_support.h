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
#include <vector>

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

// Writes values most significant bit first, for building bitstreams.
class BitWriter {
public:
    void put(unsigned value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) {
                bytes_.push_back(0);
            }
            if (((value >> i) & 1u) != 0) {
                bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80u >> (used_ % 8)));
            }
            ++used_;
        }
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t used_ = 0;
};

struct FrameDecoderDeleter {
    void operator()(FrameDecoder* decoder) const { frame_decoder_destroy(decoder); }
};
using FrameDecoderPtr = std::unique_ptr<FrameDecoder, FrameDecoderDeleter>;

inline FrameDecoderPtr make_decoder() {
    return FrameDecoderPtr(frame_decoder_create());
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

} // namespace tesk::quor::test
