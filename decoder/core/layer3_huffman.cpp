#include "decoder/core/layer3_huffman.h"

namespace tesk::quor {

void build_huffman_lookup(const std::int16_t* tree, int linbits, HuffmanLookup& lookup) {
    for (int pattern = 0; pattern < (1 << kLookupBits); ++pattern) {
        int node = 0;
        int depth = 0;
        while (tree[node] < 0 && depth < kLookupBits) {
            const int bit = (pattern >> (kLookupBits - 1 - depth)) & 1;
            node += bit != 0 ? 1 - tree[node] : 1;
            ++depth;
        }
        const bool leaf = tree[node] >= 0;
        lookup.entries[pattern] =
            leaf ? LookupEntry{tree[node], static_cast<std::uint8_t>(depth),
                               static_cast<std::uint8_t>(pair_bits(tree[node], depth, linbits))}
                 : LookupEntry{static_cast<std::int16_t>(node), 0, 0};
    }
}

} // namespace tesk::quor
