// Layer III side information and scale factors (MPEG-1 and the lower
// sampling frequencies of MPEG-2 and MPEG-2.5, together "LSF"), the
// scale-factor band table, the gain table and the Huffman region split.
#pragma once

#include <cstdint>

#include "decoder/core/bit_reader.h"
#include "decoder/core/layer3.h"

namespace tesk::quor {

struct FrameDecoder;

inline constexpr int kLinesPerGranule = 576;
inline constexpr int kScaleFactorStoreSize = 39;
inline constexpr int kBandTableRowSize = 72;

// Offsets into a band_table row.
inline constexpr int kLongBoundaries = 0;   // 23 long-band boundaries (lines 0..576)
inline constexpr int kLongWidths = 23;      // 22 long-band widths
inline constexpr int kShortBoundaries = 45; // 14 short-band boundaries x 3
inline constexpr int kShortWidths = 59;     // 13 short-band widths

// Long bands at the bottom of a mixed block: 8 at the MPEG-1 rates, 6 at the
// LSF rates; the short bands follow from band 3 on.
inline constexpr int mixed_long_bands(int sample_rate_index) {
    return sample_rate_index < 3 ? 8 : 6;
}

struct GranuleInfo {
    int scfsi = 0; // granule 0: -1; granule 1: the 4 selection bits (8: bands 0-5 ... 1: 16-20)
    unsigned part2_3_length = 0;
    unsigned big_values = 0; // line pairs, at most 288
    unsigned scalefac_compress = 0;
    unsigned block_type = 0; // 0 normal, 1 start, 2 short, 3 stop
    unsigned mixed_block_flag = 0;
    unsigned table_select[3] = {};
    unsigned short_band_limit[3] = {}; // written by the spectrum decoder
    unsigned long_band_limit = 0;      // written by the spectrum decoder
    unsigned active_subbands = 0;      // written by the spectrum decoder and the stereo step
    unsigned region1_begin = 0;        // line pairs
    unsigned region2_begin = 0;        // line pairs
    unsigned preflag = 0;
    unsigned scalefac_scale = 0;
    unsigned count1table_select = 0;
    int window_gain[3] = {}; // gain-table positions per short window (window switching only)
    int granule_gain = 0;    // gain-table position: -global_gain, +2 with mid/side stereo
};

struct Layer3SideInfo {
    unsigned main_data_begin = 0;
    unsigned private_bits = 0;
    GranuleInfo granules[2][2]; // [channel][granule]; LSF frames use granule 0 only
};

// Result of a scale-factor reader: the bits read (part 2 length), or
// FRAME_CORRUPT, and one past the last store entry written.
struct ScaleFactorRead {
    int bits = 0;
    int end = 0;
};

// Lengths of the three Huffman regions of the big-values part and the
// number of quadruples left for the count1 part, all in line pairs.
struct HuffmanRegions {
    int length[3] = {};
    int quadruples = 0;
};

// One row of 72 values per sample-rate index 0..8: long boundaries, long
// widths, short boundaries x 3, short widths (offsets above).
const std::int16_t* band_table_row(int sample_rate_index);

// 2^(-(position + 210) / 4) for gain-table positions -256..121.
double gain_value(int position);

// Main-data bits the frame in hand needs beyond the reservoir (may be
// negative). Reads the side information at the bit reader into the
// decoder's Layer III record; the frame header must be decoded.
int layer3_side_info_bits(FrameDecoder& decoder);

void read_side_info_mpeg1(BitReader& reader, Layer3SideInfo& info, int channels, bool mid_side,
                          int sample_rate_index);
void read_side_info_lsf(BitReader& reader, Layer3SideInfo& info, int channels, bool mid_side,
                        int sample_rate_index);

// Places the read position at the frame's main data, copying the last
// backstep bytes of the previous frame in front of it. 0, or -1 when
// backstep >= 1 and the reservoir holds fewer main-data bytes of earlier
// frames (none before the first frame).
int set_main_data_start(FrameDecoder& decoder, unsigned backstep);

ScaleFactorRead read_scale_factors_mpeg1(BitReader& reader, unsigned* store,
                                         const GranuleInfo& granule);
// intensity: true only for the right channel of an intensity-stereo frame.
// Sets the granule's preflag from the length word. When not_intensity_coded
// is given, each store entry's flag tells whether its value is the largest
// its length can hold (length above 0), which marks a band without
// intensity coding; the value stays the band's scale factor.
ScaleFactorRead read_scale_factors_lsf(BitReader& reader, unsigned* store, GranuleInfo& granule,
                                       bool intensity, bool* not_intensity_coded = nullptr);

// Splits big_values into the three regions; a negative length is reported
// on standard error as "vad: Bogus region length (%d)" and taken as 0.
HuffmanRegions huffman_regions(const GranuleInfo& granule);

} // namespace tesk::quor
