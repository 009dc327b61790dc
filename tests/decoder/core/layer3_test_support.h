#pragma once

// Helpers for the Layer III tests: writing bit streams and finding Huffman
// codes in the decoding trees.

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/core/bit_reader.h"
#include "decoder/core/generated/huffman_trees.h"

namespace tesk::quor::testing {

class BitWriter {
public:
    void put(unsigned value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            put_bit((value >> i) & 1u);
        }
    }
    void put_code(const std::string& code) {
        for (char c : code) {
            put_bit(c == '1' ? 1u : 0u);
        }
    }
    int bit_count() const { return bits_; }
    // The bytes written, followed by zero padding for the reader's look-ahead.
    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out = bytes_;
        out.resize(out.size() + 4, 0);
        return out;
    }

private:
    void put_bit(unsigned bit) {
        if (bits_ % 8 == 0) {
            bytes_.push_back(0);
        }
        if (bit != 0) {
            bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80 >> (bits_ % 8)));
        }
        ++bits_;
    }
    std::vector<std::uint8_t> bytes_;
    int bits_ = 0;
};

// The code of `leaf` in table `table`, found by walking the tree.
inline bool find_code(const std::int16_t* tree, int node, int leaf, std::string& path) {
    if (tree[node] >= 0) {
        return tree[node] == leaf;
    }
    path.push_back('0');
    if (find_code(tree, node + 1, leaf, path)) {
        return true;
    }
    path.back() = '1';
    if (find_code(tree, node + 1 - tree[node], leaf, path)) {
        return true;
    }
    path.pop_back();
    return false;
}

inline std::string huffman_code(int table, int leaf) {
    std::string path;
    find_code(huffman_tables[table].tree, 0, leaf, path);
    return path;
}

inline BitReader reader_over(const std::vector<std::uint8_t>& bytes) {
    return BitReader{bytes.data(), bytes.size(), 0, 0};
}

inline int bits_read(const BitReader& reader) {
    return static_cast<int>(reader.position * 8 + reader.bit_index);
}

} // namespace tesk::quor::testing
