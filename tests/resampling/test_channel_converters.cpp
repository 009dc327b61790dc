#include "resampling/sample_rate_converter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tesk::samplerateconverter {
namespace {

using Converter = CSampleRateConverter;
using ChannelConverter = Converter::CChannelConverter;
constexpr std::int32_t kAny = ChannelConverter::kAnyLayout;

struct Routing {
    std::string name;
    std::function<zelm::P<ChannelConverter>()> make;
    std::int32_t sourceCount;
    std::int32_t targetCount;
    std::int32_t acmod;
    // The planes made from the source frame 100, 200, ..., 800.
    std::vector<std::int16_t> expected;
};

template <class T> std::function<zelm::P<ChannelConverter>()> maker() {
    return [] { return zelm::P<ChannelConverter>(new T); };
}

#define ROUTING(Name, ...)                                                                         \
    Routing {                                                                                      \
#Name, maker < Converter::Name>(), __VA_ARGS__                                             \
    }

// Mixed values worked out by hand: attenuated 300, 400, 500, 600, 700 and
// 800 are 212, 282, 353, 424, 494 and 565; mixing two positive samples
// subtracts their product divided by 32767.
const std::vector<Routing>& routings() {
    static const std::vector<Routing> table = {
        ROUTING(CMonoToMonoConverter, 1, 1, kAny, {100}),
        ROUTING(CMonoToStereoConverter, 1, 2, kAny, {100, 100}),
        ROUTING(CMonoTo3ChannelConverter, 1, 3, kAny, {0, 0, 100}),
        ROUTING(CMonoTo6ChannelConverter, 1, 6, kAny, {0, 0, 100, 0, 0, 0}),
        ROUTING(CStereoToMonoConverter, 2, 1, kAny, {300}),
        ROUTING(CStereoToStereoConverter, 2, 2, kAny, {100, 200}),
        ROUTING(CStereoTo3ChannelConverter, 2, 3, kAny, {100, 200, 0}),
        ROUTING(CStereoTo6ChannelConverter, 2, 6, kAny, {100, 200, 0, 0, 0, 0}),
        ROUTING(C3ChannelToMonoConverter, 3, 1, kAny, {598}),
        ROUTING(C3ChannelToStereoConverter, 3, 2, kAny, {312, 411}),
        ROUTING(C3ChannelTo3ChannelConverter, 3, 3, kAny, {100, 200, 300}),
        ROUTING(C3ChannelTo6ChannelConverter, 3, 6, kAny, {100, 200, 300, 0, 0, 0}),
        ROUTING(C3ChannelTo6ChannelConverterAcmod4, 3, 6, 4, {100, 200, 0, 0, 300, 300}),
        ROUTING(C4ChannelToStereoConverter, 4, 2, kAny, {312, 481}),
        ROUTING(C4ChannelToStereoConverterAcmod5, 4, 2, 5, {592, 690}),
        ROUTING(C4ChannelTo4ChannelConverter, 4, 4, kAny, {100, 200, 300, 400}),
        ROUTING(C4ChannelTo6ChannelConverter, 4, 6, 5, {100, 200, 300, 0, 400, 400}),
        ROUTING(C4ChannelTo6ChannelConverterAcmod6, 4, 6, kAny, {100, 200, 0, 0, 300, 400}),
        ROUTING(C5ChannelToStereoConverter, 5, 2, kAny, {592, 760}),
        ROUTING(C5ChannelTo6Converter, 5, 6, kAny, {100, 200, 300, 0, 400, 500}),
        ROUTING(C6ChannelToMonoConverter, 6, 1, kAny, {1476}),
        ROUTING(C6ChannelToStereoConverter, 6, 2, kAny, {662, 830}),
        ROUTING(C6ChannelTo3ChannelConverter, 6, 3, kAny, {382, 551, 300}),
        ROUTING(C6ChannelTo6ChannelConverter, 6, 6, kAny, {100, 200, 300, 400, 500, 600}),
        ROUTING(C8ChannelToStereoConverter, 8, 2, kAny, {662, 830}),
        ROUTING(C8ChannelTo6ChannelConverter, 8, 6, kAny, {100, 200, 300, 400, 987, 1155}),
    };
    return table;
}

#undef ROUTING

// Interleaved source frames with `stride` samples per frame; the channels
// beyond the converter's count hold a marker that must never be read.
struct Source {
    std::vector<std::int16_t> samples;
    int stride;
    Converter::SourcePointers pointers() const {
        Converter::SourcePointers result{};
        for (int c = 0; c < stride && c < Converter::kMaxChannels; ++c) {
            result[c] = samples.data() + c;
        }
        return result;
    }
};

Source makeSource(const std::vector<std::vector<std::int16_t>>& frames, int channels, int stride) {
    Source source{std::vector<std::int16_t>(frames.size() * stride, 9999), stride};
    for (std::size_t n = 0; n < frames.size(); ++n) {
        for (int c = 0; c < channels; ++c) {
            source.samples[n * stride + c] = frames[n][c];
        }
    }
    return source;
}

const std::vector<std::int16_t> kFrame = {100, 200, 300, 400, 500, 600, 700, 800};
const std::vector<std::int16_t> kSilentFrame(8, 0);

struct Planes {
    std::vector<std::vector<std::int16_t>> planes;
    Converter::TargetPointers pointers() {
        Converter::TargetPointers result{};
        for (std::size_t k = 0; k < planes.size(); ++k) {
            result[k] = planes[k].data();
        }
        return result;
    }
};

Planes run(const ChannelConverter& converter, const Source& source, int frames) {
    // One spare sample per plane shows a write past the frame count.
    Planes planes{std::vector<std::vector<std::int16_t>>(
        converter.getTargetChannelCount(), std::vector<std::int16_t>(frames + 1, -7))};
    converter.convert(frames, source.pointers(), source.stride * 2, planes.pointers());
    return planes;
}

// Each converter routes and mixes a frame, follows the stride rather than its
// channel count, and writes nothing for zero frames.
TEST(ChannelConverterRouting, EveryConverterRoutesAndMixesItsChannels) {
    for (const Routing& routing : routings()) {
        SCOPED_TRACE(routing.name);
        const zelm::P<ChannelConverter> converter = routing.make();
        EXPECT_EQ(converter->getSourceChannelCount(), routing.sourceCount);
        EXPECT_EQ(converter->getTargetChannelCount(), routing.targetCount);
        EXPECT_EQ(converter->getAcmod(), routing.acmod);
        const int channels = routing.sourceCount;
        const Planes out =
            run(*converter, makeSource({kFrame, kSilentFrame, kFrame}, channels, channels), 3);
        const Planes wide = run(
            *converter, makeSource({kSilentFrame, kFrame}, channels, Converter::kMaxChannels), 2);
        const Planes none = run(*converter, makeSource({kFrame}, channels, channels), 0);
        ASSERT_EQ(out.planes.size(), routing.expected.size());
        for (std::size_t k = 0; k < out.planes.size(); ++k) {
            const std::int16_t want = routing.expected[k];
            EXPECT_EQ(out.planes[k], (std::vector<std::int16_t>{want, 0, want, -7})) << "T" << k;
            EXPECT_EQ(wide.planes[k][1], want) << "T" << k;
            EXPECT_EQ(none.planes[k], std::vector<std::int16_t>{-7}) << "T" << k;
        }
    }
}

TEST(ChannelConverterMixing, SameSignSaturatesAtFullScale) {
    EXPECT_EQ(Converter::mix(-32768, -32768), -32768);
    EXPECT_EQ(Converter::mix(32767, 32767), 32767);
    EXPECT_EQ(Converter::mix(16384, 16384), 24576);
    EXPECT_EQ(Converter::mix(-16384, -16384), -24576);
    EXPECT_EQ(Converter::mix(32767, 1), 32767);
    EXPECT_EQ(Converter::mix(-32768, -1), -32768);
}

TEST(ChannelConverterMixing, OppositeSignsOrSilenceAddPlainly) {
    EXPECT_EQ(Converter::mix(1000, -300), 700);
    EXPECT_EQ(Converter::mix(-300, 1000), 700);
    EXPECT_EQ(Converter::mix(32767, -32768), -1);
    EXPECT_EQ(Converter::mix(0, -32768), -32768);
    EXPECT_EQ(Converter::mix(12345, 0), 12345);
}

TEST(ChannelConverterMixing, AttenuationTruncatesTowardZero) {
    EXPECT_EQ(Converter::attenuate(-1), 0);
    EXPECT_EQ(Converter::attenuate(1), 0);
    EXPECT_EQ(Converter::attenuate(3), 2);
    EXPECT_EQ(Converter::attenuate(-3), -2);
    EXPECT_EQ(Converter::attenuate(32767), 23169);
    EXPECT_EQ(Converter::attenuate(-32768), -23170);
    EXPECT_EQ(Converter::mixAttenuated(-500, -1), -500);
    EXPECT_EQ(Converter::mixAttenuated(0, 3), 2);
}

} // namespace
} // namespace tesk::samplerateconverter
