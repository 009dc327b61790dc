#include "decoder/core/layer3_huffman.h"

namespace tesk::quor {

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

} // namespace tesk::quor
