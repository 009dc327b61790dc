#include "decoder/core/layer3_stereo.h"

#include <algorithm>
#include <cstring>

#include "decoder/core/layer3_tables.h"
#include "decoder/core/simd_path.h"

namespace tesk::quor {
namespace {

constexpr unsigned kMpeg1NotIntensityCoded = 7;

// The right channel's intensity positions and which of them mark a band
// without intensity coding: 7 in MPEG-1 frames, the flags the LSF
// scale-factor reader set in LSF frames.
struct IntensityPositions {
    const unsigned* values;
    const bool* lsf_not_coded;

    bool coded(int entry) const {
        return lsf_not_coded != nullptr ? !lsf_not_coded[entry]
                                        : values[entry] != kMpeg1NotIntensityCoded;
    }
};

// Left and right factors by intensity position for the frame in hand. The
// positions are scale factors of at most 4 bits (MPEG-1) or 5 bits (LSF),
// within the tables.
struct IntensityFactors {
    const double (*factors)[2];

    // Applies position `is_pos` to `count` lines from `first`, `step` apart.
    void apply(double* left, double* right, unsigned is_pos, int first, int count, int step) const {
        const double left_factor = factors[is_pos][0];
        const double right_factor = factors[is_pos][1];
        for (int i = 0, line = first; i < count; ++i, line += step) {
            const double value = left[line];
            left[line] = value * left_factor;
            right[line] = value * right_factor;
        }
    }
};

// A band of the intensity region: its lines and the store entry of its
// position; the top band has no position of its own and reuses the entry of
// the band below it.
struct IntensityBand {
    int first;
    int count;
    int step;
    int entry;
    bool top;
    bool below_in_region; // the band below the top band is intensity-coded too
};

// Returns false when the band would end beyond line 576.
bool apply_band(double* left, double* right, const IntensityPositions& positions,
                const IntensityFactors& factors, const IntensityBand& band) {
    if (band.first + band.step * (band.count - 1) >= kLinesPerGranule) {
        return false;
    }
    unsigned is_pos = positions.values[band.entry];
    if (band.top && positions.lsf_not_coded != nullptr && !band.below_in_region) {
        // LSF: with data in the band below, the top band is coded at position 0.
        is_pos = 0;
    } else if (!positions.coded(band.entry)) {
        return true;
    }
    factors.apply(left, right, is_pos, band.first, band.count, band.step);
    return true;
}

bool long_intensity(double* left, double* right, const IntensityPositions& positions,
                    unsigned first_band, unsigned last_band, const std::int16_t* bands,
                    const IntensityFactors& factors) {
    for (unsigned b = first_band; b <= last_band; ++b) {
        const bool top = b == kLongBands - 1;
        const IntensityBand band{bands[kLongBoundaries + b],
                                 bands[kLongWidths + b],
                                 1,
                                 static_cast<int>(top ? b - 1 : b),
                                 top,
                                 first_band < b};
        if (!apply_band(left, right, positions, factors, band)) {
            return false;
        }
    }
    return true;
}

// `long_bands`: the long bands stored in front of the short ones (those of
// a mixed block, else 0); a mixed block's short bands begin at band 3.
bool short_intensity(double* left, double* right, const IntensityPositions& positions,
                     const GranuleInfo& granule, const std::int16_t* bands, int long_bands,
                     const IntensityFactors& factors) {
    const int short_origin = long_bands > 0 ? long_bands - 3 * 3 : 0;
    for (int w = 0; w < 3; ++w) {
        const int first_band = static_cast<int>(granule.short_band_limit[w]);
        for (int b = first_band; b < kShortBands; ++b) {
            const bool top = b == kShortBands - 1;
            const int coded_band = top ? b - 1 : b;
            const IntensityBand band{bands[kShortBoundaries + b] + w,
                                     bands[kShortWidths + b],
                                     3,
                                     short_origin + 3 * coded_band + w,
                                     top,
                                     first_band < b};
            if (!apply_band(left, right, positions, factors, band)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

namespace {

// Lanes: Lanes4, or Doubles2 for the baseline build's registers.
template <typename Lanes> inline void mid_side_body(double* left, double* right, int lines) {
    for (int i = 0; i < lines; i += lane_count<Lanes>()) {
        Lanes mid;
        Lanes side;
        std::memcpy(&mid, left + i, sizeof mid);
        std::memcpy(&side, right + i, sizeof side);
        const Lanes sum = mid + side;
        const Lanes difference = mid - side;
        std::memcpy(left + i, &sum, sizeof sum);
        std::memcpy(right + i, &difference, sizeof difference);
    }
}

// The mid/side loop once per vector path.
void mid_side_baseline(double* left, double* right, int lines) {
    mid_side_body<Doubles2>(left, right, lines);
}

TESK_QUOR_AVX2 void mid_side_avx2(double* left, double* right, int lines) {
    mid_side_body<Lanes4>(left, right, lines);
}

} // namespace

void mid_side_stereo(double* left, double* right, int lines) {
    static const auto transform = pick_simd(&mid_side_baseline, &mid_side_avx2);
    transform(left, right, std::min((lines + 3) & ~3, kLinesPerGranule));
}

int intensity_stereo(double* left, double* right, const unsigned* right_scale_factors,
                     const bool* lsf_not_coded, const GranuleInfo& right_granule,
                     int sample_rate_index, bool mid_side, bool lsf) {
    const Layer3Tables& tables = layer3_tables();
    const int ms = mid_side ? 1 : 0;
    const IntensityFactors factors{
        lsf ? tables.intensity_lsf[ms][right_granule.scalefac_compress & 1]
            : tables.intensity_mpeg1[ms]};
    const IntensityPositions positions{right_scale_factors, lsf ? lsf_not_coded : nullptr};
    const std::int16_t* bands = band_table_row(sample_rate_index);
    if (right_granule.block_type != 2) {
        return long_intensity(left, right, positions, right_granule.long_band_limit, kLongBands - 1,
                              bands, factors)
                   ? 1
                   : 0;
    }
    const bool mixed = right_granule.mixed_block_flag != 0;
    const int long_bands = mixed ? mixed_long_bands(sample_rate_index) : 0;
    if (!short_intensity(left, right, positions, right_granule, bands, long_bands, factors)) {
        return 0;
    }
    if (mixed && right_granule.short_band_limit[0] <= 3 && right_granule.short_band_limit[1] <= 3 &&
        right_granule.short_band_limit[2] <= 3 &&
        !long_intensity(left, right, positions, right_granule.long_band_limit,
                        static_cast<unsigned>(long_bands - 1), bands, factors)) {
        return 0;
    }
    return 1;
}

} // namespace tesk::quor
