#include "decoder/core/layer3_huffman.h"

namespace tesk::quor {

void build_huffman_lookup(const std::int16_t* tree, HuffmanLookup& lookup) {
    for (int pattern = 0; pattern < (1 << kLookupBits); ++pattern) {
        int node = 0;
        int depth = 0;
        while (tree[node] < 0 && depth < kLookupBits) {
            const int bit = (pattern >> (kLookupBits - 1 - depth)) & 1;
            node += bit != 0 ? 1 - tree[node] : 1;
            ++depth;
        }
        lookup.entries[pattern] = tree[node] >= 0
                                      ? LookupEntry{tree[node], static_cast<std::int16_t>(depth)}
                                      : LookupEntry{static_cast<std::int16_t>(node), 0};
    }
}

} // namespace tesk::quor
