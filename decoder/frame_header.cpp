#include "decoder/frame_header.h"

namespace tesk::quor {

namespace {

// Bit rates in kbit/s by index: MPEG-1 Layers I, II, III, then the lower
// sampling frequencies' Layer I and Layers II and III.
constexpr std::int32_t kBitRates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

// MPEG-1, MPEG-2 and MPEG-2.5 sample rates in Hz.
constexpr std::int32_t kSampleRates[3][3] = {
    {44100, 48000, 32000},
    {22050, 24000, 16000},
    {11025, 12000, 8000},
};

constexpr std::int32_t kLargestScannableFrame = 4096 - 4;

} // namespace

std::int32_t BitRateKbps(std::int32_t lsf, std::int32_t layer, std::int32_t index) {
    const std::int32_t row = lsf == 0 ? layer - 1 : (layer == 1 ? 3 : 4);
    return kBitRates[row][index];
}

std::int32_t SampleRateHz(std::int32_t lsf, std::int32_t mpeg25, std::int32_t index) {
    const std::int32_t version = mpeg25 != 0 ? 2 : lsf;
    return kSampleRates[version][index];
}

bool CFrameHeader::Parse(const std::uint8_t* data) {
    bytes = {data[0], data[1], data[2], data[3]};
    mpeg25 = (data[1] & 0xF0) == 0xE0 ? 1 : 0;
    protectionBit = data[1] & 1;
    layer = 4 - ((data[1] >> 1) & 3);
    lsf = (data[1] & 0x08) == 0 ? 1 : 0;
    if (lsf == 0 && mpeg25 != 0) {
        return false;
    }
    padding = (data[2] >> 1) & 1;
    sampleRateIndex = (data[2] >> 2) & 3;
    bitRateIndex = data[2] >> 4;
    mode = data[3] >> 6;
    modeExtension = (data[3] >> 4) & 3;
    twoChannels = mode < 3 ? 1 : 0;
    if (bitRateIndex == 15 || sampleRateIndex == 3 || layer == 4) {
        return false;
    }
    sampleRate = SampleRateHz(lsf, mpeg25, sampleRateIndex);
    bitRate = BitRateKbps(lsf, layer, bitRateIndex);
    if (layer == 1) {
        frameLength = (12000 * bitRate / sampleRate + padding) * 4;
        exactFrameLength = 12000.0 * bitRate * 4 / sampleRate;
    } else {
        const std::int32_t rate = layer == 3 && lsf != 0 ? sampleRate * 2 : sampleRate;
        frameLength = 144000 * bitRate / rate + padding;
        exactFrameLength = 144000.0 * bitRate / rate;
    }
    return frameLength >= 1;
}

std::int32_t CFrameHeader::GetSamplesPerFrame() const {
    if (layer == 1) {
        return 384;
    }
    return layer == 3 && lsf != 0 ? 576 : 1152;
}

bool CFrameHeader::SameStream(const CFrameHeader& other) const {
    return layer == other.layer && twoChannels == other.twoChannels && mpeg25 == other.mpeg25 &&
           lsf == other.lsf && sampleRate == other.sampleRate;
}

bool CFrameHeader::IsScannable() const {
    return frameLength >= 4 && frameLength <= kLargestScannableFrame && bitRate != 0;
}

} // namespace tesk::quor
