#pragma once

// Bit-level access to Layer III main data and the Huffman tree walks.

#include <cstdint>

#include "decoder/core/generated/huffman_trees.h"

namespace tesk::quor {

// A read position in main data: the current byte and how many of its bits
// (most significant first) are already consumed.
struct BitCursor {
    const unsigned char* position;
    int bit_index;
};

inline int take_bit(BitCursor& cursor) {
    const int bit = (*cursor.position >> (7 - cursor.bit_index)) & 1;
    if (++cursor.bit_index == 8) {
        cursor.bit_index = 0;
        ++cursor.position;
    }
    return bit;
}

// The next n bits (1 to 16) as an unsigned number; reads three bytes.
inline unsigned take_bits(BitCursor& cursor, int n) {
    const unsigned char* p = cursor.position;
    unsigned word = (unsigned{p[0]} << 16) | (unsigned{p[1]} << 8) | p[2];
    word = (word << cursor.bit_index) & 0xFFFFFFu;
    const int consumed = cursor.bit_index + n;
    cursor.position += consumed >> 3;
    cursor.bit_index = consumed & 7;
    return word >> (24 - n);
}

// Walks `tree` from its root to a leaf, one bit per inner node, and returns
// the leaf; `bits` grows by the number of bits taken.
inline int decode_symbol(const std::int16_t* tree, BitCursor& cursor, int& bits) {
    int node = 0;
    while (tree[node] < 0) {
        ++bits;
        node += take_bit(cursor) ? 1 - tree[node] : 1;
    }
    return tree[node];
}

// As decode_symbol, but takes at most `budget` bits: when the walk needs
// more it stops and returns -1, with the bits it took counted.
inline int decode_symbol_within(const std::int16_t* tree, BitCursor& cursor, int budget,
                                int& bits) {
    int node = 0;
    while (tree[node] < 0) {
        if (budget-- == 0) {
            return -1;
        }
        ++bits;
        node += take_bit(cursor) ? 1 - tree[node] : 1;
    }
    return tree[node];
}

} // namespace tesk::quor
