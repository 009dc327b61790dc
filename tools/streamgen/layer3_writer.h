// Layer III bitstream writer: turns frames described by their header fields,
// side information, scale factors and quantised spectra into MPEG-1, MPEG-2
// and MPEG-2.5 Layer III frames, with the bit reservoir, optional CRC and
// free format. It encodes exactly what it is given; fields left at -1 are
// chosen by the writer (the cheapest valid value). Invalid descriptions throw
// std::invalid_argument naming the frame, granule, channel and field.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tools/streamgen/streamgen.h"

namespace tesk::quor::streamgen {

inline constexpr int kLayer3Lines = 576;
inline constexpr int kLayer3LongBands = 22;  // band 21 carries no scale factor
inline constexpr int kLayer3ShortBands = 13; // band 12 carries no scale factor
inline constexpr int kModeExtensionIntensity = 1;
inline constexpr int kModeExtensionMidSide = 2;

// The header fields of a frame. The MPEG version follows from the sample
// rate: 32, 44.1, 48 kHz are MPEG-1; 16, 22.05, 24 kHz MPEG-2; 8, 11.025,
// 12 kHz MPEG-2.5.
struct Layer3Header {
    std::int32_t sampleRate = 44100;
    ChannelMode mode = ChannelMode::kStereo;
    int modeExtension = 0; // joint stereo: kModeExtensionMidSide | kModeExtensionIntensity
    // A bit rate of the version's table, or 0 for free format, whose frames
    // are freeFormatBytes long before padding.
    std::int32_t bitRateKbps = 128;
    int freeFormatBytes = 0;
    bool padding = false;
    bool crc = false; // a CRC word follows the header
    bool privateBit = false;
    bool copyright = false;
    bool original = false;
    int emphasis = 0; // 0-3
};

// One granule of one channel. Spectra are in coding order: for long blocks
// line i is frequency line i; for short blocks each band holds window 0's
// lines, then window 1's, then window 2's (ShortLine gives the index); a
// mixed block codes its first 36 lines as long lines and then short bands
// from band 3 on in that order.
struct Layer3Granule {
    std::array<int, kLayer3Lines> values{}; // quantised lines, |v| <= 8206
    int globalGain = 210;
    int blockType = 0;                 // 0 normal, 1 start, 2 short, 3 stop
    bool mixedBlock = false;           // with blockType 2
    bool windowSwitching = false;      // forced on by blockType != 0 or mixedBlock
    std::array<int, 3> subblockGain{}; // 0-7 per short window, window switching only
    bool scalefacScale = false;
    bool preflag = false; // MPEG-1; LSF takes it from scalefacCompress (row 2)
    // Scale factors by band. Long blocks use longScalefac[0..20], short blocks
    // shortScalefac[0..11][window]; mixed blocks use the long bands below line
    // 36 (8 in MPEG-1, 6 in MPEG-2/2.5) and the short bands from 3 on. For the
    // right channel of an intensity-stereo frame these are the intensity
    // positions.
    std::array<int, kLayer3LongBands> longScalefac{};
    std::array<std::array<int, 3>, kLayer3ShortBands> shortScalefac{};
    // -1: the smallest value whose lengths hold the scale factors (LSF: with
    // the chosen preflag; for an intensity right channel with bit 0 set to
    // intensityScale). Otherwise the 4-bit (MPEG-1) or 9-bit (LSF) field as
    // coded; the writer checks that the scale factors fit its lengths.
    int scalefacCompress = -1;
    int intensityScale = 0; // LSF intensity right channel, automatic choice only
    // Huffman coding. bigValues -1: up to the last line above 1 in magnitude,
    // with the rest in count1 quadruples. Otherwise the pair count (0-288);
    // the lines from 2 * bigValues on must be at most 1 in magnitude.
    int bigValues = -1;
    std::array<int, 3> tableSelect{-1, -1, -1}; // per region; [2] unused with window switching
    int region0Count = -1;                      // 0-15, without window switching
    int region1Count = -1;                      // 0-7, without window switching
    int count1Table = -1;                       // 0 table A, 1 table B
};

struct Layer3Frame {
    Layer3Header header;
    // granules[granule][channel]; LSF frames use granule 0 only.
    std::array<std::array<Layer3Granule, 2>, 2> granules{};
    // MPEG-1, per channel: bit 8 bands 0-5, 4 bands 6-10, 2 bands 11-15,
    // 1 bands 16-20 of granule 1 reuse granule 0's scale factors (which the
    // writer checks are equal).
    std::array<int, 2> scfsi{};
    int privateBits = 0;
    // Bytes of main data taken from earlier frames; -1: the main data follows
    // the previous frame's at once, as far as the reservoir allows.
    int mainDataBegin = -1;
    // Bytes appended after the granules' bits (stuffing), as part of this
    // frame's main data.
    int ancillaryBytes = 0;
};

// Writes frames one after the other into one stream.
class Layer3Writer {
public:
    // Appends a frame; throws std::invalid_argument when it cannot be written
    // (an invalid field, or main data that do not fit the frame and the
    // reservoir). The stream is unchanged then.
    void Add(const Layer3Frame& frame);

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    // Byte offsets of the frames' headers.
    const std::vector<std::int32_t>& frameOffsets() const { return offsets_; }
    // Main-data bytes of the last frame that later frames may still use.
    int reservoirBytes() const;

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<std::int32_t> offsets_;
    // Main data are placed in the concatenation of the frames' main-data
    // areas; positions in it are "virtual".
    std::int64_t Physical(std::int64_t virtualPosition) const;

    std::int64_t mainDataEnd_ = 0; // virtual, one past the last main-data byte
    std::int64_t virtualEnd_ = 0;  // virtual size of all areas
    // Byte ranges [begin, end) of the frames' main-data areas, in order.
    std::vector<std::array<std::int64_t, 2>> areas_;
};

// Frame length in bytes (with padding) and samples per channel per frame.
int Layer3FrameBytes(const Layer3Header& header);
int Layer3FrameSamples(const Layer3Header& header);

// Bits a granule's main data take (scale factors and Huffman data), as the
// writer would code it in the given frame; for sizing spectra to a bit rate.
// Throws like Layer3Writer::Add.
int Layer3GranuleBits(const Layer3Frame& frame, int granule, int channel);

// Coding-order index of line k of window w in short band b at a sample rate.
int ShortLine(std::int32_t sampleRate, int band, int window, int k);
// Band boundaries in lines: long bands 0-22, short bands 0-13 (per window).
int LongBandStart(std::int32_t sampleRate, int band);
int ShortBandStart(std::int32_t sampleRate, int band);

// The factor each line's |v|^(4/3) is multiplied by: 2^((globalGain - 210)
// / 4) times the scale-factor, pretab and subblock-gain factors, as the
// writer codes the granule. Layer3Dequantised applies it with the sign. The
// intensity and mid/side stages are not applied. Both throw like
// Layer3Writer::Add when the granule cannot be coded.
std::array<double, kLayer3Lines> Layer3LineSteps(const Layer3Frame& frame, int granule,
                                                 int channel);
double Layer3Dequantised(const Layer3Frame& frame, int granule, int channel, int index);

// Writes the frames into one stream; throws like Layer3Writer::Add with the
// frame's number.
std::vector<std::uint8_t> WriteLayer3(const std::vector<Layer3Frame>& frames);

} // namespace tesk::quor::streamgen
