#include "decoder/core/layer3_hybrid.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "decoder/core/layer3_tables.h"
#include "decoder/core/simd_path.h"

namespace tesk::quor {
namespace {

constexpr int kLinesPerSubband = 18;
constexpr int kShortBlockType = 2;

// The lanes of a vector of two or four doubles in reverse order.
template <typename Lanes> inline void reverse_lanes(Lanes& lanes) {
    if constexpr (lane_count<Lanes>() == 2) {
        lanes = __builtin_shufflevector(lanes, lanes, 1, 0);
    } else {
        lanes = TESK_QUOR_REVERSED(lanes);
    }
}

// The eight butterflies at a sub-band boundary, side by side in the lanes
// of Lanes (Lanes4, or Doubles2 for the baseline build's registers):
// butterfly i joins lower line 17 - i and upper line i, so the lower lines
// are taken in reverse order.
template <typename Lanes> void alias_butterflies(double* lines, int boundary) {
    constexpr int kLanes = lane_count<Lanes>();
    const Layer3Tables& tables = layer3_tables();
    double* lower_end = lines + kLinesPerSubband * (boundary + 1);
    double* upper = lower_end;
    for (int first = 0; first < 8; first += kLanes) {
        Lanes a;
        Lanes b;
        Lanes cs;
        Lanes ca;
        std::memcpy(&a, lower_end - kLanes - first, sizeof a);
        std::memcpy(&b, upper + first, sizeof b);
        std::memcpy(&cs, tables.alias_cs + first, sizeof cs);
        std::memcpy(&ca, tables.alias_ca + first, sizeof ca);
        reverse_lanes(a);
        Lanes new_lower = a * cs - b * ca;
        reverse_lanes(new_lower);
        const Lanes new_upper = b * cs + a * ca;
        std::memcpy(lower_end - kLanes - first, &new_lower, sizeof new_lower);
        std::memcpy(upper + first, &new_upper, sizeof new_upper);
    }
}

// The transforms below are written once for one sub-band (T = double or
// float) and for neighbouring sub-bands side by side (T = Lanes4, Floats8
// or Floats4, lane j holding sub-band s + j); every lane does the
// operations of the one-sub-band version in the same order, so all give the
// same samples to the bit.

template <typename T>
constexpr bool kSingle =
    std::is_same_v<T, float> || std::is_same_v<T, Floats8> || std::is_same_v<T, Floats4>;

// The real type of one lane of T.
template <typename T> using Real = std::conditional_t<kSingle<T>, float, double>;

// The windows and coefficients in the precision of T.
template <typename T>
const ImdctTables<Real<T>, std::conditional_t<kSingle<T>, Floats8, Lanes4>>& imdct_tables() {
    if constexpr (kSingle<T>) {
        return layer3_tables().imdct_single;
    } else {
        return layer3_tables().imdct;
    }
}

// Entry i of a window in the lanes of T: the window's own entry, or the
// first lanes of a wider one. The lanes of a window alternate between the
// even and the odd sub-bands' entries, so the first four serve four
// sub-bands from an even one as well.
template <typename T, typename W> inline void window_entry(const W* window, int i, T& entry) {
    if constexpr (std::is_same_v<T, W>) {
        entry = window[i];
    } else {
        static_assert(sizeof(T) < sizeof(W));
        std::memcpy(&entry, window + i, sizeof entry);
    }
}

// z = a b, or z += a b when adding.
template <bool add, typename T> void put_product(T& z, const T& a, const T& b) {
    if constexpr (add) {
        z += a * b;
    } else {
        z = a * b;
    }
}

// z = -a b, or z -= a b when adding.
template <bool add, typename T> void put_negated_product(T& z, const T& a, const T& b) {
    if constexpr (add) {
        z -= a * b;
    } else {
        z = -(a * b);
    }
}

// The IMDCT of n lines, x_i = sum over k of X_k cos(2 pi / 2n (i + n / 2 +
// 1 / 2)(k + 1 / 2)) for i = 0 ... 2n - 1, rests on the n-point DCT-IV
// y_j = sum over k of X_k cos(pi / n (j + 1 / 2)(k + 1 / 2)):
// x_i = y_(i + n/2) for i < n/2, -y_(3n/2 - 1 - i) for n/2 <= i < 3n/2 and
// -y_(i - 3n/2) above. Writes the windowed 2n outputs to z, or adds them
// to it.
template <int n, bool add, typename T, typename W>
void window_dct4(const T* y, const W* window, T* z) {
    constexpr int half = n / 2;
    T w;
    for (int i = 0; i < half; ++i) {
        window_entry(window, i, w);
        put_product<add>(z[i], y[i + half], w);
    }
    for (int i = half; i < 3 * half; ++i) {
        window_entry(window, i, w);
        put_negated_product<add>(z[i], y[3 * half - 1 - i], w);
    }
    for (int i = 3 * half; i < 2 * n; ++i) {
        window_entry(window, i, w);
        put_negated_product<add>(z[i], y[i - 3 * half], w);
    }
}

// The 6-point DCT-IV of lines read `stride` apart, by its kernel. The
// kernel is symmetric; running over it row by row per input line keeps the
// inner loop on contiguous entries.
template <typename T> void dct4_6(const T* lines, int stride, T* y) {
    const auto& kernel = imdct_tables<T>().dct4_short;
    for (int j = 0; j < 6; ++j) {
        y[j] = T{};
    }
    for (int k = 0; k < 6; ++k) {
        const T x = lines[stride * k];
        for (int j = 0; j < 6; ++j) {
            y[j] += x * kernel[k][j];
        }
    }
}

// The 9-point DCT-II t_m = sum over n of u_n cos(pi / 9 (n + 1/2) m): input
// n and 8 - n share their cosine up to the sign (-1)^m, so the even outputs
// come from the sums and the odd ones from the differences of the mirrored
// inputs; the middle input counts only for even m, with cos(pi m / 2).
template <typename T, typename Tables> void dct2_9(const Tables& tables, const T* u, T* t) {
    T even[5] = {u[4], -u[4], u[4], -u[4], u[4]}; // m = 0, 2, 4, 6, 8
    T odd[4] = {};                                // m = 1, 3, 5, 7
    for (int n = 0; n < 4; ++n) {
        const T sum = u[n] + u[8 - n];
        const T difference = u[n] - u[8 - n];
        for (int m = 0; m < 4; ++m) {
            even[m] += sum * tables.dct2_9_even[n][m];
            odd[m] += difference * tables.dct2_9_odd[n][m];
        }
        even[4] += sum * tables.dct2_9_even[n][4];
    }
    for (int m = 0; m < 4; ++m) {
        t[2 * m] = even[m];
        t[2 * m + 1] = odd[m];
    }
    t[8] = even[4];
}

// An n-point DCT-IV from the DCT-II w of its input times the twiddles
// 2 cos(pi / 2n (k + 1/2)): w_j = y_j + y_(j - 1), with y_(-1) = y_0.
template <int n, typename T> void dct4_from_dct2(const T* w, T* y) {
    y[0] = Real<T>{0.5} * w[0];
    for (int j = 1; j < n; ++j) {
        y[j] = w[j] - y[j - 1];
    }
}

// The 18-point DCT-IV through 9-point transforms: after the twiddles, the
// 18-point DCT-II takes its even outputs from the 9-point DCT-II of the
// mirrored sums and its odd ones from the 9-point DCT-IV of the mirrored
// differences, itself a twiddled 9-point DCT-II.
template <typename T> void dct4_18(const T* x, T* y) {
    const auto& tables = imdct_tables<T>();
    T sums[9];
    T differences[9];
    for (int k = 0; k < 9; ++k) {
        const T low = x[k] * tables.dct4_twiddle_18[k];
        const T high = x[17 - k] * tables.dct4_twiddle_18[17 - k];
        sums[k] = low + high;
        differences[k] = (low - high) * tables.dct4_twiddle_9[k];
    }
    T even[9];
    T odd_dct2[9];
    T odd[9];
    dct2_9(tables, sums, even);
    dct2_9(tables, differences, odd_dct2);
    dct4_from_dct2<9>(odd_dct2, odd);
    T w[18];
    for (int m = 0; m < 9; ++m) {
        w[2 * m] = even[m];
        w[2 * m + 1] = odd[m];
    }
    dct4_from_dct2<18>(w, y);
}

// 36 windowed IMDCT outputs of one sub-band's 18 lines.
template <typename T, typename W> void long_imdct(const T* lines, const W* window, T* z) {
    T y[18];
    dct4_18(lines, y);
    window_dct4<18, false>(y, window, z);
}

// The three short windows of one sub-band (lines in window-interleaved
// order), overlapped into a 36-sample frame.
template <typename T, typename W> void short_imdct(const T* lines, const W* window, T* z) {
    for (int i = 0; i < 36; ++i) {
        z[i] = T{};
    }
    for (int w = 0; w < 3; ++w) {
        T y[6];
        dct4_6(lines + w, 3, y);
        window_dct4<6, true>(y, window, z + 6 + 6 * w);
    }
}

template <typename T, typename W>
void imdct(const T* lines, unsigned block_type, const W* window, T* z) {
    if (block_type == kShortBlockType) {
        short_imdct(lines, window, z);
    } else {
        long_imdct(lines, window, z);
    }
}

// The overlap of one channel in one precision: slot i of sub-band s at
// [i][s].
template <typename Scalar> struct Overlap {
    const Scalar (*previous)[kSubbands];
    Scalar (*next)[kSubbands];
};

// Transforms sub-band s with the window of `block_type`, odd sub-bands with
// the odd-negated window, and writes its 18 output samples.
template <typename Scalar>
void transform_subband(const double* lines, int s, unsigned block_type, Overlap<Scalar> overlap,
                       Scalar (*out)[kSubbands]) {
    Scalar subband_lines[kLinesPerSubband];
    for (int k = 0; k < kLinesPerSubband; ++k) {
        subband_lines[k] = static_cast<Scalar>(lines[kLinesPerSubband * s + k]);
    }
    Scalar z[36];
    imdct(subband_lines, block_type, imdct_tables<Scalar>().window[s % 2][block_type], z);
    for (int i = 0; i < kLinesPerSubband; ++i) {
        out[i][s] = z[i] + overlap.previous[i][s];
        overlap.next[i][s] = z[i + kLinesPerSubband];
    }
}

// The lanes at `to`, in their own precision.
template <typename T> inline void store_samples(Real<T>* to, const T& samples) {
    std::memcpy(to, &samples, sizeof samples);
}

// Lines k to k + 3 of two neighbouring sub-bands from `first` on at to[k]
// to to[k + 3]: two 2 x 2 transpositions of rows of two lines.
inline void load_four_lines(const double* first, int k, Doubles2* to) {
    for (int pair = 0; pair < 4; pair += 2) {
        Doubles2 low;
        Doubles2 high;
        std::memcpy(&low, first + k + pair, sizeof low);
        std::memcpy(&high, first + kLinesPerSubband + k + pair, sizeof high);
        to[k + pair] = __builtin_shufflevector(low, high, 0, 2);
        to[k + pair + 1] = __builtin_shufflevector(low, high, 1, 3);
    }
}

// The same for four neighbouring sub-bands: a 4 x 4 transposition of rows
// of four lines.
inline void load_four_lines(const double* first, int k, Lanes4* to) {
    Lanes4 rows[4];
    for (int j = 0; j < 4; ++j) {
        std::memcpy(&rows[j], first + kLinesPerSubband * j + k, sizeof rows[j]);
    }
    transpose4(rows, to + k);
}

// The same in single precision.
inline void load_four_lines(const double* first, int k, Floats4* to) {
    Floats4 rows[4];
    for (int j = 0; j < 4; ++j) {
        Lanes4 lines;
        std::memcpy(&lines, first + kLinesPerSubband * j + k, sizeof lines);
        rows[j] = __builtin_convertvector(lines, Floats4);
    }
    transpose4(rows, to + k);
}

// Lines k to k + 3 of eight neighbouring sub-bands from `first` on, in
// single precision, at to[k] to to[k + 3]: the rows of four lines of
// sub-bands j and j + 4 share a register, and the four registers are
// transposed within their halves.
inline void load_four_lines(const double* first, int k, Floats8* to) {
    Floats8 rows[4];
    for (int j = 0; j < 4; ++j) {
        Lanes4 low;
        Lanes4 high;
        std::memcpy(&low, first + kLinesPerSubband * j + k, sizeof low);
        std::memcpy(&high, first + kLinesPerSubband * (j + 4) + k, sizeof high);
        rows[j] =
            __builtin_shufflevector(__builtin_convertvector(low, Floats4),
                                    __builtin_convertvector(high, Floats4), 0, 1, 2, 3, 4, 5, 6, 7);
    }
    const Floats8 even01 = __builtin_shufflevector(rows[0], rows[1], 0, 8, 1, 9, 4, 12, 5, 13);
    const Floats8 odd01 = __builtin_shufflevector(rows[0], rows[1], 2, 10, 3, 11, 6, 14, 7, 15);
    const Floats8 even23 = __builtin_shufflevector(rows[2], rows[3], 0, 8, 1, 9, 4, 12, 5, 13);
    const Floats8 odd23 = __builtin_shufflevector(rows[2], rows[3], 2, 10, 3, 11, 6, 14, 7, 15);
    to[k] = __builtin_shufflevector(even01, even23, 0, 1, 8, 9, 4, 5, 12, 13);
    to[k + 1] = __builtin_shufflevector(even01, even23, 2, 3, 10, 11, 6, 7, 14, 15);
    to[k + 2] = __builtin_shufflevector(odd01, odd23, 0, 1, 8, 9, 4, 5, 12, 13);
    to[k + 3] = __builtin_shufflevector(odd01, odd23, 2, 3, 10, 11, 6, 7, 14, 15);
}

// Line k of the neighbouring sub-bands from `first` on at to[k], one
// sub-band per lane, four lines at a time; the last four overlap the ones
// before them.
template <typename T> void load_lines(const double* first, T (&to)[kLinesPerSubband]) {
    for (int k : {0, 4, 8, 12, 14}) {
        load_four_lines(first, k, to);
    }
}

// transform_subband of the neighbouring sub-bands from s (a multiple of
// the lane count) on, one per lane of T, side by side.
template <typename T>
void transform_lanes(const double* lines, int s, unsigned block_type, Overlap<Real<T>> overlap,
                     Real<T> (*out)[kSubbands]) {
    T subband_lines[kLinesPerSubband];
    load_lines(lines + kLinesPerSubband * s, subband_lines);
    T z[36];
    imdct(subband_lines, block_type, imdct_tables<T>().window_lanes[block_type], z);
    for (int i = 0; i < kLinesPerSubband; ++i) {
        T previous;
        std::memcpy(&previous, overlap.previous[i] + s, sizeof previous);
        store_samples<T>(out[i] + s, z[i] + previous);
        const T next = z[i + kLinesPerSubband];
        std::memcpy(overlap.next[i] + s, &next, sizeof next);
    }
}

// The sub-bands of transform_lanes with zero lines: the previous overlap
// is their output, and the next one is zero.
template <typename T> void pass_lanes(int s, Overlap<Real<T>> overlap, Real<T> (*out)[kSubbands]) {
    for (int i = 0; i < kLinesPerSubband; ++i) {
        T previous;
        std::memcpy(&previous, overlap.previous[i] + s, sizeof previous);
        store_samples<T>(out[i] + s, previous);
        const T zero{};
        std::memcpy(overlap.next[i] + s, &zero, sizeof zero);
    }
}

} // namespace

namespace {

template <typename Lanes> inline void antialias_body(double* lines, const GranuleInfo& granule) {
    if (granule.block_type == kShortBlockType) {
        if (granule.mixed_block_flag != 0) {
            alias_butterflies<Lanes>(lines, 0);
        }
        return;
    }
    for (int k = 0; k + 1 < static_cast<int>(granule.active_subbands); ++k) {
        alias_butterflies<Lanes>(lines, k);
    }
}

// The alias reduction with its butterflies inlined, once per vector path.
[[gnu::flatten]] void antialias_baseline(double* lines, const GranuleInfo& granule) {
    antialias_body<Doubles2>(lines, granule);
}

TESK_QUOR_AVX2 [[gnu::flatten]] void antialias_avx2(double* lines, const GranuleInfo& granule) {
    antialias_body<Lanes4>(lines, granule);
}

// The two halves of the channel's overlap in the precision of T.
template <typename T> Overlap<Real<T>> overlap_halves(Layer3State& state, int half, int channel) {
    if constexpr (kSingle<T>) {
        return {state.overlap_single[half][channel], state.overlap_single[1 - half][channel]};
    } else {
        return {state.overlap[half][channel], state.overlap[1 - half][channel]};
    }
}

// The channel's output time slots in the precision of T.
template <typename T> Real<T> (*output_slots(Layer3State& state, int channel))[kSubbands] {
    if constexpr (kSingle<T>) {
        return state.subbands_single[channel] + kLinesPerSubband * state.slot_granule;
    } else {
        return state.subbands[channel];
    }
}

// Sub-bands are transformed a vector at a time up to the last active one
// (the lanes above it transform zero lines), and the vectors above pass the
// overlap. The long first two sub-bands of mixed blocks are transformed
// again on their own.
template <typename T>
inline void hybrid_synthesis_body(Layer3State& state, const double* lines, int channel,
                                  const GranuleInfo& granule) {
    constexpr int lanes = sizeof(T) / sizeof(Real<T>);
    const int half = state.overlap_half[channel];
    const Overlap<Real<T>> overlap = overlap_halves<T>(state, half, channel);
    state.overlap_half[channel] = 1 - half;
    Real<T>(*out)[kSubbands] = output_slots<T>(state, channel);
    const int active = std::min(static_cast<int>(granule.active_subbands), kSubbands);
    int s = 0;
    for (; s < active; s += lanes) {
        transform_lanes<T>(lines, s, granule.block_type, overlap, out);
    }
    if (granule.mixed_block_flag != 0) {
        transform_subband(lines, 0, 0, overlap, out);
        transform_subband(lines, 1, 0, overlap, out);
    }
    for (; s < kSubbands; s += lanes) {
        pass_lanes<T>(s, overlap, out);
    }
}

// The hybrid synthesis with its transforms inlined, once per precision and
// vector path. The baseline build transforms two sub-bands at a time in
// double precision and four in single, in vectors of one register.
[[gnu::flatten]] void hybrid_synthesis_double_baseline(Layer3State& state, const double* lines,
                                                       int channel, const GranuleInfo& granule) {
    hybrid_synthesis_body<Doubles2>(state, lines, channel, granule);
}

TESK_QUOR_AVX2 [[gnu::flatten]] void hybrid_synthesis_double_avx2(Layer3State& state,
                                                                  const double* lines, int channel,
                                                                  const GranuleInfo& granule) {
    hybrid_synthesis_body<Lanes4>(state, lines, channel, granule);
}

[[gnu::flatten]] void hybrid_synthesis_single_baseline(Layer3State& state, const double* lines,
                                                       int channel, const GranuleInfo& granule) {
    hybrid_synthesis_body<Floats4>(state, lines, channel, granule);
}

TESK_QUOR_AVX2 [[gnu::flatten]] void hybrid_synthesis_single_avx2(Layer3State& state,
                                                                  const double* lines, int channel,
                                                                  const GranuleInfo& granule) {
    hybrid_synthesis_body<Floats8>(state, lines, channel, granule);
}

} // namespace

void antialias(double* lines, const GranuleInfo& granule) {
    static const auto reduce = pick_simd(&antialias_baseline, &antialias_avx2);
    reduce(lines, granule);
}

void hybrid_synthesis(Layer3State& state, const double* lines, int channel,
                      const GranuleInfo& granule) {
    static const auto synthesize =
        pick_build(&hybrid_synthesis_double_baseline, &hybrid_synthesis_double_avx2,
                   &hybrid_synthesis_single_baseline, &hybrid_synthesis_single_avx2);
    synthesize(state, lines, channel, granule);
}

} // namespace tesk::quor
