#include "decoder/core/synthesis.h"

#include <algorithm>
#include <array>
#include <bit>
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
    // 16), as 32 columns: columns[j][n] is entry j + 32 n of the flat window,
    // so one column serves the same term of every output at once.
    std::array<std::array<double, kWindowRows>, kWindowColumns> columns{};
    // The same columns in single precision.
    std::array<std::array<float, kWindowRows>, kWindowColumns> single_columns{};
    // Per stage t: 1 / (2 cos(pi (2k + 1) / (64 >> t))), k < 16 >> t.
    std::array<std::array<double, 16>, kDctStages> dct{};
};

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
        const double value = window[p_index];
        tables.columns[p_index % kWindowColumns][p_index / kWindowColumns] = value;
        tables.single_columns[p_index % kWindowColumns][p_index / kWindowColumns] =
            static_cast<float>(value);
    }
}

void build_dct_constants(SynthesisTables& tables) {
    for (int t = 0; t < kDctStages; ++t) {
        for (int k = 0; k < (16 >> t); ++k) {
            tables.dct[t][k] = 1.0 / (2.0 * std::cos(std::numbers::pi * (2 * k + 1) / (64 >> t)));
        }
    }
}

const SynthesisTables& synthesis_tables() {
    static const SynthesisTables tables = [] {
        SynthesisTables built;
        build_window(built);
        build_dct_constants(built);
        return built;
    }();
    return tables;
}

// The window columns in the precision Real of the windowing.
template <typename Real> const auto& window_columns() {
    if constexpr (std::is_same_v<Real, double>) {
        return synthesis_tables().columns;
    } else {
        return synthesis_tables().single_columns;
    }
}

// A channel's two halves of stored values in the precision Real.
template <typename Real> auto stored_halves(SynthesisState& state, int channel) {
    if constexpr (std::is_same_v<Real, double>) {
        return state.halves[channel];
    } else {
        return state.single_halves[channel];
    }
}

// DCT-II of N points, out[m] = sum over k of in[k] cos(pi m (2k + 1) / 2N),
// split into the sums and the scaled differences of mirrored inputs, each
// transformed at half the length.
// T is double for one block, or Lanes4 for four blocks side by side, each
// lane doing the operations of the one-block transform in the same order.
template <int N, typename T> void fast_dct(const SynthesisTables& tables, const T* in, T* out) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        constexpr int kHalf = N / 2;
        constexpr int kStage = N == 32 ? 0 : N == 16 ? 1 : N == 8 ? 2 : N == 4 ? 3 : 4;
        const double* scale = tables.dct[kStage].data();
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

// Four values of the precision Real side by side.
template <typename Real>
using RealLanes4 = std::conditional_t<std::is_same_v<Real, double>, Lanes4,
                                      float __attribute__((vector_size(4 * sizeof(float))))>;

// The 33 stored matrixing values of a block from its 32-point DCT-II x,
// rounded to the precision Real: a[r] = x[16 - r] (17 values) and b[r] =
// x[16 + r] (16 values).
template <typename Real> void place_values(const double* x, Real* a, Real* b) {
    using Out = RealLanes4<Real>;
    for (int r = 0; r < 16; r += 4) {
        Lanes4 low;
        Lanes4 high;
        std::memcpy(&low, x + 13 - r, sizeof low);
        std::memcpy(&high, x + 16 + r, sizeof high);
        const Out reversed = __builtin_convertvector(TESK_QUOR_REVERSED(low), Out);
        const Out upper = __builtin_convertvector(high, Out);
        std::memcpy(a + r, &reversed, sizeof reversed);
        std::memcpy(b + r, &upper, sizeof upper);
    }
    a[16] = static_cast<Real>(x[0]);
}

// Stores the block's matrixing values (from its DCT x) in the channel's
// halves, slot by slot (a slot's 17 values contiguous), and returns the half
// the window reads and its slot offset.
template <typename Real>
const Real* store_block(SynthesisState& state, const double* x, int channel, int& offset) {
    const int b = state.ring_index;
    Real* h0 = stored_halves<Real>(state, channel)[0];
    Real* h1 = stored_halves<Real>(state, channel)[1];
    if (b % 2 == 1) {
        place_values(x, h1 + kRows * ((b + 1) % kSlots), h0 + kRows * b);
        offset = b;
        return h0;
    }
    place_values(x, h0 + kRows * b, h1 + kRows * (b + 1));
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

// clip_and_round of the 32 sums of a block, four at a time; returns the sum
// of their clip_count. A sum that is not a number gives -32768, as the
// clipping takes the bound whenever the sum is not above it.
inline int round_block(const double* sums, std::int16_t* pcm) {
    const Lanes4 low = Lanes4{} - 32768.0;
    const Lanes4 high = Lanes4{} + 32767.0;
    const Masks4 half = __builtin_bit_cast(Masks4, Lanes4{} + 0.5);
    const Masks4 sign = Masks4{} + std::numeric_limits<std::int64_t>::min();
    Masks4 outside{};
    for (int n = 0; n < kSubbands; n += 4) {
        Lanes4 sum;
        std::memcpy(&sum, sums + n, sizeof sum);
        // Each compare gives -1 in the lanes where it holds.
        outside += (sum > high) | (sum < low);
        const Lanes4 raised = sum > low ? sum : low;
        const Lanes4 clipped = raised < high ? raised : high;
        const Lanes4 away =
            __builtin_bit_cast(Lanes4, half | (__builtin_bit_cast(Masks4, clipped) & sign));
        const Shorts4 rounded =
            __builtin_convertvector(__builtin_convertvector(clipped + away, Ints4), Shorts4);
        std::memcpy(pcm + n, &rounded, sizeof rounded);
    }
    return static_cast<int>(-(outside[0] + outside[1] + outside[2] + outside[3]));
}

using Floats8 = float __attribute__((vector_size(8 * sizeof(float))));
using Ints8 = std::int32_t __attribute__((vector_size(8 * sizeof(std::int32_t))));
using Shorts8 = std::int16_t __attribute__((vector_size(8 * sizeof(std::int16_t))));

// round_block for sums in single precision, eight at a time, without
// leaving it: the sum clipped and cut to its integer part, which is moved
// one away from zero when the cut fraction is at least a half. Every step
// is exact, so the result is that of the double rounding of the same sums.
inline int round_block(const float* sums, std::int16_t* pcm) {
    const Floats8 low = Floats8{} - 32768.0F;
    const Floats8 high = Floats8{} + 32767.0F;
    const Floats8 half = Floats8{} + 0.5F;
    Ints8 outside{};
    for (int n = 0; n < kSubbands; n += 8) {
        Floats8 sum;
        std::memcpy(&sum, sums + n, sizeof sum);
        outside += (sum > high) | (sum < low);
        const Floats8 raised = sum > low ? sum : low;
        const Floats8 clipped = raised < high ? raised : high;
        const Ints8 whole = __builtin_convertvector(clipped, Ints8);
        const Floats8 fraction = clipped - __builtin_convertvector(whole, Floats8);
        const Ints8 past_half = (fraction >= half) | (fraction <= -half);
        // +1 for a positive sum, -1 for a negative one.
        const Ints8 away = (__builtin_bit_cast(Ints8, clipped) >> 31) | 1;
        const Shorts8 rounded = __builtin_convertvector(whole + (past_half & away), Shorts8);
        std::memcpy(pcm + n, &rounded, sizeof rounded);
    }
    int count = 0;
    for (int lane = 0; lane < 8; ++lane) {
        count -= outside[lane];
    }
    return count;
}

// sums[n] -= column[n] * slot[n] for the 16 rows.
template <typename Real>
inline void subtract_terms(Real* sums, const Real* column, const Real* slot) {
    for (int n = 0; n < 16; ++n) {
        sums[n] -= column[n] * slot[n];
    }
}

// Windows the stored values (slot k's row n at r[17 k + n]) into 32 PCM
// samples. Each output keeps its own running sum, added term by term in a
// fixed order; the outputs run side by side per term over a window column,
// and each slot is read once for the terms of both halves of the block, in
// the precision Real.
template <typename Real> int window_block(const Real* r, int o, std::int16_t* pcm) {
    const auto& columns = window_columns<Real>();
    const int q = 16 - o;
    // The column of slot k's terms in tail[n], which is output 32 - n (row
    // 0 runs along only to keep the loop whole).
    const auto tail_column = [&](int k) {
        return columns[k < kSlots - 1 ? 15 + o - k : 16 + o].data();
    };
    Real head[16] = {};
    Real middle = 0;
    Real tail[16] = {};
    for (int k = 0; k < kSlots; k += 2) {
        const Real* even = columns[q + k].data();
        const Real* odd = columns[q + k + 1].data();
        const Real* even_slot = r + kRows * k;
        const Real* odd_slot = even_slot + kRows;
        for (int n = 0; n < 16; ++n) {
            head[n] += even[n] * even_slot[n];
            head[n] -= odd[n] * odd_slot[n];
        }
        middle += even[16] * even_slot[16];
        subtract_terms(tail, tail_column(k), even_slot);
        subtract_terms(tail, tail_column(k + 1), odd_slot);
    }
    Real sums[kSubbands];
    for (int n = 0; n < 16; ++n) {
        sums[n] = head[n];
    }
    sums[16] = middle;
    for (int n = 15; n > 0; --n) {
        sums[32 - n] = tail[n];
    }
    return round_block(sums, pcm);
}

// Windows a block whose DCT is x into pcm, after moving the ring on for
// channel 0.
template <typename Real>
inline int window_values(SynthesisState& state, const double* x, int channel, std::int16_t* pcm) {
    if (channel == 0) {
        state.ring_index = (state.ring_index + 15) % 16;
    }
    int offset = 0;
    const Real* r = store_block<Real>(state, x, channel, offset);
    return window_block(r, offset, pcm);
}

template <typename Real>
inline int synthesize_block_body(SynthesisState& state, const double* samples, int channel,
                                 std::int16_t* pcm) {
    double x[kSubbands];
    fast_dct<kSubbands>(synthesis_tables(), samples, x);
    return window_values<Real>(state, x, channel, pcm);
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
        const Lanes4 t0 = __builtin_shufflevector(out[m], out[m + 1], 0, 4, 2, 6);
        const Lanes4 t1 = __builtin_shufflevector(out[m], out[m + 1], 1, 5, 3, 7);
        const Lanes4 t2 = __builtin_shufflevector(out[m + 2], out[m + 3], 0, 4, 2, 6);
        const Lanes4 t3 = __builtin_shufflevector(out[m + 2], out[m + 3], 1, 5, 3, 7);
        const Lanes4 rows[4] = {__builtin_shufflevector(t0, t2, 0, 1, 4, 5),
                                __builtin_shufflevector(t1, t3, 0, 1, 4, 5),
                                __builtin_shufflevector(t0, t2, 2, 3, 6, 7),
                                __builtin_shufflevector(t1, t3, 2, 3, 6, 7)};
        for (int block = 0; block < 4; ++block) {
            std::memcpy(x[block] + m, &rows[block], sizeof rows[block]);
        }
    }
}

// Four blocks of each channel: block t of channel c at blocks[c] + 32 t, in
// the order of single blocks (per block, channel 0 first).
template <typename Real>
inline int synthesize_four_body(SynthesisState& state, const double* const* blocks, int channels,
                                std::int16_t (*pcm)[2][kSubbands]) {
    double x[2][4][kSubbands];
    for (int c = 0; c < channels; ++c) {
        dct_four_blocks(blocks[c], kSubbands, x[c]);
    }
    int clips = 0;
    for (int t = 0; t < 4; ++t) {
        for (int c = 0; c < channels; ++c) {
            clips += window_values<Real>(state, x[c][t], c, pcm[t][c]);
        }
    }
    return clips;
}

// The block synthesis with the matrixing and windowing inlined, once per
// vector path and precision.
template <typename Real>
[[gnu::flatten]] int synthesize_block_baseline(SynthesisState& state, const double* samples,
                                               int channel, std::int16_t* pcm) {
    return synthesize_block_body<Real>(state, samples, channel, pcm);
}

template <typename Real>
TESK_QUOR_AVX2 [[gnu::flatten]] int synthesize_block_avx2(SynthesisState& state,
                                                          const double* samples, int channel,
                                                          std::int16_t* pcm) {
    return synthesize_block_body<Real>(state, samples, channel, pcm);
}

template <typename Real>
[[gnu::flatten]] int synthesize_four_baseline(SynthesisState& state, const double* const* blocks,
                                              int channels, std::int16_t (*pcm)[2][kSubbands]) {
    return synthesize_four_body<Real>(state, blocks, channels, pcm);
}

template <typename Real>
TESK_QUOR_AVX2 [[gnu::flatten]] int synthesize_four_avx2(SynthesisState& state,
                                                         const double* const* blocks, int channels,
                                                         std::int16_t (*pcm)[2][kSubbands]) {
    return synthesize_four_body<Real>(state, blocks, channels, pcm);
}

int synthesize_block(SynthesisState& state, const double* samples, int channel, std::int16_t* pcm) {
    static const auto synthesize =
        pick_build(&synthesize_block_baseline<double>, &synthesize_block_avx2<double>,
                   &synthesize_block_baseline<float>, &synthesize_block_avx2<float>);
    return synthesize(state, samples, channel, pcm);
}

int synthesize_four(SynthesisState& state, const double* const* blocks, int channels,
                    std::int16_t (*pcm)[2][kSubbands]) {
    static const auto synthesize =
        pick_build(&synthesize_four_baseline<double>, &synthesize_four_avx2<double>,
                   &synthesize_four_baseline<float>, &synthesize_four_avx2<float>);
    return synthesize(state, blocks, channels, pcm);
}

// The 32 samples of a block of `channels` channels (pcm[c] for channel c),
// interleaved at out.
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
    return round_block(sums, pcm);
}

int round_block_to_pcm16(const float* sums, std::int16_t* pcm) {
    return round_block(sums, pcm);
}

std::int16_t round_to_pcm16(double sum, int& clips) {
    clips += clip_count(sum);
    return static_cast<std::int16_t>(clip_and_round(sum));
}

int synthesize_blocks16(FrameDecoder& decoder, const double* const* blocks, int channels, int count,
                        unsigned char* output, int& position) {
    const int stride = 2 * channels;
    int clips = 0;
    int t = 0;
    for (; t + 4 <= count; t += 4) {
        const double* four[2] = {blocks[0] + kSubbands * t, blocks[channels - 1] + kSubbands * t};
        std::int16_t pcm[4][2][kSubbands];
        clips += synthesize_four(decoder.synthesis, four, channels, pcm);
        for (const auto& block : pcm) {
            store_block(output + position, block, channels);
            position += stride * kSubbands;
        }
    }
    for (; t < count; ++t) {
        std::int16_t pcm[2][kSubbands];
        for (int c = 0; c < channels; ++c) {
            clips += synthesize_block(decoder.synthesis, blocks[c] + kSubbands * t, c, pcm[c]);
        }
        store_block(output + position, pcm, channels);
        position += stride * kSubbands;
    }
    return clips;
}

} // namespace tesk::quor
