#include "resampling/sample_rate_converter.h"

#include <cmath>
#include <cstring>

namespace tesk::samplerateconverter {

using Converter = CSampleRateConverter;

namespace {

// Samples of one frame: the source channels read, the target planes written.
struct Frame {
    std::array<std::int32_t, Converter::kMaxChannels> s{};
    std::array<std::int16_t, Converter::kMaxChannels> t{};
};

// Runs route once per frame: it reads frame.s and writes the first
// targetCount entries of frame.t, which are then stored into the planes.
template <void (*route)(Frame&)>
void forEachFrame(const Converter::CChannelConverter& converter, std::int32_t frameCount,
                  Converter::SourcePointers sources, std::int32_t sourceStride,
                  Converter::TargetPointers targets) {
    const int sourceCount = converter.getSourceChannelCount();
    const int targetCount = converter.getTargetChannelCount();
    const std::ptrdiff_t step = sourceStride / 2;
    Frame frame;
    for (std::int32_t n = 0; n < frameCount; ++n) {
        for (int c = 0; c < sourceCount; ++c) {
            frame.s[c] = *sources[c];
            sources[c] += step;
        }
        route(frame);
        for (int k = 0; k < targetCount; ++k) {
            *targets[k]++ = frame.t[k];
        }
    }
}

// Copies the first count source channels into the first count planes.
void copyChannels(Frame& frame, int count) {
    for (int k = 0; k < count; ++k) {
        frame.t[k] = static_cast<std::int16_t>(frame.s[k]);
    }
}

double attenuationFactor() {
    static const double factor = std::sqrt(2.0) * 0.5;
    return factor;
}

std::int16_t sample(std::int32_t value) {
    return static_cast<std::int16_t>(value);
}

} // namespace

std::int32_t CSampleRateConverter::attenuate(std::int32_t s) {
    return static_cast<std::int32_t>(s * attenuationFactor());
}

std::int16_t CSampleRateConverter::mix(std::int16_t t, std::int32_t s) {
    const std::int32_t target = t;
    if (s < 0 && target < 0) {
        return sample(target + s + (target * s) / 32768);
    }
    if (s > 0 && target > 0) {
        return sample(target + s - (target * s) / 32767);
    }
    return sample(target + s);
}

std::int16_t CSampleRateConverter::mixAttenuated(std::int16_t t, std::int32_t s) {
    return mix(t, attenuate(s));
}

CSampleRateConverter::CChannelConverter::CChannelConverter(std::int32_t sourceChannelCount,
                                                           std::int32_t targetChannelCount,
                                                           std::int32_t acmod)
    : m_sourceChannelCount(sourceChannelCount), m_targetChannelCount(targetChannelCount),
      m_acmod(acmod) {}

constexpr std::int32_t kAny = CSampleRateConverter::CChannelConverter::kAnyLayout;

namespace {

std::int16_t mixA(std::int16_t t, std::int32_t s) {
    return Converter::mixAttenuated(t, s);
}

// The routings: each reads the source channels of one frame and writes every
// target plane. Mixes follow the first write of a plane in the order shown.
namespace routes {

void monoToMono(Frame& f) {
    f.t[0] = sample(f.s[0]);
}

void monoToStereo(Frame& f) {
    f.t[0] = sample(f.s[0]);
    f.t[1] = sample(f.s[0]);
}

void monoTo3Channel(Frame& f) {
    f.t[2] = sample(f.s[0]);
    f.t[0] = 0;
    f.t[1] = 0;
}

void monoTo6Channel(Frame& f) {
    f.t = {0, 0, sample(f.s[0]), 0, 0, 0};
}

void stereoToMono(Frame& f) {
    f.t[0] = Converter::mix(sample(f.s[0]), f.s[1]);
}

void stereoToStereo(Frame& f) {
    copyChannels(f, 2);
}

void stereoTo3Channel(Frame& f) {
    copyChannels(f, 2);
    f.t[2] = 0;
}

void stereoTo6Channel(Frame& f) {
    f.t = {sample(f.s[0]), sample(f.s[1]), 0, 0, 0, 0};
}

void threeChannelToMono(Frame& f) {
    f.t[0] = Converter::mix(Converter::mix(sample(f.s[2]), f.s[0]), f.s[1]);
}

void threeChannelToStereo(Frame& f) {
    const std::int16_t centre = sample(Converter::attenuate(f.s[2]));
    f.t[0] = Converter::mix(centre, f.s[0]);
    f.t[1] = Converter::mix(centre, f.s[1]);
}

void threeChannelTo3Channel(Frame& f) {
    copyChannels(f, 3);
}

void threeChannelTo6Channel(Frame& f) {
    f.t = {sample(f.s[0]), sample(f.s[1]), sample(f.s[2]), 0, 0, 0};
}

void threeChannelTo6ChannelAcmod4(Frame& f) {
    f.t = {sample(f.s[0]), sample(f.s[1]), 0, 0, sample(f.s[2]), sample(f.s[2])};
}

void fourChannelToStereo(Frame& f) {
    f.t[0] = mixA(sample(f.s[0]), f.s[2]);
    f.t[1] = mixA(sample(f.s[1]), f.s[3]);
}

void fourChannelToStereoAcmod5(Frame& f) {
    f.t[0] = mixA(mixA(sample(f.s[0]), f.s[2]), f.s[3]);
    f.t[1] = mixA(mixA(sample(f.s[1]), f.s[2]), f.s[3]);
}

void fourChannelTo4Channel(Frame& f) {
    copyChannels(f, 4);
}

void fourChannelTo6Channel(Frame& f) {
    f.t = {sample(f.s[0]), sample(f.s[1]), sample(f.s[2]), 0, sample(f.s[3]), sample(f.s[3])};
}

void fourChannelTo6ChannelAcmod6(Frame& f) {
    f.t = {sample(f.s[0]), sample(f.s[1]), 0, 0, sample(f.s[2]), sample(f.s[3])};
}

void fiveChannelToStereo(Frame& f) {
    f.t[0] = mixA(mixA(sample(f.s[0]), f.s[2]), f.s[3]);
    f.t[1] = mixA(mixA(sample(f.s[1]), f.s[2]), f.s[4]);
}

void fiveChannelTo6Channel(Frame& f) {
    f.t = {sample(f.s[0]), sample(f.s[1]), sample(f.s[2]), 0, sample(f.s[3]), sample(f.s[4])};
}

void sixChannelToMono(Frame& f) {
    // The last channel (low-frequency effects) is left out.
    std::int16_t t = sample(f.s[2]);
    for (int c : {0, 1, 3, 4}) {
        t = Converter::mix(t, f.s[c]);
    }
    f.t[0] = t;
}

void sixChannelToStereo(Frame& f) {
    f.t[0] = mixA(mixA(sample(f.s[0]), f.s[2]), f.s[4]);
    f.t[1] = mixA(mixA(sample(f.s[1]), f.s[2]), f.s[5]);
}

void sixChannelTo3Channel(Frame& f) {
    f.t[0] = mixA(sample(f.s[0]), f.s[3]);
    f.t[1] = mixA(sample(f.s[1]), f.s[4]);
    f.t[2] = sample(f.s[2]);
}

void sixChannelTo6Channel(Frame& f) {
    copyChannels(f, 6);
}

void eightChannelTo6Channel(Frame& f) {
    copyChannels(f, 6);
    f.t[4] = mixA(f.t[4], f.s[6]);
    f.t[5] = mixA(f.t[5], f.s[7]);
}

} // namespace routes
} // namespace

// Mono to mono moves a packed block in one piece; a source with gaps
// between its frames is copied frame by frame.
CSampleRateConverter::CMonoToMonoConverter::CMonoToMonoConverter()
    : CChannelConverter(1, 1, kAny) {}

void CSampleRateConverter::CMonoToMonoConverter::convert(std::int32_t frameCount,
                                                         SourcePointers sources,
                                                         std::int32_t sourceStride,
                                                         TargetPointers targets) const {
    if (sourceStride / 2 != 1) {
        forEachFrame<routes::monoToMono>(*this, frameCount, sources, sourceStride, targets);
    } else if (frameCount > 0) {
        std::memcpy(targets[0], sources[0], static_cast<std::size_t>(frameCount) * 2);
    }
}

#define TESK_QUOR_CONVERTER(Name, sourceCount, targetCount, acmod, route)                          \
    CSampleRateConverter::Name::Name() : CChannelConverter(sourceCount, targetCount, acmod) {}     \
    void CSampleRateConverter::Name::convert(std::int32_t frameCount, SourcePointers sources,      \
                                             std::int32_t sourceStride, TargetPointers targets)    \
        const {                                                                                    \
        forEachFrame<route>(*this, frameCount, sources, sourceStride, targets);                    \
    }

TESK_QUOR_CONVERTER(CMonoToStereoConverter, 1, 2, kAny, routes::monoToStereo)
TESK_QUOR_CONVERTER(CMonoTo3ChannelConverter, 1, 3, kAny, routes::monoTo3Channel)
TESK_QUOR_CONVERTER(CMonoTo6ChannelConverter, 1, 6, kAny, routes::monoTo6Channel)
TESK_QUOR_CONVERTER(CStereoToMonoConverter, 2, 1, kAny, routes::stereoToMono)
TESK_QUOR_CONVERTER(CStereoToStereoConverter, 2, 2, kAny, routes::stereoToStereo)
TESK_QUOR_CONVERTER(CStereoTo3ChannelConverter, 2, 3, kAny, routes::stereoTo3Channel)
TESK_QUOR_CONVERTER(CStereoTo6ChannelConverter, 2, 6, kAny, routes::stereoTo6Channel)
TESK_QUOR_CONVERTER(C3ChannelToMonoConverter, 3, 1, kAny, routes::threeChannelToMono)
TESK_QUOR_CONVERTER(C3ChannelToStereoConverter, 3, 2, kAny, routes::threeChannelToStereo)
TESK_QUOR_CONVERTER(C3ChannelTo3ChannelConverter, 3, 3, kAny, routes::threeChannelTo3Channel)
TESK_QUOR_CONVERTER(C3ChannelTo6ChannelConverter, 3, 6, kAny, routes::threeChannelTo6Channel)
TESK_QUOR_CONVERTER(C3ChannelTo6ChannelConverterAcmod4, 3, 6, 4,
                    routes::threeChannelTo6ChannelAcmod4)
TESK_QUOR_CONVERTER(C4ChannelToStereoConverter, 4, 2, kAny, routes::fourChannelToStereo)
TESK_QUOR_CONVERTER(C4ChannelToStereoConverterAcmod5, 4, 2, 5, routes::fourChannelToStereoAcmod5)
TESK_QUOR_CONVERTER(C4ChannelTo4ChannelConverter, 4, 4, kAny, routes::fourChannelTo4Channel)
TESK_QUOR_CONVERTER(C4ChannelTo6ChannelConverter, 4, 6, 5, routes::fourChannelTo6Channel)
TESK_QUOR_CONVERTER(C4ChannelTo6ChannelConverterAcmod6, 4, 6, kAny,
                    routes::fourChannelTo6ChannelAcmod6)
TESK_QUOR_CONVERTER(C5ChannelToStereoConverter, 5, 2, kAny, routes::fiveChannelToStereo)
TESK_QUOR_CONVERTER(C5ChannelTo6Converter, 5, 6, kAny, routes::fiveChannelTo6Channel)
TESK_QUOR_CONVERTER(C6ChannelToMonoConverter, 6, 1, kAny, routes::sixChannelToMono)
TESK_QUOR_CONVERTER(C6ChannelToStereoConverter, 6, 2, kAny, routes::sixChannelToStereo)
TESK_QUOR_CONVERTER(C6ChannelTo3ChannelConverter, 6, 3, kAny, routes::sixChannelTo3Channel)
TESK_QUOR_CONVERTER(C6ChannelTo6ChannelConverter, 6, 6, kAny, routes::sixChannelTo6Channel)
TESK_QUOR_CONVERTER(C8ChannelToStereoConverter, 8, 2, kAny, routes::sixChannelToStereo)
TESK_QUOR_CONVERTER(C8ChannelTo6ChannelConverter, 8, 6, kAny, routes::eightChannelTo6Channel)

#undef TESK_QUOR_CONVERTER

std::vector<zelm::P<CSampleRateConverter::CChannelConverter>>
CSampleRateConverter::makeChannelConverters() {
    std::vector<zelm::P<CChannelConverter>> converters;
    converters.reserve(26);
    converters.emplace_back(new CMonoToMonoConverter);
    converters.emplace_back(new CMonoToStereoConverter);
    converters.emplace_back(new CMonoTo3ChannelConverter);
    converters.emplace_back(new CMonoTo6ChannelConverter);
    converters.emplace_back(new CStereoToMonoConverter);
    converters.emplace_back(new CStereoToStereoConverter);
    converters.emplace_back(new CStereoTo3ChannelConverter);
    converters.emplace_back(new CStereoTo6ChannelConverter);
    converters.emplace_back(new C3ChannelToMonoConverter);
    converters.emplace_back(new C3ChannelToStereoConverter);
    converters.emplace_back(new C3ChannelTo3ChannelConverter);
    converters.emplace_back(new C3ChannelTo6ChannelConverter);
    converters.emplace_back(new C3ChannelTo6ChannelConverterAcmod4);
    converters.emplace_back(new C4ChannelToStereoConverter);
    converters.emplace_back(new C4ChannelToStereoConverterAcmod5);
    converters.emplace_back(new C4ChannelTo4ChannelConverter);
    converters.emplace_back(new C4ChannelTo6ChannelConverter);
    converters.emplace_back(new C4ChannelTo6ChannelConverterAcmod6);
    converters.emplace_back(new C5ChannelToStereoConverter);
    converters.emplace_back(new C5ChannelTo6Converter);
    converters.emplace_back(new C6ChannelToMonoConverter);
    converters.emplace_back(new C6ChannelToStereoConverter);
    converters.emplace_back(new C6ChannelTo3ChannelConverter);
    converters.emplace_back(new C6ChannelTo6ChannelConverter);
    converters.emplace_back(new C8ChannelToStereoConverter);
    converters.emplace_back(new C8ChannelTo6ChannelConverter);
    return converters;
}

} // namespace tesk::samplerateconverter
