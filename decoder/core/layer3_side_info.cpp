#include "decoder/core/layer3_side_info.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "decoder/core/frame_decoder.h"

namespace tesk::quor {
namespace {

constexpr int kSampleRateRows = 9;
constexpr int kJointStereo = 1;
constexpr unsigned kMaxBigValues = 288;

// Scale-factor band boundaries: long bands in lines, short bands in lines of
// one window. 11.025 and 12 kHz use the 16 kHz row.
constexpr int kDistinctRows = 7;
constexpr int kBandRowOf[kSampleRateRows] = {0, 1, 2, 3, 4, 5, 5, 5, 6};
constexpr std::int16_t kLongBands[kDistinctRows][23] = {
    {0,  4,  8,   12,  16,  20,  24,  30,  36,  44,  52, 62,
     74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576},
    {0,  4,  8,   12,  16,  20,  24,  30,  36,  42,  50, 60,
     72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576},
    {0,  4,   8,   12,  16,  20,  24,  30,  36,  44,  54, 66,
     82, 102, 126, 156, 194, 240, 296, 364, 448, 550, 576},
    {0,   6,   12,  18,  24,  30,  36,  44,  54,  66,  80, 96,
     116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
    {0,   6,   12,  18,  24,  30,  36,  44,  54,  66,  80, 96,
     114, 136, 162, 194, 232, 278, 332, 394, 464, 540, 576},
    {0,   6,   12,  18,  24,  30,  36,  44,  54,  66,  80, 96,
     116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
    {0,   12,  24,  36,  48,  60,  72,  88,  108, 132, 160, 192,
     232, 280, 336, 400, 476, 566, 568, 570, 572, 574, 576},
};
constexpr std::int16_t kShortBands[kDistinctRows][14] = {
    {0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192},
    {0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192},
    {0, 4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192},
    {0, 4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192},
    {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 136, 180, 192},
    {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192},
    {0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192},
};

constexpr std::uint8_t kSlen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
constexpr std::uint8_t kSlen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};

// Scale factors per partition by block kind (long, short, mixed) and row.
constexpr std::uint8_t kPartitionSizes[3][6][4] = {
    {{6, 5, 5, 5}, {6, 5, 7, 3}, {11, 10, 0, 0}, {7, 7, 7, 0}, {6, 6, 6, 3}, {8, 8, 5, 0}},
    {{9, 9, 9, 9}, {9, 9, 12, 6}, {18, 18, 0, 0}, {12, 12, 12, 0}, {12, 9, 9, 6}, {15, 12, 9, 0}},
    {{6, 9, 9, 9}, {6, 9, 12, 6}, {15, 18, 0, 0}, {6, 15, 12, 0}, {6, 12, 9, 6}, {6, 18, 9, 0}},
};

constexpr int kGainFirst = -256;
constexpr int kGainLast = 121;

struct SideInfoTables {
    std::array<std::array<std::int16_t, kBandTableRowSize>, kSampleRateRows> bands{};
    std::array<double, kGainLast - kGainFirst + 1> gains{};
    std::array<std::uint32_t, 512> slen_normal{};
    std::array<std::uint32_t, 256> slen_intensity{};
};

std::uint32_t length_word(int l0, int l1, int l2, int l3, int row, int preflag) {
    return static_cast<std::uint32_t>(l0 | (l1 << 3) | (l2 << 6) | (l3 << 9) | (row << 12) |
                                      (preflag << 15));
}

void build_band_rows(SideInfoTables& tables) {
    for (int index = 0; index < kSampleRateRows; ++index) {
        auto& row = tables.bands[index];
        const int r = kBandRowOf[index];
        for (int i = 0; i < 23; ++i) {
            row[kLongBoundaries + i] = kLongBands[r][i];
        }
        for (int i = 0; i < 22; ++i) {
            row[kLongWidths + i] =
                static_cast<std::int16_t>(kLongBands[r][i + 1] - kLongBands[r][i]);
        }
        for (int i = 0; i < 14; ++i) {
            row[kShortBoundaries + i] = static_cast<std::int16_t>(3 * kShortBands[r][i]);
        }
        for (int i = 0; i < 13; ++i) {
            row[kShortWidths + i] =
                static_cast<std::int16_t>(kShortBands[r][i + 1] - kShortBands[r][i]);
        }
    }
}

void build_length_words(SideInfoTables& tables) {
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            for (int k = 0; k < 4; ++k) {
                for (int l = 0; l < 4; ++l) {
                    tables.slen_normal[80 * i + 16 * j + 4 * k + l] = length_word(i, j, k, l, 0, 0);
                }
                tables.slen_normal[400 + 20 * i + 4 * j + k] = length_word(i, j, k, 0, 1, 0);
            }
        }
    }
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 3; ++j) {
            tables.slen_normal[500 + 3 * i + j] = length_word(i, j, 0, 0, 2, 1);
            tables.slen_intensity[244 + 3 * i + j] = length_word(i, j, 0, 0, 5, 0);
        }
    }
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 6; ++j) {
            for (int k = 0; k < 6; ++k) {
                tables.slen_intensity[36 * i + 6 * j + k] = length_word(i, j, k, 0, 3, 0);
            }
        }
    }
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            for (int k = 0; k < 4; ++k) {
                tables.slen_intensity[180 + 16 * i + 4 * j + k] = length_word(i, j, k, 0, 4, 0);
            }
        }
    }
}

double gain_formula(int position) {
    return std::pow(2.0, -(position + 210) / 4.0);
}

const SideInfoTables& side_info_tables() {
    static const SideInfoTables tables = [] {
        SideInfoTables built;
        build_band_rows(built);
        for (int e = kGainFirst; e <= kGainLast; ++e) {
            built.gains[e - kGainFirst] = gain_formula(e);
        }
        build_length_words(built);
        return built;
    }();
    return tables;
}

unsigned bits_of(BitReader& reader, int n) {
    return read_bits(reader, n);
}

// Region 0 of an LSF mixed block holds eight scale-factor bands in coding
// order, a short band counting once per window: the six long bands and
// windows 0 and 1 of short band 3. In line pairs.
unsigned mixed_region1_begin(int sample_rate_index) {
    const std::int16_t* row = band_table_row(sample_rate_index);
    const int long_bands = mixed_long_bands(sample_rate_index);
    const int band3_width = row[kShortWidths + 3];
    return static_cast<unsigned>((row[kLongBoundaries + long_bands] + 2 * band3_width) / 2);
}

void read_switched_fields(BitReader& reader, GranuleInfo& g, bool lsf, int sample_rate_index) {
    g.block_type = bits_of(reader, 2);
    g.mixed_block_flag = bits_of(reader, 1);
    g.table_select[0] = bits_of(reader, 5);
    g.table_select[1] = bits_of(reader, 5);
    g.table_select[2] = 0;
    for (int& gain : g.window_gain) {
        gain = g.granule_gain + 8 * static_cast<int>(bits_of(reader, 3));
    }
    g.region2_begin = kMaxBigValues;
    if (!lsf) {
        g.region1_begin = 18;
    } else if (g.block_type == 2 && g.mixed_block_flag != 0) {
        g.region1_begin = mixed_region1_begin(sample_rate_index);
    } else {
        g.region1_begin = g.block_type == 2 ? 18 : 27;
        if (sample_rate_index == 8) {
            g.region1_begin *= 2;
        }
    }
}

void read_unswitched_fields(BitReader& reader, GranuleInfo& g, int sample_rate_index) {
    for (unsigned& table : g.table_select) {
        table = bits_of(reader, 5);
    }
    const unsigned region0_count = bits_of(reader, 4);
    const unsigned region1_count = bits_of(reader, 3);
    g.block_type = 0;
    g.mixed_block_flag = 0;
    const std::int16_t* bounds = band_table_row(sample_rate_index) + kLongBoundaries;
    g.region1_begin = static_cast<unsigned>(bounds[region0_count + 1] / 2);
    g.region2_begin = static_cast<unsigned>(bounds[region0_count + region1_count + 2] / 2);
}

// The fields of one granule and channel shared by MPEG-1 and LSF, up to the
// region fields.
void read_granule(BitReader& reader, GranuleInfo& g, bool lsf, bool mid_side,
                  int sample_rate_index) {
    g.part2_3_length = bits_of(reader, 12);
    g.big_values = std::min(bits_of(reader, 9), kMaxBigValues);
    const int global_gain = static_cast<int>(bits_of(reader, 8));
    g.granule_gain = -global_gain + (mid_side ? 2 : 0);
    g.scalefac_compress = bits_of(reader, lsf ? 9 : 4);
    if (bits_of(reader, 1) != 0) {
        read_switched_fields(reader, g, lsf, sample_rate_index);
    } else {
        read_unswitched_fields(reader, g, sample_rate_index);
    }
}

// Reads count values of length bits into the store.
int read_values(BitReader& reader, unsigned* store, int& index, int count, int length) {
    for (int i = 0; i < count; ++i) {
        store[index++] = read_bits_short(reader, length);
    }
    return count * length;
}

void store_zeros(unsigned* store, int& index, int count) {
    for (int i = 0; i < count; ++i) {
        store[index++] = 0;
    }
}

ScaleFactorRead corrupt() {
    return ScaleFactorRead{FRAME_CORRUPT, 0};
}

// Copies the last count bytes of the previous frame, which start
// kReservoirLead bytes into the other half, in front of the read position.
void copy_previous_main_data(FrameDecoder& decoder, int count) {
    decoder.main_data_lead = count;
    if (count <= 0) {
        return;
    }
    const std::size_t previous = std::min<std::size_t>(
        static_cast<std::size_t>(decoder.previous_frame_size), kReservoirHalfSize - kReservoirLead);
    const std::size_t other =
        static_cast<std::size_t>(1 - decoder.current_half) * kReservoirHalfSize;
    const auto n = static_cast<std::size_t>(count);
    std::memcpy(decoder.reservoir + decoder.bits.position - n,
                decoder.reservoir + other + kReservoirLead + previous - n, n);
}

} // namespace

const std::int16_t* band_table_row(int sample_rate_index) {
    return side_info_tables().bands[sample_rate_index].data();
}

double gain_value(int position) {
    if (position < kGainFirst || position > kGainLast) {
        return gain_formula(position);
    }
    return side_info_tables().gains[position - kGainFirst];
}

void read_side_info_mpeg1(BitReader& reader, Layer3SideInfo& info, int channels, bool mid_side,
                          int sample_rate_index) {
    info.main_data_begin = bits_of(reader, 9);
    info.private_bits = bits_of(reader, channels == 1 ? 5 : 3);
    for (int ch = 0; ch < channels; ++ch) {
        info.granules[ch][0].scfsi = -1;
        info.granules[ch][1].scfsi = static_cast<int>(bits_of(reader, 4));
    }
    for (int gr = 0; gr < 2; ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            GranuleInfo& g = info.granules[ch][gr];
            read_granule(reader, g, false, mid_side, sample_rate_index);
            g.preflag = bits_of(reader, 1);
            g.scalefac_scale = bits_of(reader, 1);
            g.count1table_select = bits_of(reader, 1);
        }
    }
}

void read_side_info_lsf(BitReader& reader, Layer3SideInfo& info, int channels, bool mid_side,
                        int sample_rate_index) {
    info.main_data_begin = bits_of(reader, 8);
    info.private_bits = bits_of(reader, channels == 1 ? 1 : 2);
    for (int ch = 0; ch < channels; ++ch) {
        GranuleInfo& g = info.granules[ch][0];
        read_granule(reader, g, true, mid_side, sample_rate_index);
        g.scalefac_scale = bits_of(reader, 1);
        g.count1table_select = bits_of(reader, 1);
    }
}

int layer3_side_info_bits(FrameDecoder& decoder) {
    const FrameHeader& header = decoder.header;
    const bool mid_side = header.mode == kJointStereo && (header.mode_extension & 2) != 0;
    Layer3SideInfo& info = decoder.layer3.side_info;
    const int granules = header.lsf != 0 ? 1 : 2;
    if (header.lsf != 0) {
        read_side_info_lsf(decoder.bits, info, header.channels, mid_side, header.sample_rate_index);
    } else {
        read_side_info_mpeg1(decoder.bits, info, header.channels, mid_side,
                             header.sample_rate_index);
    }
    int bits = 0;
    for (int ch = 0; ch < header.channels; ++ch) {
        for (int gr = 0; gr < granules; ++gr) {
            bits += static_cast<int>(info.granules[ch][gr].part2_3_length);
        }
    }
    return bits - 8 * static_cast<int>(info.main_data_begin);
}

int set_main_data_start(FrameDecoder& decoder, unsigned backstep) {
    // Main data of earlier frames that can be placed in front of this one.
    const int usable =
        decoder.previous_frame_size < 0
            ? 0
            : std::min(decoder.main_data_available, static_cast<int>(kReservoirLead) - 1);
    const bool enough = static_cast<int>(backstep) <= usable;
    // Without enough earlier data the frame is not decoded, but what there
    // is moves in front of it so that later frames can still reach it.
    copy_previous_main_data(decoder, enough ? static_cast<int>(backstep) : usable);
    if (!enough) {
        return -1;
    }
    decoder.bits.position -= backstep;
    decoder.bits.bit_index = 0;
    return 0;
}

ScaleFactorRead read_scale_factors_mpeg1(BitReader& reader, unsigned* store,
                                         const GranuleInfo& granule) {
    if (granule.scalefac_compress >= 16) {
        return corrupt();
    }
    const int s1 = kSlen1[granule.scalefac_compress];
    const int s2 = kSlen2[granule.scalefac_compress];
    int index = 0;
    int bits = 0;
    if (granule.block_type == 2) {
        bits = 18 * (s1 + s2);
        if (granule.mixed_block_flag != 0) {
            read_values(reader, store, index, 17, s1);
            bits -= s1;
        } else {
            read_values(reader, store, index, 18, s1);
        }
        read_values(reader, store, index, 18, s2);
        store_zeros(store, index, 3);
        return ScaleFactorRead{bits, index};
    }
    if (granule.scfsi < 0) {
        bits = read_values(reader, store, index, 11, s1);
        bits += read_values(reader, store, index, 10, s2);
    } else {
        constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
        for (int group = 0; group < 4; ++group) {
            const int count = kGroupStart[group + 1] - kGroupStart[group];
            index = kGroupStart[group];
            if ((granule.scfsi & (8 >> group)) == 0) {
                bits += read_values(reader, store, index, count, group < 2 ? s1 : s2);
            } else {
                index += count;
            }
        }
    }
    store_zeros(store, index, 1);
    return ScaleFactorRead{bits, index};
}

// Flags the entries from first to end whose value is the largest a length
// of `length` bits can hold; a length of 0 flags none.
void flag_largest_values(const unsigned* store, bool* flags, int first, int end, int length) {
    const unsigned largest = (1u << length) - 1;
    for (int i = first; i < end; ++i) {
        flags[i] = length > 0 && store[i] == largest;
    }
}

ScaleFactorRead read_scale_factors_lsf(BitReader& reader, unsigned* store, GranuleInfo& granule,
                                       bool intensity, bool* not_intensity_coded) {
    const SideInfoTables& tables = side_info_tables();
    const unsigned compress = granule.scalefac_compress;
    if (compress >= tables.slen_normal.size()) {
        return corrupt();
    }
    const std::uint32_t word =
        intensity ? tables.slen_intensity[compress / 2] : tables.slen_normal[compress];
    granule.preflag = (word >> 15) & 1;
    int kind = 0;
    if (granule.block_type == 2) {
        kind = granule.mixed_block_flag != 0 ? 2 : 1;
    }
    const unsigned row = (word >> 12) & 7;
    if (row >= 6) {
        return corrupt();
    }
    int index = 0;
    int bits = 0;
    for (int partition = 0; partition < 4; ++partition) {
        const int length = static_cast<int>((word >> (3 * partition)) & 7);
        const int count = kPartitionSizes[kind][row][partition];
        const int first = index;
        if (length != 0) {
            bits += read_values(reader, store, index, count, length);
        } else {
            store_zeros(store, index, count);
        }
        if (not_intensity_coded != nullptr) {
            flag_largest_values(store, not_intensity_coded, first, index, length);
        }
    }
    if (not_intensity_coded != nullptr) {
        flag_largest_values(store, not_intensity_coded, index, kScaleFactorStoreSize, 0);
    }
    store_zeros(store, index, 2 * kind + 1);
    return ScaleFactorRead{bits, index};
}

HuffmanRegions huffman_regions(const GranuleInfo& granule) {
    const int b = static_cast<int>(granule.big_values);
    const int r1 = static_cast<int>(granule.region1_begin);
    const int r2 = static_cast<int>(granule.region2_begin);
    HuffmanRegions regions;
    if (b > r1) {
        regions.length[0] = r1;
        if (b > r2) {
            regions.length[1] = r2 - r1;
            regions.length[2] = b - r2;
        } else {
            regions.length[1] = b - r1;
        }
    } else {
        regions.length[0] = b;
    }
    for (int& length : regions.length) {
        if (length < 0) {
            std::fprintf(stderr, "vad: Bogus region length (%d)\n", length);
            length = 0;
        }
    }
    regions.quadruples = (static_cast<int>(kMaxBigValues) - b) / 2;
    return regions;
}

} // namespace tesk::quor
