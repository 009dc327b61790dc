#include "decoder/core/layer3_tables.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "decoder/core/layer3_side_info.h"

namespace tesk::quor {
namespace {

constexpr double kPi = std::numbers::pi;

// Alias-reduction coefficients of the standard.
constexpr double kAliasCoefficients[8] = {-0.6,   -0.535, -0.33,   -0.185,
                                          -0.095, -0.041, -0.0142, -0.0037};

struct BandRow {
    const std::int16_t* row;
    int long_boundary(int band) const { return row[kLongBoundaries + band]; }
    int long_width(int band) const { return row[kLongWidths + band]; }
    // Short-band boundary per window, before the multiplication by 3.
    int short_boundary(int band) const { return row[kShortBoundaries + band] / 3; }
    int short_width(int band) const { return row[kShortWidths + band]; }
};

void build_long_walk(const BandRow& bands, BandWalk& walk) {
    walk.size = kLongBands;
    for (int b = 0; b < kLongBands; ++b) {
        walk.entries[b] = {static_cast<std::int16_t>(bands.long_width(b) / 2),
                           static_cast<std::int16_t>(bands.long_boundary(b)), kLongWindow,
                           static_cast<std::int8_t>(b)};
    }
}

// Appends the short bands from `first_band` on, three windows each; the
// lines of band b in window w start at origin + 3 (S[b] - S[first_band]) + w.
void append_short_bands(const BandRow& bands, int first_band, int origin, BandWalk& walk) {
    for (int b = first_band; b < kShortBands; ++b) {
        for (int w = 0; w < 3; ++w) {
            const int first =
                origin + 3 * (bands.short_boundary(b) - bands.short_boundary(first_band)) + w;
            walk.entries[walk.size++] = {static_cast<std::int16_t>(bands.short_width(b) / 2),
                                         static_cast<std::int16_t>(first),
                                         static_cast<std::int8_t>(w), static_cast<std::int8_t>(b)};
        }
    }
}

void build_mixed_walk(const BandRow& bands, int long_bands, BandWalk& walk) {
    walk.size = 0;
    for (int b = 0; b < long_bands; ++b) {
        walk.entries[walk.size++] = {static_cast<std::int16_t>(bands.long_width(b) / 2),
                                     static_cast<std::int16_t>(bands.long_boundary(b)), kLongWindow,
                                     static_cast<std::int8_t>(b)};
    }
    append_short_bands(bands, 3, bands.long_boundary(long_bands), walk);
}

void build_band_tables(Layer3Tables& t) {
    for (int row = 0; row < kSampleRateRows; ++row) {
        const BandRow bands{band_table_row(row)};
        build_long_walk(bands, t.long_walk[row]);
        t.short_walk[row].size = 0;
        append_short_bands(bands, 0, 0, t.short_walk[row]);
        build_mixed_walk(bands, mixed_long_bands(row), t.mixed_walk[row]);
        for (int i = 0; i <= kLongBands; ++i) {
            t.long_subband_limit[row][i] =
                static_cast<std::uint8_t>(std::min(32, (bands.long_boundary(i) + 7) / 18 + 1));
        }
        for (int i = 0; i <= kShortBands; ++i) {
            t.short_subband_limit[row][i] =
                static_cast<std::uint8_t>(std::min(32, (3 * bands.short_boundary(i) - 1) / 18 + 1));
        }
    }
}

// LSF factors: k = 2^(-(scale + 1) / 4); odd positions p scale the left
// channel by k^((p + 1) / 2), even positions above 0 the right by k^(p / 2).
void build_lsf_intensity_factors(Layer3Tables& t) {
    for (int scale = 0; scale < 2; ++scale) {
        const double k = std::pow(2.0, -(scale + 1) / 4.0);
        for (int p = 0; p < 32; ++p) {
            double(&factors)[2] = t.intensity_lsf[0][scale][p];
            factors[0] = p % 2 == 1 ? std::pow(k, (p + 1) / 2) : 1.0;
            factors[1] = p % 2 == 0 && p > 0 ? std::pow(k, p / 2) : 1.0;
            for (int side = 0; side < 2; ++side) {
                t.intensity_lsf[1][scale][p][side] = factors[side] * std::numbers::sqrt2;
            }
        }
    }
}

// MPEG-1 factors: t = tan(p pi / 12), left t / (1 + t), right 1 / (1 + t).
void build_mpeg1_intensity_factors(Layer3Tables& t) {
    for (int p = 0; p < 16; ++p) {
        const double tangent = std::tan(p * kPi / 12.0);
        double(&factors)[2] = t.intensity_mpeg1[0][p];
        factors[0] = tangent / (1.0 + tangent);
        factors[1] = 1.0 / (1.0 + tangent);
        for (int side = 0; side < 2; ++side) {
            t.intensity_mpeg1[1][p][side] = factors[side] * std::numbers::sqrt2;
        }
    }
}

double long_window_entry(int i) {
    return std::sin(kPi / 36.0 * (i + 0.5));
}
double short_window_entry(int i) {
    return std::sin(kPi / 12.0 * (i + 0.5));
}

// The standard's IMDCT windows for block types 0 (normal), 1 (start),
// 2 (short) and 3 (stop).
void build_plain_windows(double (&plain)[4][36]) {
    for (int i = 0; i < 36; ++i) {
        plain[0][i] = long_window_entry(i);
        plain[2][i] = i < 12 ? short_window_entry(i) : 0.0;
    }
    for (int i = 0; i < 18; ++i) {
        plain[1][i] = long_window_entry(i);
        plain[3][i + 18] = long_window_entry(i + 18);
    }
    for (int i = 18; i < 36; ++i) {
        plain[1][i] = i < 24 ? 1.0 : (i < 30 ? short_window_entry(i - 18) : 0.0);
    }
    for (int i = 0; i < 18; ++i) {
        plain[3][i] = i < 6 ? 0.0 : (i < 12 ? short_window_entry(i - 6) : 1.0);
    }
}

template <typename Real, typename Lanes> void build_windows(ImdctTables<Real, Lanes>& t) {
    double plain[4][36];
    build_plain_windows(plain);
    constexpr int lanes = sizeof(Lanes) / sizeof(Real);
    for (int type = 0; type < 4; ++type) {
        for (int i = 0; i < 36; ++i) {
            const double odd = i % 2 == 1 ? -plain[type][i] : plain[type][i];
            t.window[0][type][i] = static_cast<Real>(plain[type][i]);
            t.window[1][type][i] = static_cast<Real>(odd);
            for (int lane = 0; lane < lanes; ++lane) {
                t.window_lanes[type][i][lane] = t.window[lane % 2][type][i];
            }
        }
    }
}

template <typename Real, typename Lanes> void build_imdct_tables(ImdctTables<Real, Lanes>& t) {
    build_windows(t);
    for (int k = 0; k < 18; ++k) {
        t.dct4_twiddle_18[k] = static_cast<Real>(2.0 * std::cos(kPi / 36.0 * (k + 0.5)));
    }
    for (int k = 0; k < 9; ++k) {
        t.dct4_twiddle_9[k] = static_cast<Real>(2.0 * std::cos(kPi / 18.0 * (k + 0.5)));
    }
    for (int n = 0; n < 4; ++n) {
        for (int m = 0; m < 9; ++m) {
            const auto cosine = static_cast<Real>(std::cos(kPi / 9.0 * (n + 0.5) * m));
            if (m % 2 == 0) {
                t.dct2_9_even[n][m / 2] = cosine;
            } else {
                t.dct2_9_odd[n][m / 2] = cosine;
            }
        }
    }
    for (int j = 0; j < 6; ++j) {
        for (int k = 0; k < 6; ++k) {
            t.dct4_short[j][k] = static_cast<Real>(std::cos(kPi / 6.0 * (j + 0.5) * (k + 0.5)));
        }
    }
}

void build_alias_tables(Layer3Tables& t) {
    for (int i = 0; i < 8; ++i) {
        const double c = kAliasCoefficients[i];
        t.alias_cs[i] = 1.0 / std::sqrt(1.0 + c * c);
        t.alias_ca[i] = c / std::sqrt(1.0 + c * c);
    }
}

std::unique_ptr<Layer3Tables> build_tables() {
    auto tables = std::make_unique<Layer3Tables>();
    for (int i = 0; i < kPowerTableSize; ++i) {
        tables->power[i] = std::pow(static_cast<double>(i), 4.0 / 3.0);
    }
    build_band_tables(*tables);
    build_mpeg1_intensity_factors(*tables);
    build_lsf_intensity_factors(*tables);
    build_imdct_tables(tables->imdct);
    build_imdct_tables(tables->imdct_single);
    build_alias_tables(*tables);
    for (int table = 0; table < huffman_table_count; ++table) {
        build_huffman_lookup(table, tables->huffman_lookup[table]);
    }
    for (int table = 0; table < kFirstTableWithoutPairLookup; ++table) {
        build_pair_lookup(table, tables->pair_lookup[pair_lookup_index(table)]);
    }
    return tables;
}

} // namespace

const Layer3Tables& layer3_tables() {
    static const std::unique_ptr<Layer3Tables> tables = build_tables();
    return *tables;
}

} // namespace tesk::quor
