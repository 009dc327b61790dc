// Stream information: where the audio starts, the exact duration (every frame
// counted), bit rate, sample rate, channels, the Xing header and its seek
// table, and the mapping of a time to a byte position.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "decoder/core/frame_decoder.h"
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

// Frames of concealment that a gap of `gap` bytes in front of a frame
// stands for. At a constant bit rate (`averageFrame` 0), frames lost in place
// (zeroed, overwritten, a broken header) leave a gap of whole frames, each a
// padding slot at most off the exact length; any other gap is bytes put
// between frames, which stand for no time. Frame lengths that vary (an
// average frame length given) make the gap hold what the average implies.
std::int32_t FramesInGap(double gap, const CFrameHeader& header, double averageFrame);

// Follows the frames a scanner hands out, in order, and tells how many
// frames of concealment take the place of frames missing in front of each:
// those a gap before it stands for, and at least one for each frame the
// scanner dropped there (a cut one). The decode and the pass that counts the
// frames follow them alike, so that both give every frame the same start.
class CFrameGaps {
public:
    // The next frame follows none.
    void Restart(const CFrameScanner& scanner);
    // Frames missing in front of the frame the scanner holds.
    std::int32_t Follow(const CFrameScanner& scanner, double averageFrame);
    // Whether the frame followed last did not start where the one before
    // ended, and whether a frame has been followed since the restart.
    bool Broken() const { return broken_; }
    bool Following() const { return expectedPosition_ >= 0; }

private:
    std::int32_t expectedPosition_ = -1;
    std::int32_t droppedSeen_ = 0;
    bool broken_ = false;
};

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
    // The indexed frame nearest at or before a frame (counted from the first
    // frame, 0): its number and stream position. Needs a frame index.
    std::pair<std::int64_t, std::int32_t> IndexedFrame(std::int64_t frame) const;
    // Examines frame number `frame` (counted from the first frame, 0), which
    // the scanner holds, for a leading frame, once and in order: the pass
    // over the stream examines every frame, a decode of an input without the
    // pass the frames it reaches. True when the frame is found to lead; it
    // is counted in leadingFrames.
    bool FindsLeadingFrame(const CFrameScanner& scanner, std::int64_t frame);

    std::int32_t audioLength = -1;
    std::int32_t firstFramePosition = 0;
    std::int32_t durationMs = -1;
    std::int32_t bitRate = -1;
    std::int32_t channels = 0;
    std::int32_t sampleRate = 0;
    bool hasXing = false;
    XingHeader xing;
    std::array<float, kSeekTableSize> seekTable{};
    CFrameHeader firstFrame;
    // Frames at the start that give no audio: a first frame that carries a
    // Xing or Info tag, which the frame decoder passes over, and Layer III
    // frames whose main data begins before the stream does (in a stream cut
    // from a longer one). Delay and padding in samples from the tag's
    // encoder tag, -1 when there is none.
    std::int64_t leadingFrames = 0;
    std::int32_t encoderDelay = -1;
    std::int32_t encoderPadding = -1;
    // The encoder tag's ReplayGain peak and gains (see VbrTagInfo).
    double encoderPeak = 0.0;
    std::int32_t encoderTrackGain = VbrTagInfo::kNoGain;
    std::int32_t encoderAlbumGain = VbrTagInfo::kNoGain;
    // Frames counted by the pass over the stream (0 when it was not made),
    // and the stream position of every kIndexStride-th of them from the first
    // on, so that a time can be found by counting frames from a known one.
    static constexpr std::int32_t kIndexStride = 64;
    std::int64_t frameCount = 0;
    std::vector<std::int32_t> frameIndex;

    // A stream whose layer, version or sample rate changes part-way is made
    // of parts, each of frames of one length in samples at one rate. Samples
    // count from the start of the first frame (0), each part's at its own
    // rate; times run in ticks, of which every sample rate's sample period
    // holds a whole number. A stream whose frames were not counted has the
    // first frame's part alone.
    static constexpr std::int64_t kTicksPerSecond = 14112000;
    struct Part {
        std::int64_t frame = 0;  // its first frame
        std::int64_t sample = 0; // where its first frame starts
        std::int64_t tick = 0;   // the time of that sample
        CFrameHeader header;     // of its first frame
    };
    std::vector<Part> parts;
    const Part& PartOfFrame(std::int64_t frame) const { return PartAt(&Part::frame, frame); }
    const Part& PartOfSample(std::int64_t sample) const { return PartAt(&Part::sample, sample); }
    // The first frame of the part after the one that holds a frame; -1 when
    // that part is the last.
    std::int64_t NextPartFrame(std::int64_t frame) const;
    // Where a frame starts, the frame that holds a sample, the time of a
    // sample and the sample nearest to a time (the later one at a tie).
    std::int64_t FrameSample(std::int64_t frame) const;
    std::int64_t SampleFrame(std::int64_t sample) const;
    std::int64_t SampleTick(std::int64_t sample) const;
    std::int64_t TickSample(std::int64_t tick) const;
    // Each frame that does not follow the one before (bytes, or a frame the
    // scanner dropped, lie between them), in frame order, and where it
    // starts: after the frames of concealment that the decode puts in front
    // of it for frames missing there (see CFrameGaps).
    struct Gap {
        std::int64_t frame = 0;
        std::int64_t sample = 0;
    };
    std::vector<Gap> gaps;
    // The frame at or before `frame` from which the scanner, started there,
    // finds the frames that follow: kChainFrames at least in front of the
    // next gap.
    std::int64_t ChainStart(std::int64_t frame) const;
    // The average frame length of a stream whose lengths vary (from its Xing
    // header); 0 when they do not.
    double AverageFrameLength() const;

private:
    // The last part whose field is at or before the value; the first part
    // for values before it.
    const Part& PartAt(std::int64_t Part::*field, std::int64_t value) const;
    // The nearest frame start known in front of the gaps from `after` on in a
    // part: the gap before them when it lies in the part, else the part's start.
    using GapIterator = std::vector<Gap>::const_iterator;
    // The first gap whose field lies after the value.
    GapIterator GapAfter(std::int64_t Gap::*field, std::int64_t value) const;
    Gap StartInPart(const Part& part, GapIterator after) const;
    // A part begins at frame number `frame`, `sample` samples into the stream.
    void AddPart(std::int64_t frame, std::int64_t sample, const CFrameHeader& header);
    void BuildSeekTable();
    // Where the audio ends in front of trailing metadata; the input length
    // when it cannot be read from the end, -1 when it is unknown.
    static std::int32_t FindAudioEnd(IFileAccess& file);
    // Duration and bit rate from a pass over every frame; false when the
    // input cannot be brought back to the first frame.
    bool CountFrames(CFrameScanner& scanner, IFileAccess& file, const CFrameHeader& first);
    void SetBitRate(const CFrameHeader& header);
    bool ReadTagFrame(const CFrameScanner& scanner);
    void CountLeadingFrame(const CFrameScanner& scanner);
    void IndexFrame(std::int32_t position);
    std::int32_t XingPosition(double fraction) const;

    // While the audio has not started: the main data the frame decoder holds
    // for the next frame.
    bool audioStarted_ = false;
    std::int32_t heldMainData_ = 0;
    // Frames examined for leading frames so far.
    std::int64_t examinedFrames_ = 0;
    // Bytes of the frames counted, and whether their bit rates differ from
    // the first frame's.
    std::int64_t countedBytes_ = 0;
    bool variableBitRate_ = false;
};

} // namespace tesk::quor
