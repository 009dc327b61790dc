#include "resampling/studio_resampler.h"

#include "resampling/dot_product.h"
#include "resampling/kaiser.h"
#include "resampling/sample_conversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <deque>
#include <mutex>
#include <numbers>
#include <numeric>

namespace tesk::samplerateconverter {

namespace {

// The pass band ends at this share of the lower Nyquist frequency (20.01 kHz
// at 44.1 kHz); the stop band starts at the lower Nyquist frequency.
constexpr double kPassShare = 0.9075;
// Stop-band attenuation the window is designed for. A windowed sinc has the
// same relative ripple in both bands, so the pass band stays flat to about
// 0.0001 dB, which keeps tones within the 16-bit floor of an ideal
// conversion.
constexpr double kDesignAttenuationDb = 103.0;
// Vector kernels work on this many coefficients at once.
constexpr int kRowMultiple = 8;
// Largest exact bank (phase rows x coefficients); larger banks interpolate.
constexpr std::int64_t kMaxExactCoefficients = std::int64_t{1} << 20;
// Phase rows of an interpolated bank when the filter is not narrowed; the
// linear interpolation error stays near -119 dB.
constexpr std::int64_t kInterpolatedPhases = 1024;
constexpr std::int64_t kMinInterpolatedPhases = 16;
// Designs kept for reuse.
constexpr std::size_t kKeptDesigns = 4;

// The Kaiser window's shape for a stop-band attenuation in dB.
double kaiserBeta(double attenuationDb) {
    return 0.1102 * (attenuationDb - 8.7);
}

// Taps for a transition band of the given width in cycles per input sample.
int kaiserTaps(double attenuationDb, double transition) {
    const double length = (attenuationDb - 7.95) / (2.285 * 2.0 * std::numbers::pi * transition);
    return 2 * static_cast<int>(std::ceil(length / 2.0));
}

int centreTap(int taps) {
    return taps / 2 - 1;
}

} // namespace

CStudioFilter::CStudioFilter(int inRate, int outRate) {
    const int divisor = std::gcd(inRate, outRate);
    m_inRate = inRate / divisor;
    m_outRate = outRate / divisor;
    // Frequencies in cycles per input sample.
    const double lowerNyquist = 0.5 * std::min(1.0, static_cast<double>(outRate) / inRate);
    const double passEdge = kPassShare * lowerNyquist;
    // Equal rates need no filter: the one tap at the centre passes the
    // input through.
    m_taps = m_inRate == m_outRate ? 2 : kaiserTaps(kDesignAttenuationDb, lowerNyquist - passEdge);
    m_stride = (m_taps + kRowMultiple - 1) / kRowMultiple * kRowMultiple;
    m_exact = m_outRate * m_stride <= kMaxExactCoefficients;
    if (m_exact) {
        m_phaseCount = m_outRate;
    } else {
        const auto wanted = static_cast<std::uint64_t>(
            std::ceil(static_cast<double>(kInterpolatedPhases) * 2.0 * lowerNyquist));
        m_phaseCount = std::max<std::int64_t>(kMinInterpolatedPhases,
                                              static_cast<std::int64_t>(std::bit_ceil(wanted)));
    }
    if (m_inRate == m_outRate) {
        m_bank.assign(static_cast<std::size_t>(m_stride), 0.0f);
        m_bank[static_cast<std::size_t>(centreTap(m_taps))] = 1.0f;
    } else {
        design(passEdge + lowerNyquist, kaiserBeta(kDesignAttenuationDb));
    }
}

std::shared_ptr<const CStudioFilter> CStudioFilter::forRates(int inRate, int outRate) {
    struct Design {
        int inRate;
        int outRate;
        std::shared_ptr<const CStudioFilter> filter;
    };
    static std::mutex lock;
    static std::deque<Design> recent;
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = std::find_if(recent.begin(), recent.end(), [&](const Design& design) {
        return design.inRate == inRate && design.outRate == outRate;
    });
    if (found != recent.end()) {
        return found->filter;
    }
    if (recent.size() == kKeptDesigns) {
        recent.pop_back();
    }
    recent.push_front({inRate, outRate, std::make_shared<const CStudioFilter>(inRate, outRate)});
    return recent.front().filter;
}

// Fills the bank: row p holds the filter for an output position p /
// phaseCount of an input sample past the centre tap, scaled to unit gain
// at 0 Hz. An interpolated bank has one more row, the first one shifted by
// a whole sample, so that every position lies between two rows.
void CStudioFilter::design(double bandwidth, double beta) {
    const std::int64_t rows = m_exact ? m_phaseCount : m_phaseCount + 1;
    m_bank.assign(static_cast<std::size_t>(rows * m_stride), 0.0f);
    const int centre = centreTap(m_taps);
    const KaiserWindow window(m_taps / 2.0, beta);
    std::vector<double> filter(static_cast<std::size_t>(m_taps));
    for (std::int64_t phase = 0; phase < rows; ++phase) {
        const double shift = static_cast<double>(phase) / static_cast<double>(m_phaseCount);
        for (int tap = 0; tap < m_taps; ++tap) {
            const double offset = (tap - centre) - shift;
            filter[tap] = sinc(bandwidth * offset) * window(offset);
        }
        const double gain = std::accumulate(filter.begin(), filter.end(), 0.0);
        float* out = m_bank.data() + static_cast<std::size_t>(phase) * m_stride;
        for (int tap = 0; tap < m_taps; ++tap) {
            out[tap] = static_cast<float>(filter[tap] / gain);
        }
    }
}

CStudioResampler::CStudioResampler(std::shared_ptr<const CStudioFilter> filter)
    : m_filter(std::move(filter)), m_dot(dotKernels()), m_index(-centreTap(m_filter->taps())) {}

int CStudioResampler::resample(std::int16_t* dst, const std::int16_t* src, int* consumed,
                               int srcSize, int dstSize) {
    return run(dst, src, consumed, srcSize, dstSize);
}

int CStudioResampler::resample(float* dst, const std::int16_t* src, int* consumed, int srcSize,
                               int dstSize) {
    return run(dst, src, consumed, srcSize, dstSize);
}

int CStudioResampler::resample(float* dst, const float* src, int* consumed, int srcSize,
                               int dstSize) {
    return run(dst, src, consumed, srcSize, dstSize);
}

namespace {

void store(std::int16_t& out, float value) {
    out = roundToSample(value);
}

void store(float& out, float value) {
    out = value;
}

// The sums of a full shared-row batch into samples step apart.
void storeSpread(std::int16_t* dst, std::int64_t step, const float* sums, int lanes) {
    std::int16_t samples[kSharedRowLanes];
    roundToSamples(sums, samples);
    for (int lane = 0; lane < lanes; ++lane, dst += step) {
        *dst = samples[lane];
    }
}

void storeSpread(float* dst, std::int64_t step, const float* sums, int lanes) {
    for (int lane = 0; lane < lanes; ++lane, dst += step) {
        *dst = sums[lane];
    }
}

void toWindow(const std::int16_t* src, int count, float* out) {
    widenToFloats(src, count, out);
}

void toWindow(const float* src, int count, float* out) {
    std::copy_n(src, count, out);
}

} // namespace

// Converts the block to floats after the silence that the first taps read
// while the stream has not reached them, with room behind it for the
// kernels, which read whole rows.
template <class Source> const float* CStudioResampler::prepare(const Source* src, int srcSize) {
    const auto lead = static_cast<std::size_t>(std::max<std::int64_t>(0, -m_index));
    const auto size = static_cast<std::size_t>(srcSize);
    m_window.resize(lead + size + static_cast<std::size_t>(m_filter->stride()));
    std::fill_n(m_window.begin(), lead, 0.0f);
    toWindow(src, srcSize, m_window.data() + lead);
    std::fill(m_window.begin() + static_cast<std::ptrdiff_t>(lead + size), m_window.end(), 0.0f);
    return m_window.data() + lead;
}

// The number of output samples whose taps lie within srcSize samples,
// at most dstSize.
int CStudioResampler::outputsWithin(int srcSize, int dstSize) const {
    const std::int64_t room = srcSize - m_filter->taps() - m_index + 1;
    if (room <= 0) {
        return 0;
    }
    const std::int64_t last = (room * m_filter->outStep() - 1 - m_frac) / m_filter->inStep();
    return static_cast<int>(std::min<std::int64_t>(last + 1, dstSize));
}

// Output sample j lies (m_frac + j * inStep) / outStep input samples past
// the position; advances the position past count samples.
void CStudioResampler::advance(int count) {
    const std::int64_t travel = m_frac + count * m_filter->inStep();
    m_index += travel / m_filter->outStep();
    m_frac = travel % m_filter->outStep();
}

// An exact bank: output samples outStep apart share a filter row, so the
// samples are taken row by row, each row staying in the cache while it
// serves all of its samples of the block. The few samples a row has left
// over after its full batches are gathered across rows, so that no kernel
// lanes go to waste.
template <class Sample>
void CStudioResampler::runExact(Sample* dst, const float* window, int count) {
    const CStudioFilter& filter = *m_filter;
    const std::int64_t inStep = filter.inStep();
    const std::int64_t outStep = filter.outStep();
    const int rowsUsed = static_cast<int>(std::min<std::int64_t>(count, outStep));
    DotBatch<kRowLanes> leftovers;
    Sample* leftoverDst[kRowLanes] = {};
    for (int first = 0; first < rowsUsed; ++first) {
        const std::int64_t travel = m_frac + first * inStep;
        const float* row = filter.row(travel % outStep);
        const float* at = window + m_index + travel / outStep;
        std::int64_t j = first;
        for (; (count - 1 - j) / outStep >= kSharedRowLanes / 2; j += kSharedRowLanes * outStep) {
            DotBatch<kSharedRowLanes> batch;
            for (std::int64_t k = j; k < count && batch.lanes < kSharedRowLanes;
                 k += outStep, at += inStep) {
                batch.add(at, row);
            }
            batch.run(m_dot.sharedRow, filter.stride());
            storeSpread(dst + j, outStep, batch.sums, batch.lanes);
        }
        for (; j < count; j += outStep, at += inStep) {
            leftoverDst[leftovers.lanes] = dst + j;
            leftovers.add(at, row);
            if (leftovers.lanes == kRowLanes) {
                runLeftovers(leftovers, leftoverDst);
            }
        }
    }
    runLeftovers(leftovers, leftoverDst);
}

template <class Sample>
void CStudioResampler::runLeftovers(DotBatch<kRowLanes>& batch, Sample* const* dst) const {
    if (batch.lanes == 0) {
        return;
    }
    batch.run(m_dot.rows, m_filter->stride());
    for (int lane = 0; lane < batch.lanes; ++lane) {
        store(*dst[lane], batch.sums[lane]);
    }
    batch.lanes = 0;
}

// An interpolated bank: each output sample lies between two rows, weighted
// by its distance from each.
template <class Sample>
void CStudioResampler::runInterpolated(Sample* dst, const float* window, int count) {
    const CStudioFilter& filter = *m_filter;
    const std::int64_t inStep = filter.inStep();
    const std::int64_t outStep = filter.outStep();
    constexpr int kPerBatch = kRowLanes / 2;
    for (int j = 0; j < count; j += kPerBatch) {
        DotBatch<kRowLanes> batch;
        float weights[kPerBatch] = {};
        for (int k = j; k < count && k < j + kPerBatch; ++k) {
            const std::int64_t travel = m_frac + (k - j) * inStep;
            const std::int64_t scaled = travel % outStep * filter.phaseCount();
            const std::int64_t phase = scaled / outStep;
            weights[k - j] = static_cast<float>(scaled % outStep) / static_cast<float>(outStep);
            const float* start = window + m_index + travel / outStep;
            batch.add(start, filter.row(phase));
            batch.add(start, filter.row(phase + 1));
        }
        batch.run(m_dot.rows, filter.stride());
        for (int pair = 0; pair < batch.lanes / 2; ++pair) {
            const float before = batch.sums[2 * pair];
            store(dst[j + pair], before + weights[pair] * (batch.sums[2 * pair + 1] - before));
        }
        advance(batch.lanes / 2);
    }
}

template <class Sample, class Source>
int CStudioResampler::run(Sample* dst, const Source* src, int* consumed, int srcSize, int dstSize) {
    if (dst == nullptr || consumed == nullptr || srcSize < 0 || dstSize < 0 ||
        (src == nullptr && srcSize > 0)) {
        return -1;
    }
    const float* window = prepare(src, srcSize);
    const int count = outputsWithin(srcSize, dstSize);
    if (m_filter->exact()) {
        runExact(dst, window, count);
        advance(count);
    } else {
        runInterpolated(dst, window, count);
    }
    const std::int64_t used = std::clamp<std::int64_t>(m_index, 0, srcSize);
    *consumed = static_cast<int>(used);
    m_index -= used;
    return count;
}

} // namespace tesk::samplerateconverter
