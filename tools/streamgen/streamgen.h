// Test-stream generator: encodes deterministic synthesised signals as MPEG
// audio (Layer II through twolame, Layer III through shine, or Layer III
// with the statistics of encoded music from the own writer; Layer I from the
// own writer, layer1_writer.h) and dresses the
// stream with the things real files carry: ID3v2 tags, a Xing or Info frame,
// junk before the first frame, an ID3v1 tag, or a cut-off end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tesk::quor::streamgen {

enum class Layer { kI = 1, kII = 2, kIII = 3 };
enum class ChannelMode { kStereo, kJointStereo, kDualChannel, kMono };
// kMusic: Layer III written by the own writer (music_corpus.h), no encoding
// of a signal.
enum class Signal { kTones, kSweep, kNoise, kSine, kMusic };
enum class VbrFrame { kNone, kXing, kInfo };

struct StreamOptions {
    Layer layer = Layer::kII;
    std::int32_t sampleRate = 44100;
    ChannelMode mode = ChannelMode::kStereo; // kMono makes a one-channel stream
    std::int32_t bitRateKbps = 128;
    std::int32_t samplesPerChannel = 44100;
    Signal signal = Signal::kTones;
    bool crc = false;       // a CRC word protects every frame (Layers I and II, or kMusic)
    double sineHz = 1000.0; // kSine: this one tone at half full scale, the same on every channel
    std::int32_t id3v2Size = -1; // tag body bytes; -1 for no tag
    bool id3v2Footer = false;
    VbrFrame vbrFrame = VbrFrame::kNone;
    bool vbrToc = true;
    // Layer III: the Xing or Info frame carries a LAME-style encoder tag with
    // the encoder's delay and padding, and the encoder runs until every
    // input sample is out.
    bool encoderTag = false;
    std::int32_t junkBytes = 0; // between the tag and the first frame
    bool id3v1 = false;
    std::int32_t truncateBytes = 0; // cut from the end of the audio
};

struct Stream {
    std::vector<std::uint8_t> bytes;
    std::int32_t firstFramePosition = 0;    // of the Xing frame when there is one
    std::int32_t audioPosition = 0;         // of the first encoded frame
    std::vector<std::int32_t> frameOffsets; // whole encoded frames, in the stream
    std::int32_t samplesPerFrame = 0;
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    bool hasVbrFrame = false;
    std::int32_t encoderDelay = -1; // as the encoder tag records them
    std::int32_t encoderPadding = -1;
};

// Samples by which a Layer III decoder's output lags the encoder's input:
// shine's own delay (measured by correlating decoded noise with the input)
// and the decoder's.
inline constexpr std::int32_t kShineDelay = 528;
inline constexpr std::int32_t kDecoderDelay = 529;

// Encodes and dresses a stream; throws std::runtime_error naming the cause
// when the encoder refuses the options.
Stream Generate(const StreamOptions& options);

// The encoder's input, samplesPerChannel frames of interleaved 16-bit PCM.
std::vector<std::int16_t> Synthesise(const StreamOptions& options);

// Writes bytes to a file, making its folder; throws std::runtime_error
// naming the file on failure.
void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace tesk::quor::streamgen
