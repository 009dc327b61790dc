#include "decoder/core/layer3_stereo.h"

#include "decoder/core/layer3_tables.h"

namespace tesk::quor {
namespace {

constexpr unsigned kNotIntensityCoded = 7;

// Left and right factors by intensity position for the frame in hand. The
// positions are scale factors of at most 4 bits (MPEG-1) or 5 bits (LSF),
// within the tables.
struct IntensityFactors {
    const double (*factors)[2];

    // Applies position `is_pos` to `count` lines from `first`, `step` apart.
    // Returns false when the band would end beyond line 576.
    bool apply(double* left, double* right, unsigned is_pos, int first, int count, int step) const {
        if (first + step * (count - 1) >= kLinesPerGranule) {
            return false;
        }
        if (is_pos == kNotIntensityCoded) {
            return true;
        }
        const double left_factor = factors[is_pos][0];
        const double right_factor = factors[is_pos][1];
        for (int i = 0, line = first; i < count; ++i, line += step) {
            const double value = left[line];
            left[line] = value * left_factor;
            right[line] = value * right_factor;
        }
        return true;
    }
};

bool long_intensity(double* left, double* right, const unsigned* positions, unsigned first_band,
                    unsigned last_band, const std::int16_t* bands, IntensityFactors factors) {
    for (unsigned b = first_band; b <= last_band; ++b) {
        const unsigned is_pos = positions[b < kLongBands - 1 ? b : kLongBands - 2];
        const int first = bands[kLongBoundaries + b];
        if (!factors.apply(left, right, is_pos, first, bands[kLongWidths + b], 1)) {
            return false;
        }
    }
    return true;
}

// `long_bands`: the long bands stored in front of the short ones (those of
// a mixed block, else 0); a mixed block's short bands begin at band 3.
bool short_intensity(double* left, double* right, const unsigned* positions,
                     const GranuleInfo& granule, const std::int16_t* bands, int long_bands,
                     IntensityFactors factors) {
    const int short_origin = long_bands > 0 ? long_bands - 3 * 3 : 0;
    for (int w = 0; w < 3; ++w) {
        for (int b = static_cast<int>(granule.short_band_limit[w]); b < kShortBands; ++b) {
            const int coded_band = b < kShortBands - 1 ? b : kShortBands - 2;
            const unsigned is_pos = positions[short_origin + 3 * coded_band + w];
            const int first = bands[kShortBoundaries + b] + w;
            if (!factors.apply(left, right, is_pos, first, bands[kShortWidths + b], 3)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

void mid_side_stereo(double* left, double* right) {
    for (int i = 0; i < kLinesPerGranule; ++i) {
        const double mid = left[i];
        const double side = right[i];
        left[i] = mid + side;
        right[i] = mid - side;
    }
}

int intensity_stereo(double* left, double* right, const unsigned* right_scale_factors,
                     const GranuleInfo& right_granule, int sample_rate_index, bool mid_side,
                     bool lsf) {
    const Layer3Tables& tables = layer3_tables();
    const int ms = mid_side ? 1 : 0;
    const IntensityFactors factors{
        lsf ? tables.intensity_lsf[ms][right_granule.scalefac_compress & 1]
            : tables.intensity_mpeg1[ms]};
    const std::int16_t* bands = band_table_row(sample_rate_index);
    if (right_granule.block_type != 2) {
        return long_intensity(left, right, right_scale_factors, right_granule.long_band_limit,
                              kLongBands - 1, bands, factors)
                   ? 1
                   : 0;
    }
    const bool mixed = right_granule.mixed_block_flag != 0;
    const int long_bands = mixed ? mixed_long_bands(sample_rate_index) : 0;
    if (!short_intensity(left, right, right_scale_factors, right_granule, bands, long_bands,
                         factors)) {
        return 0;
    }
    if (mixed && right_granule.short_band_limit[0] <= 3 && right_granule.short_band_limit[1] <= 3 &&
        right_granule.short_band_limit[2] <= 3 &&
        !long_intensity(left, right, right_scale_factors, right_granule.long_band_limit,
                        static_cast<unsigned>(long_bands - 1), bands, factors)) {
        return 0;
    }
    return 1;
}

} // namespace tesk::quor
