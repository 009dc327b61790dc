#pragma once

// Immutable tables of the Layer III spectrum decoder, built once per process.

#include <cstdint>

#include "decoder/core/layer3_huffman.h"
#include "decoder/core/simd_path.h"

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

// The windows and coefficients of the IMDCT in one precision: Real for one
// sub-band, Lanes for neighbouring sub-bands side by side.
template <typename Real, typename Lanes> struct ImdctTables {
    // Windows by block type (type 2 uses the first 12 entries); the second
    // set has every odd entry negated, for the odd sub-bands.
    Real window[2][4][36];
    // The windows of neighbouring sub-bands from an even one on, side by
    // side: lanes alternate between the two sets above.
    Lanes window_lanes[4][36];
    // The long IMDCT's 18-point DCT-IV, factored: the twiddles
    // 2 cos(pi / 2n (k + 1/2)) that turn an n-point DCT-IV into a DCT-II
    // (n = 18, 9), and the 9-point DCT-II's cos(pi / 9 (n + 1/2) m) for
    // n = 0..3 (the mirrored half of the inputs shares them), by input n
    // for the even outputs m = 0, 2, .. 8 and the odd ones m = 1, 3, 5, 7.
    Real dct4_twiddle_18[18];
    Real dct4_twiddle_9[9];
    Real dct2_9_even[4][5];
    Real dct2_9_odd[4][4];
    // DCT-IV kernel cos(pi / 6 (j + 1/2)(k + 1/2)) of the short IMDCT.
    Real dct4_short[6][6];
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
    // The IMDCT in double precision (four sub-bands side by side) and in
    // single precision (eight).
    ImdctTables<double, Lanes4> imdct;
    ImdctTables<float, Floats8> imdct_single;
    HuffmanLookup huffman_lookup[huffman_table_count];
    PairLookup pair_lookup[kPairLookupCount]; // by pair_lookup_index
    double alias_cs[8];
    double alias_ca[8];
};

const Layer3Tables& layer3_tables();

} // namespace tesk::quor
