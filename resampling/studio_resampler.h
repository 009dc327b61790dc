#pragma once

// The high-quality resampler: a Kaiser-windowed sinc polyphase filter
// designed for each rate pair. Its pass band is flat to within 0.1 dB up to
// 0.91 x the lower Nyquist frequency and everything at or above the lower
// Nyquist frequency, which would alias when decimating or image when
// interpolating, is attenuated by at least 100 dB.
//
// Rate pairs whose reduced output rate is small enough (44.1 <-> 48 kHz,
// 2:1, 160:147, ...) get one exact filter phase per output position; other
// pairs interpolate linearly between neighbouring phases of a finer bank.
// Like the fast resampler, the rate ratio is an exact fraction, the caller
// carries what a call did not consume into the next one, and any split of
// a stream into blocks gives the same output as one block. The first output
// sample is aligned with the first input sample.

#include "resampling/dot_product.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tesk::samplerateconverter {

// The filter bank of one rate pair; one bank serves every channel.
class CStudioFilter {
public:
    // Rates in Hz, both positive. Throws std::bad_alloc when the bank does
    // not fit in memory.
    CStudioFilter(int inRate, int outRate);

    // The bank of a rate pair, designed once: the few most recent designs
    // are kept, so that a seek, which makes a new converter for the same
    // rates, does not design again. Safe to call from any thread.
    static std::shared_ptr<const CStudioFilter> forRates(int inRate, int outRate);

    int taps() const { return m_taps; }
    // Coefficients per phase row: taps rounded up for the vector kernels.
    int stride() const { return m_stride; }
    // The phase rows per input sample; in the exact bank this is the reduced
    // output rate.
    std::int64_t phaseCount() const { return m_phaseCount; }
    bool exact() const { return m_exact; }
    std::int64_t inStep() const { return m_inRate; }
    std::int64_t outStep() const { return m_outRate; }
    const float* row(std::int64_t phase) const {
        return m_bank.data() + static_cast<std::size_t>(phase) * m_stride;
    }

private:
    void design(double bandwidth, double beta);

    std::int64_t m_inRate = 0;
    std::int64_t m_outRate = 0;
    int m_taps = 0;
    int m_stride = 0;
    std::int64_t m_phaseCount = 0;
    bool m_exact = false;
    std::vector<float> m_bank;
};

// Resamples one channel through a shared filter bank.
class CStudioResampler {
public:
    explicit CStudioResampler(std::shared_ptr<const CStudioFilter> filter);

    // Resamples srcSize samples of src into at most dstSize samples of dst
    // and returns the number written; *consumed receives how many samples
    // from the start of src the next call no longer needs. The float forms
    // leave the output unrounded (full scale is 32768).
    int resample(std::int16_t* dst, const std::int16_t* src, int* consumed, int srcSize,
                 int dstSize);
    int resample(float* dst, const std::int16_t* src, int* consumed, int srcSize, int dstSize);
    int resample(float* dst, const float* src, int* consumed, int srcSize, int dstSize);

    int taps() const { return m_filter->taps(); }

private:
    template <class Sample, class Source>
    int run(Sample* dst, const Source* src, int* consumed, int srcSize, int dstSize);
    template <class Source> const float* prepare(const Source* src, int srcSize);
    int outputsWithin(int srcSize, int dstSize) const;
    void advance(int count);
    template <class Sample> void runExact(Sample* dst, const float* window, int count);
    template <class Sample> void runLeftovers(DotBatch<kRowLanes>& batch, Sample* const* dst) const;
    template <class Sample> void runInterpolated(Sample* dst, const float* window, int count);

    std::shared_ptr<const CStudioFilter> m_filter;
    DotKernels m_dot;
    // Input position of the next output sample: index of its first tap
    // relative to the next source block, plus m_frac / outStep.
    std::int64_t m_index = 0;
    std::int64_t m_frac = 0;
    // The source block as floats, after the silence that precedes the stream
    // while the first taps still reach before it.
    std::vector<float> m_window;
};

} // namespace tesk::samplerateconverter
