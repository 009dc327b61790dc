// Bit reader over the frame decoder's bit reservoir.
//
// Bits are taken most significant first. A read looks up to two bytes beyond
// the last bit it consumes; bytes outside the reader's buffer read as zero,
// so a corrupt frame that asks for more bits than it carries never reads
// past the reservoir.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tesk::quor {

struct BitReader {
    const std::uint8_t* data = nullptr; // the bytes read; null while unset
    std::size_t size = 0;               // readable bytes at data
    std::size_t position = 0;           // index of the current byte
    unsigned bit_index = 0;             // bits of the current byte already consumed (0-7)
};

namespace bit_reader_detail {

inline unsigned byte_at(const BitReader& reader, std::size_t index) {
    return index < reader.size ? reader.data[index] : 0u;
}

inline void advance(BitReader& reader, int n) {
    const unsigned bits = reader.bit_index + static_cast<unsigned>(n);
    reader.position += bits / 8;
    reader.bit_index = bits % 8;
}

} // namespace bit_reader_detail

// The readers are inline: the Huffman walks call them once per code or bit.

// The next n bits (0-16) as an unsigned number; 0 and no advance when n < 1
// or the reader is unset.
inline unsigned read_bits(BitReader& reader, int n) {
    using bit_reader_detail::byte_at;
    if (n < 1 || reader.data == nullptr) {
        return 0;
    }
    const std::size_t p = reader.position;
    std::uint32_t word =
        (byte_at(reader, p) << 16) | (byte_at(reader, p + 1) << 8) | byte_at(reader, p + 2);
    word = (word << reader.bit_index) & 0xFFFFFFu;
    bit_reader_detail::advance(reader, n);
    return word >> (24 - n);
}

// The next n bits (0-9); n = 0 yields 0 and no advance.
inline unsigned read_bits_short(BitReader& reader, int n) {
    using bit_reader_detail::byte_at;
    if (n < 1 || reader.data == nullptr) {
        return 0;
    }
    const std::size_t p = reader.position;
    std::uint32_t word = (byte_at(reader, p) << 8) | byte_at(reader, p + 1);
    word = (word << reader.bit_index) & 0xFFFFu;
    bit_reader_detail::advance(reader, n);
    return word >> (16 - n);
}

// The next bit (0 or 1).
inline unsigned read_bit(BitReader& reader) {
    const unsigned value =
        ((bit_reader_detail::byte_at(reader, reader.position) << reader.bit_index) & 0xFFu) >> 7;
    bit_reader_detail::advance(reader, 1);
    return value;
}

} // namespace tesk::quor
