#include "decoder/core/bit_reader.h"

namespace tesk::quor {
namespace {

unsigned byte_at(const BitReader& reader, std::size_t index) {
    return index < reader.size ? reader.data[index] : 0u;
}

void advance(BitReader& reader, int n) {
    const unsigned bits = reader.bit_index + static_cast<unsigned>(n);
    reader.position += bits / 8;
    reader.bit_index = bits % 8;
}

} // namespace

unsigned read_bits(BitReader& reader, int n) {
    if (n < 1 || reader.data == nullptr) {
        return 0;
    }
    const std::size_t p = reader.position;
    std::uint32_t word =
        (byte_at(reader, p) << 16) | (byte_at(reader, p + 1) << 8) | byte_at(reader, p + 2);
    word = (word << reader.bit_index) & 0xFFFFFFu;
    advance(reader, n);
    return word >> (24 - n);
}

unsigned read_bits_short(BitReader& reader, int n) {
    if (n < 1 || reader.data == nullptr) {
        return 0;
    }
    const std::size_t p = reader.position;
    std::uint32_t word = (byte_at(reader, p) << 8) | byte_at(reader, p + 1);
    word = (word << reader.bit_index) & 0xFFFFu;
    advance(reader, n);
    return word >> (16 - n);
}

unsigned read_bit(BitReader& reader) {
    const unsigned value = ((byte_at(reader, reader.position) << reader.bit_index) & 0xFFu) >> 7;
    advance(reader, 1);
    return value;
}

} // namespace tesk::quor
