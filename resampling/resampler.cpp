#include "resampling/resampler.h"

#include "resampling/kaiser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace tesk::samplerateconverter {

namespace {

// Shape of the Kaiser window: trades the flatness of the pass band against
// the depth of the stop band.
constexpr double kKaiserBeta = 8.0;
constexpr int kMaxLog2PhaseCount = 16;
constexpr int kMaxFilterLength = 1024;
constexpr std::int64_t kMostTabledPositions = 1 << 16;

} // namespace

struct ResampleContext {
    int taps = 0;
    int phaseCount = 0;
    // The rate ratio in lowest terms: each output sample advances the input
    // position by inRate / outRate samples.
    std::int64_t inRate = 0;
    std::int64_t outRate = 0;
    // Input position of the next output sample: index of its first tap,
    // relative to the start of the next source block, plus frac / outRate.
    std::int64_t index = 0;
    std::int64_t frac = 0;
    // phaseCount + 1 filters of taps coefficients; the last one is the
    // first shifted by a whole sample, so that rounding to the nearest phase
    // never has to step to the next input sample.
    std::vector<float> bank;
    // For a reduced output rate up to kMostTabledPositions: the start in bank
    // of the filter of each frac, so that no output sample divides.
    std::vector<std::int32_t> filterOfFrac;
};

namespace {

int centreTap(int taps) {
    return taps / 2 - 1;
}

// The start in the bank of the filter nearest to the position frac / outRate
// past an input sample.
std::int64_t filterStart(const ResampleContext& context, std::int64_t frac) {
    const std::int64_t phaseCount = context.phaseCount;
    const std::int64_t phase = (2 * frac * phaseCount + context.outRate) / (2 * context.outRate);
    return phase * context.taps;
}

void tabulateFilters(ResampleContext& context) {
    if (context.outRate > kMostTabledPositions) {
        return;
    }
    context.filterOfFrac.resize(static_cast<std::size_t>(context.outRate));
    for (std::int64_t frac = 0; frac < context.outRate; ++frac) {
        context.filterOfFrac[static_cast<std::size_t>(frac)] =
            static_cast<std::int32_t>(filterStart(context, frac));
    }
}

void buildFilterBank(ResampleContext& context, double bandwidth) {
    const int taps = context.taps;
    const int centre = centreTap(taps);
    const double halfWidth = taps / 2.0;
    context.bank.resize(static_cast<std::size_t>(context.phaseCount + 1) * taps);
    std::vector<double> filter(static_cast<std::size_t>(taps));
    for (int phase = 0; phase <= context.phaseCount; ++phase) {
        const double shift = static_cast<double>(phase) / context.phaseCount;
        for (int tap = 0; tap < taps; ++tap) {
            const double offset = (tap - centre) - shift;
            filter[tap] = sinc(bandwidth * offset) * kaiser(offset, halfWidth, kKaiserBeta);
        }
        const double gain = std::accumulate(filter.begin(), filter.end(), 0.0);
        float* out = &context.bank[static_cast<std::size_t>(phase) * taps];
        for (int tap = 0; tap < taps; ++tap) {
            out[tap] = static_cast<float>(filter[tap] / gain);
        }
    }
}

void store(short& out, float value) {
    const long rounded = std::lrint(value);
    out = static_cast<short>(std::clamp<long>(rounded, -32768, 32767));
}

void store(float& out, float value) {
    out = value;
}

// Four running sums keep the additions independent of each other.
template <class Sample> float dotFull(const Sample* src, const float* filter, int taps) {
    std::array<float, 4> sums{};
    int tap = 0;
    for (; tap + 4 <= taps; tap += 4) {
        for (int lane = 0; lane < 4; ++lane) {
            sums[lane] += static_cast<float>(src[tap + lane]) * filter[tap + lane];
        }
    }
    for (; tap < taps; ++tap) {
        sums[0] += static_cast<float>(src[tap]) * filter[tap];
    }
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

#if defined(__SSE2__)
// The same four running sums, one per vector lane, on float samples: the
// same additions in the same order, so the same result to the bit.
template <> float dotFull(const float* src, const float* filter, int taps) {
    __m128 sums = _mm_setzero_ps();
    int tap = 0;
    for (; tap + 4 <= taps; tap += 4) {
        sums = _mm_add_ps(sums, _mm_mul_ps(_mm_loadu_ps(src + tap), _mm_loadu_ps(filter + tap)));
    }
    std::array<float, 4> lanes{};
    _mm_storeu_ps(lanes.data(), sums);
    for (; tap < taps; ++tap) {
        lanes[0] += src[tap] * filter[tap];
    }
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}
#endif

// The first taps lie before the start of the stream, which reads as silence.
template <class Sample>
float dotPrimed(const Sample* src, std::int64_t index, const float* filter, int taps) {
    float sum = 0.0f;
    for (int tap = static_cast<int>(-index); tap < taps; ++tap) {
        sum += static_cast<float>(src[index + tap]) * filter[tap];
    }
    return sum;
}

} // namespace

ResampleContext* av_resample_init(int out_rate, int in_rate, int filter_length,
                                  int log2_phase_count, int linear, double cutoff) {
    if (out_rate <= 0 || in_rate <= 0 || filter_length < 2 || filter_length > kMaxFilterLength ||
        log2_phase_count < 0 || log2_phase_count > kMaxLog2PhaseCount || linear != 0 ||
        !(cutoff > 0.0 && cutoff <= 1.0)) {
        return nullptr;
    }
    try {
        auto context = std::make_unique<ResampleContext>();
        const int divisor = std::gcd(out_rate, in_rate);
        context->inRate = in_rate / divisor;
        context->outRate = out_rate / divisor;
        const double narrowing = std::min(1.0, static_cast<double>(out_rate) / in_rate);
        const int halfTaps = static_cast<int>(std::ceil(filter_length / (2.0 * narrowing)));
        context->taps = std::min(2 * halfTaps, kMaxFilterLength);
        context->phaseCount = 1 << log2_phase_count;
        context->index = -centreTap(context->taps);
        context->frac = 0;
        buildFilterBank(*context, narrowing * cutoff);
        tabulateFilters(*context);
        return context.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

template <class Sample>
int resampleWith(ResampleContext* context, Sample* dst, const Sample* src, int* consumed,
                 int src_size, int dst_size, int update_ctx) {
    if (context == nullptr || dst == nullptr || consumed == nullptr || src_size < 0 ||
        dst_size < 0 || (src == nullptr && src_size > 0)) {
        return -1;
    }
    const int taps = context->taps;
    const std::int64_t outRate = context->outRate;
    const std::int64_t indexStep = context->inRate / outRate;
    const std::int64_t fracStep = context->inRate % outRate;
    std::int64_t index = context->index;
    std::int64_t frac = context->frac;
    int written = 0;
    while (written < dst_size && index + taps <= src_size) {
        const std::int64_t start = context->filterOfFrac.empty()
                                       ? filterStart(*context, frac)
                                       : context->filterOfFrac[static_cast<std::size_t>(frac)];
        const float* filter = &context->bank[static_cast<std::size_t>(start)];
        const float sum =
            index >= 0 ? dotFull(src + index, filter, taps) : dotPrimed(src, index, filter, taps);
        store(dst[written++], sum);
        index += indexStep;
        frac += fracStep;
        if (frac >= outRate) {
            frac -= outRate;
            ++index;
        }
    }
    const std::int64_t used = std::clamp<std::int64_t>(index, 0, src_size);
    *consumed = static_cast<int>(used);
    if (update_ctx != 0) {
        context->index = index - used;
        context->frac = frac;
    }
    return written;
}

} // namespace

int av_resample(ResampleContext* context, short* dst, const short* src, int* consumed, int src_size,
                int dst_size, int update_ctx) {
    return resampleWith(context, dst, src, consumed, src_size, dst_size, update_ctx);
}

int av_resample(ResampleContext* context, float* dst, const float* src, int* consumed, int src_size,
                int dst_size, int update_ctx) {
    return resampleWith(context, dst, src, consumed, src_size, dst_size, update_ctx);
}

void av_resample_close(ResampleContext* context) {
    delete context;
}

} // namespace tesk::samplerateconverter
