#include "tools/streamgen/streamgen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <tuple>
#include <utility>

#include <twolame.h>
#include <unistd.h>
extern "C" {
#include <shine/layer3.h>
}

#include "decoder/frame_header.h"
#include "decoder/stream_info.h"
#include "tools/streamgen/layer1_writer.h"
#include "tools/streamgen/music_corpus.h"

namespace tesk::quor::streamgen {

namespace {

std::int32_t Channels(const StreamOptions& options) {
    return options.mode == ChannelMode::kMono ? 1 : 2;
}

std::int16_t ToSample(double value) {
    return static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767.0));
}

double SignalValue(const StreamOptions& options, std::int32_t channel, std::int32_t i,
                   std::uint32_t& noise) {
    const double t = static_cast<double>(i) / options.sampleRate;
    switch (options.signal) {
    case Signal::kTones: {
        const double frequency = channel == 0 ? 440.0 : 660.0;
        return 0.4 * std::sin(2.0 * std::numbers::pi * frequency * t) +
               0.1 * std::sin(2.0 * std::numbers::pi * 3.1 * frequency * t);
    }
    case Signal::kSweep: {
        const double top = options.sampleRate * 0.45;
        const double span = static_cast<double>(options.samplesPerChannel) / options.sampleRate;
        const double phase =
            2.0 * std::numbers::pi * (50.0 * t + (top - 50.0) * t * t / (2 * span));
        return 0.5 * std::sin(channel == 0 ? phase : phase + 1.0);
    }
    case Signal::kSine:
        return 0.5 * std::sin(2.0 * std::numbers::pi * options.sineHz * t);
    case Signal::kNoise:
        noise = noise * 1664525u + 1013904223u;
        return 0.3 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0);
    case Signal::kMusic:
        break;
    }
    return 0.0;
}

std::vector<std::uint8_t> EncodeLayer2(const StreamOptions& options,
                                       const std::vector<std::int16_t>& pcm) {
    twolame_options* encoder = twolame_init();
    if (encoder == nullptr) {
        throw std::runtime_error("twolame: cannot create an encoder");
    }
    static constexpr TWOLAME_MPEG_mode kModes[] = {TWOLAME_STEREO, TWOLAME_JOINT_STEREO,
                                                   TWOLAME_DUAL_CHANNEL, TWOLAME_MONO};
    twolame_set_num_channels(encoder, Channels(options));
    twolame_set_in_samplerate(encoder, options.sampleRate);
    twolame_set_out_samplerate(encoder, options.sampleRate);
    twolame_set_mode(encoder, kModes[static_cast<int>(options.mode)]);
    twolame_set_version(encoder, options.sampleRate >= 32000 ? TWOLAME_MPEG1 : TWOLAME_MPEG2);
    twolame_set_bitrate(encoder, options.bitRateKbps);
    twolame_set_verbosity(encoder, 0);
    twolame_set_error_protection(encoder, options.crc ? TRUE : FALSE);
    if (twolame_init_params(encoder) != 0) {
        twolame_close(&encoder);
        throw std::runtime_error("twolame: refuses " + std::to_string(options.sampleRate) +
                                 " Hz at " + std::to_string(options.bitRateKbps) + " kbit/s");
    }
    std::vector<std::uint8_t> out(pcm.size() * 2 + 65536);
    const int written = twolame_encode_buffer_interleaved(
        encoder, pcm.data(), options.samplesPerChannel, out.data(), static_cast<int>(out.size()));
    const int flushed = written < 0 ? -1
                                    : twolame_encode_flush(encoder, out.data() + written,
                                                           static_cast<int>(out.size()) - written);
    twolame_close(&encoder);
    if (written < 0 || flushed < 0) {
        throw std::runtime_error("twolame: encoding failed");
    }
    out.resize(static_cast<std::size_t>(written + flushed));
    return out;
}

std::vector<std::uint8_t> EncodeLayer3(const StreamOptions& options,
                                       const std::vector<std::int16_t>& pcm) {
    shine_config_t config{};
    shine_set_config_mpeg_defaults(&config.mpeg);
    config.wave.channels = Channels(options) == 1 ? PCM_MONO : PCM_STEREO;
    config.wave.samplerate = options.sampleRate;
    static constexpr modes kModes[] = {STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO};
    config.mpeg.mode = kModes[static_cast<int>(options.mode)];
    config.mpeg.bitr = options.bitRateKbps;
    if (shine_check_config(options.sampleRate, options.bitRateKbps) < 0) {
        throw std::runtime_error("shine: refuses " + std::to_string(options.sampleRate) +
                                 " Hz at " + std::to_string(options.bitRateKbps) + " kbit/s");
    }
    shine_t encoder = shine_initialise(&config);
    if (encoder == nullptr) {
        throw std::runtime_error("shine: cannot create an encoder");
    }
    const int perPass = shine_samples_per_pass(encoder);
    const std::int32_t channels = Channels(options);
    std::vector<std::int16_t> block(static_cast<std::size_t>(perPass * channels));
    std::vector<std::uint8_t> out;
    for (std::int32_t start = 0; start < options.samplesPerChannel; start += perPass) {
        std::fill(block.begin(), block.end(), std::int16_t{0});
        const std::int32_t n = std::min(perPass, options.samplesPerChannel - start);
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(start) * channels, n * channels,
                    block.begin());
        int written = 0;
        const unsigned char* data =
            shine_encode_buffer_interleaved(encoder, block.data(), &written);
        out.insert(out.end(), data, data + written);
    }
    // With an encoder tag, silent passes push the last input samples out:
    // the frames then hold the delay, the input and the decoder's delay.
    const int extraPasses =
        options.encoderTag ? (kShineDelay + kDecoderDelay + perPass - 1) / perPass + 1 : 0;
    std::fill(block.begin(), block.end(), std::int16_t{0});
    for (int pass = 0; pass < extraPasses; ++pass) {
        int written = 0;
        const unsigned char* data =
            shine_encode_buffer_interleaved(encoder, block.data(), &written);
        out.insert(out.end(), data, data + written);
    }
    int written = 0;
    const unsigned char* data = shine_flush(encoder, &written);
    out.insert(out.end(), data, data + written);
    shine_close(encoder);
    return out;
}

std::vector<std::uint8_t> EncodeMusic(const StreamOptions& options) {
    if (options.layer != Layer::kIII) {
        throw std::runtime_error("the music signal is written as Layer III only");
    }
    try {
        return MusicStream(MusicOptionsOf(options));
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error(std::string("music: ") + e.what());
    }
}

std::vector<std::uint8_t> Encode(const StreamOptions& options) {
    if (options.signal == Signal::kMusic) {
        return EncodeMusic(options);
    }
    if (options.layer == Layer::kI) {
        return Layer1Stream(options);
    }
    const std::vector<std::int16_t> pcm = Synthesise(options);
    return options.layer == Layer::kII ? EncodeLayer2(options, pcm) : EncodeLayer3(options, pcm);
}

// Offsets of the back-to-back frames from the start of audio.
std::vector<std::int32_t> FrameOffsets(const std::vector<std::uint8_t>& audio,
                                       CFrameHeader& first) {
    std::vector<std::int32_t> offsets;
    std::size_t at = 0;
    CFrameHeader header;
    while (at + 4 <= audio.size() && IsSyncPattern(audio[at], audio[at + 1]) &&
           header.Parse(audio.data() + at) &&
           at + static_cast<std::size_t>(header.frameLength) <= audio.size()) {
        if (offsets.empty()) {
            first = header;
        }
        offsets.push_back(static_cast<std::int32_t>(at));
        at += static_cast<std::size_t>(header.frameLength);
    }
    if (offsets.empty()) {
        throw std::runtime_error("encoder output holds no frame");
    }
    return offsets;
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

// The LAME-style encoder tag behind the tag's fields: the encoder's name,
// then 12 bits of delay and 12 of padding 21 bytes in.
void PutEncoderTag(std::vector<std::uint8_t>& frame, std::size_t at, std::int32_t delay,
                   std::int32_t padding) {
    constexpr std::size_t kTagBytes = 24;
    if (at + kTagBytes > frame.size()) {
        throw std::runtime_error("the tag frame is too short for an encoder tag");
    }
    std::memcpy(frame.data() + at, "shine    ", 9);
    frame[at + 21] = static_cast<std::uint8_t>(delay >> 4);
    frame[at + 22] = static_cast<std::uint8_t>(((delay & 15) << 4) | (padding >> 8));
    frame[at + 23] = static_cast<std::uint8_t>(padding & 0xFF);
}

// Delay and padding of the encoded frames: the padding is what follows the
// input in them.
std::pair<std::int32_t, std::int32_t> EncoderDelayAndPadding(const StreamOptions& options,
                                                             std::size_t frames,
                                                             std::int32_t samplesPerFrame) {
    const auto total = static_cast<std::int32_t>(frames) * samplesPerFrame;
    const std::int32_t padding = total - options.samplesPerChannel - kShineDelay;
    if (options.layer != Layer::kIII || padding < kDecoderDelay) {
        throw std::runtime_error("an encoder tag needs Layer III and the whole input encoded");
    }
    return {kShineDelay, padding};
}

// A frame with the first frame's header (no padding) holding a Xing or Info
// header for the audio that follows it.
std::vector<std::uint8_t> VbrTagFrame(const StreamOptions& options, const CFrameHeader& first,
                                      const std::vector<std::int32_t>& offsets,
                                      std::size_t audioBytes, Stream& stream) {
    CFrameHeader header;
    std::uint8_t headerBytes[4] = {first.bytes[0], static_cast<std::uint8_t>(first.bytes[1] | 1),
                                   static_cast<std::uint8_t>(first.bytes[2] & ~2u), first.bytes[3]};
    header.Parse(headerBytes);
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(header.frameLength), 0);
    std::memcpy(frame.data(), headerBytes, 4);
    std::size_t at = static_cast<std::size_t>(XingOffset(header));
    std::memcpy(frame.data() + at, options.vbrFrame == VbrFrame::kXing ? "Xing" : "Info", 4);
    const std::uint32_t flags = 1 | 2 | 8 | (options.vbrToc ? 4u : 0u);
    PutBigEndian(frame, at + 4, flags);
    PutBigEndian(frame, at + 8, static_cast<std::uint32_t>(offsets.size()));
    PutBigEndian(frame, at + 12, static_cast<std::uint32_t>(audioBytes + frame.size()));
    at += 16;
    if (options.vbrToc) {
        for (std::size_t i = 0; i < 100; ++i) {
            const std::size_t index = i * offsets.size() / 100;
            const double share = static_cast<double>(offsets[index] + frame.size()) /
                                 static_cast<double>(audioBytes + frame.size());
            frame[at + i] = static_cast<std::uint8_t>(std::min(255.0, std::floor(share * 256.0)));
        }
        at += 100;
    }
    PutBigEndian(frame, at, 50);
    if (options.encoderTag) {
        std::tie(stream.encoderDelay, stream.encoderPadding) =
            EncoderDelayAndPadding(options, offsets.size(), first.GetSamplesPerFrame());
        PutEncoderTag(frame, at + 4, stream.encoderDelay, stream.encoderPadding);
    }
    return frame;
}

std::vector<std::uint8_t> ID3v2Tag(const StreamOptions& options) {
    const auto size = static_cast<std::uint32_t>(options.id3v2Size);
    std::vector<std::uint8_t> tag(10 + size, 0);
    const std::uint8_t sizeBytes[4] = {static_cast<std::uint8_t>((size >> 21) & 0x7F),
                                       static_cast<std::uint8_t>((size >> 14) & 0x7F),
                                       static_cast<std::uint8_t>((size >> 7) & 0x7F),
                                       static_cast<std::uint8_t>(size & 0x7F)};
    const std::uint8_t flags = options.id3v2Footer ? 0x10 : 0x00;
    const std::uint8_t head[6] = {'I', 'D', '3', 4, 0, flags};
    std::memcpy(tag.data(), head, 6);
    std::memcpy(tag.data() + 6, sizeBytes, 4);
    static constexpr char kTitle[] = "TIT2\0\0\0\x0b\0\0\x03generated";
    std::memcpy(tag.data() + 10, kTitle, std::min<std::size_t>(size, sizeof kTitle - 1));
    if (options.id3v2Footer) {
        const std::uint8_t footHead[6] = {'3', 'D', 'I', 4, 0, flags};
        tag.insert(tag.end(), footHead, footHead + 6);
        tag.insert(tag.end(), sizeBytes, sizeBytes + 4);
    }
    return tag;
}

std::vector<std::uint8_t> ID3v1Tag() {
    std::vector<std::uint8_t> tag(128, 0);
    std::memcpy(tag.data(), "TAGgenerated", 12);
    tag[127] = 12;
    return tag;
}

// Bytes that never hold 0xFF, so that they cannot look like a frame header.
std::vector<std::uint8_t> Junk(std::int32_t count) {
    std::vector<std::uint8_t> junk(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < junk.size(); ++i) {
        junk[i] = static_cast<std::uint8_t>((i * 37 + 11) % 255);
    }
    return junk;
}

} // namespace

std::vector<std::int16_t> Synthesise(const StreamOptions& options) {
    const std::int32_t channels = Channels(options);
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(options.samplesPerChannel) *
                                  static_cast<std::size_t>(channels));
    std::uint32_t noise = 12345;
    for (std::int32_t i = 0; i < options.samplesPerChannel; ++i) {
        for (std::int32_t c = 0; c < channels; ++c) {
            pcm[static_cast<std::size_t>(i * channels + c)] =
                ToSample(SignalValue(options, c, i, noise));
        }
    }
    return pcm;
}

Stream Generate(const StreamOptions& options) {
    std::vector<std::uint8_t> audio = Encode(options);
    audio.resize(audio.size() - std::min<std::size_t>(
                                    audio.size(), static_cast<std::size_t>(options.truncateBytes)));
    CFrameHeader first;
    std::vector<std::int32_t> offsets = FrameOffsets(audio, first);

    Stream stream;
    stream.samplesPerFrame = first.GetSamplesPerFrame();
    stream.sampleRate = first.sampleRate;
    stream.channels = first.twoChannels != 0 ? 2 : 1;
    if (options.id3v2Size >= 0) {
        stream.bytes = ID3v2Tag(options);
    }
    const std::vector<std::uint8_t> junk = Junk(options.junkBytes);
    stream.bytes.insert(stream.bytes.end(), junk.begin(), junk.end());
    stream.firstFramePosition = static_cast<std::int32_t>(stream.bytes.size());
    if (options.encoderTag && options.vbrFrame == VbrFrame::kNone) {
        throw std::runtime_error("an encoder tag needs a Xing or Info frame");
    }
    if (options.vbrFrame != VbrFrame::kNone) {
        const std::vector<std::uint8_t> tagFrame =
            VbrTagFrame(options, first, offsets, audio.size(), stream);
        stream.bytes.insert(stream.bytes.end(), tagFrame.begin(), tagFrame.end());
        stream.hasVbrFrame = true;
    }
    stream.audioPosition = static_cast<std::int32_t>(stream.bytes.size());
    for (std::int32_t& offset : offsets) {
        offset += stream.audioPosition;
    }
    stream.frameOffsets = std::move(offsets);
    stream.bytes.insert(stream.bytes.end(), audio.begin(), audio.end());
    if (options.id3v1) {
        const std::vector<std::uint8_t> tag = ID3v1Tag();
        stream.bytes.insert(stream.bytes.end(), tag.begin(), tag.end());
    }
    return stream;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    // Written under a name of this process and renamed into place, so that
    // several processes making the same stream never read a half-written file.
    const std::filesystem::path target(path);
    std::error_code error;
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), error);
    }
    const std::filesystem::path partial(path + ".part" + std::to_string(::getpid()));
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::filesystem::remove(partial, error);
        throw std::runtime_error("cannot write '" + path + "'");
    }
    std::filesystem::rename(partial, target, error);
    if (error) {
        const std::string cause = error.message();
        std::filesystem::remove(partial, error);
        throw std::runtime_error("cannot write '" + path + "': " + cause);
    }
}

} // namespace tesk::quor::streamgen
