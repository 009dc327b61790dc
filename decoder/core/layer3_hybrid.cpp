#include "decoder/core/layer3_hybrid.h"

#include <algorithm>

#include "decoder/core/layer3_tables.h"

namespace tesk::quor {
namespace {

constexpr int kLinesPerSubband = 18;
constexpr int kShortBlockType = 2;

void alias_butterflies(double* lines, int boundary) {
    const Layer3Tables& tables = layer3_tables();
    double* lower = lines + kLinesPerSubband * boundary + kLinesPerSubband - 1;
    double* upper = lines + kLinesPerSubband * (boundary + 1);
    for (int i = 0; i < 8; ++i) {
        const double a = lower[-i];
        const double b = upper[i];
        lower[-i] = a * tables.alias_cs[i] - b * tables.alias_ca[i];
        upper[i] = b * tables.alias_cs[i] + a * tables.alias_ca[i];
    }
}

// 36 windowed IMDCT outputs of one sub-band's 18 lines.
void long_imdct(const double* lines, const double* window, double* z) {
    const Layer3Tables& tables = layer3_tables();
    for (int i = 0; i < 36; ++i) {
        double sum = 0.0;
        for (int k = 0; k < kLinesPerSubband; ++k) {
            sum += lines[k] * tables.imdct_long[i][k];
        }
        z[i] = sum * window[i];
    }
}

// The three short windows of one sub-band (lines in window-interleaved
// order), overlapped into a 36-sample frame.
void short_imdct(const double* lines, const double* window, double* z) {
    const Layer3Tables& tables = layer3_tables();
    std::fill(z, z + 36, 0.0);
    for (int w = 0; w < 3; ++w) {
        for (int i = 0; i < 12; ++i) {
            double sum = 0.0;
            for (int k = 0; k < 6; ++k) {
                sum += lines[3 * k + w] * tables.imdct_short[i][k];
            }
            z[6 + 6 * w + i] += sum * window[i];
        }
    }
}

struct Overlap {
    const double* previous;
    double* next;
};

// Transforms sub-band s with the window of `block_type`, odd sub-bands with
// the odd-negated window, and writes its 18 output samples.
void transform_subband(const double* lines, int s, unsigned block_type, Overlap overlap,
                       double (*out)[kSubbands]) {
    const double* window = layer3_tables().window[s % 2][block_type];
    const double* subband_lines = lines + kLinesPerSubband * s;
    double z[36];
    if (block_type == kShortBlockType) {
        short_imdct(subband_lines, window, z);
    } else {
        long_imdct(subband_lines, window, z);
    }
    const double* previous = overlap.previous + kLinesPerSubband * s;
    double* next = overlap.next + kLinesPerSubband * s;
    for (int i = 0; i < kLinesPerSubband; ++i) {
        out[i][s] = z[i] + previous[i];
        next[i] = z[i + kLinesPerSubband];
    }
}

void pass_subband(int s, Overlap overlap, double (*out)[kSubbands]) {
    const double* previous = overlap.previous + kLinesPerSubband * s;
    double* next = overlap.next + kLinesPerSubband * s;
    for (int i = 0; i < kLinesPerSubband; ++i) {
        out[i][s] = previous[i];
        next[i] = 0.0;
    }
}

} // namespace

void antialias(double* lines, const GranuleInfo& granule) {
    if (granule.block_type == kShortBlockType) {
        if (granule.mixed_block_flag != 0) {
            alias_butterflies(lines, 0);
        }
        return;
    }
    for (int k = 0; k + 1 < static_cast<int>(granule.active_subbands); ++k) {
        alias_butterflies(lines, k);
    }
}

void hybrid_synthesis(Layer3State& state, const double* lines, int channel,
                      const GranuleInfo& granule) {
    const int half = state.overlap_half[channel];
    const Overlap overlap{state.overlap[half][channel], state.overlap[1 - half][channel]};
    state.overlap_half[channel] = 1 - half;
    double(*out)[kSubbands] = state.subbands[channel];
    int s = 0;
    if (granule.mixed_block_flag != 0) {
        transform_subband(lines, 0, 0, overlap, out);
        transform_subband(lines, 1, 0, overlap, out);
        s = 2;
    }
    for (; s < static_cast<int>(granule.active_subbands); s += 2) {
        transform_subband(lines, s, granule.block_type, overlap, out);
        transform_subband(lines, s + 1, granule.block_type, overlap, out);
    }
    for (; s < kSubbands; ++s) {
        pass_subband(s, overlap, out);
    }
}

} // namespace tesk::quor
