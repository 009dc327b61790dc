#include "decoder/core/layer12.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "decoder/core/frame_decoder.h"
#include "decoder/core/generated/core_tables.h"
#include "decoder/core/synthesis.h"

namespace tesk::quor {
namespace {

constexpr int kLevelRows = 27;
constexpr int kScaleFactors = 64;
constexpr int kLayer1Slots = 12;
constexpr int kLayer2Groups = 12;
constexpr int kLayer2Slots = 3 * kLayer2Groups;
constexpr int kJointStereo = 1;

// Row k of the requantisation factors: the step of a quantiser class.
// Rows 2..16 are the 2^k - 1 level classes; the others the three-, five- and
// nine-level values.
double level_factor(int k) {
    constexpr std::array<double, 10> kFewLevels = {-4.0 / 5, -2.0 / 5, 2.0 / 5, 4.0 / 5, -8.0 / 9,
                                                   -4.0 / 9, -2.0 / 9, 2.0 / 9, 4.0 / 9, 8.0 / 9};
    if (k == 0) {
        return 0.0;
    }
    if (k == 1) {
        return -2.0 / 3;
    }
    if (k <= 16) {
        return 2.0 / ((1 << k) - 1);
    }
    return kFewLevels[k - 17];
}

// The rows of level_factor holding the levels of a grouped class, lowest first.
constexpr std::array<std::uint8_t, 3> kThreeLevelRows = {1, 0, 2};
constexpr std::array<std::uint8_t, 5> kFiveLevelRows = {17, 18, 0, 19, 20};
constexpr std::array<std::uint8_t, 9> kNineLevelRows = {21, 1, 22, 23, 0, 24, 25, 2, 26};

// The level rows of the three samples of every code of a grouped class,
// in time order; codes beyond levels^3 - 1 decode as silence.
template <std::size_t Levels>
std::array<std::array<std::uint8_t, 3>, 1024>
build_group_table(const std::array<std::uint8_t, Levels>& rows) {
    std::array<std::array<std::uint8_t, 3>, 1024> table{};
    constexpr int kCodes = static_cast<int>(Levels * Levels * Levels);
    for (int code = 0; code < kCodes; ++code) {
        const int n = static_cast<int>(Levels);
        table[code] = {rows[code % n], rows[code / n % n], rows[code / (n * n)]};
    }
    return table;
}

struct RequantTables {
    std::array<std::array<double, kScaleFactors>, kLevelRows> requant{};
    std::array<std::array<std::uint8_t, 3>, 1024> three{};
    std::array<std::array<std::uint8_t, 3>, 1024> five{};
    std::array<std::array<std::uint8_t, 3>, 1024> nine{};
};

const RequantTables& requant_tables() {
    static const RequantTables tables = [] {
        RequantTables built;
        for (int k = 0; k < kLevelRows; ++k) {
            for (int s = 0; s < kScaleFactors - 1; ++s) {
                built.requant[k][s] = level_factor(k) * std::pow(2.0, (3 - s) / 3.0);
            }
            built.requant[k][kScaleFactors - 1] = 0.0;
        }
        built.three = build_group_table(kThreeLevelRows);
        built.five = build_group_table(kFiveLevelRows);
        built.nine = build_group_table(kNineLevelRows);
        return built;
    }();
    return tables;
}

// Allocation table of an MPEG-1 Layer II frame by sample rate (44.1, 48,
// 32 kHz), channel layout (two channels, one) and bit-rate index.
constexpr std::uint8_t kTableChoice[3][2][16] = {
    {{0, 2, 2, 2, 2, 2, 2, 0, 0, 0, 1, 1, 1, 1, 1, 0},
     {0, 2, 2, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
    {{0, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     {0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {{0, 3, 3, 3, 3, 3, 3, 0, 0, 0, 1, 1, 1, 1, 1, 0},
     {0, 3, 3, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
};
constexpr int kLsfTable = 4;

int joint_bound(const FrameHeader& header, int limit) {
    if (header.mode != kJointStereo) {
        return limit;
    }
    return std::min(4 * header.mode_extension + 4, limit);
}

// Hands a frame's slots, kSlots of them per channel, to the synthesis.
template <int kSlots>
int synthesize_frame(FrameDecoder& decoder, const double (*samples)[kSlots][kSubbands],
                     unsigned char* output, int& position) {
    const double* blocks[2] = {samples[0][0], samples[1][0]};
    return synthesize_decoded(decoder, blocks, decoder.header.channels, kSlots, output, position);
}

struct Layer1Frame {
    int allocation[kSubbands][2] = {};
    int scale_factor[kSubbands][2] = {};
};

void read_layer1_allocation(BitReader& bits, int channels, int bound, Layer1Frame& frame) {
    for (int sb = 0; sb < kSubbands; ++sb) {
        if (sb < bound) {
            for (int ch = 0; ch < channels; ++ch) {
                frame.allocation[sb][ch] = static_cast<int>(read_bits(bits, 4));
            }
        } else {
            const int shared = static_cast<int>(read_bits(bits, 4));
            frame.allocation[sb][0] = shared;
            frame.allocation[sb][1] = shared;
        }
    }
}

void read_layer1_scale_factors(BitReader& bits, int channels, Layer1Frame& frame) {
    for (int sb = 0; sb < kSubbands; ++sb) {
        for (int ch = 0; ch < channels; ++ch) {
            if (frame.allocation[sb][ch] != 0) {
                frame.scale_factor[sb][ch] = static_cast<int>(read_bits(bits, 6));
            }
        }
    }
}

double layer1_value(unsigned code, int allocation, int scale_factor) {
    const int value = static_cast<int>(code) - (1 << allocation) + 1;
    return value * requant_tables().requant[allocation + 1][scale_factor];
}

void read_layer1_samples(BitReader& bits, int channels, int bound, const Layer1Frame& frame, int s,
                         double (*samples)[kLayer1Slots][kSubbands]) {
    for (int sb = 0; sb < kSubbands; ++sb) {
        if (sb < bound) {
            for (int ch = 0; ch < channels; ++ch) {
                const int a = frame.allocation[sb][ch];
                samples[ch][s][sb] =
                    a == 0 ? 0.0
                           : layer1_value(read_bits(bits, a + 1), a, frame.scale_factor[sb][ch]);
            }
            continue;
        }
        const int a = frame.allocation[sb][0];
        const unsigned code = a == 0 ? 0 : read_bits(bits, a + 1);
        for (int ch = 0; ch < channels; ++ch) {
            samples[ch][s][sb] = a == 0 ? 0.0 : layer1_value(code, a, frame.scale_factor[sb][ch]);
        }
    }
}

struct Layer2Frame {
    const AllocationTable* table = nullptr;
    int allocation[kSubbands][2] = {};
    int scfsi[kSubbands][2] = {};
    int scale_factor[kSubbands][2][3] = {};
};

const std::int16_t* allocation_pair(const AllocationTable& table, int sb, int allocation) {
    return table.pairs + 2 * (table.row_start[sb] + allocation);
}

// The bit-rate index that chooses the allocation table: a free-format frame
// takes the highest listed bit rate that its length (to the nearest kbit/s)
// reaches.
int table_bitrate_index(const FrameHeader& header) {
    if (header.bitrate_index != 0) {
        return header.bitrate_index;
    }
    constexpr int kBytesPerKbps = 144000;
    constexpr int kHighestIndex = 14;
    const int bytes = header.frame_size + 4 - header.padding;
    const int kbps =
        (bytes * sample_rate_hz(header.sample_rate_index) + kBytesPerKbps / 2) / kBytesPerKbps;
    int index = 1;
    while (index < kHighestIndex && bitrate_kbps(false, 2, index + 1) <= kbps) {
        ++index;
    }
    return index;
}

const AllocationTable& choose_layer2_table(const FrameHeader& header) {
    if (header.lsf != 0) {
        return kAllocationTables[kLsfTable];
    }
    const int layout = header.channels == 2 ? 0 : 1;
    return kAllocationTables[kTableChoice[header.sample_rate_index][layout]
                                         [table_bitrate_index(header)]];
}

void read_layer2_allocation(BitReader& bits, int channels, int bound, Layer2Frame& frame) {
    const AllocationTable& table = *frame.table;
    for (int sb = 0; sb < table.subband_limit; ++sb) {
        const int nbal = allocation_pair(table, sb, 0)[0];
        if (sb < bound) {
            for (int ch = 0; ch < channels; ++ch) {
                frame.allocation[sb][ch] = static_cast<int>(read_bits(bits, nbal));
            }
        } else {
            const int shared = static_cast<int>(read_bits(bits, nbal));
            frame.allocation[sb][0] = shared;
            frame.allocation[sb][1] = shared;
        }
    }
}

void read_layer2_scale_factors(BitReader& bits, int channels, Layer2Frame& frame) {
    const int limit = frame.table->subband_limit;
    for (int sb = 0; sb < limit; ++sb) {
        for (int ch = 0; ch < channels; ++ch) {
            if (frame.allocation[sb][ch] != 0) {
                frame.scfsi[sb][ch] = static_cast<int>(read_bits(bits, 2));
            }
        }
    }
    for (int sb = 0; sb < limit; ++sb) {
        for (int ch = 0; ch < channels; ++ch) {
            if (frame.allocation[sb][ch] == 0) {
                continue;
            }
            int* sf = frame.scale_factor[sb][ch];
            switch (frame.scfsi[sb][ch]) {
            case 0:
                sf[0] = static_cast<int>(read_bits(bits, 6));
                sf[1] = static_cast<int>(read_bits(bits, 6));
                sf[2] = static_cast<int>(read_bits(bits, 6));
                break;
            case 1:
                sf[0] = sf[1] = static_cast<int>(read_bits(bits, 6));
                sf[2] = static_cast<int>(read_bits(bits, 6));
                break;
            case 2:
                sf[0] = sf[1] = sf[2] = static_cast<int>(read_bits(bits, 6));
                break;
            default:
                sf[0] = static_cast<int>(read_bits(bits, 6));
                sf[1] = sf[2] = static_cast<int>(read_bits(bits, 6));
                break;
            }
        }
    }
}

// The level rows of the three samples of one sub-band: either three
// ungrouped codes or one grouped code.
struct SampleCodes {
    bool grouped = false;
    int bits = 0;
    int codes[3] = {};
    const std::array<std::uint8_t, 3>* rows = nullptr;
};

[[gnu::always_inline]] inline SampleCodes
read_sample_codes(BitReader& bits, const std::int16_t* pair, const RequantTables& tables) {
    SampleCodes codes;
    codes.bits = pair[0];
    const int offset = pair[1];
    if (offset < 0) {
        // The three codes, 16 bits at most each, from one look at the buffer.
        const int width = codes.bits;
        const std::uint64_t word = peek_bits(bits, 3 * width);
        const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
        for (int s = 0; s < 3; ++s) {
            codes.codes[s] = static_cast<int>((word >> ((2 - s) * width)) & mask) + offset;
        }
        skip_bits(bits, 3 * width);
        return codes;
    }
    const unsigned code = read_bits(bits, codes.bits);
    const auto& group = offset == 3 ? tables.three : offset == 5 ? tables.five : tables.nine;
    codes.grouped = true;
    codes.rows = &group[code];
    return codes;
}

// Dequantises a group's three samples of sub-band sb into slots[0..2].
[[gnu::always_inline]] inline void dequantise(const SampleCodes& codes, const RequantTables& tables,
                                              int scale_factor, double (*slots)[kSubbands],
                                              int sb) {
    if (codes.grouped) {
        for (int s = 0; s < 3; ++s) {
            slots[s][sb] = tables.requant[(*codes.rows)[s]][scale_factor];
        }
        return;
    }
    const double step = tables.requant[codes.bits][scale_factor];
    for (int s = 0; s < 3; ++s) {
        slots[s][sb] = codes.codes[s] * step;
    }
}

// Reads group `group` of the frame's samples into its three slots of each
// channel.
void read_layer2_samples(BitReader& bits, int channels, int bound, int group,
                         const Layer2Frame& frame, double (*samples)[kLayer2Slots][kSubbands]) {
    const AllocationTable& table = *frame.table;
    const RequantTables& tables = requant_tables();
    const int part = group / 4;
    double(*slots[2])[kSubbands] = {samples[0] + 3 * group, samples[1] + 3 * group};
    for (int s = 0; s < 3; ++s) {
        std::fill_n(slots[0][s], kSubbands, 0.0);
        std::fill_n(slots[1][s], kSubbands, 0.0);
    }
    for (int sb = 0; sb < table.subband_limit; ++sb) {
        if (sb < bound) {
            for (int ch = 0; ch < channels; ++ch) {
                const int a = frame.allocation[sb][ch];
                if (a != 0) {
                    const SampleCodes codes =
                        read_sample_codes(bits, allocation_pair(table, sb, a), tables);
                    dequantise(codes, tables, frame.scale_factor[sb][ch][part], slots[ch], sb);
                }
            }
            continue;
        }
        const int a = frame.allocation[sb][0];
        if (a != 0) {
            const SampleCodes codes =
                read_sample_codes(bits, allocation_pair(table, sb, a), tables);
            for (int ch = 0; ch < channels; ++ch) {
                dequantise(codes, tables, frame.scale_factor[sb][ch][part], slots[ch], sb);
            }
        }
    }
}

} // namespace

void init_layer2_tables() {
    requant_tables();
}

int layer12_protected_bits(FrameDecoder& decoder) {
    const FrameHeader& header = decoder.header;
    const int channels = header.channels;
    if (header.layer == 1) {
        const int bound = joint_bound(header, kSubbands);
        return 4 * (bound * channels + kSubbands - bound);
    }
    Layer2Frame frame;
    frame.table = &choose_layer2_table(header);
    BitReader bits = decoder.bits;
    read_layer2_allocation(bits, channels, joint_bound(header, frame.table->subband_limit), frame);
    int selection = 0;
    for (int sb = 0; sb < frame.table->subband_limit; ++sb) {
        for (int ch = 0; ch < channels; ++ch) {
            selection += frame.allocation[sb][ch] != 0 ? 2 : 0;
        }
    }
    return static_cast<int>(8 * (bits.position - decoder.bits.position) + bits.bit_index -
                            decoder.bits.bit_index) +
           selection;
}

int decode_layer1_frame(FrameDecoder& decoder, unsigned char* output, int& position) {
    FrameHeader& header = decoder.header;
    const int channels = header.channels;
    header.joint_bound = joint_bound(header, kSubbands);
    Layer1Frame frame;
    read_layer1_allocation(decoder.bits, channels, header.joint_bound, frame);
    read_layer1_scale_factors(decoder.bits, channels, frame);
    double samples[2][kLayer1Slots][kSubbands] = {};
    for (int s = 0; s < kLayer1Slots; ++s) {
        read_layer1_samples(decoder.bits, channels, header.joint_bound, frame, s, samples);
    }
    return synthesize_frame(decoder, samples, output, position);
}

int decode_layer2_frame(FrameDecoder& decoder, unsigned char* output, int& position) {
    FrameHeader& header = decoder.header;
    const int channels = header.channels;
    Layer2Frame frame;
    frame.table = &choose_layer2_table(header);
    header.allocation = frame.table;
    header.subband_limit = frame.table->subband_limit;
    header.joint_bound = joint_bound(header, header.subband_limit);
    read_layer2_allocation(decoder.bits, channels, header.joint_bound, frame);
    read_layer2_scale_factors(decoder.bits, channels, frame);
    // Every slot of both channels is written group by group.
    double samples[2][kLayer2Slots][kSubbands];
    for (int group = 0; group < kLayer2Groups; ++group) {
        read_layer2_samples(decoder.bits, channels, header.joint_bound, group, frame, samples);
    }
    return synthesize_frame(decoder, samples, output, position);
}

} // namespace tesk::quor
