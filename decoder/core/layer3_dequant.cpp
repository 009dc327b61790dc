#include "decoder/core/layer3_dequant.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>

#include "decoder/core/layer3_huffman.h"
#include "decoder/core/layer3_tables.h"

namespace tesk::quor {
namespace {

using Doubles2 = double __attribute__((vector_size(2 * sizeof(double))));

// Preemphasis shifts of the long bands, applied when preflag is set.
constexpr unsigned kPretab[kLongBands] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                          1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

// The shift of the granule's scale factors.
int scale_shift(const GranuleInfo& granule) {
    return 1 + static_cast<int>(granule.scalefac_scale);
}

// The gain-table position of long band `band` with scale factor `sf`.
int long_band_gain_position(const GranuleInfo& granule, unsigned sf, int band) {
    const bool pretab = granule.block_type != 2 && granule.preflag != 0;
    const unsigned pt = pretab ? kPretab[band] : 0u;
    return granule.granule_gain + static_cast<int>((sf + pt) << scale_shift(granule));
}

// Walks the bands of a granule pair by pair, giving the line position, the
// step to the next line and the band's dequantisation factor, and keeps
// track of the highest band holding a nonzero value per window.
class BandCursor {
public:
    BandCursor(const BandWalk& walk, ScaleFactors scale_factors, const GranuleInfo& granule,
               bool mixed)
        : walk_(walk), scale_factors_(scale_factors), granule_(granule),
          shift_(scale_shift(granule)) {
        const int start = mixed ? 2 : -1;
        std::fill(std::begin(highest_), std::end(highest_), start);
        highest_[kLongWindow] = -1;
    }

    // Moves on to the next pair; false when the walk or the scale factors
    // run out (a corrupt frame).
    bool next_pair() { return take_pairs(1) == 1; }

    // Takes up to `wanted` pairs of the current entry, starting the next
    // entry when this one is used up; their lines run from position() on at
    // step() apart. Returns how many were taken, 0 when the walk or the
    // scale factors run out (a corrupt frame).
    int take_pairs(int wanted) {
        if (pairs_left_ <= 0 && !start_entry()) {
            return 0;
        }
        const int taken = std::min(wanted, pairs_left_);
        pairs_left_ -= taken;
        run_position_ = position_;
        position_ += 2 * taken * step_;
        return taken;
    }

    // Starts the next entry when the current one is used up; false when the
    // walk or the scale factors run out (a corrupt frame).
    bool open_entry() { return pairs_left_ > 0 || start_entry(); }
    int pairs_left() const { return pairs_left_; }

    // First line of the pairs last taken; step between their lines.
    int position() const { return run_position_; }
    int step() const { return step_; }

    // Line position of the next value of the pairs taken, then advances
    // past it.
    int take_position() {
        const int position = run_position_;
        run_position_ += step_;
        return position;
    }

    double band_value() const { return band_value_; }
    void mark_nonzero() { nonzero_ = true; }
    // A nonzero value at `line`, one of the pairs taken.
    void mark_line(int /*line*/) { mark_nonzero(); }
    // The highest band of the window holding a nonzero value, up to the
    // current pair.
    int highest(int window) {
        record_nonzero();
        return highest_[window];
    }

private:
    bool start_entry() {
        record_nonzero();
        if (++entry_index_ >= walk_.size || entry_index_ >= scale_factors_.end) {
            return false;
        }
        entry_ = &walk_.entries[entry_index_];
        pairs_left_ = entry_->pairs;
        position_ = entry_->first_line;
        step_ = entry_->window == kLongWindow ? 1 : 3;
        band_value_ = gain_value(band_gain_position());
        return true;
    }

    void record_nonzero() {
        if (nonzero_) {
            highest_[entry_->window] = std::max<int>(highest_[entry_->window], entry_->band);
            nonzero_ = false;
        }
    }

    int band_gain_position() const {
        const unsigned sf = scale_factors_.store[entry_index_];
        if (entry_->window == kLongWindow) {
            return long_band_gain_position(granule_, sf, entry_->band);
        }
        return granule_.window_gain[entry_->window] + static_cast<int>(sf << shift_);
    }

    const BandWalk& walk_;
    ScaleFactors scale_factors_;
    const GranuleInfo& granule_;
    int shift_;
    int entry_index_ = -1;
    const BandWalkEntry* entry_ = nullptr;
    int pairs_left_ = 0;
    int position_ = 0;     // first line of the entry's untaken pairs
    int run_position_ = 0; // next line of the pairs taken
    int step_ = 1;
    double band_value_ = 0.0;
    bool nonzero_ = false; // a nonzero value in the current entry, not yet recorded
    int highest_[4];
};

// The lines of a long-block granule as one entry from line 0 to the end of
// its band walk, at step 1 and band value 1: the Huffman runs go from
// region to region without stopping at band boundaries, and
// scale_long_bands scales the bands after. The lines show which values
// are nonzero, but for a value whose sign bit the granule's end cut off,
// which mark_line records.
class FlatCursor {
public:
    explicit FlatCursor(const BandWalk& walk)
        : end_(walk.entries[walk.size - 1].first_line + 2 * walk.entries[walk.size - 1].pairs) {}

    bool next_pair() { return take_pairs(1) == 1; }
    int take_pairs(int wanted) {
        const int taken = std::min(wanted, pairs_left());
        run_position_ = position_;
        position_ += 2 * taken;
        return taken;
    }
    bool open_entry() const { return pairs_left() > 0; }
    int pairs_left() const { return (end_ - position_) / 2; }
    int position() const { return run_position_; }
    static int step() { return 1; }
    int take_position() { return run_position_++; }
    static double band_value() { return 1.0; }
    static void mark_nonzero() {}
    void mark_line(int line) { marked_ = std::max(marked_, line); }

    // The highest line holding a nonzero value or marked, or -1.
    int highest_line(const double* lines) const {
        int line = position_ - 1;
        while (line > marked_ && lines[line] == 0.0) {
            --line;
        }
        return line;
    }

private:
    int end_;
    int position_ = 0;     // the lines up to it are taken
    int run_position_ = 0; // next line of the pairs taken
    int marked_ = -1;
};

// Scales the long bands of the walk up to the one holding `highest_line`
// by their dequantisation factors. Returns the number of bands scaled.
int scale_long_bands(double* lines, int highest_line, const BandWalk& walk,
                     ScaleFactors scale_factors, const GranuleInfo& granule) {
    int band = 0;
    for (; band < walk.size && walk.entries[band].first_line <= highest_line; ++band) {
        const BandWalkEntry& entry = walk.entries[band];
        const double value =
            gain_value(long_band_gain_position(granule, scale_factors.store[band], entry.band));
        double* line = lines + entry.first_line;
        // A pair of lines to a vector.
        for (int i = 0; i < 2 * entry.pairs; i += 2) {
            Doubles2 pair;
            std::memcpy(&pair, line + i, sizeof pair);
            pair *= value;
            std::memcpy(line + i, &pair, sizeof pair);
        }
    }
    return band;
}

// Valid bits of the word after a refill at least.
constexpr int kWordBits = 56;

// The granule's bits as one cached word: the top `count` bits of `word`
// are the next bits of the reader's buffer, and the bit after them starts
// the byte `next_byte`.
//
// A refill tops the word up to kWordBits or more without a branch, from a
// byte position known a refill ahead, so the load never waits for the code
// being decoded.
struct BitCache {
    BitReader buffer;
    std::size_t next_byte;
    std::uint64_t word;
    int count;
};

// Opens the cache at the reader's bit, counting the word's bits up to the
// end of its seventh byte only: the bits below `count` need not be zero but
// must be the buffer's own, as a refill ORs the same bits over them.
BitCache open_cache(const BitReader& reader) {
    const auto count = static_cast<int>(kWordBits - reader.bit_index);
    return {reader, reader.position + 7, bit_reader_detail::peek_word(reader), count};
}

// kInside: the eight bytes at next_byte are known to lie inside the buffer.
template <bool kInside = false> [[gnu::always_inline]] inline void refill(BitCache& cache) {
    std::uint64_t next = 0;
    if constexpr (kInside) {
        std::memcpy(&next, cache.buffer.data + cache.next_byte, sizeof next);
        if constexpr (std::endian::native == std::endian::little) {
            next = __builtin_bswap64(next);
        }
    } else {
        next = bit_reader_detail::word_at(cache.buffer, cache.next_byte);
    }
    cache.word |= next >> cache.count;
    cache.next_byte += static_cast<unsigned>(63 - cache.count) >> 3;
    cache.count |= kWordBits;
}

// Takes n bits (at most `count`).
[[gnu::always_inline]] inline void take_bits(BitCache& cache, int n) {
    cache.word <<= n;
    cache.count -= n;
}

// A pair's code: its leaf, the code's bits and all bits the pair takes.
struct PairCode {
    int leaf;
    int code_bits;
    int all_bits;
};

// Decodes a pair code the lookup entry `entry` does not hold whole: a code
// longer than the lookup, walked on from the entry's node, or the one
// leaf of a table without bits.
[[gnu::always_inline]] inline PairCode decode_long_pair(const std::int16_t* tree, LookupEntry entry,
                                                        int linbits, std::uint64_t word) {
    if (tree[0] >= 0) {
        return {tree[0], 0, pair_bits(tree[0], 0, linbits)};
    }
    int length = kLookupBits;
    const int leaf = walk_code(tree, entry.value, word, length);
    return {leaf, length, pair_bits(leaf, length, linbits)};
}

// The magnitudes i^(4/3) of every value with either sign, at 2 i for the
// positive and 2 i + 1 for the negative one; zero is +0 at both.
const double* signed_powers() {
    static const std::unique_ptr<double[]> table = [] {
        auto powers = std::make_unique<double[]>(2 * kPowerTableSize);
        const double* power = layer3_tables().power;
        for (int i = 1; i < kPowerTableSize; ++i) {
            powers[2 * i] = power[i];
            powers[2 * i + 1] = -power[i];
        }
        return powers;
    }();
    return table.get();
}

// The table of a region and what decoding its pairs needs.
struct PairTable {
    const std::int16_t* tree;
    const LookupEntry* entries;
    const PairLookup* pairs;
    const double* signed_power; // signed_powers()
    int linbits;
};

// The value of a pair's `value` (0-15) whose escape bits, when it has them,
// and sign bit lead `bits`, times 2, plus 1 when it is negative: its index
// in signed_powers(). `escape_bits` is the escape width for a value 15 and
// 0 for others.
inline int signed_index(int value, std::uint64_t bits, int escape_bits) {
    // Shifting in two steps gives 0 without escape bits.
    const auto escape = static_cast<int>((bits >> 1) >> (63 - escape_bits));
    return 2 * (value + escape) + static_cast<int>((bits << escape_bits) >> 63);
}

// Stores the two values of the pair `code` at the top of `word`; escape
// bits are looked for only with tables that have them.
//
// Without branches: a nonzero value's sign bit follows its escape bits, so
// the second value's is the pair's last bit. A zero value has no sign bit
// and stores +0 whatever bit follows it.
template <bool kEscapes>
[[gnu::always_inline]] inline void store_pair(PairCode code, std::uint64_t word,
                                              const PairTable& table, double band_value,
                                              double* line, int step) {
    const int x = code.leaf >> 4;
    const int y = code.leaf & 15;
    const int x_escape = kEscapes && x == 15 ? table.linbits : 0;
    const int y_escape = kEscapes && y == 15 ? table.linbits : 0;
    const std::uint64_t x_bits = word << code.code_bits;
    // A table without bits takes none: the shift is kept in range, and the
    // bit it finds is the sign of no value.
    const std::uint64_t y_bits = word << ((code.all_bits - 1 - y_escape) & 63);
    line[0] = table.signed_power[signed_index(x, x_bits, x_escape)] * band_value;
    line[step] = table.signed_power[signed_index(y, y_bits, y_escape)] * band_value;
}

// Decodes the pair at the top of the cache's word into line[0] and
// line[step] and takes its bits. Returns the pair's leaf (nonzero when a
// value is).
template <bool kEscapes>
[[gnu::always_inline]] inline int decode_pair(BitCache& bits, const PairTable& table,
                                              double band_value, double* line, int step) {
    const LookupEntry entry = table.entries[bits.word >> (64 - kLookupBits)];
    PairCode code{entry.value, entry.length, entry.pair_bits};
    if (code.code_bits == 0) [[unlikely]] {
        code = decode_long_pair(table.tree, entry, table.linbits, bits.word);
    }
    store_pair<kEscapes>(code, bits.word, table, band_value, line, step);
    take_bits(bits, code.all_bits);
    return code.leaf;
}

// The bits from the start of the buffer to the cache's next bit.
std::size_t bit_position(const BitCache& cache) {
    return 8 * cache.next_byte - static_cast<std::size_t>(cache.count);
}

// Stores `count` (2 or 4) values of a look, `values` of the signed
// magnitudes, from line on at `step` apart.
template <int kStep>
[[gnu::always_inline]] inline void store_looked(const PairTable& table, const std::uint8_t* values,
                                                int count, double band_value, double* line,
                                                int step) {
    const double* power = table.signed_power;
    for (int i = 0; i < count; i += 2) {
        if constexpr (kStep == 1) {
            // Two lines to a vector.
            const Doubles2 magnitudes = {power[values[i]], power[values[i + 1]]};
            const Doubles2 products = magnitudes * band_value;
            std::memcpy(line + i, &products, sizeof products);
        } else {
            line[i * step] = power[values[i]] * band_value;
            line[(i + 1) * step] = power[values[i + 1]] * band_value;
        }
    }
}

// Decodes the pairs at the top of the cache's word into line on at `step`
// apart, takes their bits, moves `line` past them and counts them off
// `left`: kTwo (at least two left), the two the pair lookup holds whole,
// or the one it holds, storing zeros in the next pair's lines; else the
// first only. A pair the lookup does not hold is decoded code by code. ORs
// their values into `nonzero`.
//
// A look takes at most kPairLookupBits bits; a pair decoded code by code
// up to 21 bits without escapes and 47 with them, so those refill the
// cache before and after it, leaving the room they found.
template <bool kTwo, bool kEscapes, bool kInside, int kStep>
[[gnu::always_inline]] inline void decode_look(BitCache& bits, const PairTable& table,
                                               double band_value, double*& line, int step,
                                               int& left, unsigned& nonzero) {
    const auto pattern = static_cast<std::size_t>(bits.word >> (64 - kPairLookupBits));
    const PairLookup& lookup = *table.pairs;
    if (lookup.pairs[pattern] == 0) [[unlikely]] {
        if constexpr (kEscapes) {
            refill<kInside>(bits);
        }
        nonzero |=
            static_cast<unsigned>(decode_pair<kEscapes>(bits, table, band_value, line, step));
        if constexpr (kEscapes) {
            refill<kInside>(bits);
        }
        --left;
        line += 2 * step;
        return;
    }
    const std::uint8_t* values = lookup.values[pattern];
    store_looked<kStep>(table, values, kTwo ? 4 : 2, band_value, line, step);
    std::uint32_t held = 0;
    std::memcpy(&held, values, kTwo ? 4 : 2);
    nonzero |= held;
    const int pairs = kTwo ? lookup.pairs[pattern] : 1;
    take_bits(bits, kTwo ? lookup.bits[pattern] : lookup.first_bits[pattern]);
    left -= pairs;
    line += 2 * step * pairs;
}

// Decodes `count` pairs from line on at `step` apart. Returns nonzero when
// a value is. kLooks: through the table's pair lookup, else code by code
// (with escapes, one pair a refill). kInside: every refill reads inside
// the buffer. kStep: the step when known in advance (1, the lines of long
// blocks), else 0.
template <bool kEscapes, bool kLooks, bool kInside, int kStep = 0>
[[gnu::always_inline]] inline unsigned decode_pair_run(BitCache& bits, const PairTable& table,
                                                       double band_value, double* line,
                                                       int runtime_step, int count) {
    // Room for two looks, or two pairs code by code without escapes.
    static_assert(2 * kPairLookupBits <= kWordBits && 2 * 21 <= kWordBits);
    const int step = kStep > 0 ? kStep : runtime_step;
    unsigned nonzero = 0;
    int left = count;
    if constexpr (!kLooks) {
        static_assert(kEscapes);
        for (; left > 0; --left, line += 2 * step) {
            refill<kInside>(bits);
            nonzero |=
                static_cast<unsigned>(decode_pair<kEscapes>(bits, table, band_value, line, step));
        }
        return nonzero;
    }
    while (left > 1) {
        refill<kInside>(bits);
        decode_look<true, kEscapes, kInside, kStep>(bits, table, band_value, line, step, left,
                                                    nonzero);
        if (left < 2) {
            break;
        }
        decode_look<true, kEscapes, kInside, kStep>(bits, table, band_value, line, step, left,
                                                    nonzero);
    }
    if (left > 0) {
        refill<kInside>(bits);
        decode_look<false, kEscapes, kInside, kStep>(bits, table, band_value, line, step, left,
                                                     nonzero);
    }
    return nonzero;
}

// Decodes the big-values pairs of one region, entry by entry of the
// cursor (a band, or the rest of a long-block granule). Returns 0, or
// FRAME_CORRUPT when a pair lies outside the granule.
//
// The lookups give each pair's whole length, so the next code's position
// never waits for the values of this one.
template <bool kEscapes, bool kLooks, typename Cursor>
[[gnu::noinline]] int decode_region_pairs(BitCache& cache, double* lines, Cursor& bands, int pairs,
                                          unsigned table_select, int& used) {
    const Layer3Tables& tables = layer3_tables();
    const PairTable table{
        huffman_tables[table_select].tree, tables.huffman_lookup[table_select].entries,
        kLooks ? &tables.pair_lookup[pair_lookup_index(static_cast<int>(table_select))] : nullptr,
        signed_powers(), huffman_tables[table_select].linbits};
    // A local copy: the stores to the lines cannot change it, so it stays
    // in registers.
    BitCache bits = cache;
    int result = 0;
    for (int done = 0; done < pairs;) {
        const int count = bands.take_pairs(pairs - done);
        const int step = bands.step();
        if (count == 0 || bands.position() + step * (2 * count - 1) >= kLinesPerGranule) {
            result = FRAME_CORRUPT;
            break;
        }
        const double band_value = bands.band_value();
        double* line = lines + bands.position();
        // A refill after b bits of the run reads 8 bytes from at most
        // (b + 63) / 8 bytes past next_byte, and a pair takes 47 bits at
        // most: the refills of the first `inside` pairs read inside the
        // buffer.
        const std::size_t room = bits.buffer.size > bits.next_byte + 16
                                     ? (bits.buffer.size - bits.next_byte - 16) / 8
                                     : 0;
        const int inside = static_cast<int>(std::min<std::size_t>(room, count));
        unsigned nonzero = step == 1
                               ? decode_pair_run<kEscapes, kLooks, true, 1>(bits, table, band_value,
                                                                            line, step, inside)
                               : decode_pair_run<kEscapes, kLooks, true>(bits, table, band_value,
                                                                         line, step, inside);
        if (inside < count) {
            nonzero |= decode_pair_run<kEscapes, kLooks, false>(
                bits, table, band_value, line + 2 * step * inside, step, count - inside);
        }
        if (nonzero != 0) {
            bands.mark_nonzero();
        }
        done += count;
    }
    used += static_cast<int>(bit_position(bits) - bit_position(cache));
    cache = bits;
    return result;
}

// Decodes the big-values pairs of one region. Returns 0, or FRAME_CORRUPT.
template <typename Cursor>
int decode_region(BitCache& cache, double* lines, Cursor& bands, int pairs, unsigned table_select,
                  int& used) {
    if (huffman_tables[table_select].linbits == 0) {
        return decode_region_pairs<false, true>(cache, lines, bands, pairs, table_select, used);
    }
    return table_select < kFirstTableWithoutPairLookup
               ? decode_region_pairs<true, true>(cache, lines, bands, pairs, table_select, used)
               : decode_region_pairs<true, false>(cache, lines, bands, pairs, table_select, used);
}

// The longest count1 quadruple: a 6-bit code and four sign bits.
constexpr int kMaxQuadrupleBits = 10;

// The four values of a quadruple as factors of the band's value, by the
// quadruple's flags (one per value, the first value in bit 7) and the four
// bits after its code (bits 3-0): 0 for a zero value, +1 or -1 for a
// nonzero one by the next of those bits, its sign. Multiplying by +-1 and
// +0 gives the band value with that sign bit exactly, and +0.
constexpr auto kQuadrupleFactors = [] {
    std::array<std::array<double, 4>, 256> factors{};
    for (int flags = 0; flags < 16; ++flags) {
        for (int signs = 0; signs < 16; ++signs) {
            int sign_index = 0;
            for (int i = 0; i < 4; ++i) {
                if (((flags >> (3 - i)) & 1) == 0) {
                    continue;
                }
                const bool negative = ((signs >> (3 - sign_index++)) & 1) != 0;
                factors[16 * flags + signs][i] = negative ? -1.0 : 1.0;
            }
        }
    }
    return factors;
}();

// Decodes `count` quadruples whose lines run from `position` on at `step`
// apart. Returns their flags ORed.
// Adds the bits they take to `used`.
// kInside: every refill reads inside the buffer.
template <bool kInside>
int decode_quadruple_run(BitCache& cache, const HuffmanLookup& lookup, double band_value,
                         double* lines, int position, int step, int count, int& used) {
    BitCache bits = cache;
    int flags_seen = 0;
    double* line = lines + position;
    // Decodes the quadruple at the top of the word into line on.
    const auto decode = [&] {
        const LookupEntry entry = lookup.entries[bits.word >> (64 - kLookupBits)];
        const int flags = entry.value;
        const auto signs = static_cast<int>((bits.word << entry.length) >> 60);
        const auto& factors = kQuadrupleFactors[16 * flags + signs];
        if (step == 1) {
            // Two lines to a vector.
            for (int i = 0; i < 4; i += 2) {
                Doubles2 pair;
                std::memcpy(&pair, &factors[i], sizeof pair);
                pair *= band_value;
                std::memcpy(line + i, &pair, sizeof pair);
            }
        } else {
            for (int i = 0; i < 4; ++i) {
                line[i * step] = factors[i] * band_value;
            }
        }
        take_bits(bits, entry.pair_bits);
        flags_seen |= flags;
        line += 4 * step;
    };
    // A refill leaves room for two quadruples.
    int left = count;
    for (; left >= 2; left -= 2) {
        refill<kInside>(bits);
        decode();
        decode();
    }
    if (left > 0) {
        refill<kInside>(bits);
        decode();
    }
    used += static_cast<int>(bit_position(bits) - bit_position(cache));
    cache = bits;
    return flags_seen;
}

// Stores a pair of a quadruple's values, `factors` of the band's value, at
// the next pair of the band walk. Returns 0, or FRAME_CORRUPT when the walk
// or the granule ends.
template <typename Cursor>
int store_quadruple_pair(const double* factors, double* lines, Cursor& bands) {
    if (bands.take_pairs(1) == 0 || bands.position() + bands.step() >= kLinesPerGranule) {
        return FRAME_CORRUPT;
    }
    lines[bands.position()] = factors[0] * bands.band_value();
    lines[bands.position() + bands.step()] = factors[1] * bands.band_value();
    if (factors[0] != 0.0 || factors[1] != 0.0) {
        bands.mark_nonzero();
    }
    return 0;
}

// Decodes a quadruple whose bits are within the budget and whose second
// pair starts the next band entry. Returns 0, or FRAME_CORRUPT.
template <typename Cursor>
int decode_quadruple_across(BitCache& cache, const HuffmanLookup& lookup, double* lines,
                            Cursor& bands, int& used) {
    refill(cache);
    const LookupEntry entry = lookup.entries[cache.word >> (64 - kLookupBits)];
    const auto signs = static_cast<int>((cache.word << entry.length) >> 60);
    const auto& factors = kQuadrupleFactors[16 * entry.value + signs];
    take_bits(cache, entry.pair_bits);
    used += entry.pair_bits;
    if (store_quadruple_pair(&factors[0], lines, bands) != 0) {
        return FRAME_CORRUPT;
    }
    return store_quadruple_pair(&factors[2], lines, bands);
}

// Decodes one quadruple value by value, stopping where the bits run out.
// Returns 0 to go on, 1 when the bits ran out, or FRAME_CORRUPT.
template <typename Cursor>
int decode_quadruple_within(BitCache& cache, const HuffmanLookup& lookup, double* lines,
                            Cursor& bands, int budget, int& used) {
    refill(cache);
    // Quadruple codes are at most 6 bits: the lookup holds every one.
    const LookupEntry entry = lookup.entries[cache.word >> (64 - kLookupBits)];
    if (entry.length > budget - used) {
        take_bits(cache, budget - used);
        used = budget;
        return 1;
    }
    take_bits(cache, entry.length);
    used += entry.length;
    const int flags = entry.value;
    for (int i = 0; i < 4; ++i) {
        if (i % 2 == 0 && !bands.next_pair()) {
            return FRAME_CORRUPT;
        }
        const int position = bands.take_position();
        if (position >= kLinesPerGranule) {
            return FRAME_CORRUPT;
        }
        if ((flags & (8 >> i)) == 0) {
            continue;
        }
        bands.mark_line(position);
        if (used >= budget) {
            return 1;
        }
        ++used;
        const bool negative = (cache.word >> 63) != 0;
        take_bits(cache, 1);
        lines[position] = negative ? -bands.band_value() : bands.band_value();
    }
    return 0;
}

// Decodes the count1 quadruples while bits remain. Returns 0, or
// FRAME_CORRUPT.
//
// Where a band entry holds whole quadruples and the bits cannot run out
// within them they are decoded as one run; the others go value by value.
template <typename Cursor>
int decode_quadruples(BitCache& cache, double* lines, Cursor& bands, int quadruples,
                      const GranuleInfo& granule, int budget, int& used) {
    const HuffmanLookup& lookup =
        layer3_tables().huffman_lookup[quad_table_a + granule.count1table_select];
    while (quadruples > 0 && used < budget) {
        const int affordable = (budget - used) / kMaxQuadrupleBits;
        if (affordable == 0 || !bands.open_entry()) {
            const int result = decode_quadruple_within(cache, lookup, lines, bands, budget, used);
            if (result != 0) {
                return result == FRAME_CORRUPT ? FRAME_CORRUPT : 0;
            }
            --quadruples;
            continue;
        }
        if (bands.pairs_left() == 1) {
            if (decode_quadruple_across(cache, lookup, lines, bands, used) != 0) {
                return FRAME_CORRUPT;
            }
            --quadruples;
            continue;
        }
        const int run = std::min({quadruples, affordable, bands.pairs_left() / 2});
        bands.take_pairs(2 * run);
        if (bands.position() + bands.step() * (4 * run - 1) >= kLinesPerGranule) {
            return FRAME_CORRUPT;
        }
        // The k-th refill of the run reads 8 bytes from at most
        // (10 k + 63) / 8 bytes past next_byte.
        const std::size_t last_byte = cache.next_byte + 2 * static_cast<std::size_t>(run) + 16;
        const auto decode = last_byte <= cache.buffer.size ? decode_quadruple_run<true>
                                                           : decode_quadruple_run<false>;
        if (decode(cache, lookup, bands.band_value(), lines, bands.position(), bands.step(), run,
                   used) != 0) {
            bands.mark_nonzero();
        }
        quadruples -= run;
    }
    return 0;
}

// Decodes the big values and the quadruples of the granule, counting the
// bits taken in `used`. Returns 0, or FRAME_CORRUPT.
template <typename Cursor>
int decode_lines(BitCache& cache, double* lines, Cursor& bands, const GranuleInfo& granule,
                 int budget, int& used) {
    const HuffmanRegions regions = huffman_regions(granule);
    for (int region = 0; region < 3; ++region) {
        const int result = decode_region(cache, lines, bands, regions.length[region],
                                         granule.table_select[region], used);
        if (result != 0) {
            return result;
        }
    }
    return decode_quadruples(cache, lines, bands, regions.quadruples, granule, budget, used);
}

void record_band_limits(BandCursor& bands, GranuleInfo& granule, int row) {
    const Layer3Tables& tables = layer3_tables();
    granule.long_band_limit = static_cast<unsigned>(bands.highest(kLongWindow) + 1);
    int largest = -1;
    for (int w = 0; w < 3; ++w) {
        const int highest = granule.block_type == 2 ? bands.highest(w) : -1;
        granule.short_band_limit[w] = static_cast<unsigned>(highest + 1);
        largest = std::max(largest, highest);
    }
    granule.active_subbands = largest >= 0
                                  ? tables.short_subband_limit[row][1 + largest]
                                  : tables.long_subband_limit[row][granule.long_band_limit];
}

// decode_lines over the walk's bands, recording the band limits when done.
int decode_by_bands(BitCache& cache, double* lines, const BandWalk& walk,
                    ScaleFactors scale_factors, GranuleInfo& granule, int row, int budget,
                    int& used) {
    const bool mixed = granule.block_type == 2 && granule.mixed_block_flag != 0;
    BandCursor bands(walk, scale_factors, granule, mixed);
    const int result = decode_lines(cache, lines, bands, granule, budget, used);
    if (result == 0) {
        record_band_limits(bands, granule, row);
    }
    return result;
}

// decode_lines of a long-block granule with the lines unscaled, then the
// bands scaled up to the highest holding a nonzero value, which gives the
// band limits.
int decode_long_flat(BitCache& cache, double* lines, const BandWalk& walk,
                     ScaleFactors scale_factors, GranuleInfo& granule, int row, int budget,
                     int& used) {
    FlatCursor flat(walk);
    const int result = decode_lines(cache, lines, flat, granule, budget, used);
    if (result == 0) {
        const int bands =
            scale_long_bands(lines, flat.highest_line(lines), walk, scale_factors, granule);
        granule.long_band_limit = static_cast<unsigned>(bands);
        std::fill(std::begin(granule.short_band_limit), std::end(granule.short_band_limit), 0u);
        granule.active_subbands = layer3_tables().long_subband_limit[row][bands];
    }
    return result;
}

} // namespace

int decode_spectrum(BitReader& reader, double* lines, ScaleFactors scale_factors,
                    GranuleInfo& granule, int sample_rate_index, int part2_length) {
    std::fill(lines, lines + kLinesPerGranule, 0.0);
    const int budget = static_cast<int>(granule.part2_3_length) - part2_length;
    const Layer3Tables& tables = layer3_tables();
    const bool short_blocks = granule.block_type == 2;
    const bool mixed = short_blocks && granule.mixed_block_flag != 0;
    const BandWalk& walk = !short_blocks ? tables.long_walk[sample_rate_index]
                           : mixed       ? tables.mixed_walk[sample_rate_index]
                                         : tables.short_walk[sample_rate_index];
    // Long blocks whose scale factors cover the walk decode without
    // stopping at band boundaries.
    const auto decode =
        !short_blocks && scale_factors.end >= walk.size ? decode_long_flat : decode_by_bands;
    int used = 0;
    BitCache cache = open_cache(reader);
    const int result =
        decode(cache, lines, walk, scale_factors, granule, sample_rate_index, budget, used);
    skip_bits(reader, used);
    if (result != 0) {
        return result;
    }
    if (used > budget) {
        return 1;
    }
    skip_bits(reader, budget - used);
    return 0;
}

} // namespace tesk::quor
