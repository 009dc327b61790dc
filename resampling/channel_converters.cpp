#include "resampling/sample_rate_converter.h"

#include "resampling/sample_conversion.h"

#include <zelm/Exception.h>
#include <zelm/StringFormat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace tesk::samplerateconverter {

namespace {

using Converter = CSampleRateConverter;

// The loudspeakers a channel can feed. S is a single rear channel (the
// surround of 2/1 and 3/1, the back centre of 6.1); Lx and Rx are the extra
// pair of 7.1, which folds into the surrounds.
enum class Speaker { L, R, C, Lfe, Ls, Rs, S, Lx, Rx };

using enum Speaker;

// Layout codes that name the rear-channel layouts of three and four
// channels: 2/1 (L R S) and 3/1 (L R C S).
constexpr std::int32_t kAcmodTwoOne = 4;
constexpr std::int32_t kAcmodThreeOne = 5;

constexpr float kAttenuated = std::numbers::sqrt2_v<float> / 2.0f;

std::span<const Speaker> layoutOf(std::int32_t count, std::int32_t acmod) {
    static constexpr Speaker kMono[] = {C};
    static constexpr Speaker kStereo[] = {L, R};
    static constexpr Speaker kThree[] = {L, R, C};
    static constexpr Speaker kTwoOne[] = {L, R, S};
    static constexpr Speaker kQuad[] = {L, R, Ls, Rs};
    static constexpr Speaker kThreeOne[] = {L, R, C, S};
    static constexpr Speaker kFive[] = {L, R, C, Ls, Rs};
    static constexpr Speaker kFiveOne[] = {L, R, C, Lfe, Ls, Rs};
    static constexpr Speaker kSixOne[] = {L, R, C, Lfe, S, Ls, Rs};
    static constexpr Speaker kSevenOne[] = {L, R, C, Lfe, Ls, Rs, Lx, Rx};
    switch (count) {
    case 1:
        return kMono;
    case 2:
        return kStereo;
    case 3:
        return acmod == kAcmodTwoOne ? std::span<const Speaker>(kTwoOne) : kThree;
    case 4:
        return acmod == kAcmodThreeOne ? std::span<const Speaker>(kThreeOne) : kQuad;
    case 5:
        return kFive;
    case 6:
        return kFiveOne;
    case 7:
        return kSixOne;
    default:
        return kSevenOne;
    }
}

// Builds the weights of a target layout: where the target has the source's
// speaker, the channel goes there unchanged; otherwise it folds into the
// speakers that stand for it, at full or -3 dB weight.
class MatrixBuilder {
public:
    MatrixBuilder(std::span<const Speaker> target, Converter::MixWeights& weights)
        : m_target(target), m_weights(weights) {}

    void route(std::size_t source, Speaker speaker, bool monoSource) {
        m_source = source;
        if (add(speaker, 1.0f)) {
            return;
        }
        switch (speaker) {
        case C:
            addPair(L, R, monoSource ? 1.0f : kAttenuated);
            break;
        case L:
        case R:
            add(C, 1.0f);
            break;
        case Ls:
        case Rs:
            if (!add(speaker == Ls ? L : R, kAttenuated)) {
                add(C, 1.0f);
            }
            break;
        case S:
            if (!addPair(Ls, Rs, 1.0f) && !addPair(L, R, kAttenuated)) {
                add(C, 1.0f);
            }
            break;
        case Lx:
        case Rx:
            add(speaker == Lx ? Ls : Rs, kAttenuated);
            break;
        case Lfe:
            break;
        }
    }

private:
    bool add(Speaker speaker, float weight) {
        const auto found = std::find(m_target.begin(), m_target.end(), speaker);
        if (found == m_target.end()) {
            return false;
        }
        m_weights[static_cast<std::size_t>(found - m_target.begin())][m_source] += weight;
        return true;
    }

    bool addPair(Speaker left, Speaker right, float weight) {
        return add(left, weight) && add(right, weight);
    }

    std::span<const Speaker> m_target;
    Converter::MixWeights& m_weights;
    std::size_t m_source = 0;
};

// Scales every row whose weights add up to more than 1, so that no input
// within full scale can take the sum beyond it.
void keepWithinFullScale(Converter::MixWeights& weights) {
    for (auto& row : weights) {
        float total = 0.0f;
        for (float weight : row) {
            total += std::abs(weight);
        }
        if (total > 1.0f) {
            for (float& weight : row) {
                weight /= total;
            }
        }
    }
}

bool servedCount(std::int32_t count) {
    return count >= 1 && count <= Converter::kMaxChannels;
}

[[noreturn]] void failUnserved(std::int32_t sourceCount, std::int32_t targetCount) {
    zelm::CStringFormat text{
        zelm::String("CSampleRateConverter: no suitable ChannelConversion found for %d -> %d")};
    text.doInt(sourceCount, true);
    text.doInt(targetCount, true);
    throw zelm::CError(text.toString());
}

} // namespace

CSampleRateConverter::CChannelConverter::CChannelConverter(std::int32_t sourceChannelCount,
                                                           std::int32_t targetChannelCount,
                                                           std::int32_t acmod, float gain)
    : m_sourceChannelCount(sourceChannelCount), m_targetChannelCount(targetChannelCount),
      m_acmod(acmod) {
    if (!servedCount(sourceChannelCount) || !servedCount(targetChannelCount)) {
        failUnserved(sourceChannelCount, targetChannelCount);
    }
    // A layout code only names the source's speakers when the channels are
    // remixed; the same count passes through unchanged.
    const std::int32_t layoutCode = sourceChannelCount == targetChannelCount ? kAnyLayout : acmod;
    const std::span<const Speaker> source = layoutOf(sourceChannelCount, layoutCode);
    MatrixBuilder builder(layoutOf(targetChannelCount, kAnyLayout), m_weights);
    for (std::size_t c = 0; c < source.size(); ++c) {
        builder.route(c, source[c], source.size() == 1);
    }
    keepWithinFullScale(m_weights);
    for (auto& row : m_weights) {
        for (float& weight : row) {
            weight *= gain;
        }
    }
    findCopies();
}

// A plane whose row holds one weight of 1 copies its source channel; a row
// of zeros is silence.
void CSampleRateConverter::CChannelConverter::findCopies() {
    m_onlyCopies = true;
    m_passesThrough = m_sourceChannelCount == m_targetChannelCount;
    for (std::int32_t k = 0; k < m_targetChannelCount; ++k) {
        const auto& row = m_weights[k];
        const auto used = std::count_if(row.begin(), row.end(), [](float w) { return w != 0.0f; });
        const auto one = std::find(row.begin(), row.end(), 1.0f);
        m_copyOf[k] =
            used == 1 && one != row.end() ? static_cast<int>(one - row.begin()) : kSilentPlane;
        m_onlyCopies = m_onlyCopies && (used == 0 || m_copyOf[k] != kSilentPlane);
        m_passesThrough = m_passesThrough && m_copyOf[k] == k;
    }
}

template <class Sample>
void CSampleRateConverter::CChannelConverter::copyPlanes(
    std::int32_t frameCount, const std::array<const Sample*, kMaxChannels>& sources,
    std::ptrdiff_t step, const std::array<Sample*, kMaxChannels>& targets) const {
    for (std::int32_t k = 0; k < m_targetChannelCount; ++k) {
        Sample* out = targets[k];
        if (m_copyOf[k] == kSilentPlane) {
            std::fill_n(out, frameCount, Sample{0});
            continue;
        }
        const Sample* in = sources[m_copyOf[k]];
        for (std::int32_t n = 0; n < frameCount; ++n, in += step) {
            out[n] = *in;
        }
    }
}

// Each sample summed over the source channels in their order from 0, as
// 0 + w0 x0 + w1 x1 ..., one channel at a time so that the loops run in
// vectors.
template <class Sample>
void CSampleRateConverter::CChannelConverter::sumPlane(
    std::int32_t k, std::int32_t frameCount, const std::array<const Sample*, kMaxChannels>& sources,
    std::ptrdiff_t step, float* sums) const {
    const float first = m_weights[k][0];
    for (std::int32_t n = 0; n < frameCount; ++n) {
        sums[n] = 0.0f + first * static_cast<float>(sources[0][n * step]);
    }
    for (std::int32_t c = 1; c < m_sourceChannelCount; ++c) {
        const float weight = m_weights[k][c];
        const Sample* in = sources[c];
        for (std::int32_t n = 0; n < frameCount; ++n) {
            sums[n] += weight * static_cast<float>(in[n * step]);
        }
    }
}

void CSampleRateConverter::CChannelConverter::convert(std::int32_t frameCount,
                                                      SourcePointers sources,
                                                      std::int32_t sourceStride,
                                                      TargetPointers targets) const {
    const std::ptrdiff_t step = sourceStride / 2;
    if (m_onlyCopies) {
        copyPlanes(frameCount, sources, step, targets);
        return;
    }
    std::vector<float> sums(static_cast<std::size_t>(frameCount));
    for (std::int32_t k = 0; k < m_targetChannelCount; ++k) {
        sumPlane(k, frameCount, sources, step, sums.data());
        std::transform(sums.begin(), sums.end(), targets[k], roundToSample);
    }
}

void CSampleRateConverter::CChannelConverter::convert(std::int32_t frameCount,
                                                      FloatSourcePointers sources,
                                                      std::int32_t sourceStride,
                                                      FloatTargetPointers targets,
                                                      bool rounded) const {
    const std::ptrdiff_t step = sourceStride / 4;
    if (m_onlyCopies) {
        copyPlanes(frameCount, sources, step, targets);
        return;
    }
    for (std::int32_t k = 0; k < m_targetChannelCount; ++k) {
        sumPlane(k, frameCount, sources, step, targets[k]);
        if (rounded) {
            roundInPlace(targets[k], frameCount);
        }
    }
}

// Each vector lane holds one frame: sums in the scalar order, rounded and
// saturated by the packing.
template <int kSource, int kTarget>
std::int32_t CSampleRateConverter::CChannelConverter::mixFours(std::int32_t frameCount,
                                                               const std::int16_t* source,
                                                               std::int16_t* target) const {
    std::int32_t n = 0;
#if defined(__SSE2__)
    __m128 weights[kTarget][kSource];
    for (int k = 0; k < kTarget; ++k) {
        for (int c = 0; c < kSource; ++c) {
            weights[k][c] = _mm_set1_ps(m_weights[k][c]);
        }
    }
    for (; n + 4 <= frameCount; n += 4) {
        __m128 in[kSource];
        if constexpr (kSource == 2) {
            splitFrames(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * n)), in[0],
                        in[1]);
        } else {
            const __m128i samples = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + n));
            in[0] = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(samples, samples), 16));
        }
        __m128i out[kTarget];
        for (int k = 0; k < kTarget; ++k) {
            __m128 sum = _mm_mul_ps(weights[k][0], in[0]);
            for (int c = 1; c < kSource; ++c) {
                sum = _mm_add_ps(sum, _mm_mul_ps(weights[k][c], in[c]));
            }
            out[k] = _mm_cvtps_epi32(sum);
        }
        if constexpr (kTarget == 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 2 * n),
                             interleaveFrames(out[0], out[1]));
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(target + n),
                             _mm_packs_epi32(out[0], out[0]));
        }
    }
#else
    static_cast<void>(frameCount);
    static_cast<void>(source);
    static_cast<void>(target);
#endif
    return n;
}

void CSampleRateConverter::CChannelConverter::mixFrames(std::int32_t frameCount,
                                                        const std::int16_t* source,
                                                        std::int16_t* target) const {
    const std::int32_t sourceCount = m_sourceChannelCount;
    const std::int32_t targetCount = m_targetChannelCount;
    std::int32_t n = 0;
    if (sourceCount <= 2 && targetCount <= 2) {
        using Run = std::int32_t (CChannelConverter::*)(std::int32_t, const std::int16_t*,
                                                        std::int16_t*) const;
        static constexpr Run kRuns[2][2] = {
            {&CChannelConverter::mixFours<1, 1>, &CChannelConverter::mixFours<1, 2>},
            {&CChannelConverter::mixFours<2, 1>, &CChannelConverter::mixFours<2, 2>}};
        n = (this->*kRuns[sourceCount - 1][targetCount - 1])(frameCount, source, target);
    }
    for (; n < frameCount; ++n) {
        const std::int16_t* in = source + static_cast<std::ptrdiff_t>(n) * sourceCount;
        for (std::int32_t k = 0; k < targetCount; ++k) {
            float sum = 0.0f;
            for (std::int32_t c = 0; c < sourceCount; ++c) {
                sum += m_weights[k][c] * static_cast<float>(in[c]);
            }
            target[static_cast<std::ptrdiff_t>(n) * targetCount + k] = roundToSample(sum);
        }
    }
}

} // namespace tesk::samplerateconverter
