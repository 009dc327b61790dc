#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
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
        HuffmanLookup lookup;
        build_huffman_lookup(table, lookup);
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

// A pair code with its sign bits, x negative and y positive (or the other
// way round), its values as the pair lookup gives them (2 v, plus 1 when
// negative) and whether it has escape bits.
struct SignedPair {
    std::string bits;
    int values[2];
    bool escapes;
};

SignedPair signed_pair(const ListedCode& code, bool x_negative, bool escape_table) {
    SignedPair pair{code.bits, {0, 0}, false};
    const int magnitudes[2] = {code.value >> 4, code.value & 15};
    for (int i = 0; i < 2; ++i) {
        const bool negative = (i == 0) == x_negative;
        pair.escapes = pair.escapes || (escape_table && magnitudes[i] == 15);
        if (magnitudes[i] != 0) {
            pair.bits += negative ? "1" : "0";
            pair.values[i] = 2 * magnitudes[i] + (negative ? 1 : 0);
        }
    }
    return pair;
}

// Every two listed pairs of a table, ones after them: the look holds the
// first when its code and signs fit and it has no escape bits, the second
// too when both fit.
TEST_F(HuffmanListing, PairLookupHoldsThePairsThatFitWithTheirSigns) {
    auto lookup = std::make_unique<PairLookup>();
    for (int table = 0; table < kFirstTableWithoutPairLookup; ++table) {
        build_pair_lookup(table, *lookup);
        const bool escape_table = huffman_tables[table].linbits > 0;
        for (const ListedCode& first_code : own_codes(table).codes) {
            const SignedPair first = signed_pair(first_code, true, escape_table);
            const bool first_held = !first.escapes && first.bits.size() <= kPairLookupBits;
            for (const ListedCode& second_code : own_codes(table).codes) {
                const SignedPair second = signed_pair(second_code, false, escape_table);
                const std::string bits =
                    first.bits + second.bits + std::string(kPairLookupBits, '1');
                const int pattern = std::stoi(bits.substr(0, kPairLookupBits), nullptr, 2);
                const bool second_held = first_held && !second.escapes &&
                                         first.bits.size() + second.bits.size() <= kPairLookupBits;
                const std::string where = "table " + std::to_string(table) + " codes " + bits;
                ASSERT_EQ(lookup->pairs[pattern], (first_held ? 1 : 0) + (second_held ? 1 : 0))
                    << where;
                if (!first_held) {
                    break;
                }
                EXPECT_EQ(lookup->first_bits[pattern], first.bits.size()) << where;
                EXPECT_EQ(lookup->bits[pattern],
                          first.bits.size() + (second_held ? second.bits.size() : 0))
                    << where;
                const int* values[2] = {first.values, second.values};
                for (int v = 0; v < 4; ++v) {
                    const int expected = v < 2 || second_held ? values[v / 2][v % 2] : 0;
                    EXPECT_EQ(lookup->values[pattern][v], expected) << where << " value " << v;
                }
            }
        }
    }
}

} // namespace
} // namespace tesk::quor
