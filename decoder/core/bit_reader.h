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

// The next n bits (0-16) as an unsigned number; 0 and no advance when n < 1
// or the reader is unset.
unsigned read_bits(BitReader& reader, int n);

// The next n bits (0-9); n = 0 yields 0 and no advance.
unsigned read_bits_short(BitReader& reader, int n);

// The next bit (0 or 1).
unsigned read_bit(BitReader& reader);

} // namespace tesk::quor
