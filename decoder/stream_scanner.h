// Stream scanning: the ID3v2 probe and CFrameScanner, which finds the first
// frame as the start of a chain of frames, then hands out one whole frame at
// a time.
#pragma once

#include <cstdint>
#include <memory>

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
    // Frames back to back, with no bytes between them, that make a chain.
    static constexpr std::int32_t kChainFrames = 4;
    // How far into an input that cannot seek the first frame is searched;
    // one that can seek is searched to its end.
    static constexpr std::int32_t kStreamSearchLimit = 16 << 20;

    // A frame is complete once the four bytes after it are read and hold the
    // next header of the stream (or the input ends there). A frame that no
    // header follows is held back while the bytes after its first byte are
    // searched again: a chain found inside it shows it cut off or a pseudo
    // frame, and it is dropped; a chain found at or after its end shows it
    // whole, and it is handed out first.
    enum State : std::int32_t {
        kSearch = 0,
        kHeaderBytes = 2,
        kFrameBody = 4,
        kFrameComplete = 5,
    };
    static constexpr std::int32_t kHeaderSize = 4;

    CFrameScanner();

    // True when a whole frame lies in the frame buffer.
    bool NextFrame();
    // Reads more input; false when no byte could be read.
    bool Fill(IFileAccess& file);
    // The next frame, reading as much input as needed. The stream starts,
    // and after a loss of sync goes on, at a chain of kChainFrames frames
    // (the longest of chains that overlap), or at a shorter chain that runs
    // to the end of the input (trailing tags, or a last frame cut short, may
    // end it).
    bool GetFrame(IFileAccess& file);
    // Forgets buffered input after the input was moved; the next frame is
    // found by a chain search.
    void Resync();
    void Reset();
    // A chain of another layer, version or sample rate after the stream goes
    // on as the stream, instead of ending it (StreamChanged).
    void AllowStreamChange() { allowChange_ = true; }
    // Frames dropped so far because a chain began inside them (cut off, or
    // pseudo frames): each stands for a frame of damaged audio.
    std::int32_t DroppedFrames() const { return droppedFrames_; }
    // Input from `end` on is not read (trailing metadata); -1 for no limit.
    void SetInputEnd(std::int32_t end) { inputEnd_ = end; }

    State GetState() const { return state_; }
    bool GaveUp() const { return giveUp_; }
    // A chain of another layer, version or sample rate followed the stream.
    bool StreamChanged() const { return streamChanged_; }
    // The first frame was found.
    bool FoundStream() const { return reference_.layer != -1; }
    // The input has no more bytes for the scanner.
    bool AtInputEnd(const IFileAccess& file) const {
        return file.IsEOF() || (inputEnd_ >= 0 && file.GetPosition() >= inputEnd_);
    }
    // The input ended in front of the end it had when the stream was
    // scanned: the file shrank, or the input broke off.
    bool EndedEarly(const IFileAccess& file) const {
        return file.IsEOF() && inputEnd_ >= 0 && file.GetPosition() < inputEnd_;
    }
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

        std::int32_t Unread() const { return fill - read; }
        void Empty() { fill = read = 0; }
    };

    enum class Verdict { kReject, kWait, kAccept };

    struct Chain {
        std::int32_t frames = 0;      // headers that agree, back to back
        std::int32_t wholeFrames = 0; // of them, frames wholly in the buffer
        bool broken = false;          // a non-matching header ends it
        bool atEnd = false;           // it ends where the buffered input ends
    };

    void RunMachine();
    bool SearchChain();
    // Moves the search to the next byte that can begin a header; false when
    // the buffer holds no further header.
    bool SkipToSyncByte();
    bool ParseAt(std::int32_t position, std::int32_t freeLength, CFrameHeader& header) const;
    Chain WalkChain(const CFrameHeader& first, std::int32_t freeLength) const;
    bool EndsInTags(std::int32_t position) const;
    Verdict Judge(const CFrameHeader& first, std::int32_t freeLength) const;
    Verdict Examine(std::int32_t position);
    Verdict ExamineFreeFormat(const CFrameHeader& first);
    bool LongerChainOverlaps(const CFrameHeader& first, std::int32_t freeLength,
                             std::int32_t frames) const;
    void Accept(const CFrameHeader& first);
    void LoseSync();
    void CompactSearchBuffer();
    // The search buffer is full: its examined bytes make room, or, with none
    // examined yet, a chain waiting for more is refused.
    bool SearchCanSlide() const { return search_.read > 0; }
    // Bytes of `wanted` that lie in front of the input end.
    std::int32_t Readable(const IFileAccess& file, std::int32_t wanted) const;
    void Step();
    void TakeBytes(std::int32_t until);
    void CheckHeader();
    void ClearFrame();
    // The header at `bytes` continues the stream: same layer, version and
    // sample rate, a length the frame buffer holds.
    bool ContinuesStream(const std::uint8_t* bytes, CFrameHeader& header) const;
    // The frame in the buffer together with the four bytes after it: complete
    // when they start the next frame, else held back for a new search.
    void CheckFollower();
    void HoldBack();
    // After a search found a chain at `position`: hands out the held frame
    // when it ended in front of the chain; forgets it either way.
    bool ReleaseHeld(std::int32_t position);
    void CompleteAtInputEnd();

    std::unique_ptr<std::uint8_t[]> frame_;
    std::int32_t frameFill_ = 0;
    Buffer* current_ = nullptr;
    Buffer search_;
    Buffer streaming_;
    State state_ = kSearch;
    CFrameHeader reference_;
    CFrameHeader header_;
    std::int32_t frameLength_ = 0;
    std::int32_t searchOrigin_ = 0;
    std::int32_t searchStart_ = 0; // read position where the search began
    std::int32_t firstFramePosition_ = 0;
    // Stream position after the last byte read into a buffer: the unread
    // bytes of the current buffer lie in front of it.
    std::int32_t inputPosition_ = 0;
    std::int32_t framePosition_ = 0;
    // Free-format streams: frame length without padding, 0 until known.
    std::int32_t freeFormatLength_ = 0;
    std::int32_t inputEnd_ = -1;
    bool inputEnded_ = false;
    bool giveUp_ = false;
    bool streamChanged_ = false;
    bool allowChange_ = false;
    std::int32_t droppedFrames_ = 0;
    // The next frame's header bytes already lie behind the frame in hand.
    bool followerRead_ = false;
    struct HeldFrame {
        std::unique_ptr<std::uint8_t[]> data;
        CFrameHeader header;
        std::int32_t position = 0;
        bool held = false;
    };
    HeldFrame held_;
};

} // namespace tesk::quor
