#include "decoder/core/layer3_huffman.h"

namespace tesk::quor {
namespace {

// A big-values pair read from a pattern of kPairLookupBits bits.
struct PatternPair {
    bool whole = false; // its code, escape-free values and sign bits lie in the pattern
    int bits = 0;
    int values[2] = {0, 0}; // x and y: 2 v, plus 1 when negative
};

// The pair whose code starts `offset` bits into `pattern`.
PatternPair pair_in_pattern(const std::int16_t* tree, bool escapes, int pattern, int offset) {
    const auto bit_at = [pattern](int position) {
        return position < kPairLookupBits ? (pattern >> (kPairLookupBits - 1 - position)) & 1 : 0;
    };
    int node = 0;
    int position = offset;
    while (tree[node] < 0 && position < kPairLookupBits) {
        node += bit_at(position) != 0 ? 1 - tree[node] : 1;
        ++position;
    }
    if (tree[node] < 0) {
        return {false, 0, {0, 0}};
    }
    PatternPair pair{true, 0, {0, 0}};
    const int magnitudes[2] = {tree[node] >> 4, tree[node] & 15};
    for (int i = 0; i < 2; ++i) {
        pair.whole = pair.whole && !(escapes && magnitudes[i] == 15);
        pair.values[i] = magnitudes[i] == 0 ? 0 : 2 * magnitudes[i] + bit_at(position++);
    }
    pair.bits = position - offset;
    pair.whole = pair.whole && position <= kPairLookupBits;
    return pair;
}

} // namespace

void build_huffman_lookup(int table, HuffmanLookup& lookup) {
    const std::int16_t* tree = huffman_tables[table].tree;
    const int linbits = huffman_tables[table].linbits;
    const bool quadruples = table >= quad_table_a;
    for (int pattern = 0; pattern < (1 << kLookupBits); ++pattern) {
        int node = 0;
        int depth = 0;
        while (tree[node] < 0 && depth < kLookupBits) {
            const int bit = (pattern >> (kLookupBits - 1 - depth)) & 1;
            node += bit != 0 ? 1 - tree[node] : 1;
            ++depth;
        }
        if (tree[node] < 0) {
            lookup.entries[pattern] = LookupEntry{static_cast<std::int16_t>(node), 0, 0};
            continue;
        }
        const int all_bits =
            quadruples ? quadruple_bits(tree[node], depth) : pair_bits(tree[node], depth, linbits);
        lookup.entries[pattern] = LookupEntry{tree[node], static_cast<std::uint8_t>(depth),
                                              static_cast<std::uint8_t>(all_bits)};
    }
}

void build_pair_lookup(int table, PairLookup& lookup) {
    const std::int16_t* tree = huffman_tables[table].tree;
    const bool escapes = huffman_tables[table].linbits > 0;
    for (int pattern = 0; pattern < (1 << kPairLookupBits); ++pattern) {
        const PatternPair first = pair_in_pattern(tree, escapes, pattern, 0);
        const PatternPair second =
            first.whole ? pair_in_pattern(tree, escapes, pattern, first.bits) : PatternPair{};
        const PatternPair* held[2] = {&first, &second};
        int pairs = 0;
        int bits = 0;
        for (int i = 0; i < 2; ++i) {
            if (held[i]->whole && pairs == i) {
                ++pairs;
                bits += held[i]->bits;
            }
            for (int v = 0; v < 2; ++v) {
                lookup.values[pattern][2 * i + v] =
                    static_cast<std::uint8_t>(pairs > i ? held[i]->values[v] : 0);
            }
        }
        lookup.pairs[pattern] = static_cast<std::uint8_t>(pairs);
        lookup.bits[pattern] = static_cast<std::uint8_t>(bits);
        lookup.first_bits[pattern] = static_cast<std::uint8_t>(first.bits);
    }
}

} // namespace tesk::quor
