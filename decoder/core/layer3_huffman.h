#pragma once

// Huffman decoding of Layer III main data: a lookup of the first bits of
// each code, then a tree walk for the longer codes.

#include <cstdint>
#include <initializer_list>

#include "decoder/core/bit_reader.h"
#include "decoder/core/generated/huffman_trees.h"

namespace tesk::quor {

// The first kLookupBits bits of a code give either its leaf and length, or,
// for a longer code, the tree node reached after those bits (length 0). The
// entry also holds every bit the code's values take: for a big-values pair
// its code, the escape bits of each value 15 when the table has them, and a
// sign bit per nonzero value; for a count1 quadruple its code and a sign bit
// per nonzero value.
inline constexpr int kLookupBits = 10;

struct LookupEntry {
    std::int16_t value;
    std::uint8_t length;
    std::uint8_t pair_bits;
};

struct HuffmanLookup {
    LookupEntry entries[1 << kLookupBits];
};

// Walks the tree of huffman_tables[table] along every pattern of
// kLookupBits bits.
void build_huffman_lookup(int table, HuffmanLookup& lookup);

// Up to two big-values pairs, codes and sign bits, read from one look at
// the first kPairLookupBits bits of a pair table. The look's fields lie in
// separate arrays by pattern, so that the bits taken, which the next look
// waits for, come from a small one.
inline constexpr int kPairLookupBits = 10;

struct PairLookup {
    // Pairs the pattern holds whole: 0 (the first pair's code, sign bits or
    // escape bits run past it), 1 or 2.
    std::uint8_t pairs[1 << kPairLookupBits];
    std::uint8_t bits[1 << kPairLookupBits];       // the bits the pairs held take
    std::uint8_t first_bits[1 << kPairLookupBits]; // the bits the first pair takes
    // Each value of the pairs held (x then y of the first pair, then of the
    // second) as 2 v, plus 1 when negative; 0 for a zero value and for the
    // values of a second pair not held.
    std::uint8_t values[1 << kPairLookupBits][4];
};

// Tables 0-23 have pair lookups: 0-15 their own, 16-23 one for their
// shared tree (escape values leave the lookup). The codes of tables 24-31
// are too long for a look to hold their pairs often enough to pay.
inline constexpr int kPairLookupCount = 17;
inline constexpr int kFirstTableWithoutPairLookup = 24;
inline constexpr int pair_lookup_index(int table) {
    return table < 16 ? table : 16;
}

// Walks the tree of pair table `table` along every pattern of
// kPairLookupBits bits for the pairs the pattern holds whole.
void build_pair_lookup(int table, PairLookup& lookup);

// The longest code of any table.
inline constexpr int kMaxCodeBits = 19;

// The bits a big-values pair with code `leaf` (x in the high, y in the low
// nibble) takes after a code of `code_bits`.
inline constexpr int pair_bits(int leaf, int code_bits, int linbits) {
    int bits = code_bits;
    for (const int value : {leaf >> 4, leaf & 15}) {
        bits += (value != 0 ? 1 : 0) + (value == 15 ? linbits : 0);
    }
    return bits;
}

// The bits a count1 quadruple with code `leaf` (one flag bit per value)
// takes after a code of `code_bits`.
inline constexpr int quadruple_bits(int leaf, int code_bits) {
    return code_bits + ((leaf >> 3) & 1) + ((leaf >> 2) & 1) + ((leaf >> 1) & 1) + (leaf & 1);
}

// Walks `tree` on from `node`, reached after the first `length` bits of
// the code at the top of `word`, to the code's leaf; `length` grows by the
// bits taken.
inline int walk_code(const std::int16_t* tree, int node, std::uint64_t word, int& length) {
    while (tree[node] < 0) {
        node += ((word << length) >> 63) != 0 ? 1 - tree[node] : 1;
        ++length;
    }
    return tree[node];
}

// Decodes the code at the top of `word`, which holds all of its bits, with
// its first kLookupBits bits looked up at once; `length` is set to the
// number of bits the code takes.
inline int decode_symbol_fast(const std::int16_t* tree, const HuffmanLookup& lookup,
                              std::uint64_t word, int& length) {
    if (tree[0] >= 0) {
        length = 0;
        return tree[0];
    }
    const LookupEntry entry = lookup.entries[word >> (64 - kLookupBits)];
    if (entry.length > 0) {
        length = entry.length;
        return entry.value;
    }
    length = kLookupBits;
    return walk_code(tree, entry.value, word, length);
}

} // namespace tesk::quor
