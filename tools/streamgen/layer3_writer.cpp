#include "tools/streamgen/layer3_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

#include "tools/streamgen/bit_writer.h"
#include "tools/streamgen/generated/layer3_encoding.h"

namespace tesk::quor::streamgen {
namespace {

namespace t = tables;

constexpr int kMaxPart23 = 4095;
constexpr int kMaxBigValues = 288;
constexpr int kMaxMagnitude = 15 + (1 << 13) - 1;
constexpr int kNoScalefacCompress = 0xFFFF;

[[noreturn]] void Fail(const std::string& what) {
    throw std::invalid_argument(what);
}

int RateIndex(std::int32_t sampleRate) {
    for (int i = 0; i < t::kRates; ++i) {
        if (t::kSampleRates[i] == sampleRate) {
            return i;
        }
    }
    Fail("sample rate " + std::to_string(sampleRate) + " Hz is not an MPEG rate");
}

bool IsLsf(int rateIndex) {
    return rateIndex >= 3;
}

int Channels(const Layer3Header& header) {
    return header.mode == ChannelMode::kMono ? 1 : 2;
}

int Granules(int rateIndex) {
    return IsLsf(rateIndex) ? 1 : 2;
}

// Where a granule is: for messages and for the frame-wide fields it needs.
struct GranuleContext {
    const Layer3Frame& frame;
    int rateIndex;
    int granule;
    int channel;

    bool lsf() const { return IsLsf(rateIndex); }
    const Layer3Granule& g() const { return frame.granules[granule][channel]; }
    bool intensityChannel() const {
        return frame.header.mode == ChannelMode::kJointStereo &&
               (frame.header.modeExtension & kModeExtensionIntensity) != 0 && channel == 1;
    }
    [[noreturn]] void Fail(const std::string& what) const {
        streamgen::Fail("granule " + std::to_string(granule) + " channel " +
                        std::to_string(channel) + ": " + what);
    }
};

bool ShortLayout(const Layer3Granule& g) {
    return g.blockType == 2;
}

bool Switched(const Layer3Granule& g) {
    return g.windowSwitching || g.blockType != 0 || g.mixedBlock;
}

int MixedLongBands(int rateIndex) {
    return IsLsf(rateIndex) ? 6 : 8;
}

// Scale factors in coding order.
std::vector<int> ScalefacOrder(const Layer3Granule& g, int rateIndex) {
    std::vector<int> order;
    if (!ShortLayout(g)) {
        order.assign(g.longScalefac.begin(), g.longScalefac.begin() + 21);
        return order;
    }
    int firstShort = 0;
    if (g.mixedBlock) {
        order.assign(g.longScalefac.begin(), g.longScalefac.begin() + MixedLongBands(rateIndex));
        firstShort = 3;
    }
    for (int b = firstShort; b < 12; ++b) {
        order.insert(order.end(), g.shortScalefac[b].begin(), g.shortScalefac[b].end());
    }
    return order;
}

// One coded scale factor and its bit length (0: not coded).
struct CodedScalefac {
    int value;
    int length;
};

struct ScalefacChoice {
    int compress = -1;
    int bits = std::numeric_limits<int>::max();
    bool preflag = false;
    std::vector<CodedScalefac> coded;
};

bool Fits(const std::vector<CodedScalefac>& coded) {
    return std::all_of(coded.begin(), coded.end(), [](const CodedScalefac& c) {
        return c.value >= 0 && c.value < (1 << c.length);
    });
}

int BitsOf(const std::vector<CodedScalefac>& coded) {
    int bits = 0;
    for (const CodedScalefac& c : coded) {
        bits += c.length;
    }
    return bits;
}

// MPEG-1 scfsi groups of the long bands: bands [start, end) and their bit.
constexpr int kScfsiGroups[4][3] = {{0, 6, 8}, {6, 11, 4}, {11, 16, 2}, {16, 21, 1}};

bool ReusedBand(const GranuleContext& c, int band) {
    if (c.granule == 0 || ShortLayout(c.g())) {
        return false;
    }
    for (const auto& group : kScfsiGroups) {
        if (band >= group[0] && band < group[1]) {
            return (c.frame.scfsi[c.channel] & group[2]) != 0;
        }
    }
    return false;
}

std::vector<CodedScalefac> Mpeg1Lengths(const GranuleContext& c, const std::vector<int>& order,
                                        int compress) {
    const Layer3Granule& g = c.g();
    const int firstCount = !ShortLayout(g) ? 11 : g.mixedBlock ? 17 : 18;
    std::vector<CodedScalefac> coded;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (!ReusedBand(c, static_cast<int>(i))) {
            const int length = t::kSlen[static_cast<int>(i) < firstCount ? 0 : 1][compress];
            coded.push_back({order[i], length});
        }
    }
    return coded;
}

std::vector<CodedScalefac> LsfLengths(const Layer3Granule& g, const std::vector<int>& order,
                                      std::uint16_t word) {
    const int kind = !ShortLayout(g) ? 0 : g.mixedBlock ? 2 : 1;
    const int row = (word >> 12) & 7;
    std::vector<CodedScalefac> coded;
    std::size_t i = 0;
    for (int p = 0; p < 4; ++p) {
        const int length = (word >> (3 * p)) & 7;
        for (int n = 0; n < t::kPartitions[kind][row][p]; ++n, ++i) {
            coded.push_back({order[i], length});
        }
    }
    return coded;
}

void CheckReusedScalefacs(const GranuleContext& c) {
    if (c.granule == 0 || c.frame.scfsi[c.channel] == 0) {
        return;
    }
    const Layer3Granule& first = c.frame.granules[0][c.channel];
    if (ShortLayout(first) || ShortLayout(c.g())) {
        c.Fail("scfsi needs long blocks in both granules");
    }
    for (int b = 0; b < 21; ++b) {
        if (ReusedBand(c, b) && first.longScalefac[b] != c.g().longScalefac[b]) {
            c.Fail("scale factor of band " + std::to_string(b) +
                   " differs from granule 0's although scfsi reuses it");
        }
    }
}

void Consider(ScalefacChoice& best, int compress, bool preflag, std::vector<CodedScalefac> coded) {
    const int bits = BitsOf(coded);
    if (Fits(coded) && bits < best.bits) {
        best = {compress, bits, preflag, std::move(coded)};
    }
}

ScalefacChoice ChooseMpeg1(const GranuleContext& c, const std::vector<int>& order) {
    const Layer3Granule& g = c.g();
    ScalefacChoice best;
    const int first = g.scalefacCompress >= 0 ? g.scalefacCompress : 0;
    const int last = g.scalefacCompress >= 0 ? g.scalefacCompress : 15;
    if (last > 15) {
        c.Fail("scalefac_compress " + std::to_string(last) + " is above 15");
    }
    for (int compress = first; compress <= last; ++compress) {
        Consider(best, compress, g.preflag, Mpeg1Lengths(c, order, compress));
    }
    return best;
}

ScalefacChoice ChooseLsf(const GranuleContext& c, const std::vector<int>& order) {
    const Layer3Granule& g = c.g();
    const bool intensity = c.intensityChannel();
    if (intensity && g.preflag && g.scalefacCompress < 0) {
        c.Fail("the intensity right channel of an LSF frame has no preflag");
    }
    ScalefacChoice best;
    for (int compress = 0; compress < 512; ++compress) {
        if (g.scalefacCompress >= 0 ? compress != g.scalefacCompress
                                    : intensity && (compress & 1) != g.intensityScale) {
            continue;
        }
        const std::uint16_t word =
            intensity ? t::kLsfLengthsIntensity[compress >> 1] : t::kLsfLengthsNormal[compress];
        const bool preflag = word != kNoScalefacCompress && (word >> 15) != 0;
        if (word == kNoScalefacCompress || (g.scalefacCompress < 0 && preflag != g.preflag)) {
            continue;
        }
        Consider(best, compress, preflag, LsfLengths(g, order, word));
    }
    return best;
}

ScalefacChoice ChooseScalefacs(const GranuleContext& c) {
    CheckReusedScalefacs(c);
    const std::vector<int> order = ScalefacOrder(c.g(), c.rateIndex);
    ScalefacChoice choice = c.lsf() ? ChooseLsf(c, order) : ChooseMpeg1(c, order);
    if (choice.compress < 0) {
        c.Fail(c.g().scalefacCompress >= 0
                   ? "scale factors do not fit the lengths of scalefac_compress " +
                         std::to_string(c.g().scalefacCompress)
                   : "no scalefac_compress holds these scale factors");
    }
    return choice;
}

// Huffman coding of the spectrum.

struct Regions {
    int bigValues = 0;    // pairs
    int region1Begin = 0; // lines
    int region2Begin = 0; // lines
    int count1End = 0;    // lines
    int region0Count = 0;
    int region1Count = 0;
};

int Magnitude(int v) {
    return std::abs(v);
}

int LastNonzero(const Layer3Granule& g) {
    int end = kLayer3Lines;
    while (end > 0 && g.values[end - 1] == 0) {
        --end;
    }
    return end;
}

int AutoBigValues(const Layer3Granule& g, int nonzeroEnd) {
    int end = std::min(kLayer3Lines, nonzeroEnd + (nonzeroEnd & 1));
    while (end >= 4 && Magnitude(g.values[end - 1]) <= 1 && Magnitude(g.values[end - 2]) <= 1 &&
           Magnitude(g.values[end - 3]) <= 1 && Magnitude(g.values[end - 4]) <= 1) {
        end -= 4;
    }
    return end / 2;
}

void ChooseRegionCounts(const GranuleContext& c, Regions& r) {
    const Layer3Granule& g = c.g();
    const std::int16_t* bands = t::kLongBands[c.rateIndex];
    const int lines = 2 * r.bigValues;
    r.region0Count = g.region0Count;
    r.region1Count = g.region1Count;
    if (r.region0Count < 0) {
        r.region0Count = 0;
        while (r.region0Count < 15 && bands[r.region0Count + 2] <= lines / 3) {
            ++r.region0Count;
        }
    }
    if (r.region1Count < 0) {
        r.region1Count = 0;
        while (r.region1Count < 7 && r.region0Count + r.region1Count + 3 <= 22 &&
               bands[r.region0Count + r.region1Count + 3] <= lines * 3 / 4) {
            ++r.region1Count;
        }
    }
    if (r.region0Count > 15 || r.region1Count > 7 || r.region0Count + r.region1Count + 2 > 22) {
        c.Fail("region counts " + std::to_string(r.region0Count) + "/" +
               std::to_string(r.region1Count) + " reach beyond band 22");
    }
    r.region1Begin = bands[r.region0Count + 1];
    r.region2Begin = bands[r.region0Count + r.region1Count + 2];
}

Regions SplitSpectrum(const GranuleContext& c) {
    const Layer3Granule& g = c.g();
    for (int i = 0; i < kLayer3Lines; ++i) {
        if (Magnitude(g.values[i]) > kMaxMagnitude) {
            c.Fail("line " + std::to_string(i) + " exceeds the largest codable magnitude");
        }
    }
    Regions r;
    const int nonzeroEnd = LastNonzero(g);
    r.bigValues = g.bigValues >= 0 ? g.bigValues : AutoBigValues(g, nonzeroEnd);
    if (r.bigValues > kMaxBigValues) {
        c.Fail("big_values " + std::to_string(r.bigValues) + " is above 288");
    }
    for (int i = 2 * r.bigValues; i < kLayer3Lines; ++i) {
        if (Magnitude(g.values[i]) > 1) {
            c.Fail("line " + std::to_string(i) + " beyond big_values is larger than 1");
        }
    }
    r.count1End = std::max(2 * r.bigValues, nonzeroEnd);
    r.count1End = 2 * r.bigValues + (r.count1End - 2 * r.bigValues + 3) / 4 * 4;
    if (r.count1End > kLayer3Lines) {
        c.Fail("the count1 quadruples run past line 576");
    }
    if (Switched(g)) {
        const int rate = c.rateIndex;
        // Region 0 holds 8 scale-factor bands (9 in short blocks), a short
        // band counting once per window: 3 short bands, 8 long bands, or in
        // a mixed block its long bands and then windows of short band 3.
        r.region1Begin = ShortLayout(g) ? 3 * t::kShortBands[rate][3] : t::kLongBands[rate][8];
        if (ShortLayout(g) && g.mixedBlock) {
            const int longBands = MixedLongBands(rate);
            r.region1Begin = t::kLongBands[rate][longBands] +
                             (8 - longBands) * (t::kShortBands[rate][4] - t::kShortBands[rate][3]);
        }
        r.region2Begin = kLayer3Lines;
    } else {
        ChooseRegionCounts(c, r);
    }
    return r;
}

bool TableHolds(int table, int largest) {
    const t::PairTable& p = t::kPairTables[table];
    if (largest == 0) {
        return true;
    }
    if (p.size == 0) {
        return false;
    }
    return p.linbits > 0 ? largest - 15 < (1 << p.linbits) : largest < p.size;
}

void PutPairValue(BitWriter* out, int& bits, int v, int linbits) {
    const int m = Magnitude(v);
    if (linbits > 0 && m >= 15) {
        bits += linbits;
        if (out != nullptr) {
            out->Put(static_cast<std::uint32_t>(m - 15), linbits);
        }
    }
    if (m != 0) {
        ++bits;
        if (out != nullptr) {
            out->Put(v < 0 ? 1U : 0U, 1);
        }
    }
}

// Codes lines [begin, end) in pairs with a table; returns the bits.
int CodePairs(const Layer3Granule& g, int table, int begin, int end, BitWriter* out) {
    const t::PairTable& p = t::kPairTables[table];
    int bits = 0;
    for (int i = begin; i < end; i += 2) {
        if (p.size == 0) {
            continue;
        }
        const int x = std::min(Magnitude(g.values[i]), 15);
        const int y = std::min(Magnitude(g.values[i + 1]), 15);
        const t::Code code = p.codes[x * p.size + y];
        bits += code.length;
        if (out != nullptr) {
            out->Put(code.bits, code.length);
        }
        PutPairValue(out, bits, g.values[i], p.linbits);
        PutPairValue(out, bits, g.values[i + 1], p.linbits);
    }
    return bits;
}

int Largest(const Layer3Granule& g, int begin, int end) {
    int largest = 0;
    for (int i = begin; i < end; ++i) {
        largest = std::max(largest, Magnitude(g.values[i]));
    }
    return largest;
}

int ChooseTable(const GranuleContext& c, int region, int begin, int end) {
    const int chosen = c.g().tableSelect[region];
    const int largest = Largest(c.g(), begin, end);
    if (chosen >= 0) {
        if (chosen >= t::kPairTableCount || !TableHolds(chosen, largest)) {
            c.Fail("table " + std::to_string(chosen) + " of region " + std::to_string(region) +
                   " cannot code magnitude " + std::to_string(largest));
        }
        return chosen;
    }
    int best = -1;
    int bestBits = std::numeric_limits<int>::max();
    for (int table = 0; table < t::kPairTableCount; ++table) {
        if (TableHolds(table, largest)) {
            const int bits = CodePairs(c.g(), table, begin, end, nullptr);
            if (bits < bestBits) {
                best = table;
                bestBits = bits;
            }
        }
    }
    return best;
}

int CodeQuads(const Layer3Granule& g, int table, int begin, int end, BitWriter* out) {
    int bits = 0;
    for (int i = begin; i < end; i += 4) {
        int index = 0;
        for (int k = 0; k < 4; ++k) {
            index = (index << 1) | (g.values[i + k] != 0 ? 1 : 0);
        }
        const t::Code code = t::kQuadTables[table][index];
        bits += code.length;
        if (out != nullptr) {
            out->Put(code.bits, code.length);
        }
        for (int k = 0; k < 4; ++k) {
            PutPairValue(out, bits, g.values[i + k], 0);
        }
    }
    return bits;
}

// A granule and channel resolved to the fields and bits it is coded with.
struct CodedGranule {
    ScalefacChoice scalefacs;
    Regions regions;
    std::array<int, 3> tables{};
    int count1Table = 0;
    BitWriter data; // scale factors and Huffman data
};

void CodeHuffman(const GranuleContext& c, CodedGranule& coded) {
    const Layer3Granule& g = c.g();
    const Regions& r = coded.regions;
    const int end = 2 * r.bigValues;
    const int bounds[4] = {0, std::min(r.region1Begin, end), std::min(r.region2Begin, end), end};
    for (int region = 0; region < 3; ++region) {
        coded.tables[region] = Switched(g) && region == 2
                                   ? 0
                                   : ChooseTable(c, region, bounds[region], bounds[region + 1]);
    }
    for (int region = 0; region < 3; ++region) {
        CodePairs(g, coded.tables[region], bounds[region], bounds[region + 1], &coded.data);
    }
    coded.count1Table = g.count1Table;
    if (coded.count1Table < 0) {
        coded.count1Table =
            CodeQuads(g, 1, end, r.count1End, nullptr) < CodeQuads(g, 0, end, r.count1End, nullptr)
                ? 1
                : 0;
    }
    CodeQuads(g, coded.count1Table & 1, end, r.count1End, &coded.data);
}

void CheckBlockFields(const GranuleContext& c) {
    const Layer3Granule& g = c.g();
    if (g.blockType < 0 || g.blockType > 3) {
        c.Fail("block type " + std::to_string(g.blockType) + " is not 0-3");
    }
    if (Switched(g) && g.blockType == 0) {
        c.Fail("window switching needs block type 1, 2 or 3");
    }
    if (g.mixedBlock && c.rateIndex == 8) {
        c.Fail("mixed blocks are not defined at 8 kHz");
    }
    if (g.globalGain < 0 || g.globalGain > 255) {
        c.Fail("global gain " + std::to_string(g.globalGain) + " is not 0-255");
    }
    for (int gain : g.subblockGain) {
        if (gain < 0 || gain > 7) {
            c.Fail("subblock gain " + std::to_string(gain) + " is not 0-7");
        }
    }
}

CodedGranule CodeGranule(const GranuleContext& c) {
    CheckBlockFields(c);
    CodedGranule coded;
    coded.scalefacs = ChooseScalefacs(c);
    for (const CodedScalefac& s : coded.scalefacs.coded) {
        coded.data.Put(static_cast<std::uint32_t>(s.value), s.length);
    }
    coded.regions = SplitSpectrum(c);
    CodeHuffman(c, coded);
    if (coded.data.size() > kMaxPart23) {
        c.Fail("main data of " + std::to_string(coded.data.size()) +
               " bits exceed part2_3_length's 4095");
    }
    return coded;
}

// Frame layout.

int SideInfoBytes(int rateIndex, int channels) {
    if (IsLsf(rateIndex)) {
        return channels == 1 ? 9 : 17;
    }
    return channels == 1 ? 17 : 32;
}

void CheckHeader(const Layer3Header& h, int rateIndex) {
    if (h.emphasis < 0 || h.emphasis > 3) {
        Fail("emphasis " + std::to_string(h.emphasis) + " is not 0-3");
    }
    if (h.modeExtension < 0 || h.modeExtension > 3 ||
        (h.modeExtension != 0 && h.mode != ChannelMode::kJointStereo)) {
        Fail("mode extension " + std::to_string(h.modeExtension) + " needs joint stereo, 0-3");
    }
    if (h.bitRateKbps == 0) {
        const int least = 4 + (h.crc ? 2 : 0) + SideInfoBytes(rateIndex, Channels(h));
        if (h.freeFormatBytes < least) {
            Fail("free-format frame of " + std::to_string(h.freeFormatBytes) +
                 " bytes is shorter than its header and side information");
        }
    }
}

int BitRateIndex(const Layer3Header& h, int rateIndex) {
    if (h.bitRateKbps == 0) {
        return 0;
    }
    for (int i = 1; i < 15; ++i) {
        if (t::kBitRates[IsLsf(rateIndex) ? 1 : 0][i] == h.bitRateKbps) {
            return i;
        }
    }
    Fail("bit rate " + std::to_string(h.bitRateKbps) + " kbit/s is not a Layer III rate of " +
         std::to_string(h.sampleRate) + " Hz");
}

int ModeBits(ChannelMode mode) {
    switch (mode) {
    case ChannelMode::kStereo:
        return 0;
    case ChannelMode::kJointStereo:
        return 1;
    case ChannelMode::kDualChannel:
        return 2;
    case ChannelMode::kMono:
        return 3;
    }
    return 3;
}

void PutHeader(BitWriter& w, const Layer3Header& h, int rateIndex) {
    static constexpr std::uint32_t kVersionBits[3] = {3, 2, 0}; // MPEG-1, 2, 2.5
    w.Put(0x7FF, 11);
    w.Put(kVersionBits[rateIndex / 3], 2);
    w.Put(1, 2); // Layer III
    w.Put(h.crc ? 0 : 1, 1);
    w.Put(static_cast<std::uint32_t>(BitRateIndex(h, rateIndex)), 4);
    w.Put(static_cast<std::uint32_t>(rateIndex % 3), 2);
    w.Put(h.padding ? 1 : 0, 1);
    w.Put(h.privateBit ? 1 : 0, 1);
    w.Put(static_cast<std::uint32_t>(ModeBits(h.mode)), 2);
    w.Put(static_cast<std::uint32_t>(h.modeExtension), 2);
    w.Put(h.copyright ? 1 : 0, 1);
    w.Put(h.original ? 1 : 0, 1);
    w.Put(static_cast<std::uint32_t>(h.emphasis), 2);
}

void PutGranuleSideInfo(BitWriter& w, const GranuleContext& c, const CodedGranule& coded) {
    const Layer3Granule& g = c.g();
    w.Put(static_cast<std::uint32_t>(coded.data.size()), 12);
    w.Put(static_cast<std::uint32_t>(coded.regions.bigValues), 9);
    w.Put(static_cast<std::uint32_t>(g.globalGain), 8);
    w.Put(static_cast<std::uint32_t>(coded.scalefacs.compress), c.lsf() ? 9 : 4);
    w.Put(Switched(g) ? 1 : 0, 1);
    if (Switched(g)) {
        w.Put(static_cast<std::uint32_t>(g.blockType), 2);
        w.Put(g.mixedBlock ? 1 : 0, 1);
        w.Put(static_cast<std::uint32_t>(coded.tables[0]), 5);
        w.Put(static_cast<std::uint32_t>(coded.tables[1]), 5);
        for (int gain : g.subblockGain) {
            w.Put(static_cast<std::uint32_t>(gain), 3);
        }
    } else {
        for (int table : coded.tables) {
            w.Put(static_cast<std::uint32_t>(table), 5);
        }
        w.Put(static_cast<std::uint32_t>(coded.regions.region0Count), 4);
        w.Put(static_cast<std::uint32_t>(coded.regions.region1Count), 3);
    }
    if (!c.lsf()) {
        w.Put(g.preflag ? 1 : 0, 1);
    }
    w.Put(g.scalefacScale ? 1 : 0, 1);
    w.Put(static_cast<std::uint32_t>(coded.count1Table), 1);
}

// A frame coded up to its placement in the stream.
struct CodedFrame {
    const Layer3Frame& frame;
    int rateIndex = 0;
    std::vector<CodedGranule> granules;
    int frameBytes = 0;
    int headBytes = 0; // header, CRC and side information
    std::vector<std::uint8_t> mainData;
    int maxBackstep = 0;
};

std::vector<CodedGranule> CodeGranules(const Layer3Frame& frame, int rateIndex) {
    std::vector<CodedGranule> coded;
    for (int gr = 0; gr < Granules(rateIndex); ++gr) {
        for (int ch = 0; ch < Channels(frame.header); ++ch) {
            coded.push_back(CodeGranule({frame, rateIndex, gr, ch}));
        }
    }
    return coded;
}

BitWriter SideInfo(const Layer3Frame& frame, int rateIndex, int mainDataBegin,
                   const std::vector<CodedGranule>& coded) {
    const int channels = Channels(frame.header);
    const bool lsf = IsLsf(rateIndex);
    BitWriter w;
    w.Put(static_cast<std::uint32_t>(mainDataBegin), lsf ? 8 : 9);
    w.Put(static_cast<std::uint32_t>(frame.privateBits), lsf ? channels : (channels == 1 ? 5 : 3));
    if (!lsf) {
        for (int ch = 0; ch < channels; ++ch) {
            w.Put(static_cast<std::uint32_t>(frame.scfsi[ch]), 4);
        }
    }
    for (int gr = 0; gr < Granules(rateIndex); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            PutGranuleSideInfo(w, {frame, rateIndex, gr, ch},
                               coded[static_cast<std::size_t>(gr * channels + ch)]);
        }
    }
    return w;
}

CodedFrame CodeFrame(const Layer3Frame& frame) {
    const Layer3Header& h = frame.header;
    CodedFrame coded{frame, RateIndex(h.sampleRate), {}, 0, 0, {}, 0};
    CheckHeader(h, coded.rateIndex);
    coded.granules = CodeGranules(frame, coded.rateIndex);
    coded.frameBytes = Layer3FrameBytes(h);
    coded.headBytes = 4 + (h.crc ? 2 : 0) + SideInfoBytes(coded.rateIndex, Channels(h));
    BitWriter data;
    for (const CodedGranule& g : coded.granules) {
        data.Append(g.data);
    }
    coded.mainData = data.bytes();
    coded.mainData.resize(coded.mainData.size() + static_cast<std::size_t>(frame.ancillaryBytes));
    coded.maxBackstep = IsLsf(coded.rateIndex) ? 255 : 511;
    return coded;
}

// The header, CRC word and side information of a coded frame.
std::vector<std::uint8_t> Head(const CodedFrame& coded, int mainDataBegin) {
    const Layer3Header& h = coded.frame.header;
    BitWriter w;
    PutHeader(w, h, coded.rateIndex);
    if (h.crc) {
        w.Put(0, 16);
    }
    w.Append(SideInfo(coded.frame, coded.rateIndex, mainDataBegin, coded.granules));
    std::vector<std::uint8_t> head = w.bytes();
    if (h.crc) {
        // The check word covers header bytes 2 and 3 and the side information.
        std::vector<std::uint8_t> covered(head.begin() + 2, head.begin() + 4);
        covered.insert(covered.end(), head.begin() + 6, head.end());
        const std::uint16_t crc = Crc16(covered, 8 * static_cast<int>(covered.size()));
        head[4] = static_cast<std::uint8_t>(crc >> 8);
        head[5] = static_cast<std::uint8_t>(crc & 0xFF);
    }
    return head;
}

} // namespace

int Layer3FrameBytes(const Layer3Header& header) {
    const int rateIndex = RateIndex(header.sampleRate);
    const int padding = header.padding ? 1 : 0;
    if (header.bitRateKbps == 0) {
        return header.freeFormatBytes + padding;
    }
    const int bitRateIndex = BitRateIndex(header, rateIndex);
    const int bitRate = 1000 * t::kBitRates[IsLsf(rateIndex) ? 1 : 0][bitRateIndex];
    return (IsLsf(rateIndex) ? 72 : 144) * bitRate / header.sampleRate + padding;
}

int Layer3FrameSamples(const Layer3Header& header) {
    return IsLsf(RateIndex(header.sampleRate)) ? 576 : 1152;
}

int Layer3GranuleBits(const Layer3Frame& frame, int granule, int channel) {
    return CodeGranule({frame, RateIndex(frame.header.sampleRate), granule, channel}).data.size();
}

int LongBandStart(std::int32_t sampleRate, int band) {
    return t::kLongBands[RateIndex(sampleRate)][band];
}

int ShortBandStart(std::int32_t sampleRate, int band) {
    return t::kShortBands[RateIndex(sampleRate)][band];
}

int ShortLine(std::int32_t sampleRate, int band, int window, int k) {
    const int start = ShortBandStart(sampleRate, band);
    const int width = ShortBandStart(sampleRate, band + 1) - start;
    return 3 * start + window * width + k;
}

std::array<double, kLayer3Lines> Layer3LineSteps(const Layer3Frame& frame, int granule,
                                                 int channel) {
    const int rateIndex = RateIndex(frame.header.sampleRate);
    const GranuleContext c{frame, rateIndex, granule, channel};
    const Layer3Granule& g = c.g();
    const bool preflag = ChooseScalefacs(c).preflag;
    const double multiplier = g.scalefacScale ? 1.0 : 0.5;
    const std::int16_t* longBands = t::kLongBands[rateIndex];
    const std::int16_t* shortBands = t::kShortBands[rateIndex];
    std::array<double, kLayer3Lines> steps{};
    for (int band = 0; band < 22; ++band) {
        const int scalefac = band < 21 ? g.longScalefac[band] : 0;
        const double exponent =
            (g.globalGain - 210) / 4.0 - multiplier * (scalefac + (preflag ? t::kPretab[band] : 0));
        std::fill(steps.begin() + longBands[band], steps.begin() + longBands[band + 1],
                  std::pow(2.0, exponent));
    }
    if (!ShortLayout(g)) {
        return steps;
    }
    for (int band = g.mixedBlock ? 3 : 0; band < 13; ++band) {
        const int width = shortBands[band + 1] - shortBands[band];
        for (int w = 0; w < 3; ++w) {
            const int scalefac = band < 12 ? g.shortScalefac[band][w] : 0;
            const double exponent =
                (g.globalGain - 210) / 4.0 - 2.0 * g.subblockGain[w] - multiplier * scalefac;
            const int first = 3 * shortBands[band] + w * width;
            std::fill(steps.begin() + first, steps.begin() + first + width,
                      std::pow(2.0, exponent));
        }
    }
    return steps;
}

double Layer3Dequantised(const Layer3Frame& frame, int granule, int channel, int index) {
    const int v = frame.granules[granule][channel].values[index];
    const double magnitude = std::pow(static_cast<double>(Magnitude(v)), 4.0 / 3.0);
    return (v < 0 ? -magnitude : magnitude) * Layer3LineSteps(frame, granule, channel)[index];
}

int Layer3Writer::reservoirBytes() const {
    return static_cast<int>(virtualEnd_ - mainDataEnd_);
}

void Layer3Writer::Add(const Layer3Frame& frame) {
    const CodedFrame coded = CodeFrame(frame);
    std::int64_t backstep = std::min<std::int64_t>(reservoirBytes(), coded.maxBackstep);
    if (frame.mainDataBegin >= 0) {
        if (frame.mainDataBegin > backstep) {
            Fail("main_data_begin " + std::to_string(frame.mainDataBegin) +
                 " reaches into earlier main data (" + std::to_string(backstep) +
                 " bytes are free)");
        }
        backstep = frame.mainDataBegin;
    }
    const std::int64_t room = backstep + coded.frameBytes - coded.headBytes;
    if (static_cast<std::int64_t>(coded.mainData.size()) > room) {
        Fail("main data of " + std::to_string(coded.mainData.size()) + " bytes do not fit in " +
             std::to_string(room) + " bytes of frame and reservoir");
    }
    const std::vector<std::uint8_t> head = Head(coded, static_cast<int>(backstep));
    const std::int64_t position = static_cast<std::int64_t>(bytes_.size());
    offsets_.push_back(static_cast<std::int32_t>(position));
    bytes_.resize(bytes_.size() + static_cast<std::size_t>(coded.frameBytes), 0);
    std::copy(head.begin(), head.end(), bytes_.begin() + position);
    const std::int64_t start = virtualEnd_ - backstep;
    areas_.push_back({position + coded.headBytes, position + coded.frameBytes});
    virtualEnd_ += coded.frameBytes - coded.headBytes;
    for (std::size_t i = 0; i < coded.mainData.size(); ++i) {
        bytes_[static_cast<std::size_t>(Physical(start + static_cast<std::int64_t>(i)))] =
            coded.mainData[i];
    }
    mainDataEnd_ = start + static_cast<std::int64_t>(coded.mainData.size());
}

std::int64_t Layer3Writer::Physical(std::int64_t virtualPosition) const {
    std::int64_t base = virtualEnd_;
    for (auto area = areas_.rbegin(); area != areas_.rend(); ++area) {
        base -= (*area)[1] - (*area)[0];
        if (virtualPosition >= base) {
            return (*area)[0] + virtualPosition - base;
        }
    }
    return 0;
}

std::vector<std::uint8_t> WriteLayer3(const std::vector<Layer3Frame>& frames) {
    Layer3Writer writer;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        try {
            writer.Add(frames[i]);
        } catch (const std::invalid_argument& e) {
            Fail("frame " + std::to_string(i) + ": " + e.what());
        }
    }
    return writer.bytes();
}

} // namespace tesk::quor::streamgen
