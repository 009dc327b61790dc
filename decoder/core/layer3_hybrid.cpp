#include "decoder/core/layer3_hybrid.h"

#include <algorithm>
#include <cstring>

#include "decoder/core/layer3_tables.h"
#include "decoder/core/simd_path.h"

namespace tesk::quor {
namespace {

constexpr int kLinesPerSubband = 18;
constexpr int kShortBlockType = 2;

// The eight butterflies at a sub-band boundary, four side by side: butterfly
// i joins lower line 17 - i and upper line i, so the lower lines are taken
// in reverse order.
void alias_butterflies(double* lines, int boundary) {
    const Layer3Tables& tables = layer3_tables();
    double* lower_end = lines + kLinesPerSubband * (boundary + 1);
    double* upper = lower_end;
    for (int first = 0; first < 8; first += 4) {
        Lanes4 lower_lines;
        Lanes4 b;
        Lanes4 cs;
        Lanes4 ca;
        std::memcpy(&lower_lines, lower_end - 4 - first, sizeof lower_lines);
        std::memcpy(&b, upper + first, sizeof b);
        std::memcpy(&cs, tables.alias_cs + first, sizeof cs);
        std::memcpy(&ca, tables.alias_ca + first, sizeof ca);
        const Lanes4 a = TESK_QUOR_REVERSED(lower_lines);
        const Lanes4 new_lower = TESK_QUOR_REVERSED(a * cs - b * ca);
        const Lanes4 new_upper = b * cs + a * ca;
        std::memcpy(lower_end - 4 - first, &new_lower, sizeof new_lower);
        std::memcpy(upper + first, &new_upper, sizeof new_upper);
    }
}

// The IMDCT of n lines, x_i = sum over k of X_k cos(2 pi / 2n (i + n / 2 +
// 1 / 2)(k + 1 / 2)) for i = 0 ... 2n - 1, rests on the n-point DCT-IV
// y_j = sum over k of X_k cos(pi / n (j + 1 / 2)(k + 1 / 2)):
// x_i = y_(i + n/2) for i < n/2, -y_(3n/2 - 1 - i) for n/2 <= i < 3n/2 and
// -y_(i - 3n/2) above. Adds the windowed 2n outputs to z.
template <int n> void window_dct4(const double* y, const double* window, double* z) {
    constexpr int half = n / 2;
    for (int i = 0; i < half; ++i) {
        z[i] += y[i + half] * window[i];
    }
    for (int i = half; i < 3 * half; ++i) {
        z[i] -= y[3 * half - 1 - i] * window[i];
    }
    for (int i = 3 * half; i < 2 * n; ++i) {
        z[i] -= y[i - 3 * half] * window[i];
    }
}

// The 6-point DCT-IV of lines read `stride` apart, by its kernel. The
// kernel is symmetric; running over it row by row per input line keeps the
// inner loop on contiguous entries.
void dct4_6(const double* lines, int stride, double* y) {
    const auto& kernel = layer3_tables().dct4_short;
    std::fill(y, y + 6, 0.0);
    for (int k = 0; k < 6; ++k) {
        const double x = lines[stride * k];
        for (int j = 0; j < 6; ++j) {
            y[j] += x * kernel[k][j];
        }
    }
}

// The 9-point DCT-II t_m = sum over n of u_n cos(pi / 9 (n + 1/2) m): input
// n and 8 - n share their cosine up to the sign (-1)^m, so the even outputs
// come from the sums and the odd ones from the differences of the mirrored
// inputs; the middle input counts only for even m, with cos(pi m / 2).
void dct2_9(const Layer3Tables& tables, const double* u, double* t) {
    Lanes4 even = u[4] * Lanes4{1.0, -1.0, 1.0, -1.0}; // m = 0, 2, 4, 6
    double last_even = u[4];                           // m = 8
    Lanes4 odd = {};                                   // m = 1, 3, 5, 7
    for (int n = 0; n < 4; ++n) {
        const double sum = u[n] + u[8 - n];
        const double difference = u[n] - u[8 - n];
        Lanes4 even_cosines;
        Lanes4 odd_cosines;
        std::memcpy(&even_cosines, tables.dct2_9_even[n], sizeof even_cosines);
        std::memcpy(&odd_cosines, tables.dct2_9_odd[n], sizeof odd_cosines);
        even += sum * even_cosines;
        last_even += sum * tables.dct2_9_even[n][4];
        odd += difference * odd_cosines;
    }
    for (int m = 0; m < 4; ++m) {
        t[2 * m] = even[m];
        t[2 * m + 1] = odd[m];
    }
    t[8] = last_even;
}

// An n-point DCT-IV from the DCT-II w of its input times the twiddles
// 2 cos(pi / 2n (k + 1/2)): w_j = y_j + y_(j - 1), with y_(-1) = y_0.
template <int n> void dct4_from_dct2(const double* w, double* y) {
    y[0] = 0.5 * w[0];
    for (int j = 1; j < n; ++j) {
        y[j] = w[j] - y[j - 1];
    }
}

// The 18-point DCT-IV through 9-point transforms: after the twiddles, the
// 18-point DCT-II takes its even outputs from the 9-point DCT-II of the
// mirrored sums and its odd ones from the 9-point DCT-IV of the mirrored
// differences, itself a twiddled 9-point DCT-II.
void dct4_18(const double* x, double* y) {
    const Layer3Tables& tables = layer3_tables();
    double sums[9];
    double differences[9];
    for (int k = 0; k < 9; ++k) {
        const double low = x[k] * tables.dct4_twiddle_18[k];
        const double high = x[17 - k] * tables.dct4_twiddle_18[17 - k];
        sums[k] = low + high;
        differences[k] = (low - high) * tables.dct4_twiddle_9[k];
    }
    double even[9];
    double odd_dct2[9];
    double odd[9];
    dct2_9(tables, sums, even);
    dct2_9(tables, differences, odd_dct2);
    dct4_from_dct2<9>(odd_dct2, odd);
    double w[18];
    for (int m = 0; m < 9; ++m) {
        w[2 * m] = even[m];
        w[2 * m + 1] = odd[m];
    }
    dct4_from_dct2<18>(w, y);
}

// 36 windowed IMDCT outputs of one sub-band's 18 lines.
void long_imdct(const double* lines, const double* window, double* z) {
    double y[18];
    dct4_18(lines, y);
    std::fill(z, z + 36, 0.0);
    window_dct4<18>(y, window, z);
}

// The three short windows of one sub-band (lines in window-interleaved
// order), overlapped into a 36-sample frame.
void short_imdct(const double* lines, const double* window, double* z) {
    std::fill(z, z + 36, 0.0);
    for (int w = 0; w < 3; ++w) {
        double y[6];
        dct4_6(lines + w, 3, y);
        window_dct4<6>(y, window, z + 6 + 6 * w);
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

namespace {

inline void antialias_body(double* lines, const GranuleInfo& granule) {
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

// The alias reduction with its butterflies inlined, once per vector path.
[[gnu::flatten]] void antialias_baseline(double* lines, const GranuleInfo& granule) {
    antialias_body(lines, granule);
}

TESK_QUOR_AVX2 [[gnu::flatten]] void antialias_avx2(double* lines, const GranuleInfo& granule) {
    antialias_body(lines, granule);
}

inline void hybrid_synthesis_body(Layer3State& state, const double* lines, int channel,
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

// The hybrid synthesis with its transforms inlined, once per vector path.
[[gnu::flatten]] void hybrid_synthesis_baseline(Layer3State& state, const double* lines,
                                                int channel, const GranuleInfo& granule) {
    hybrid_synthesis_body(state, lines, channel, granule);
}

TESK_QUOR_AVX2 [[gnu::flatten]] void hybrid_synthesis_avx2(Layer3State& state, const double* lines,
                                                           int channel,
                                                           const GranuleInfo& granule) {
    hybrid_synthesis_body(state, lines, channel, granule);
}

} // namespace

void antialias(double* lines, const GranuleInfo& granule) {
    static const auto reduce = pick_simd(&antialias_baseline, &antialias_avx2);
    reduce(lines, granule);
}

void hybrid_synthesis(Layer3State& state, const double* lines, int channel,
                      const GranuleInfo& granule) {
    static const auto synthesize = pick_simd(&hybrid_synthesis_baseline, &hybrid_synthesis_avx2);
    synthesize(state, lines, channel, granule);
}

} // namespace tesk::quor
