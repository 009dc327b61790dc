// Damaged, cut and joined streams: every case keeps the clean decode's
// length (a cut loses the whole frames it cut; the frame cut in two is
// concealed), never comes out more than half a decibel louder than the
// clean program nor clicks (no second difference above the program's), and
// decodes every frame from three after the damage as the
// clean stream does. CRC words wrong throughout leave the samples alone.
// The duration counts the concealment, and a seek into or past the damage
// gives the decode from the start's samples from that time on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "test_support.h"

#ifdef TESK_QUOR_HAVE_STREAMGEN
#include "tools/streamgen/damage.h"

namespace tesk::quor {
namespace {

using namespace streamgen;

test::Decoded DecodeBytes(const std::vector<std::uint8_t>& bytes) {
    test::MemoryInput input;
    input.bytes = bytes;
    QuorHandle handle = nullptr;
    Quor_Create(&handle, input.Callbacks(), &input, QUOR_VERSION);
    test::Decoded decoded = test::DecodeAll(handle);
    Quor_Destroy(handle);
    return decoded;
}

// The number of samples a float decode of the bytes delivers.
std::size_t FloatSampleCount(const std::vector<std::uint8_t>& bytes) {
    test::MemoryInput input;
    input.bytes = bytes;
    QuorHandle handle = nullptr;
    Quor_Create(&handle, input.Callbacks(), &input, QUOR_VERSION);
    Quor_SetOption(handle, QUOR_OPTION_SAMPLE_FORMAT, QUOR_SAMPLES_FLOAT);
    std::vector<std::uint8_t> buffer(16384);
    std::size_t count = 0;
    std::int32_t delivered = 0;
    while (Quor_Decode(handle, buffer.data(), static_cast<std::int32_t>(buffer.size()),
                       &delivered) == QUOR_OK) {
        count += static_cast<std::size_t>(delivered) / sizeof(float);
    }
    Quor_Destroy(handle);
    return count;
}

// A decode from a seek to `milliseconds`, and the duration the decoder states.
test::Decoded DecodeFrom(const std::vector<std::uint8_t>& bytes, std::int32_t milliseconds,
                         std::int32_t& durationMs) {
    test::MemoryInput input;
    input.bytes = bytes;
    QuorHandle handle = nullptr;
    Quor_Create(&handle, input.Callbacks(), &input, QUOR_VERSION);
    QuorFileInfo info{};
    Quor_GetFileInfo(handle, &info);
    durationMs = info.durationMs;
    Quor_SeekToTime(handle, milliseconds);
    test::Decoded decoded = test::DecodeAll(handle);
    Quor_Destroy(handle);
    return decoded;
}

int Peak(const std::vector<std::int16_t>& samples, std::size_t from = 0) {
    int peak = 0;
    for (std::size_t i = from; i < samples.size(); ++i) {
        peak = std::max(peak, std::abs(int{samples[i]}));
    }
    return peak;
}

// The largest second difference of a channel's samples: a click's mark.
int Roughness(const std::vector<std::int16_t>& samples, std::size_t channels) {
    int largest = 0;
    for (std::size_t i = 2 * channels; i < samples.size(); ++i) {
        largest = std::max(
            largest, std::abs(samples[i] - 2 * samples[i - channels] + samples[i - 2 * channels]));
    }
    return largest;
}

struct Source {
    const char* name;
    Layer layer;
    ChannelMode mode;
    std::int32_t sampleRate;
    std::int32_t kbps;
    bool crc = false;
    Signal signal = Signal::kNoise;
    // Frames after the damage from which the decode equals the clean one.
    // A frame whose main data begin before a cut is concealed too, and the
    // rise after it reaches into the next LSF frame (shorter than the
    // synthesis filter's memory): the own writer's LSF frames, which reach
    // back as far as the reservoir allows, settle a frame later.
    std::int32_t settle = 3;
};

TEST(Damage, EveryCaseKeepsLengthLoudnessAndTheFramesAfter) {
    constexpr std::int32_t kFrame = 8;
    const Source sources[] = {
        {"Layer I stereo CRC", Layer::kI, ChannelMode::kStereo, 44100, 256, true},
        {"Layer I joint tones", Layer::kI, ChannelMode::kJointStereo, 32000, 192, false,
         Signal::kTones},
        {"Layer I LSF mono CRC", Layer::kI, ChannelMode::kMono, 24000, 128, true},
        {"Layer II stereo", Layer::kII, ChannelMode::kStereo, 44100, 192},
        {"Layer II stereo tones", Layer::kII, ChannelMode::kStereo, 44100, 192, false,
         Signal::kTones},
        {"Layer II mono CRC", Layer::kII, ChannelMode::kMono, 48000, 96, true},
        {"Layer II LSF CRC", Layer::kII, ChannelMode::kJointStereo, 24000, 96, true},
        {"Layer III stereo", Layer::kIII, ChannelMode::kStereo, 44100, 128},
        {"Layer III stereo tones", Layer::kIII, ChannelMode::kStereo, 44100, 128, false,
         Signal::kTones},
        {"Layer III mono", Layer::kIII, ChannelMode::kMono, 48000, 64},
        {"Layer III mono tones", Layer::kIII, ChannelMode::kMono, 48000, 64, false, Signal::kTones},
        {"Layer III LSF", Layer::kIII, ChannelMode::kJointStereo, 22050, 64},
        {"Layer III LSF sine", Layer::kIII, ChannelMode::kJointStereo, 22050, 64, false,
         Signal::kSine},
        {"Layer III joint CRC", Layer::kIII, ChannelMode::kJointStereo, 44100, 128, true,
         Signal::kMusic},
        {"Layer III mono CRC", Layer::kIII, ChannelMode::kMono, 32000, 64, true, Signal::kMusic},
        {"Layer III LSF CRC", Layer::kIII, ChannelMode::kStereo, 24000, 64, true, Signal::kMusic,
         4},
        {"Layer III LSF mono CRC", Layer::kIII, ChannelMode::kMono, 16000, 32, true, Signal::kMusic,
         4},
    };
    const Damage damages[] = {
        {DamageKind::kCut, kFrame, 3},           {DamageKind::kZeroFrames, kFrame, 3},
        {DamageKind::kBreakSync, kFrame, 1},     {DamageKind::kSideInfo, kFrame, 1},
        {DamageKind::kProtectedBits, kFrame, 9}, {DamageKind::kJunk, kFrame, 1},
        {DamageKind::kCrcWord, kFrame, 1},       {DamageKind::kZeroFrames, kFrame + 4, 3},
    };
    for (const Source& source : sources) {
        StreamOptions options;
        options.layer = source.layer;
        options.mode = source.mode;
        options.sampleRate = source.sampleRate;
        options.bitRateKbps = source.kbps;
        options.crc = source.crc;
        options.samplesPerChannel = 40000;
        options.signal = source.signal;
        const Stream stream = Generate(options);
        const test::Decoded clean = DecodeBytes(stream.bytes);
        const int programPeak = Peak(clean.samples);
        const auto channels = static_cast<std::size_t>(stream.channels);
        const int programRoughness = Roughness(clean.samples, channels);
        if (source.crc) {
            // An encoder that writes every word wrong: the stream plays as unprotected.
            const Damage words{DamageKind::kCrcWord, 0,
                               static_cast<std::int32_t>(stream.frameOffsets.size())};
            EXPECT_EQ(DecodeBytes(Damaged(stream, words)).samples, clean.samples) << source.name;
        }
        const std::size_t frameSamples =
            static_cast<std::size_t>(stream.samplesPerFrame * stream.channels);
        for (const Damage& damage : damages) {
            const bool layer3 = source.layer == Layer::kIII;
            const bool protectedKind =
                damage.kind == DamageKind::kProtectedBits || damage.kind == DamageKind::kCrcWord;
            if ((damage.kind == DamageKind::kSideInfo && !layer3) ||
                (protectedKind && !source.crc)) {
                continue;
            }
            const std::vector<std::uint8_t> bytes = Damaged(stream, damage);
            const test::Decoded damaged = DecodeBytes(bytes);
            const std::string name = std::string(source.name) + ", damage " +
                                     std::to_string(static_cast<int>(damage.kind));
            EXPECT_EQ(damaged.result, QUOR_END) << name;
            const bool cut = damage.kind == DamageKind::kCut;
            const std::size_t expected =
                clean.samples.size() - (cut ? (damage.count - 1) * frameSamples : 0);
            const std::size_t size = damaged.samples.size();
            EXPECT_EQ(size, expected) << name;
            EXPECT_EQ(FloatSampleCount(bytes), size) << name << ", float samples";
            EXPECT_LE(Peak(damaged.samples), programPeak * 106 / 100) << name; // +0.5 dB
            EXPECT_LE(Roughness(damaged.samples, channels), programRoughness) << name << ", click";
            // Frames from three (settle) after the damage, aligned at the end.
            const std::size_t from =
                (damage.frame + (cut ? 0 : damage.count) + source.settle) * frameSamples;
            const std::size_t shift = clean.samples.size() - std::min(size, clean.samples.size());
            int largest = 0;
            for (std::size_t i = from; i < size && i + shift < clean.samples.size(); ++i) {
                largest =
                    std::max(largest, std::abs(damaged.samples[i] - clean.samples[i + shift]));
            }
            EXPECT_LE(largest, 1) << name;
            // Seeks into the last damaged frame and three quarters in give the
            // decode's samples. A fresh decoder that seeks into a run of frames
            // whose CRC fails has seen no word pass and plays them unprotected:
            // that seek lands on the run's first frame, which its pre-roll leads.
            const std::size_t perChannel = size / channels;
            const auto rate = static_cast<std::size_t>(source.sampleRate);
            const auto last = static_cast<std::size_t>(
                cut || protectedKind ? damage.frame : damage.frame + damage.count - 1);
            const std::size_t intoDamage = last * frameSamples / channels;
            for (const std::size_t sample : {intoDamage, perChannel * 3 / 4}) {
                const auto seekMs = static_cast<std::int32_t>(sample * 1000 / rate + 1);
                std::int32_t durationMs = 0;
                const test::Decoded tail = DecodeFrom(bytes, seekMs, durationMs);
                EXPECT_EQ(durationMs, static_cast<std::int32_t>(perChannel * 1000 / rate)) << name;
                const std::size_t at = std::min((seekMs * rate + 500) / 1000 * channels, size);
                EXPECT_TRUE(tail.samples ==
                            std::vector<std::int16_t>(damaged.samples.begin() +
                                                          static_cast<std::ptrdiff_t>(at),
                                                      damaged.samples.end()))
                    << name << ", seek to " << seekMs << " ms";
            }
        }
    }
}

} // namespace
} // namespace tesk::quor

#endif
