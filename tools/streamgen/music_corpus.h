// Layer III streams with the statistics of encoded music, written with the
// Layer III writer: spectra that fall with frequency, tonal lines that hold
// from frame to frame, a big-values, count1 and zero split and table choice
// set by fitting the quantiser to the bit rate, block switching on
// transients (long, start, short or mixed, stop), mid/side switched per
// frame and intensity stereo above a moving bound. They are no encoding of a
// signal, but take the decoder paths encoder output takes. Deterministic for
// a seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/streamgen/layer3_writer.h"

namespace tesk::quor::streamgen {

struct MusicOptions {
    std::int32_t sampleRate = 44100;
    ChannelMode mode = ChannelMode::kJointStereo;
    std::int32_t bitRateKbps = 128;
    double seconds = 10.0;
    bool midSide = true;        // joint stereo: mid/side in most frames
    bool intensity = false;     // joint stereo: intensity stereo above a bound
    bool blockSwitching = true; // short blocks on transients
    bool mixedBlocks = true;    // some transients take mixed blocks
    bool crc = false;           // a CRC word protects every frame
    std::uint32_t seed = 1;
};

// The rate, mode, bit rate, length and CRC of stream options.
MusicOptions MusicOptionsOf(const StreamOptions& options);

// The frames of a stream; Layer3Writer or WriteLayer3 turns them into bytes.
std::vector<Layer3Frame> MusicFrames(const MusicOptions& options);

// The stream, written; throws std::invalid_argument when the options do not
// make a valid stream.
std::vector<std::uint8_t> MusicStream(const MusicOptions& options);

// The benchmark corpus: a spread of rates, modes and bit rates.
struct MusicCorpusEntry {
    std::string name; // file name stem, such as "music-44100-joint-128"
    MusicOptions options;
};
std::vector<MusicCorpusEntry> MusicCorpus();

} // namespace tesk::quor::streamgen
