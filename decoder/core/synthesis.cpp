#include "decoder/core/synthesis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder/core/frame_decoder.h"
#include "decoder/core/generated/core_tables.h"
#include "decoder/core/simd_path.h"

namespace tesk::quor {
namespace {

// Full scale of the 16-bit output: a sub-band amplitude of 1.0 maps to
// 32768, as in the reference decoding of the conformance streams.
constexpr double kOutputScale = 32768.0;
constexpr int kWindowSize = 544;
constexpr int kWindowColumns = 32;
constexpr int kWindowRows = kWindowSize / kWindowColumns; // 17
constexpr int kSlots = 16;
// Matrixing values per ring slot: a[r] = -V(32 + r) for r = 0..16 and
// b[r] = V(r) for r = 0..15.
constexpr int kRows = 17;

constexpr int kDctStages = 5; // 32, 16, 8, 4, 2 points

struct SynthesisTables {
    // The window pre-signed, scaled to 16 bits and stored twice (at p and p +
    // 16), as 32 columns of 17 rows one after the other: row n of column j,
    // columns[17 j + n], is entry j + 32 n of the flat window, so one column
    // serves the same term of every output at once.
    std::array<double, kWindowColumns * kWindowRows> columns{};
    // Single precision: taps[j][m], the window term of output j for the
    // block m blocks back, scaled to 16 bits and signed for the DCT output
    // tap_of(j, m) names, in every lane.
    std::array<std::array<Floats8, kSynthesisTaps>, kSubbands> taps{};
    // Per stage t: 1 / (2 cos(pi (2k + 1) / (64 >> t))), k < 16 >> t.
    std::array<std::array<double, 16>, kDctStages> dct{};
    std::array<std::array<float, 16>, kDctStages> single_dct{};
};

// The DCT output of a block m blocks back that output j of a block takes,
// and its sign (0 for a term that is always zero). The windowing takes the
// value V(j) of even m and V(32 + j) of odd m, where V(i) = X(16 + i) for
// X the block's 32-point DCT-II, with X(32) = 0, X(64 - k) = -X(k) and
// X(64 + k) = -X(k).
struct Tap {
    int row;
    int sign;
};

constexpr Tap tap_of(int j, int m) {
    const int i = 16 + j + (m % 2 == 1 ? 32 : 0);
    if (i < 32) {
        return {i, 1};
    }
    if (i == 32) {
        return {0, 0};
    }
    return i < 64 ? Tap{64 - i, -1} : Tap{i - 64, -1};
}

// The number type of a lane of T (T itself for a number).
template <typename T> struct LaneOf { using type = T; };
template <> struct LaneOf<Lanes4> { using type = double; };
template <> struct LaneOf<Floats8> { using type = float; };
template <> struct LaneOf<Floats4> { using type = float; };
template <> struct LaneOf<Doubles2> { using type = double; };

// c(i) for i = 0..256: the window coefficient D(i) with the sign of the
// second and fourth 64-entry quarters inverted.
double window_coefficient(int i) {
    const double d = kSynthesisWindowUnits[i] * kSynthesisWindowUnit;
    return (i / 64) % 2 == 0 ? d : -d;
}

void build_window(SynthesisTables& tables) {
    std::array<double, kWindowSize> window{};
    int p = 0;
    double sign = -1.0;
    for (int i = 0; i < 512; ++i) {
        const int j = i < 256 ? i : 512 - i;
        if (p < kWindowSize - 16) {
            const double value = sign * kOutputScale * window_coefficient(j);
            window[p] = value;
            window[p + 16] = value;
        }
        p += 32;
        if (i % 32 == 31) {
            p -= 1023;
        }
        if (i % 64 == 63) {
            sign = -sign;
        }
    }
    for (int p_index = 0; p_index < kWindowSize; ++p_index) {
        const int at = kWindowRows * (p_index % kWindowColumns) + p_index / kWindowColumns;
        tables.columns[at] = window[p_index];
    }
}

// Output j of a block sums D(j + 32 m) V(j + 32 (m mod 2)) over the 16
// blocks m back, D being the synthesis window.
void build_taps(SynthesisTables& tables) {
    for (int j = 0; j < kSubbands; ++j) {
        for (int m = 0; m < kSynthesisTaps; ++m) {
            const double d = kSynthesisWindowUnits[j + 32 * m] * kSynthesisWindowUnit;
            tables.taps[j][m] =
                Floats8{} + static_cast<float>(tap_of(j, m).sign * kOutputScale * d);
        }
    }
}

void build_dct_constants(SynthesisTables& tables) {
    for (int t = 0; t < kDctStages; ++t) {
        for (int k = 0; k < (16 >> t); ++k) {
            tables.dct[t][k] = 1.0 / (2.0 * std::cos(std::numbers::pi * (2 * k + 1) / (64 >> t)));
            tables.single_dct[t][k] = static_cast<float>(tables.dct[t][k]);
        }
    }
}

const SynthesisTables& synthesis_tables() {
    static const SynthesisTables tables = [] {
        SynthesisTables built;
        build_window(built);
        build_taps(built);
        build_dct_constants(built);
        return built;
    }();
    return tables;
}

// The DCT constants of one stage in the precision Real.
template <typename Real> const Real* dct_constants(const SynthesisTables& tables, int stage) {
    if constexpr (std::is_same_v<Real, double>) {
        return tables.dct[stage].data();
    } else {
        return tables.single_dct[stage].data();
    }
}

// DCT-II of N points, out[m] = sum over k of in[k] cos(pi m (2k + 1) / 2N),
// split into the sums and the scaled differences of mirrored inputs, each
// transformed at half the length.
// T is double or float for one block, Lanes4 or Floats8 for four or eight
// blocks side by side, each lane doing the operations of the one-block
// transform in the same order.
template <int N, typename T> void fast_dct(const SynthesisTables& tables, const T* in, T* out) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        constexpr int kHalf = N / 2;
        constexpr int kStage = N == 32 ? 0 : N == 16 ? 1 : N == 8 ? 2 : N == 4 ? 3 : 4;
        const auto* scale = dct_constants<typename LaneOf<T>::type>(tables, kStage);
        T sums[kHalf];
        T differences[kHalf];
        for (int k = 0; k < kHalf; ++k) {
            sums[k] = in[k] + in[N - 1 - k];
            differences[k] = (in[k] - in[N - 1 - k]) * scale[k];
        }
        T even[kHalf];
        T odd[kHalf];
        fast_dct<kHalf>(tables, sums, even);
        fast_dct<kHalf>(tables, differences, odd);
        for (int m = 0; m < kHalf; ++m) {
            out[2 * m] = even[m];
            out[2 * m + 1] = odd[m] + (m + 1 < kHalf ? odd[m + 1] : T{});
        }
    }
}

// The 33 stored matrixing values of a block from its 32-point DCT-II x:
// a[r] = x[16 - r] (17 values) and b[r] = x[16 + r] (16 values).
template <typename Real> void place_values(const Real* x, Real* a, Real* b) {
    using Four = std::conditional_t<std::is_same_v<Real, double>, Lanes4, Floats4>;
    for (int r = 0; r < 16; r += 4) {
        Four low;
        Four high;
        std::memcpy(&low, x + 13 - r, sizeof low);
        std::memcpy(&high, x + 16 + r, sizeof high);
        const Four reversed = TESK_QUOR_REVERSED(low);
        std::memcpy(a + r, &reversed, sizeof reversed);
        std::memcpy(b + r, &high, sizeof high);
    }
    a[16] = x[0];
}

// Stores the block's matrixing values (from its DCT x) in the channel's
// halves, slot by slot (a slot's 17 values contiguous), and returns the half
// the window reads and its slot offset.
inline const double* store_block(SynthesisState& state, const double* x, int channel, int& offset) {
    const int b = state.ring_index;
    double* h0 = state.halves[channel][0];
    double* h1 = state.halves[channel][1];
    if (b % 2 == 1) {
        place_values<double>(x, h1 + kRows * ((b + 1) % kSlots), h0 + kRows * b);
        offset = b;
        return h0;
    }
    place_values<double>(x, h0 + kRows * b, h1 + kRows * (b + 1));
    offset = b + 1;
    return h1;
}

// 1 when the sum lies outside the 16-bit range, else 0.
int clip_count(double sum) {
    return static_cast<int>(sum > 32767.0) | static_cast<int>(sum < -32768.0);
}

// The sum clipped to the 16-bit range and rounded half away from zero.
int clip_and_round(double sum) {
    const double low = sum < -32768.0 ? -32768.0 : sum;
    const double clipped = low > 32767.0 ? 32767.0 : low;
    // Zero itself stays zero with either sign of the half.
    return static_cast<int>(clipped + std::copysign(0.5, clipped));
}

using Masks4 = std::int64_t __attribute__((vector_size(4 * sizeof(std::int64_t))));
using Ints4 = std::int32_t __attribute__((vector_size(4 * sizeof(std::int32_t))));
using Shorts4 = std::int16_t __attribute__((vector_size(4 * sizeof(std::int16_t))));
using Masks2 = std::int64_t __attribute__((vector_size(2 * sizeof(std::int64_t))));
using Ints2 = std::int32_t __attribute__((vector_size(2 * sizeof(std::int32_t))));
using Shorts2 = std::int16_t __attribute__((vector_size(2 * sizeof(std::int16_t))));

// The integer vectors of the rounding of doubles with the lanes of Doubles
// (Lanes4 or Doubles2).
template <typename Doubles> struct RoundingTypes {
    using Masks = Masks4;
    using Ints = Ints4;
    using Shorts = Shorts4;
};

template <> struct RoundingTypes<Doubles2> {
    using Masks = Masks2;
    using Ints = Ints2;
    using Shorts = Shorts2;
};

using Ints8 = std::int32_t __attribute__((vector_size(8 * sizeof(std::int32_t))));
using Shorts8 = std::int16_t __attribute__((vector_size(8 * sizeof(std::int16_t))));

// The integers with the lanes of the floats Lanes.
template <typename Lanes>
using IntsOf = std::conditional_t<std::is_same_v<Lanes, Floats8>, Ints8, Ints4>;

// The negated sum of the lanes.
template <typename Ints> inline int count_lanes(const Ints& flags) {
    int count = 0;
    for (int lane = 0; lane < lane_count<Ints>(); ++lane) {
        count -= static_cast<int>(flags[lane]);
    }
    return count;
}

// The sums (floats or doubles) clipped to the 16-bit range: a bound where
// a sum lies outside it or is not a number.
template <typename Lanes> inline void clip_lanes(const Lanes& sum, Lanes& clipped) {
    using Real = std::remove_cvref_t<decltype(sum[0])>;
    const Lanes low = Lanes{} - Real{32768};
    const Lanes high = Lanes{} + Real{32767};
    const Lanes raised = sum > low ? sum : low;
    clipped = raised < high ? raised : high;
}

#if defined(__SSE2__)
// The same by the SSE2 maximum and minimum, which give their second operand
// where either is not a number.
inline void clip_lanes(const Floats4& sum, Floats4& clipped) {
    clipped = _mm_min_ps(_mm_max_ps(sum, Floats4{} - 32768.0F), Floats4{} + 32767.0F);
}

inline void clip_lanes(const Doubles2& sum, Doubles2& clipped) {
    clipped = _mm_min_pd(_mm_max_pd(sum, Doubles2{} - 32768.0), Doubles2{} + 32767.0);
}
#endif

// Adds -1 to `outside` in the lanes whose sum lies above high or below low
// (not for a sum that is not a number).
template <typename Doubles, typename Masks>
inline void count_outside(const Doubles& sum, const Doubles& low, const Doubles& high,
                          Masks& outside) {
    // Each compare gives -1 in the lanes where it holds.
    outside += (sum > high) | (sum < low);
}

#if defined(__SSE2__)
// The same through SSE2's compares, which GCC otherwise turns into scalar
// code for two lanes.
inline void count_outside(const Doubles2& sum, const Doubles2& low, const Doubles2& high,
                          Masks2& outside) {
    outside +=
        __builtin_bit_cast(Masks2, _mm_or_pd(_mm_cmpgt_pd(sum, high), _mm_cmplt_pd(sum, low)));
}
#endif

// clip_and_round of the 32 sums of a block, in the lanes of Doubles (Lanes4,
// or Doubles2 for the baseline build's registers); returns the sum of their
// clip_count. A sum that is not a number gives -32768, as the clipping
// takes the bound whenever the sum is not above it.
template <typename Doubles> inline int round_block(const double* sums, std::int16_t* pcm) {
    using Masks = typename RoundingTypes<Doubles>::Masks;
    using Ints = typename RoundingTypes<Doubles>::Ints;
    using Shorts = typename RoundingTypes<Doubles>::Shorts;
    const Doubles low = Doubles{} - 32768.0;
    const Doubles high = Doubles{} + 32767.0;
    const Masks half = __builtin_bit_cast(Masks, Doubles{} + 0.5);
    const Masks sign = Masks{} + std::numeric_limits<std::int64_t>::min();
    Masks outside{};
    for (int n = 0; n < kSubbands; n += lane_count<Doubles>()) {
        Doubles sum;
        std::memcpy(&sum, sums + n, sizeof sum);
        count_outside(sum, low, high, outside);
        Doubles clipped;
        clip_lanes(sum, clipped);
        const Doubles away =
            __builtin_bit_cast(Doubles, half | (__builtin_bit_cast(Masks, clipped) & sign));
        const Shorts rounded =
            __builtin_convertvector(__builtin_convertvector(clipped + away, Ints), Shorts);
        std::memcpy(pcm + n, &rounded, sizeof rounded);
    }
    return count_lanes(outside);
}

// Sums in single precision rounded without leaving it: each clipped and
// cut to its integer part, which moves one away from zero when the cut
// fraction is at least a half, that is by twice the fraction cut to its
// integer part (-1, 0 or 1). Every step is exact, so the result is that of
// the double rounding of the same sums. Lanes clipped (or not a number)
// count -1 in `outside`.
template <typename Lanes, typename Ints = IntsOf<Lanes>>
inline void round_lanes(const Lanes& sum, Ints& outside, Ints& rounded) {
    Lanes clipped;
    clip_lanes(sum, clipped);
    outside += clipped != sum;
    const Ints whole = __builtin_convertvector(clipped, Ints);
    const Lanes fraction = clipped - __builtin_convertvector(whole, Lanes);
    rounded = whole + __builtin_convertvector(fraction + fraction, Ints);
}

// Eight rounded samples (within the 16-bit range) from one row of eight or
// two rows of four, stored at out.
inline void store_pcm(const Ints8* row, std::int16_t* out) {
    const Shorts8 samples = __builtin_convertvector(*row, Shorts8);
    std::memcpy(out, &samples, sizeof samples);
}

inline void store_pcm(const Ints4* rows, std::int16_t* out) {
#if defined(__SSE2__)
    // In range, packing with saturation keeps every value.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_packs_epi32(__builtin_bit_cast(__m128i, rows[0]),
                                     __builtin_bit_cast(__m128i, rows[1])));
#else
    for (int half = 0; half < 2; ++half) {
        const Shorts4 samples = __builtin_convertvector(rows[half], Shorts4);
        std::memcpy(out + 4 * half, &samples, sizeof samples);
    }
#endif
}

// round_block for sums in single precision, four lanes at a time as the
// baseline build rounds them.
inline int round_block(const float* sums, std::int16_t* pcm) {
    Ints4 outside{};
    for (int n = 0; n < kSubbands; n += 8) {
        Ints4 rounded[2];
        for (int half = 0; half < 2; ++half) {
            Floats4 sum;
            std::memcpy(&sum, sums + n + 4 * half, sizeof sum);
            round_lanes(sum, outside, rounded[half]);
        }
        store_pcm(rounded, pcm + n);
    }
    return count_lanes(outside);
}

// sums[n] -= column[n] * slot[n] for the 16 rows.
inline void subtract_terms(double* sums, const double* column, const double* slot) {
    for (int n = 0; n < 16; ++n) {
        sums[n] -= column[n] * slot[n];
    }
}

// Windows the stored values (slot k's row n at r[17 k + n]) into 32 PCM
// samples. Each output keeps its own running sum, added term by term in a
// fixed order; the outputs run side by side per term over a window column,
// and each slot is read once for the terms of both halves of the block.
inline void window_block(const double* r, int o, double* sums) {
    // Slot k's terms take column 16 - o + k in the head and column 15 + o -
    // k in the tail (16 + o for the last slot), all at fixed distances from
    // two columns.
    const double* head_columns = synthesis_tables().columns.data() + kWindowRows * (16 - o);
    const double* tail_columns = synthesis_tables().columns.data() + kWindowRows * (15 + o);
    // The column of slot k's terms in tail[n], which is output 32 - n (row
    // 0 runs along only to keep the loop whole).
    const auto tail_column = [&](int k) {
        return k < kSlots - 1 ? tail_columns - kWindowRows * k : tail_columns + kWindowRows;
    };
    double head[16] = {};
    double middle = 0;
    double tail[16] = {};
    // Unrolled whole, so that every slot's columns are fixed offsets.
#pragma GCC unroll 8
    for (int k = 0; k < kSlots; k += 2) {
        const double* even = head_columns + kWindowRows * k;
        const double* odd = even + kWindowRows;
        const double* even_slot = r + kRows * k;
        const double* odd_slot = even_slot + kRows;
        for (int n = 0; n < 16; ++n) {
            head[n] += even[n] * even_slot[n];
            head[n] -= odd[n] * odd_slot[n];
        }
        middle += even[16] * even_slot[16];
        subtract_terms(tail, tail_column(k), even_slot);
        subtract_terms(tail, tail_column(k + 1), odd_slot);
    }
    for (int n = 0; n < 16; ++n) {
        sums[n] = head[n];
    }
    sums[16] = middle;
    for (int n = 15; n > 0; --n) {
        sums[32 - n] = tail[n];
    }
}

// The 32 windowed sums of a block in the output form: rounded to 16 bits
// in the lanes of Doubles (returning the clip count), or as floats (nothing
// clipped).
template <typename Doubles> inline int emit_block(const double* sums, std::int16_t* pcm) {
    return round_block<Doubles>(sums, pcm);
}

template <typename Doubles> inline int emit_block(const double* sums, float* out) {
    for (int n = 0; n < kSubbands; ++n) {
        out[n] = static_cast<float>(sums[n]);
    }
    return 0;
}

// Windows a block whose DCT is x into pcm, after moving the ring on for
// channel 0.
template <typename Doubles, typename Sample>
inline int window_values(SynthesisState& state, const double* x, int channel, Sample* pcm) {
    if (channel == 0) {
        state.ring_index = (state.ring_index + 15) % 16;
    }
    int offset = 0;
    const double* r = store_block(state, x, channel, offset);
    double sums[kSubbands];
    window_block(r, offset, sums);
    return emit_block<Doubles>(sums, pcm);
}

// The DCTs of four blocks (32 samples each, `stride` doubles apart), side by
// side, then turned back into one 32-value row per block.
inline void dct_four_blocks(const double* blocks, int stride, double (*x)[kSubbands]) {
    Lanes4 in[kSubbands];
    for (int k = 0; k < kSubbands; ++k) {
        in[k] =
            Lanes4{blocks[k], blocks[stride + k], blocks[2 * stride + k], blocks[3 * stride + k]};
    }
    Lanes4 out[kSubbands];
    fast_dct<kSubbands>(synthesis_tables(), in, out);
    for (int m = 0; m < kSubbands; m += 4) {
        Lanes4 rows[4];
        transpose4(out + m, rows);
        for (int block = 0; block < 4; ++block) {
            std::memcpy(x[block] + m, &rows[block], sizeof rows[block]);
        }
    }
}

// The same for two blocks.
inline void dct_two_blocks(const double* blocks, int stride, double (*x)[kSubbands]) {
    Doubles2 in[kSubbands];
    for (int k = 0; k < kSubbands; ++k) {
        in[k] = Doubles2{blocks[k], blocks[stride + k]};
    }
    Doubles2 out[kSubbands];
    fast_dct<kSubbands>(synthesis_tables(), in, out);
    for (int m = 0; m < kSubbands; m += 2) {
        const Doubles2 first = __builtin_shufflevector(out[m], out[m + 1], 0, 2);
        const Doubles2 second = __builtin_shufflevector(out[m], out[m + 1], 1, 3);
        std::memcpy(x[0] + m, &first, sizeof first);
        std::memcpy(x[1] + m, &second, sizeof second);
    }
}

// The DCTs of four blocks in the lanes of Doubles: all four side by side in
// Lanes4, two and two in Doubles2.
template <typename Doubles>
inline void dct_side_by_side(const double* blocks, int stride, double (*x)[kSubbands]) {
    if constexpr (std::is_same_v<Doubles, Lanes4>) {
        dct_four_blocks(blocks, stride, x);
    } else {
        dct_two_blocks(blocks, stride, x);
        dct_two_blocks(blocks + 2 * stride, stride, x + 2);
    }
}

// The most blocks per channel a group holds: four side by side in double
// precision, and in single precision the lanes of the path's vector.
inline int group_blocks() {
    if (precision() == Precision::kDouble) {
        return 4;
    }
    return simd_path() == SimdPath::kAvx2 ? lane_count<Floats8>() : lane_count<Floats4>();
}

// The DCTs of `count` (1 to 4) blocks of each channel (block t of channel c
// at blocks[c] + 32 t) into row 4 c + t of x: four in the lanes of Doubles,
// fewer one by one.
template <typename Doubles>
inline void dct_blocks(const double* const* blocks, int channels, int count,
                       double (*x)[kSubbands]) {
    for (int c = 0; c < channels; ++c) {
        if (count == 4) {
            dct_side_by_side<Doubles>(blocks[c], kSubbands, x + 4 * c);
            continue;
        }
        for (int t = 0; t < count; ++t) {
            fast_dct<kSubbands>(synthesis_tables(), blocks[c] + kSubbands * t, x[4 * c + t]);
        }
    }
}

// Column j of the 8 x 8 matrix whose rows are rows[0..7], for j = 0..7.
inline void transpose_lanes(const Floats8* rows, Floats8* columns) {
    Floats8 pairs[8];
    for (int i = 0; i < 8; i += 2) {
        pairs[i] = __builtin_shufflevector(rows[i], rows[i + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        pairs[i + 1] = __builtin_shufflevector(rows[i], rows[i + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    Floats8 quads[8];
    for (int i = 0; i < 8; i += 4) {
        for (int h = 0; h < 2; ++h) {
            quads[i + 2 * h] =
                __builtin_shufflevector(pairs[i + h], pairs[i + 2 + h], 0, 1, 8, 9, 4, 5, 12, 13);
            quads[i + 2 * h + 1] =
                __builtin_shufflevector(pairs[i + h], pairs[i + 2 + h], 2, 3, 10, 11, 6, 7, 14, 15);
        }
    }
    for (int j = 0; j < 4; ++j) {
        columns[j] = __builtin_shufflevector(quads[j], quads[4 + j], 0, 1, 2, 3, 8, 9, 10, 11);
        columns[4 + j] =
            __builtin_shufflevector(quads[j], quads[4 + j], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// The same for a 4 x 4 matrix.
inline void transpose_lanes(const Floats4* rows, Floats4* columns) {
    transpose4(rows, columns);
}

// `count` (1 to 4) blocks of each channel: block t of channel c at
// blocks[c] + 32 t, in the order of single blocks (per block, channel 0
// first), rounded in the lanes of Doubles.
template <typename Doubles, typename Sample>
inline int synthesize_blocks_double(SynthesisState& state, const double* const* blocks,
                                    int channels, int count, Sample (*pcm)[2][kSubbands]) {
    double x[8][kSubbands];
    dct_blocks<Doubles>(blocks, channels, count, x);
    int clips = 0;
    for (int t = 0; t < count; ++t) {
        for (int c = 0; c < channels; ++c) {
            clips += window_values<Doubles>(state, x[4 * c + t], c, pcm[t][c]);
        }
    }
    return clips;
}

// Single precision runs a group of consecutive blocks of one channel in the
// lanes of a vector (Lanes: Floats8 or Floats4, as many blocks as lanes),
// from the DCT through the windowing to the rounding, and turns them into
// one row per block only at the end.

// The `count` (1 to the lane count) blocks at block, 32 samples each, in
// single precision, turned into lanes: in[k] holds sample k of each block
// (the last block repeated in the lanes beyond count).
template <typename Lanes> inline void load_lanes(const float* block, int count, Lanes* in) {
    constexpr int kLanes = lane_count<Lanes>();
    const float* rows[kLanes];
    for (int j = 0; j < kLanes; ++j) {
        rows[j] = block + kSubbands * std::min(j, count - 1);
    }
    Lanes tile[kLanes];
    for (int m = 0; m < kSubbands; m += kLanes) {
        for (int j = 0; j < kLanes; ++j) {
            std::memcpy(&tile[j], rows[j] + m, sizeof tile[j]);
        }
        transpose_lanes(tile, in + m);
    }
}

// The same for blocks in double precision, rounded to single first.
template <typename Lanes> inline void load_lanes(const double* block, int count, Lanes* in) {
    constexpr int kLanes = lane_count<Lanes>();
    float rows[kLanes][kSubbands];
    for (int j = 0; j < kLanes; ++j) {
        const double* row = block + kSubbands * std::min(j, count - 1);
        for (int k = 0; k < kSubbands; k += 4) {
            Lanes4 values;
            std::memcpy(&values, row + k, sizeof values);
            const Floats4 rounded = __builtin_convertvector(values, Floats4);
            std::memcpy(rows[j] + k, &rounded, sizeof rounded);
        }
    }
    load_lanes(rows[0], kLanes, in);
}

// Tap m of output j (see SynthesisTables::taps) in every lane of Lanes.
template <typename Lanes>
inline void load_tap(const SynthesisTables& tables, int j, int m, Lanes& tap) {
    std::memcpy(&tap, &tables.taps[j][m], sizeof tap);
}

// Windows the lanes of a group whose DCT outputs are stored at `end` of
// the history rows (lane l at end + l): sums[j] holds output j of each
// block, its terms added from the newest block back. Outputs j and 32 - j
// read the same values, so they run together. Unrolled whole, so that
// every term's row, offset and tap are fixed.
template <typename Lanes>
inline void window_lanes(const float (*history)[kSynthesisHistory], int end,
                         const SynthesisTables& tables, Lanes* sums) {
#pragma GCC unroll 17
    for (int j = 0; j <= kSubbands / 2; ++j) {
        const bool paired = j > 0 && j < kSubbands / 2;
        Lanes low{};
        Lanes high{};
        bool first = true;
#pragma GCC unroll 16
        for (int m = 0; m < kSynthesisTaps; ++m) {
            const Tap tap = tap_of(j, m);
            if (tap.sign == 0) {
                continue;
            }
            Lanes values;
            std::memcpy(&values, history[tap.row] + end - m, sizeof values);
            Lanes tap_low;
            load_tap(tables, j, m, tap_low);
            low = first ? tap_low * values : low + tap_low * values;
            if (paired) {
                Lanes tap_high;
                load_tap(tables, kSubbands - j, m, tap_high);
                high = first ? tap_high * values : high + tap_high * values;
            }
            first = false;
        }
        sums[j] = low;
        if (paired) {
            sums[kSubbands - j] = high;
        }
    }
}

// The lanes turned into rows for the first `count` blocks: lane t of
// lanes[j] into pcm[t][channel][j], eight outputs of a block at a time (in
// one row of eight lanes or two of four) written by `store`.
template <typename Lanes, typename Sample, typename Store>
inline void store_lanes(const Lanes* lanes, int count, Sample (*pcm)[2][kSubbands], int channel,
                        Store store) {
    constexpr int kLanes = lane_count<Lanes>();
    constexpr int kParts = 8 / kLanes;
    Lanes tiles[kParts][kLanes];
    for (int m = 0; m < kSubbands; m += 8) {
        for (int part = 0; part < kParts; ++part) {
            transpose_lanes(lanes + m + kLanes * part, tiles[part]);
        }
        for (int t = 0; t < count; ++t) {
            Lanes rows[kParts];
            for (int part = 0; part < kParts; ++part) {
                rows[part] = tiles[part][t];
            }
            store(rows, pcm[t][channel] + m);
        }
    }
}

// The numbers of the lanes.
template <typename Ints> inline void number_lanes(Ints& numbers) {
    for (int lane = 0; lane < lane_count<Ints>(); ++lane) {
        numbers[lane] = lane;
    }
}

// The sums of the group's first `count` blocks rounded to 16 bits; returns
// the number of clipped samples.
template <typename Lanes>
inline int emit_lanes(const Lanes* sums, int count, std::int16_t (*pcm)[2][kSubbands],
                      int channel) {
    using Ints = IntsOf<Lanes>;
    Ints outside{};
    Lanes rounded[kSubbands];
    for (int j = 0; j < kSubbands; ++j) {
        Ints whole;
        round_lanes(sums[j], outside, whole);
        rounded[j] = __builtin_bit_cast(Lanes, whole);
    }
    store_lanes(rounded, count, pcm, channel, [](const Lanes* rows, std::int16_t* out) {
        Ints whole[8 / lane_count<Lanes>()];
        std::memcpy(whole, rows, sizeof whole);
        store_pcm(whole, out);
    });
    Ints lane;
    number_lanes(lane);
    return count_lanes(outside & (lane < count));
}

// The sums as floats: nothing clipped.
template <typename Lanes>
inline int emit_lanes(const Lanes* sums, int count, float (*pcm)[2][kSubbands], int channel) {
    store_lanes(sums, count, pcm, channel,
                [](const Lanes* rows, float* out) { std::memcpy(out, rows, 8 * sizeof(float)); });
    return 0;
}

// Keeps the last blocks a window reads at the start of the history rows
// when the next group of `lanes` blocks might not fit behind them.
inline void make_room(float (*history)[kSynthesisHistory], int& end, int lanes) {
    if (end + lanes <= kSynthesisHistory) {
        return;
    }
    constexpr int kKept = kSynthesisTaps - 1;
    for (int k = 0; k < kSubbands; ++k) {
        std::memmove(history[k], history[k] + end - kKept, kKept * sizeof(float));
    }
    end = kKept;
}

// `count` (1 to the lane count) consecutive blocks of one channel at block,
// into pcm[t][channel].
template <typename Lanes, typename Sample, typename Block>
inline int synthesize_lanes(SynthesisState& state, const Block* block, int channel, int count,
                            Sample (*pcm)[2][kSubbands]) {
    const SynthesisTables& tables = synthesis_tables();
    Lanes in[kSubbands];
    load_lanes(block, count, in);
    Lanes out[kSubbands];
    fast_dct<kSubbands>(tables, in, out);
    float(*history)[kSynthesisHistory] = state.history[channel];
    int& end = state.history_end[channel];
    for (int k = 0; k < kSubbands; ++k) {
        std::memcpy(history[k] + end, &out[k], sizeof out[k]);
    }
    Lanes sums[kSubbands];
    window_lanes(history, end, tables, sums);
    const int clips = emit_lanes(sums, count, pcm, channel);
    end += count;
    make_room(history, end, lane_count<Lanes>());
    return clips;
}

// `count` (1 to group_blocks) blocks of each channel: block t of channel c
// at blocks[c] + 32 t, into pcm[t][c], single precision in the lanes of
// Lanes. Blocks in single precision (Block float) go to the
// single-precision synthesis only.
template <typename Real, typename Lanes, typename Sample, typename Block>
inline int synthesize_group_body(SynthesisState& state, const Block* const* blocks, int channels,
                                 int count, Sample (*pcm)[2][kSubbands]) {
    if constexpr (std::is_same_v<Real, double>) {
        // The doubles of a vector as wide as Lanes.
        using Doubles = std::conditional_t<sizeof(Lanes) == sizeof(Lanes4), Lanes4, Doubles2>;
        return synthesize_blocks_double<Doubles>(state, blocks, channels, count, pcm);
    } else {
        int clips = 0;
        for (int c = 0; c < channels; ++c) {
            clips += synthesize_lanes<Lanes>(state, blocks[c], c, count, pcm);
        }
        return clips;
    }
}

// The synthesis of a group of blocks with the matrixing and windowing
// inlined, once per vector path and precision; the baseline build keeps
// single precision in vectors of one register.
template <typename Real, typename Sample, typename Block>
[[gnu::flatten]] int synthesize_group_baseline(SynthesisState& state, const Block* const* blocks,
                                               int channels, int count,
                                               Sample (*pcm)[2][kSubbands]) {
    return synthesize_group_body<Real, Floats4>(state, blocks, channels, count, pcm);
}

template <typename Real, typename Sample, typename Block>
TESK_QUOR_AVX2 [[gnu::flatten]] int synthesize_group_avx2(SynthesisState& state,
                                                          const Block* const* blocks, int channels,
                                                          int count, Sample (*pcm)[2][kSubbands]) {
    return synthesize_group_body<Real, Floats8>(state, blocks, channels, count, pcm);
}

// The synthesis of a group into samples of the type Sample (std::int16_t
// or float).
template <typename Sample>
int synthesize_group(SynthesisState& state, const double* const* blocks, int channels, int count,
                     Sample (*pcm)[2][kSubbands]) {
    static const auto synthesize = pick_build(&synthesize_group_baseline<double, Sample, double>,
                                              &synthesize_group_avx2<double, Sample, double>,
                                              &synthesize_group_baseline<float, Sample, double>,
                                              &synthesize_group_avx2<float, Sample, double>);
    return synthesize(state, blocks, channels, count, pcm);
}

template <typename Sample>
int synthesize_group(SynthesisState& state, const float* const* blocks, int channels, int count,
                     Sample (*pcm)[2][kSubbands]) {
    static const auto synthesize = pick_simd(&synthesize_group_baseline<float, Sample, float>,
                                             &synthesize_group_avx2<float, Sample, float>);
    return synthesize(state, blocks, channels, count, pcm);
}

// The 32 float samples of a block of `channels` channels (pcm[c] for
// channel c), interleaved at out.
void store_block(unsigned char* out, const float (*pcm)[kSubbands], int channels) {
    if (channels == 1) {
        std::memcpy(out, pcm[0], sizeof pcm[0]);
        return;
    }
    for (int n = 0; n < kSubbands; n += 4) {
        Floats4 left;
        Floats4 right;
        std::memcpy(&left, pcm[0] + n, sizeof left);
        std::memcpy(&right, pcm[1] + n, sizeof right);
        const Floats4 low = __builtin_shufflevector(left, right, 0, 4, 1, 5);
        const Floats4 high = __builtin_shufflevector(left, right, 2, 6, 3, 7);
        std::memcpy(out + 8 * n, &low, sizeof low);
        std::memcpy(out + 8 * n + sizeof low, &high, sizeof high);
    }
}

// The same for 16-bit samples.
void store_block(unsigned char* out, const std::int16_t (*pcm)[kSubbands], int channels) {
    if (channels == 1) {
        std::memcpy(out, pcm[0], sizeof pcm[0]);
        return;
    }
#if defined(__SSE2__)
    for (int n = 0; n < kSubbands; n += 8) {
        const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pcm[0] + n));
        const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pcm[1] + n));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * n), _mm_unpacklo_epi16(left, right));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * n + 16),
                         _mm_unpackhi_epi16(left, right));
    }
#else
    for (int n = 0; n < kSubbands; ++n) {
        std::memcpy(out + 4 * n, pcm[0] + n, sizeof pcm[0][n]);
        std::memcpy(out + 4 * n + 2, pcm[1] + n, sizeof pcm[1][n]);
    }
#endif
}

} // namespace

void set_synthesis_phase(SynthesisState& state, std::int64_t block) {
    // The ring starts at slot 1 and moves one slot back per block.
    state.ring_index = static_cast<int>(((1 - block) % kSlots + kSlots) % kSlots);
}

void init_synthesis_tables() {
    synthesis_tables();
}

// The whole recursion of the fast DCT is inlined into one straight-line body.
[[gnu::flatten]] void dct32(const double* samples, double* a, double* b) {
    // With X the 32-point DCT-II of the samples, V(i) = X(16 + i) and
    // X(64 - m) = -X(m), so a[r] = X(16 - r) and b[r] = X(16 + r).
    double x[kSubbands];
    fast_dct<kSubbands>(synthesis_tables(), samples, x);
    place_values<double>(x, a, b);
}

int round_block_to_pcm16(const double* sums, std::int16_t* pcm) {
    return round_block<Doubles2>(sums, pcm);
}

int round_block_to_pcm16(const float* sums, std::int16_t* pcm) {
    return round_block(sums, pcm);
}

std::int16_t round_to_pcm16(double sum, int& clips) {
    clips += clip_count(sum);
    return static_cast<std::int16_t>(clip_and_round(sum));
}

namespace {

// synthesize_blocks16 into samples of the type Sample.
template <typename Sample, typename Block>
int synthesize_blocks_as(SynthesisState& state, const Block* const* blocks, int channels, int count,
                         unsigned char* output, int& position) {
    const int stride = static_cast<int>(sizeof(Sample)) * channels;
    const int most = group_blocks();
    int clips = 0;
    for (int t = 0; t < count; t += most) {
        const int group = std::min(most, count - t);
        const Block* starts[2] = {blocks[0] + kSubbands * t, blocks[channels - 1] + kSubbands * t};
        Sample pcm[8][2][kSubbands];
        clips += synthesize_group(state, starts, channels, group, pcm);
        for (int b = 0; b < group; ++b) {
            store_block(output + position, pcm[b], channels);
            position += stride * kSubbands;
        }
    }
    return clips;
}

// synthesize_blocks16 in the decoder's output form.
template <typename Block>
int synthesize_blocks_in_form(FrameDecoder& decoder, const Block* const* blocks, int channels,
                              int count, unsigned char* output, int& position) {
    if (decoder.synthesis.output == SampleOutput::kFloat) {
        return synthesize_blocks_as<float>(decoder.synthesis, blocks, channels, count, output,
                                           position);
    }
    return synthesize_blocks_as<std::int16_t>(decoder.synthesis, blocks, channels, count, output,
                                              position);
}

} // namespace

int synthesize_blocks16(FrameDecoder& decoder, const double* const* blocks, int channels, int count,
                        unsigned char* output, int& position) {
    return synthesize_blocks_in_form(decoder, blocks, channels, count, output, position);
}

int synthesize_blocks16(FrameDecoder& decoder, const float* const* blocks, int channels, int count,
                        unsigned char* output, int& position) {
    return synthesize_blocks_in_form(decoder, blocks, channels, count, output, position);
}

} // namespace tesk::quor
