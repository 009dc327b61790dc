#include "decoder/core/layer3_dequant.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>

#include "decoder/core/layer3_huffman.h"
#include "decoder/core/layer3_tables.h"

namespace tesk::quor {
namespace {

// Preemphasis shifts of the long bands, applied when preflag is set.
constexpr unsigned kPretab[kLongBands] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                          1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

// Walks the bands of a granule pair by pair, giving the line position, the
// step to the next line and the band's dequantisation factor, and keeps
// track of the highest band holding a nonzero value per window.
class BandCursor {
public:
    BandCursor(const BandWalk& walk, ScaleFactors scale_factors, const GranuleInfo& granule,
               bool mixed)
        : walk_(walk), scale_factors_(scale_factors), granule_(granule),
          pretab_(granule.block_type != 2 && granule.preflag != 0),
          shift_(1 + static_cast<int>(granule.scalefac_scale)) {
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
            const unsigned pt = pretab_ ? kPretab[entry_->band] : 0u;
            return granule_.granule_gain + static_cast<int>((sf + pt) << shift_);
        }
        return granule_.window_gain[entry_->window] + static_cast<int>(sf << shift_);
    }

    const BandWalk& walk_;
    ScaleFactors scale_factors_;
    const GranuleInfo& granule_;
    bool pretab_;
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

// One run of big-values pairs inside a band: the table, the band's factor
// and where the values go.
struct PairRun {
    const HuffmanTable& table;
    const HuffmanLookup& lookup;
    const double* power;
    double band_value;
    double* lines;
    int position;
    int step;
    int pairs;
};

// Stores the two values of a pair whose code has been taken from the top of
// `word`; escape bits are looked for only with tables that have them.
// Returns nonzero when a value is.
template <bool kEscapes>
int store_pair(int leaf, std::uint64_t word, int linbits, const double* power, double band_value,
               double* lines, int position, int step) {
    int nonzero = 0;
    for (int value : {leaf >> 4, leaf & 15}) {
        if (kEscapes && value == 15) {
            value += static_cast<int>(word >> (64 - linbits));
            word <<= linbits;
        }
        // Without branches: a nonzero value takes the next bit as its sign,
        // a zero one stores +0 and takes no bit.
        const auto sign_bits = static_cast<int>(value != 0);
        const std::uint64_t sign = word & (static_cast<std::uint64_t>(sign_bits) << 63);
        lines[position] =
            std::bit_cast<double>(std::bit_cast<std::uint64_t>(power[value] * band_value) ^ sign);
        word <<= sign_bits;
        nonzero |= value;
        position += step;
    }
    return nonzero;
}

// Decodes the pairs of a run, whose lines all lie inside the granule.
// Returns nonzero when a value is.
//
// The bits stay in one word that is read again only when fewer remain than
// the longest pair can take; the lookup gives each pair's whole length, so
// the next code's position never waits for the values of this one.
template <bool kEscapes> int decode_pairs(BitReader& reader, const PairRun& run, int& used) {
    constexpr int kWordBits = 56; // valid bits of a freshly read word at least
    const int linbits = run.table.linbits;
    const int longest_pair = kMaxCodeBits + 2 * (1 + (kEscapes ? linbits : 0));
    // Local copies: the stores to the lines cannot change them, so they
    // stay in registers.
    BitReader bits = reader;
    const std::int16_t* tree = run.table.tree;
    const HuffmanLookup& lookup = run.lookup;
    const double* power = run.power;
    const double band_value = run.band_value;
    double* lines = run.lines;
    const int step = run.step;
    int position = run.position;
    std::uint64_t word = bit_reader_detail::peek_word(bits);
    int word_taken = 0;
    int taken_by_run = 0;
    int nonzero = 0;
    for (int pair = 0; pair < run.pairs; ++pair) {
        if (word_taken > kWordBits - longest_pair) {
            skip_bits(bits, word_taken);
            taken_by_run += word_taken;
            word_taken = 0;
            word = bit_reader_detail::peek_word(bits);
        }
        int code_bits = 0;
        int all_bits = 0;
        const int leaf = decode_pair_fast(tree, lookup, linbits, word, code_bits, all_bits);
        nonzero |= store_pair<kEscapes>(leaf, word << code_bits, linbits, power, band_value, lines,
                                        position, step);
        word <<= all_bits;
        word_taken += all_bits;
        position += 2 * step;
    }
    skip_bits(bits, word_taken);
    reader = bits;
    used += taken_by_run + word_taken;
    return nonzero;
}

// Decodes the big-values pairs of one region. Returns 0, or FRAME_CORRUPT.
int decode_region(BitReader& reader, double* lines, BandCursor& bands, int pairs,
                  unsigned table_select, int& used) {
    const HuffmanTable& table = huffman_tables[table_select];
    const HuffmanLookup& lookup = layer3_tables().huffman_lookup[table_select];
    const double* power = layer3_tables().power;
    const auto decode = table.linbits > 0 ? decode_pairs<true> : decode_pairs<false>;
    for (int done = 0; done < pairs;) {
        const int count = bands.take_pairs(pairs - done);
        const PairRun run{table, lookup,           power,        bands.band_value(),
                          lines, bands.position(), bands.step(), count};
        // Every line of the run lies inside the granule, or the frame is
        // corrupt.
        if (count == 0 || run.position + run.step * (2 * count - 1) >= kLinesPerGranule) {
            return FRAME_CORRUPT;
        }
        if (decode(reader, run, used) != 0) {
            bands.mark_nonzero();
        }
        done += count;
    }
    return 0;
}

// Decodes the count1 quadruples while bits remain. Returns 0, or
// FRAME_CORRUPT.
int decode_quadruples(BitReader& reader, double* lines, BandCursor& bands, int quadruples,
                      const GranuleInfo& granule, int budget, int& used) {
    const unsigned table = quad_table_a + granule.count1table_select;
    const std::int16_t* tree = huffman_tables[table].tree;
    const HuffmanLookup& lookup = layer3_tables().huffman_lookup[table];
    for (; quadruples > 0 && used < budget; --quadruples) {
        const int flags = decode_symbol_within_fast(tree, lookup, reader, budget - used, used);
        if (flags < 0) {
            return 0;
        }
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
            bands.mark_nonzero();
            if (used >= budget) {
                return 0;
            }
            ++used;
            lines[position] = read_bit(reader) != 0 ? -bands.band_value() : bands.band_value();
        }
    }
    return 0;
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

} // namespace

int decode_spectrum(BitReader& reader, double* lines, ScaleFactors scale_factors,
                    GranuleInfo& granule, int sample_rate_index, int part2_length) {
    std::fill(lines, lines + kLinesPerGranule, 0.0);
    const int budget = static_cast<int>(granule.part2_3_length) - part2_length;
    const HuffmanRegions regions = huffman_regions(granule);
    const Layer3Tables& tables = layer3_tables();
    const bool short_blocks = granule.block_type == 2;
    const bool mixed = short_blocks && granule.mixed_block_flag != 0;
    const BandWalk& walk = !short_blocks ? tables.long_walk[sample_rate_index]
                           : mixed       ? tables.mixed_walk[sample_rate_index]
                                         : tables.short_walk[sample_rate_index];
    BandCursor bands(walk, scale_factors, granule, mixed);
    int used = 0;
    for (int region = 0; region < 3; ++region) {
        const int result = decode_region(reader, lines, bands, regions.length[region],
                                         granule.table_select[region], used);
        if (result != 0) {
            return result;
        }
    }
    if (decode_quadruples(reader, lines, bands, regions.quadruples, granule, budget, used) != 0) {
        return FRAME_CORRUPT;
    }
    record_band_limits(bands, granule, sample_rate_index);
    if (used > budget) {
        return 1;
    }
    skip_bits(reader, budget - used);
    return 0;
}

} // namespace tesk::quor
