#pragma once

// Huffman tree walks over Layer III main data.

#include <cstdint>

#include "decoder/core/bit_reader.h"
#include "decoder/core/generated/huffman_trees.h"

namespace tesk::quor {

// Walks `tree` from its root to a leaf, one bit per inner node, and returns
// the leaf; `bits` grows by the number of bits taken.
inline int decode_symbol(const std::int16_t* tree, BitReader& reader, int& bits) {
    int node = 0;
    while (tree[node] < 0) {
        ++bits;
        node += read_bit(reader) != 0 ? 1 - tree[node] : 1;
    }
    return tree[node];
}

// As decode_symbol, but takes at most `budget` bits: when the walk needs
// more it stops and returns -1, with the bits it took counted.
inline int decode_symbol_within(const std::int16_t* tree, BitReader& reader, int budget,
                                int& bits) {
    int node = 0;
    while (tree[node] < 0) {
        if (budget-- == 0) {
            return -1;
        }
        ++bits;
        node += read_bit(reader) != 0 ? 1 - tree[node] : 1;
    }
    return tree[node];
}

} // namespace tesk::quor
