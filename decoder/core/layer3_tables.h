#pragma once

// Immutable tables of the Layer III spectrum decoder, built once per process.

#include <cstdint>

#include "decoder/core/layer3_huffman.h"

namespace tesk::quor {

inline constexpr int kSampleRateRows = 9;
inline constexpr int kPowerTableSize = 8207; // magnitudes up to 15 + 2^13 - 1
inline constexpr int kLongBands = 22;
inline constexpr int kShortBands = 13;
inline constexpr int kLongWindow = 3; // band-walk window of a long band

// One step of a band walk: `pairs` line pairs starting at `first_line`,
// every line (window kLongWindow) or every third line (short windows 0-2).
struct BandWalkEntry {
    std::int16_t pairs;
    std::int16_t first_line;
    std::int8_t window;
    std::int8_t band;
};

struct BandWalk {
    BandWalkEntry entries[3 * kShortBands];
    int size;
};

struct Layer3Tables {
    double power[kPowerTableSize]; // i^(4/3)
    BandWalk long_walk[kSampleRateRows];
    BandWalk short_walk[kSampleRateRows];
    BandWalk mixed_walk[kSampleRateRows];
    std::uint8_t long_subband_limit[kSampleRateRows][kLongBands + 1];
    std::uint8_t short_subband_limit[kSampleRateRows][kShortBands + 1];
    // Intensity factors [mid/side][position][left, right]; the mid/side set
    // carries the factor sqrt(2).
    double intensity_mpeg1[2][16][2];
    // LSF intensity factors [mid/side][intensity scale][position][left, right];
    // LSF positions have up to 5 bits.
    double intensity_lsf[2][2][32][2];
    // IMDCT windows by block type (type 2 uses the first 12 entries); the
    // second set has every odd entry negated, for the odd sub-bands.
    double window[2][4][36];
    // DCT-IV kernels cos(pi / n (j + 1/2)(k + 1/2)) of the 18-point (long)
    // and 6-point (short) transforms behind the IMDCTs.
    double dct4_long[18][18];
    double dct4_short[6][6];
    HuffmanLookup huffman_lookup[huffman_table_count];
    double alias_cs[8];
    double alias_ca[8];
};

const Layer3Tables& layer3_tables();

} // namespace tesk::quor
