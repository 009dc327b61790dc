// Stream scanning: the ID3v2 probe and CFrameScanner, which finds the first
// frame by confirming it against the frames that follow, then hands out one
// whole frame at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "decoder/file_access.h"
#include "decoder/frame_header.h"

namespace tesk::quor {

// Passes over an ID3v2 tag at the current input position; any other bytes
// are given back to be read again.
void SkipID3v2Tag(CQuorFileAccess& file);

class CFrameScanner {
public:
    static constexpr std::int32_t kFrameBufferSize = 4096;
    static constexpr std::int32_t kSearchBufferSize = 65536;
    static constexpr std::int32_t kStreamingBufferSize = 4096;

    enum State : std::int32_t {
        kFirstSync = 0,
        kSync = 1,
        kHeaderBytes = 2,
        kHeaderCheck = 3,
        kFrameBody = 4,
        kFrameComplete = 5,
    };

    CFrameScanner();

    // True when a whole frame lies in the frame buffer.
    bool NextFrame();
    // Reads more input; false when no byte could be read.
    bool Fill(IFileAccess& file);
    // The next frame, reading as much input as needed. A stream too short for
    // the first frame to be confirmed by the frames after it is still taken
    // when a chain of back-to-back frames runs from it to the end of the
    // input (an ID3v1 tag, or a last frame cut short, may end it).
    bool GetFrame(IFileAccess& file);
    // Forgets buffered input after the input was moved.
    void Resync();
    void Reset();

    State GetState() const { return state_; }
    bool GaveUp() const { return giveUp_; }
    const std::uint8_t* FrameData() const { return frame_.get(); }
    std::int32_t FrameLength() const { return frameLength_; }
    const CFrameHeader& CurrentHeader() const { return header_; }
    std::int32_t FirstFramePosition() const { return firstFramePosition_; }
    // Stream position of the frame in the frame buffer.
    std::int32_t FramePosition() const { return framePosition_; }

private:
    struct Buffer {
        std::unique_ptr<std::uint8_t[]> data;
        std::int32_t capacity = 0;
        std::int32_t fill = 0;
        std::int32_t read = 0;
        std::int32_t origin = 0; // stream position of the first byte

        std::int32_t Unread() const { return fill - read; }
        void Empty() { fill = read = 0; }
    };

    struct Candidate {
        CFrameHeader header;
        std::int32_t chainEnd = 0;
        std::int32_t chainLength = 0;
    };

    void RunMachine();
    bool SearchFirstFrame();
    void AddCandidate(const CFrameHeader& header);
    bool Confirm(std::int32_t readPosition);
    bool ConfirmAtEnd();
    bool ChainReachesEnd(const CFrameHeader& first) const;
    void Accept(const CFrameHeader& first);
    void Step();
    void TakeBytes(std::int32_t until);
    void CheckHeader();
    void ClearFrame();

    std::unique_ptr<std::uint8_t[]> frame_;
    std::int32_t frameFill_ = 0;
    Buffer* current_ = nullptr;
    Buffer search_;
    Buffer streaming_;
    State state_ = kFirstSync;
    std::int32_t confirmations_ = 3;
    CFrameHeader reference_;
    CFrameHeader header_;
    std::int32_t frameLength_ = 0;
    std::int32_t firstFramePosition_ = 0;
    std::int32_t framePosition_ = 0;
    std::vector<Candidate> candidates_;
    bool giveUp_ = false;
};

} // namespace tesk::quor
