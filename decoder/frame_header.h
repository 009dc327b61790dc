// MPEG audio frame headers as the stream scanner reads them.
#pragma once

#include <array>
#include <cstdint>

namespace tesk::quor {

struct CFrameHeader {
    // Parses four header bytes; false for a header no frame can have.
    bool Parse(const std::uint8_t* bytes);
    // Samples per channel in a frame of this header.
    std::int32_t GetSamplesPerFrame() const;
    // Layer III: the bytes of the frame after its header, CRC and side
    // information, which the bit reservoir takes as main data.
    std::int32_t MainDataBytes() const;
    // Layer III: where the side information starts, from the frame start.
    std::int32_t SideInformationOffset() const { return protectionBit == 0 ? 6 : 4; }
    // Same layer, version and sample rate as the other header, and free
    // format in both or neither; the channel mode may differ from frame to
    // frame.
    bool SameStream(const CFrameHeader& other) const;
    // Usable by the scanner: frame length fits the frame buffer and the bit
    // rate is known (a free-format header needs its length set first).
    bool IsScannable() const;
    bool IsFreeFormat() const { return bitRateIndex == 0; }
    // Bytes of one padding slot: 4 in Layer I, else 1.
    std::int32_t SlotSize() const { return layer == 1 ? 4 : 1; }
    // Sizes a free-format frame from the stream's frame length without
    // padding, and takes the bit rate that length stands for (to the nearest
    // kbit/s).
    void SetFreeFormatLength(std::int32_t unpadded);

    std::int32_t protectionBit = 0;
    std::int32_t layer = 0;
    std::int32_t lsf = 0;
    std::int32_t padding = 0;
    std::int32_t sampleRateIndex = 0;
    std::int32_t sampleRate = 0;
    std::int32_t bitRateIndex = 0;
    std::int32_t modeExtension = 0;
    std::int32_t mode = 0;
    std::int32_t twoChannels = 0;
    std::int32_t frameLength = 0;
    std::int32_t mpeg25 = 0;
    std::array<std::uint8_t, 4> bytes{};
    std::int32_t bitRate = 0;
    double exactFrameLength = 0.0;
    std::int32_t offset = 0;

private:
    // The rate that turns 144000 x kbit/s into bytes: doubled for LSF Layer III.
    std::int32_t BytesPerKbpsRate() const;
};

// True when the two bytes start a frame header: 0xFF and the top three bits.
inline bool IsSyncPattern(std::uint8_t first, std::uint8_t second) {
    return first == 0xFF && (second & 0xE0) == 0xE0;
}

} // namespace tesk::quor
