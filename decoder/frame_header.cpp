#include "decoder/frame_header.h"

#include "decoder/core/frame_decoder.h"

namespace tesk::quor {

namespace {

constexpr std::int32_t kLargestScannableFrame = 4096 - 4;

} // namespace

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
    sampleRate = sample_rate_hz(mpeg25 != 0 ? 6 + sampleRateIndex : 3 * lsf + sampleRateIndex);
    bitRate = bitrate_kbps(lsf != 0, layer, bitRateIndex);
    if (IsFreeFormat()) {
        frameLength = 0;
        exactFrameLength = 0.0;
        return true;
    }
    if (layer == 1) {
        frameLength = (12000 * bitRate / sampleRate + padding) * 4;
        exactFrameLength = 12000.0 * bitRate * 4 / sampleRate;
    } else {
        frameLength = 144000 * bitRate / BytesPerKbpsRate() + padding;
        exactFrameLength = 144000.0 * bitRate / BytesPerKbpsRate();
    }
    return frameLength >= 1;
}

std::int32_t CFrameHeader::BytesPerKbpsRate() const {
    return layer == 3 && lsf != 0 ? sampleRate * 2 : sampleRate;
}

void CFrameHeader::SetFreeFormatLength(std::int32_t unpadded) {
    frameLength = unpadded + padding * SlotSize();
    exactFrameLength = unpadded;
    const std::int64_t rate = layer == 1 ? sampleRate : BytesPerKbpsRate();
    const std::int64_t bytesPerKbps = layer == 1 ? 48000 : 144000;
    bitRate = static_cast<std::int32_t>((unpadded * rate + bytesPerKbps / 2) / bytesPerKbps);
}

std::int32_t CFrameHeader::GetSamplesPerFrame() const {
    if (layer == 1) {
        return 384;
    }
    return layer == 3 && lsf != 0 ? 576 : 1152;
}

std::int32_t CFrameHeader::MainDataBytes() const {
    const std::int32_t sideInformation =
        lsf != 0 ? (twoChannels != 0 ? 17 : 9) : (twoChannels != 0 ? 32 : 17);
    return frameLength - SideInformationOffset() - sideInformation;
}

bool CFrameHeader::SameStream(const CFrameHeader& other) const {
    return layer == other.layer && mpeg25 == other.mpeg25 && lsf == other.lsf &&
           sampleRate == other.sampleRate && IsFreeFormat() == other.IsFreeFormat();
}

bool CFrameHeader::IsScannable() const {
    return frameLength >= 4 && frameLength <= kLargestScannableFrame && bitRate != 0;
}

} // namespace tesk::quor
