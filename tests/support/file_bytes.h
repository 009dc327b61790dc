#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tesk_quor_test {

// The whole content of a file; empty when it cannot be read.
inline std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The little-endian word of `width` bytes at `offset`.
inline std::uint32_t wordAt(const std::string& bytes, std::size_t offset, int width = 4) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value =
            (value << 8) | static_cast<std::uint8_t>(bytes[offset + static_cast<std::size_t>(i)]);
    }
    return value;
}

// value as `width` little-endian bytes.
inline std::string littleEndian(std::uint64_t value, int width = 4) {
    std::string bytes;
    for (int i = 0; i < width; ++i, value >>= 8) {
        bytes += static_cast<char>(value & 0xFF);
    }
    return bytes;
}

} // namespace tesk_quor_test
