// Bit writing shared by the generator's own frame writers: bits most
// significant first, and the CRC-16 of a frame's check word.
#pragma once

#include <cstdint>
#include <vector>

namespace tesk::quor::streamgen {

class BitWriter {
public:
    void Put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            PutBit((value >> i) & 1U);
        }
    }
    void Append(const BitWriter& other) {
        for (int i = 0; i < other.size_; ++i) {
            PutBit((other.bytes_[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1U);
        }
    }
    int size() const { return size_; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    void PutBit(std::uint32_t bit) {
        if (size_ % 8 == 0) {
            bytes_.push_back(0);
        }
        bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (bit << (7 - size_ % 8)));
        ++size_;
    }

    std::vector<std::uint8_t> bytes_;
    int size_ = 0;
};

// CRC-16 (polynomial 0x8005, all ones at the start) of the first `bits` bits.
inline std::uint16_t Crc16(const std::vector<std::uint8_t>& bytes, int bits) {
    std::uint32_t crc = 0xFFFF;
    for (int i = 0; i < bits; ++i) {
        const std::uint32_t bit = (bytes[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1U;
        const bool flip = ((crc >> 15) & 1U) != bit;
        crc = (crc << 1) & 0xFFFF;
        if (flip) {
            crc ^= 0x8005;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

} // namespace tesk::quor::streamgen
