#include "decoder/core/synthesis.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

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
        tables.columns[p_index % kWindowColumns][p_index / kWindowColumns] = window[p_index];
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

// The 33 stored matrixing values of a block from its 32-point DCT-II x:
// a[r] = x[16 - r] (17 values) and b[r] = x[16 + r] (16 values).
void place_values(const double* x, double* a, double* b) {
    for (int r = 0; r < 16; r += 4) {
        Lanes4 low;
        Lanes4 high;
        std::memcpy(&low, x + 13 - r, sizeof low);
        std::memcpy(&high, x + 16 + r, sizeof high);
        const Lanes4 reversed = TESK_QUOR_REVERSED(low);
        std::memcpy(a + r, &reversed, sizeof reversed);
        std::memcpy(b + r, &high, sizeof high);
    }
    a[16] = x[0];
}

// Stores the block's matrixing values (from its DCT x) in the channel's
// halves, slot by slot (a slot's 17 values contiguous), and returns the half
// the window reads and its slot offset.
const double* store_block(SynthesisState& state, const double* x, int channel, int& offset) {
    const int b = state.ring_index;
    double* h0 = state.halves[channel][0];
    double* h1 = state.halves[channel][1];
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

#if defined(__SSE2__)
// clip_and_round of the 32 sums of a block, four at a time; returns the sum
// of their clip_count.
int round_block(const double* sums, std::int16_t* pcm) {
    const __m128d low = _mm_set1_pd(-32768.0);
    const __m128d high = _mm_set1_pd(32767.0);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d sign = _mm_set1_pd(-0.0);
    int clips = 0;
    for (int n = 0; n < kSubbands; n += 4) {
        __m128i pairs[2];
        for (int i = 0; i < 2; ++i) {
            const __m128d sum = _mm_loadu_pd(sums + n + 2 * i);
            const __m128d outside = _mm_or_pd(_mm_cmpgt_pd(sum, high), _mm_cmplt_pd(sum, low));
            clips += std::popcount(static_cast<unsigned>(_mm_movemask_pd(outside)));
            const __m128d clipped = _mm_min_pd(_mm_max_pd(sum, low), high);
            const __m128d away = _mm_or_pd(half, _mm_and_pd(clipped, sign));
            pairs[i] = _mm_cvttpd_epi32(_mm_add_pd(clipped, away));
        }
        const __m128i four = _mm_unpacklo_epi64(pairs[0], pairs[1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pcm + n), _mm_packs_epi32(four, four));
    }
    return clips;
}
#else
int round_block(const double* sums, std::int16_t* pcm) {
    int clips = 0;
    for (int n = 0; n < kSubbands; ++n) {
        clips += clip_count(sums[n]);
        pcm[n] = static_cast<std::int16_t>(clip_and_round(sums[n]));
    }
    return clips;
}
#endif

// sums[n] -= column[n] * slot[n] for the 16 rows.
inline void subtract_terms(double* sums, const double* column, const double* slot) {
    for (int n = 0; n < 16; ++n) {
        sums[n] -= column[n] * slot[n];
    }
}

// Windows the stored values (slot k's row n at r[17 k + n]) into 32 PCM
// samples. Each output keeps its own running sum, added term by term in a
// fixed order; the outputs run side by side per term over a window column.
int window_block(const double* r, int o, std::int16_t* pcm) {
    const auto& columns = synthesis_tables().columns;
    const int q = 16 - o;
    double head[16] = {};
    for (int k = 0; k < kSlots; k += 2) {
        const double* even = columns[q + k].data();
        const double* odd = columns[q + k + 1].data();
        const double* even_slot = r + kRows * k;
        const double* odd_slot = even_slot + kRows;
        for (int n = 0; n < 16; ++n) {
            head[n] += even[n] * even_slot[n];
            head[n] -= odd[n] * odd_slot[n];
        }
    }
    double middle = 0.0;
    for (int k = 0; k < kSlots; k += 2) {
        middle += columns[q + k][16] * r[kRows * k + 16];
    }
    // tail[n] is output 32 - n; row 0 runs along only to keep the loop whole.
    double tail[16] = {};
    for (int k = 0; k < kSlots - 1; ++k) {
        subtract_terms(tail, columns[15 + o - k].data(), r + kRows * k);
    }
    subtract_terms(tail, columns[16 + o].data(), r + kRows * (kSlots - 1));
    double sums[kSubbands];
    for (int n = 0; n < 16; ++n) {
        sums[n] = head[n];
    }
    sums[16] = middle;
    for (int n = 15; n > 0; --n) {
        sums[32 - n] = tail[n];
    }
    return round_block_to_pcm16(sums, pcm);
}

// Windows a block whose DCT is x into pcm, after moving the ring on for
// channel 0.
inline int window_values(SynthesisState& state, const double* x, int channel, std::int16_t* pcm) {
    if (channel == 0) {
        state.ring_index = (state.ring_index + 15) % 16;
    }
    int offset = 0;
    const double* r = store_block(state, x, channel, offset);
    return window_block(r, offset, pcm);
}

inline int synthesize_block_body(SynthesisState& state, const double* samples, int channel,
                                 std::int16_t* pcm) {
    double x[kSubbands];
    fast_dct<kSubbands>(synthesis_tables(), samples, x);
    return window_values(state, x, channel, pcm);
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
inline int synthesize_four_body(SynthesisState& state, const double* const* blocks, int channels,
                                std::int16_t (*pcm)[2][kSubbands]) {
    double x[2][4][kSubbands];
    for (int c = 0; c < channels; ++c) {
        dct_four_blocks(blocks[c], kSubbands, x[c]);
    }
    int clips = 0;
    for (int t = 0; t < 4; ++t) {
        for (int c = 0; c < channels; ++c) {
            clips += window_values(state, x[c][t], c, pcm[t][c]);
        }
    }
    return clips;
}

// The block synthesis with the matrixing and windowing inlined, once per
// vector path.
[[gnu::flatten]] int synthesize_block_baseline(SynthesisState& state, const double* samples,
                                               int channel, std::int16_t* pcm) {
    return synthesize_block_body(state, samples, channel, pcm);
}

TESK_QUOR_AVX2 [[gnu::flatten]] int synthesize_block_avx2(SynthesisState& state,
                                                          const double* samples, int channel,
                                                          std::int16_t* pcm) {
    return synthesize_block_body(state, samples, channel, pcm);
}

[[gnu::flatten]] int synthesize_four_baseline(SynthesisState& state, const double* const* blocks,
                                              int channels, std::int16_t (*pcm)[2][kSubbands]) {
    return synthesize_four_body(state, blocks, channels, pcm);
}

TESK_QUOR_AVX2 [[gnu::flatten]] int synthesize_four_avx2(SynthesisState& state,
                                                         const double* const* blocks, int channels,
                                                         std::int16_t (*pcm)[2][kSubbands]) {
    return synthesize_four_body(state, blocks, channels, pcm);
}

int synthesize_block(SynthesisState& state, const double* samples, int channel, std::int16_t* pcm) {
    static const auto synthesize = pick_simd(&synthesize_block_baseline, &synthesize_block_avx2);
    return synthesize(state, samples, channel, pcm);
}

int synthesize_four(SynthesisState& state, const double* const* blocks, int channels,
                    std::int16_t (*pcm)[2][kSubbands]) {
    static const auto synthesize = pick_simd(&synthesize_four_baseline, &synthesize_four_avx2);
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

void init_synthesis_tables() {
    synthesis_tables();
}

// The whole recursion of the fast DCT is inlined into one straight-line body.
[[gnu::flatten]] void dct32(const double* samples, double* a, double* b) {
    // With X the 32-point DCT-II of the samples, V(i) = X(16 + i) and
    // X(64 - m) = -X(m), so a[r] = X(16 - r) and b[r] = X(16 + r).
    double x[kSubbands];
    fast_dct<kSubbands>(synthesis_tables(), samples, x);
    place_values(x, a, b);
}

int round_block_to_pcm16(const double* sums, std::int16_t* pcm) {
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
