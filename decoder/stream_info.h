// Stream information: where the audio starts, the exact duration (every frame
// counted), bit rate, sample rate, channels, the Xing header and its seek
// table, and the mapping of a time to a byte position.
#pragma once

#include <array>
#include <cstdint>

#include "decoder/file_access.h"
#include "decoder/stream_scanner.h"

namespace tesk::quor {

struct XingHeader {
    static constexpr std::int32_t kFrameCountFlag = 1;
    static constexpr std::int32_t kByteCountFlag = 2;
    static constexpr std::int32_t kTocFlag = 4;
    static constexpr std::int32_t kScaleFlag = 8;

    // Reads the header inside a frame; false when the frame holds none. Fields
    // that would lie past the frame's end count as absent.
    bool Parse(const CFrameHeader& header, const std::uint8_t* frame, std::int32_t length);

    std::int32_t version = 0;
    std::int32_t flags = 0;
    std::int32_t frameCount = 0;
    std::int32_t byteCount = 0;
    std::int32_t vbrScale = -1;
    std::array<std::uint8_t, 100> toc{};
};

// Offset of the Xing header from the frame start.
std::int32_t XingOffset(const CFrameHeader& header);

class CStreamInfo {
public:
    static constexpr std::int32_t kSeekTableSize = 101;
    static constexpr std::int32_t kSmallestXingFrame = 152;

    // Finds the first frame and gathers the stream information; leaves the
    // scanner holding the first frame. False when no first frame was found.
    // The audio length stops where trailing metadata begins.
    bool Scan(CFrameScanner& scanner, IFileAccess& file);
    // The byte position of a time in milliseconds (not negative), or -1.
    std::int32_t PositionForTime(std::int32_t milliseconds) const;

    std::int32_t audioLength = -1;
    std::int32_t firstFramePosition = 0;
    std::int32_t durationMs = -1;
    std::int32_t bitRate = -1;
    std::int32_t channels = 0;
    std::int32_t sampleRate = 0;
    bool hasXing = false;
    XingHeader xing;
    std::array<float, kSeekTableSize> seekTable{};

private:
    void BuildSeekTable();
    // Where the audio ends in front of trailing metadata; the input length
    // when it cannot be read from the end, -1 when it is unknown.
    static std::int32_t FindAudioEnd(IFileAccess& file);
    // Duration and bit rate from a pass over every frame; false when the
    // input cannot be brought back to the first frame.
    bool CountFrames(CFrameScanner& scanner, IFileAccess& file, const CFrameHeader& first);
    void SetBitRate(const CFrameHeader& header);
    std::int32_t XingPosition(double fraction) const;
};

} // namespace tesk::quor
