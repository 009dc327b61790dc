// Bit reader over the frame decoder's bit reservoir.
//
// Bits are taken most significant first. A read looks up to eight bytes from
// its first bit on; bytes outside the reader's buffer read as zero,
// so a corrupt frame that asks for more bits than it carries never reads
// past the reservoir.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// The 64 bits of the eight bytes from `index` on, most significant first.
// Inside the buffer one unaligned load serves; near and past its end the
// bytes are gathered one by one, those outside reading as zero.
inline std::uint64_t word_at(const BitReader& reader, std::size_t index) {
    std::uint64_t word = 0;
    if (index < reader.size && reader.size - index >= sizeof word) {
        std::memcpy(&word, reader.data + index, sizeof word);
        if constexpr (std::endian::native == std::endian::little) {
            word = __builtin_bswap64(word);
        }
    } else {
        for (std::size_t i = 0; i < sizeof word; ++i) {
            word = (word << 8) | byte_at(reader, index + i);
        }
    }
    return word;
}

// The 64 bits from the current byte on, shifted so that the next unread bit
// is the top bit: at least 56 valid bits.
inline std::uint64_t peek_word(const BitReader& reader) {
    return word_at(reader, reader.position) << reader.bit_index;
}

} // namespace bit_reader_detail

// The readers are inline: the Huffman walks call them once per code or bit.

// The next n bits (0-56) without advancing.
inline std::uint64_t peek_bits(const BitReader& reader, int n) {
    return n < 1 ? 0 : bit_reader_detail::peek_word(reader) >> (64 - n);
}

// Moves the reader on by n bits (n >= 0).
inline void skip_bits(BitReader& reader, int n) {
    const unsigned bits = reader.bit_index + static_cast<unsigned>(n);
    reader.position += bits / 8;
    reader.bit_index = bits % 8;
}

// The next n bits (0-16) as an unsigned number; 0 and no advance when n < 1
// or the reader is unset.
inline unsigned read_bits(BitReader& reader, int n) {
    if (n < 1 || reader.data == nullptr) {
        return 0;
    }
    const auto value = static_cast<unsigned>(peek_bits(reader, n));
    skip_bits(reader, n);
    return value;
}

// The next n bits (0-9); n = 0 yields 0 and no advance.
inline unsigned read_bits_short(BitReader& reader, int n) {
    return read_bits(reader, n);
}

} // namespace tesk::quor
