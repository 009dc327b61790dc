#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "decoder/core/layer3_huffman.h"

namespace tesk::quor {
namespace {

struct ListedCode {
    std::string bits;
    int value;
};

struct ListedTable {
    int linbits = 0;
    int reference = -1;
    std::vector<ListedCode> codes;
};

std::filesystem::path listing_path() {
    return std::filesystem::path(TESK_QUOR_SHARED_DIR) / "iso-tables" / "huffcode";
}

// Reads the Huffman code listing: `.table N xlen ylen linbits`, `.reference M`,
// and lines `x y hlen code` (pairs) or `value hlen code` (quadruples).
std::map<int, ListedTable> read_listing() {
    std::map<int, ListedTable> tables;
    std::ifstream in(listing_path());
    std::string line;
    ListedTable* current = nullptr;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) {
            words.push_back(word);
        }
        if (words.empty() || words[0] == ".end") {
            continue;
        }
        if (words[0] == ".table") {
            current = &tables[std::stoi(words[1])];
            current->linbits = std::stoi(words[4]);
        } else if (words[0] == ".reference") {
            current->reference = std::stoi(words[1]);
        } else if (words.size() == 4) {
            current->codes.push_back({words[3], (std::stoi(words[0]) << 4) | std::stoi(words[1])});
        } else if (words.size() == 3) {
            current->codes.push_back({words[2], std::stoi(words[0])});
        }
    }
    return tables;
}

std::vector<unsigned char> pack_bits(const std::string& bits) {
    std::vector<unsigned char> bytes(bits.size() / 8 + 3, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') {
            bytes[i / 8] |= static_cast<unsigned char>(0x80 >> (i % 8));
        }
    }
    return bytes;
}

// Size of the subtree at `node`, checking that every inner node's offset
// skips exactly its 0 subtree; counts the leaves on the way.
int subtree_size(const std::int16_t* tree, int node, int& leaves) {
    if (tree[node] >= 0) {
        ++leaves;
        return 1;
    }
    const int zero = subtree_size(tree, node + 1, leaves);
    EXPECT_EQ(-tree[node], zero) << "inner node " << node;
    return 1 + zero + subtree_size(tree, node + 1 + zero, leaves);
}

class HuffmanListing : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(listing_path())) {
            GTEST_SKIP() << "Huffman code listing not found at " << listing_path();
        }
        tables_ = read_listing();
        ASSERT_EQ(tables_.size(), 34u) << "the listing should hold tables 0 to 33";
    }
    const ListedTable& own_codes(int table) const {
        const ListedTable& listed = tables_.at(table);
        return listed.reference >= 0 ? tables_.at(listed.reference) : listed;
    }
    std::map<int, ListedTable> tables_;
};

TEST_F(HuffmanListing, EveryCodeDecodesToItsValueWithItsLength) {
    for (int table = 0; table < huffman_table_count; ++table) {
        for (const ListedCode& code : own_codes(table).codes) {
            const std::vector<unsigned char> bytes = pack_bits(code.bits);
            BitReader reader{bytes.data(), bytes.size(), 0, 0};
            int bits = 0;
            EXPECT_EQ(decode_symbol_within(huffman_tables[table].tree, reader, 64, bits),
                      code.value)
                << "table " << table << " code " << code.bits;
            EXPECT_EQ(bits, static_cast<int>(code.bits.size()))
                << "table " << table << " code " << code.bits;
        }
    }
}

TEST_F(HuffmanListing, LookupDecodingTakesTheSameBitsAsTheTreeWalk) {
    for (int table = 0; table < huffman_table_count; ++table) {
        HuffmanLookup lookup;
        build_huffman_lookup(huffman_tables[table].tree, huffman_tables[table].linbits, lookup);
        for (const ListedCode& code : own_codes(table).codes) {
            // The code starts three bits into a byte and ones follow it, so
            // that short codes see other bits in the rest of the pattern.
            const std::vector<unsigned char> bytes =
                pack_bits("101" + code.bits + "1111111111111111");
            const BitReader reader{bytes.data(), bytes.size(), 0, 3};
            int bits = 0;
            EXPECT_EQ(decode_symbol_fast(huffman_tables[table].tree, lookup,
                                         bit_reader_detail::peek_word(reader), bits),
                      code.value)
                << "table " << table << " code " << code.bits;
            EXPECT_EQ(bits, static_cast<int>(code.bits.size()))
                << "table " << table << " code " << code.bits;
            EXPECT_LE(bits, kMaxCodeBits) << "table " << table << " code " << code.bits;
        }
    }
}

TEST_F(HuffmanListing, EveryTreeIsCompleteWithOneLeafPerCode) {
    for (int table = 0; table < huffman_table_count; ++table) {
        const std::size_t codes = own_codes(table).codes.size();
        int leaves = 0;
        const int size = subtree_size(huffman_tables[table].tree, 0, leaves);
        if (codes == 0) {
            EXPECT_EQ(size, 1) << "table " << table << " should be a single leaf";
            EXPECT_EQ(huffman_tables[table].tree[0], 0) << "table " << table;
            continue;
        }
        EXPECT_EQ(static_cast<std::size_t>(leaves), codes) << "table " << table;
        EXPECT_EQ(size, 2 * leaves - 1) << "table " << table;
    }
}

TEST_F(HuffmanListing, EscapeWidthsFollowTheListing) {
    for (int table = 0; table < huffman_table_count; ++table) {
        EXPECT_EQ(huffman_tables[table].linbits, tables_.at(table).linbits) << "table " << table;
    }
}

TEST(HuffmanTrees, SharedTreesAndTheEmptyTables) {
    for (int table : {4, 14}) {
        EXPECT_EQ(huffman_tables[table].tree, huffman_tables[0].tree) << "table " << table;
    }
    for (int table = 17; table <= 23; ++table) {
        EXPECT_EQ(huffman_tables[table].tree, huffman_tables[16].tree) << "table " << table;
    }
    for (int table = 25; table <= 31; ++table) {
        EXPECT_EQ(huffman_tables[table].tree, huffman_tables[24].tree) << "table " << table;
    }
    const unsigned char ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    BitReader reader{ones, sizeof ones, 0, 3};
    int bits = 0;
    EXPECT_EQ(decode_symbol_within(huffman_tables[0].tree, reader, 64, bits), 0);
    EXPECT_EQ(bits, 0);
    EXPECT_EQ(reader.position, 0u);
    EXPECT_EQ(reader.bit_index, 3u);
}

TEST(HuffmanTrees, BoundedWalkStopsWhenTheBudgetRunsOut) {
    // In quadruple table A the code 0000 01 (six bits) is value 15.
    const unsigned char code[4] = {0x04, 0, 0, 0};
    BitReader reader{code, sizeof code, 0, 0};
    int bits = 0;
    EXPECT_EQ(decode_symbol_within(huffman_tables[quad_table_a].tree, reader, 5, bits), -1);
    EXPECT_EQ(bits, 5);
    reader = BitReader{code, sizeof code, 0, 0};
    bits = 0;
    EXPECT_EQ(decode_symbol_within(huffman_tables[quad_table_a].tree, reader, 6, bits), 15);
    EXPECT_EQ(bits, 6);
}

} // namespace
} // namespace tesk::quor
