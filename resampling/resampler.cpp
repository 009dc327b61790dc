#include "resampling/resampler.h"

#include "resampling/dot_product.h"
#include "resampling/kaiser.h"
#include "resampling/sample_conversion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>
#include <vector>

namespace tesk::samplerateconverter {

namespace {

// Shape of the Kaiser window: trades the flatness of the pass band against
// the depth of the stop band.
constexpr double kKaiserBeta = 8.0;
constexpr int kMaxLog2PhaseCount = 16;
constexpr int kMaxFilterLength = 1024;
constexpr std::int64_t kMostTabledPositions = 1 << 16;
constexpr int kMaxPlanes = kRowLanes;
// Filters are read in whole kernel steps of this many coefficients.
constexpr int kRowStep = 8;
// Banks kept for the rate pairs used last, so that the converters a seek
// makes anew reuse them.
constexpr std::size_t kKeptBanks = 4;

// What a bank is designed from.
struct BankShape {
    std::int64_t inRate = 0;
    std::int64_t outRate = 0;
    int taps = 0;
    int phaseCount = 0;
    double bandwidth = 0.0;

    bool operator==(const BankShape&) const = default;
};

int centreTap(int taps) {
    return taps / 2 - 1;
}

// phaseCount + 1 filters of taps coefficients, each in a row of stride
// floats (zeros past the taps); the last one is the first shifted by a
// whole sample, so that rounding to the nearest phase never has to step
// to the next input sample. One bank serves every channel of a rate pair.
class FilterBank {
public:
    explicit FilterBank(const BankShape& shape)
        : m_shape(shape), m_stride((shape.taps + kRowStep - 1) / kRowStep * kRowStep) {
        design();
        tabulateRows();
    }

    int taps() const { return m_shape.taps; }
    int stride() const { return m_stride; }

    // The filter nearest to the position frac / outRate past an input sample.
    // The start of each frac's row, or null when the output rate is too large
    // for a table.
    const std::int32_t* rowTable() const {
        return m_rowOfFrac.empty() ? nullptr : m_rowOfFrac.data();
    }
    const float* rows() const { return m_rows.data(); }

    const float* row(std::int64_t frac) const {
        return m_rows.data() +
               (m_rowOfFrac.empty() ? rowStart(frac) : m_rowOfFrac[static_cast<std::size_t>(frac)]);
    }

private:
    std::int64_t rowStart(std::int64_t frac) const {
        const std::int64_t phaseCount = m_shape.phaseCount;
        const std::int64_t outRate = m_shape.outRate;
        const std::int64_t phase = (2 * frac * phaseCount + outRate) / (2 * outRate);
        return phase * m_stride;
    }

    // Row p tap t is row (phaseCount - p) tap (taps - 1 - t): the offsets are
    // opposite and the filter is even, so the second half is mirrored.
    void design() {
        const int taps = m_shape.taps;
        const int phaseCount = m_shape.phaseCount;
        const int centre = centreTap(taps);
        const KaiserWindow window(taps / 2.0, kKaiserBeta);
        m_rows.assign(static_cast<std::size_t>(phaseCount + 1) * m_stride, 0.0f);
        std::vector<double> filter(static_cast<std::size_t>(taps));
        for (int phase = 0; phase <= phaseCount / 2; ++phase) {
            const double shift = static_cast<double>(phase) / phaseCount;
            for (int tap = 0; tap < taps; ++tap) {
                const double offset = (tap - centre) - shift;
                filter[tap] = sinc(m_shape.bandwidth * offset) * window(offset);
            }
            const double gain = std::accumulate(filter.begin(), filter.end(), 0.0);
            float* out = rowAt(phase);
            for (int tap = 0; tap < taps; ++tap) {
                out[tap] = static_cast<float>(filter[tap] / gain);
            }
        }
        for (int phase = phaseCount / 2 + 1; phase <= phaseCount; ++phase) {
            const float* mirror = rowAt(phaseCount - phase);
            std::reverse_copy(mirror, mirror + taps, rowAt(phase));
        }
    }

    float* rowAt(int phase) { return m_rows.data() + static_cast<std::size_t>(phase) * m_stride; }

    // For a reduced output rate up to kMostTabledPositions: the row of each
    // frac, so that no output sample divides.
    void tabulateRows() {
        if (m_shape.outRate > kMostTabledPositions) {
            return;
        }
        m_rowOfFrac.resize(static_cast<std::size_t>(m_shape.outRate));
        for (std::int64_t frac = 0; frac < m_shape.outRate; ++frac) {
            m_rowOfFrac[static_cast<std::size_t>(frac)] = static_cast<std::int32_t>(rowStart(frac));
        }
    }

    BankShape m_shape;
    int m_stride;
    std::vector<float> m_rows;
    std::vector<std::int32_t> m_rowOfFrac;
};

std::shared_ptr<const FilterBank> bankFor(const BankShape& shape) {
    struct Design {
        BankShape shape;
        std::shared_ptr<const FilterBank> bank;
    };
    static std::mutex lock;
    static std::deque<Design> recent;
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = std::find_if(recent.begin(), recent.end(),
                                    [&](const Design& design) { return design.shape == shape; });
    if (found != recent.end()) {
        return found->bank;
    }
    if (recent.size() == kKeptBanks) {
        recent.pop_back();
    }
    recent.push_front({shape, std::make_shared<const FilterBank>(shape)});
    return recent.front().bank;
}

} // namespace

struct ResampleContext {
    std::shared_ptr<const FilterBank> bank;
    PositionKernel positions = nullptr;
    // The rate ratio in lowest terms: each output sample advances the input
    // position by inRate / outRate samples.
    std::int64_t inRate = 0;
    std::int64_t outRate = 0;
    // Input position of the next output sample: index of its first tap,
    // relative to the start of the next source block, plus frac / outRate.
    std::int64_t index = 0;
    std::int64_t frac = 0;
    // The edges of a block padded with silence: before the stream's start,
    // and past the block's end, where a row reaches beyond its taps.
    std::vector<float> edge;
    // 16-bit blocks as floats, and their output before rounding.
    std::vector<float> widened;
    std::vector<float> unrounded;
};

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
        const int taps = std::min(2 * halfTaps, kMaxFilterLength);
        context->bank = bankFor(
            {context->inRate, context->outRate, taps, 1 << log2_phase_count, narrowing * cutoff});
        context->positions = dotKernels().positions;
        context->index = -centreTap(taps);
        return context.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

// The input position of the next output sample, stepped by the rate ratio.
struct Position {
    std::int64_t index;
    std::int64_t frac;
    std::int64_t indexStep;
    std::int64_t fracStep;
    std::int64_t outRate;

    void step() {
        index += indexStep;
        frac += fracStep;
        if (frac >= outRate) {
            frac -= outRate;
            ++index;
        }
    }
};

// The channels of one call, which share the position and the filter bank of
// the first one's context.
struct Planes {
    ResampleContext* const* contexts;
    int count;
    // Per plane: where input position origin lies, and the output.
    std::array<const float*, kMaxPlanes> bases;
    float* const* dst;
};

// Writes output samples of every plane while fewer than count are written
// and the next one's first tap, at base + (index - origin), is at most last,
// a run of positions at a time. Every sample is summed the same way, so any
// split of the stream into blocks gives the same output. Whole runs within
// both limits step without checking each position.
int runRows(const Planes& planes, int written, int count, std::int64_t origin, std::int64_t last) {
    constexpr int kRun = 64;
    ResampleContext& context = *planes.contexts[0];
    const FilterBank& bank = *context.bank;
    const PositionKernel kernel = context.positions;
    Position at{context.index, context.frac, context.inRate / context.outRate,
                context.inRate % context.outRate, context.outRate};
    const std::int64_t runTravel = (kRun - 1) * (at.indexStep + 1);
    const std::int32_t* table = bank.rowTable();
    const float* rows = bank.rows();
    std::array<std::int64_t, kRun> offsets{};
    std::array<const float*, kRun> filters{};
    std::array<float*, kMaxPlanes> dst{};
    while (written < count && at.index <= last) {
        int positions = 0;
        if (table != nullptr && count - written >= kRun && at.index + runTravel <= last) {
            for (; positions < kRun; ++positions) {
                offsets[positions] = at.index - origin;
                filters[positions] = rows + table[at.frac];
                at.step();
            }
        } else {
            for (; positions < kRun && written + positions < count && at.index <= last;
                 ++positions) {
                offsets[positions] = at.index - origin;
                filters[positions] = bank.row(at.frac);
                at.step();
            }
        }
        for (int plane = 0; plane < planes.count; ++plane) {
            dst[plane] = planes.dst[plane] + written;
        }
        kernel(planes.bases.data(), planes.count, offsets.data(), filters.data(), positions,
               bank.stride(), dst.data());
        written += positions;
    }
    context.index = at.index;
    context.frac = at.frac;
    return written;
}

// The samples from the next output's first tap to the block's end, silence
// before the stream's start, then a row of silence.
const float* padEdge(ResampleContext& context, std::int64_t from, const float* src, int srcSize) {
    const auto size = static_cast<std::size_t>(srcSize - from + context.bank->stride());
    context.edge.assign(size, 0.0f);
    const std::int64_t first = std::max<std::int64_t>(from, 0);
    std::copy(src + first, src + srcSize, context.edge.begin() + (first - from));
    return context.edge.data();
}

int resampleFloats(Planes& planes, const float* const* src, int srcSize, int dstSize) {
    const ResampleContext& context = *planes.contexts[0];
    const int taps = context.bank->taps();
    int written = 0;
    if (context.index >= 0) {
        std::copy_n(src, planes.count, planes.bases.begin());
        written = runRows(planes, 0, dstSize, 0, srcSize - context.bank->stride());
    }
    if (written < dstSize && context.index + taps <= srcSize) {
        const std::int64_t origin = context.index;
        for (int plane = 0; plane < planes.count; ++plane) {
            planes.bases[plane] = padEdge(*planes.contexts[plane], origin, src[plane], srcSize);
        }
        written = runRows(planes, written, dstSize, origin, srcSize - taps);
    }
    return written;
}

bool validArguments(const ResampleContext* context, const void* dst, const void* src,
                    const int* consumed, int src_size, int dst_size) {
    return context != nullptr && dst != nullptr && consumed != nullptr && src_size >= 0 &&
           dst_size >= 0 && (src != nullptr || src_size == 0);
}

// Reports what the caller may drop and keeps the position for the next
// block in every plane's context, or goes back to the one before the call.
void settle(const Planes& planes, int* consumed, int src_size, int update_ctx, std::int64_t index,
            std::int64_t frac) {
    ResampleContext& first = *planes.contexts[0];
    const std::int64_t used = std::clamp<std::int64_t>(first.index, 0, src_size);
    *consumed = static_cast<int>(used);
    if (update_ctx != 0) {
        first.index -= used;
    } else {
        first.index = index;
        first.frac = frac;
    }
    for (int plane = 1; plane < planes.count; ++plane) {
        planes.contexts[plane]->index = first.index;
        planes.contexts[plane]->frac = first.frac;
    }
}

int resamplePlanes(ResampleContext* const* contexts, int count, float* const* dst,
                   const float* const* src, int* consumed, int src_size, int dst_size,
                   int update_ctx) {
    Planes planes{contexts, count, {}, dst};
    const std::int64_t index = contexts[0]->index;
    const std::int64_t frac = contexts[0]->frac;
    const int written = resampleFloats(planes, src, src_size, dst_size);
    settle(planes, consumed, src_size, update_ctx, index, frac);
    return written;
}

} // namespace

int av_resample(ResampleContext* context, float* dst, const float* src, int* consumed, int src_size,
                int dst_size, int update_ctx) {
    if (!validArguments(context, dst, src, consumed, src_size, dst_size)) {
        return -1;
    }
    return resamplePlanes(&context, 1, &dst, &src, consumed, src_size, dst_size, update_ctx);
}

int av_resample_planes(ResampleContext* const* contexts, int planes, float* const* dst,
                       const float* const* src, int* consumed, int src_size, int dst_size) {
    if (contexts == nullptr || dst == nullptr || src == nullptr || planes < 1 ||
        planes > kMaxPlanes) {
        return -1;
    }
    for (int plane = 0; plane < planes; ++plane) {
        const ResampleContext* context = contexts[plane];
        if (!validArguments(context, dst[plane], src[plane], consumed, src_size, dst_size) ||
            context->bank != contexts[0]->bank || context->index != contexts[0]->index ||
            context->frac != contexts[0]->frac) {
            return -1;
        }
    }
    return resamplePlanes(contexts, planes, dst, src, consumed, src_size, dst_size, 1);
}

int av_resample(ResampleContext* context, short* dst, const short* src, int* consumed, int src_size,
                int dst_size, int update_ctx) {
    if (!validArguments(context, dst, src, consumed, src_size, dst_size)) {
        return -1;
    }
    context->widened.resize(static_cast<std::size_t>(src_size));
    widenToFloats(src, src_size, context->widened.data());
    context->unrounded.resize(static_cast<std::size_t>(dst_size));
    const int written = av_resample(context, context->unrounded.data(), context->widened.data(),
                                    consumed, src_size, dst_size, update_ctx);
    std::transform(context->unrounded.begin(), context->unrounded.begin() + written, dst,
                   roundToSample);
    return written;
}

int av_resample_taps(const ResampleContext* context) {
    return context->bank->taps();
}

void av_resample_close(ResampleContext* context) {
    delete context;
}

} // namespace tesk::samplerateconverter
