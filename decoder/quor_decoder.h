// The decoder object behind the Quor_ interface: it owns the input, the
// stream scanner and stream information, the output frames and the frame
// decoder instance, and delivers decoded PCM bytes on request.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decoder/core/frame_decoder.h"
#include "decoder/file_access.h"
#include "decoder/output_frames.h"
#include "decoder/stream_info.h"
#include "decoder/stream_scanner.h"
#include "decoder/stream_tags.h"
#include "quor/quor.h"

namespace tesk::quor {

class CQuorDecoder {
public:
    static constexpr std::int32_t kFrameCapacity = 4608;
    // Frames decoded in front of the frame that holds a seek target, so that
    // the synthesis and the Layer III overlap hold what a decode from the
    // start would hold there.
    static constexpr std::int64_t kSettlingFrames = 2;
    // Samples by which the decoder's output lags the encoder's input, on top
    // of the delay an encoder tag records.
    static constexpr std::int64_t kDecoderDelay = 529;

    using CloseAction = void (*)(void* value);

    CQuorDecoder(const QuorCallbacks& callbacks, void* user, std::int32_t version);
    ~CQuorDecoder();
    CQuorDecoder(const CQuorDecoder&) = delete;
    CQuorDecoder& operator=(const CQuorDecoder&) = delete;

    // Run at destruction, for example to close the file read.
    void SetCloseAction(CloseAction action, void* value);

    std::int32_t GetFileInfo(QuorFileInfo& info);
    std::int32_t GetStreamFormat(QuorStreamFormat& format);
    std::int32_t Decode(void* buffer, std::int32_t size, std::int32_t& delivered);
    std::int32_t SeekToTime(std::int32_t milliseconds);
    std::int32_t GetTime() const;
    // The rate of the samples delivered last; the stream's before any.
    std::int32_t GetDeliveredRate(std::int32_t& sampleRate);
    std::int64_t GetPosition() const { return position_; }
    std::int32_t SetOption(std::int32_t option, std::int32_t value);
    // The value of a tag key, null when the stream has none; the tags are
    // read on the first call. QUOR_ERROR_UNSUPPORTED when they cannot be.
    std::int32_t GetTag(const std::string& key, const std::string*& value);
    std::int32_t GetPicture(const std::vector<std::uint8_t>*& picture);

private:
    struct FrameDecoderDeleter {
        void operator()(FrameDecoder* decoder) const { frame_decoder_destroy(decoder); }
    };

    std::int32_t Prepare();
    std::int32_t Deliver(void* buffer, std::int32_t size, std::int32_t available);
    // Bytes of the held frame that hold the samples of bytes in the sample
    // format, and the reverse.
    std::int32_t HeldBytes(std::int32_t outputBytes) const;
    std::int32_t OutputBytes(std::int32_t heldBytes) const;
    // The frame the decoded samples are in: 16-bit for 16-bit output, else
    // float.
    AudioFrame& HeldFrame();
    std::int32_t DecodeNext(bool passOver);
    std::int32_t NoFrameResult() const;
    bool LoneFrameIsJunk();
    bool GaveNoAudio() const;
    void PassOverFrame();
    void ReadyFrameDecoder(std::int64_t start);
    bool DecodeHeldFrame(std::int64_t start);
    // One frame of concealment in place of a frame that did not decode or
    // is missing from the stream.
    void ConcealFrame(std::int64_t start);
    // Frames missing between the last frame and the frame in hand (see
    // CFrameGaps); a frame that does not follow the last one breaks the bit
    // reservoir's chain.
    std::int32_t MissingFrames();
    void FollowLeadingFrames();
    void FollowFormatChange();
    void AfterFrame(std::int64_t start);
    // Gapless trimming: whether it applies, the samples it removes at the
    // start, and where the kept audio ends (in samples from the start of the
    // audio, before trimming; no end when the frames were not counted).
    bool Trimming() const;
    std::int64_t TrimStart() const;
    std::int64_t AudioEnd() const;
    // The sample of the stream (before trimming and leading frames) that
    // the first kept sample is.
    std::int64_t Origin() const;
    // The position nearest to a time, and the exact time of a position
    // (both from the first kept sample), each part of a joined stream at its
    // own rate.
    std::int64_t SampleOfTime(std::int32_t milliseconds) const;
    double TimeOfPosition(std::int64_t position) const;
    // Where frame n (counted from the first frame, 0) starts, and the frame
    // that holds a sample.
    std::int64_t FrameStart(std::int64_t frame) const;
    std::int64_t FrameOf(std::int64_t sample) const;
    std::int32_t SeekByPosition(std::int32_t milliseconds);
    // The first frame to decode whole in front of the frame that holds a
    // seek target: kSettlingFrames before it, not before the start of its
    // part (where the frame decoder starts anew anyway), and far enough in
    // front of the next part for the scanner to find a chain of frames
    // there.
    std::int64_t SettledFrame(std::int64_t frame) const;
    // The frame to start decoding from so that frame settled, and every frame
    // after it, decodes as in a decode from the start: far enough back that
    // a Layer III frame finds all the data its reservoir may take from
    // earlier frames of its part, and a chain of frames in front of a gap
    // (the scanner takes up the stream only at a chain, and the frames of
    // concealment for the gap come out as in the decode from the start).
    // False when the input cannot be read there.
    bool FindPreRollStart(std::int64_t settled, std::int64_t& start, std::int32_t& position);
    // Stream positions and Layer III main data bytes of count frames from a
    // known frame's position on.
    struct FrameSpan {
        std::int32_t position;
        std::int32_t mainDataBytes;
    };
    bool WalkFrames(std::int32_t position, std::int64_t count, std::vector<FrameSpan>& frames);
    void Restart(std::int64_t frame);
    // Reads the tags once; adds the encoder tag's ReplayGain values where
    // the text tags have none.
    const StreamTags& Tags();

    PCMFrame pcmFrame_{kFrameCapacity};
    FloatFrame floatFrame_{kFrameCapacity};
    bool floatHeld_ = false;
    std::int32_t sampleFormat_ = QUOR_SAMPLES_INT16;
    AudioFrame format_;
    std::int32_t blockAlign_ = 1;
    std::int32_t version_;
    CQuorFileAccess input_;
    std::int32_t bytesAvailable_ = 0;
    std::int32_t bytesDelivered_ = 0;
    double currentTime_ = 0.0;
    // Sample positions per channel. Frames are counted from the first frame
    // of audio (before trimming): the next frame from the scanner starts at
    // nextFrameStart_, the current output frame at frameStart_. Delivered
    // positions count from the first kept sample: no sample before
    // deliverFrom_ is delivered, and position_ is the next one to be.
    std::int64_t nextFrameStart_ = 0;
    std::int64_t frameStart_ = 0;
    std::int64_t deliverFrom_ = 0;
    std::int64_t position_ = 0;
    // Where the part of the stream at the delivered rate began: its first
    // position and that position's time in milliseconds. Each part's
    // samples count at their own rate.
    std::int64_t partPosition_ = 0;
    double partTime_ = 0.0;
    // The header of the frame delivered from last; none before the first.
    std::optional<CFrameHeader> deliveredHeader_;
    // The header of the frame the scanner handed out last; none after a
    // restart.
    std::optional<CFrameHeader> lastHeader_;
    bool gapless_ = false;
    // No seek to a time after 0 was made, and whether a sample was delivered.
    bool fromStart_ = true;
    bool audioDelivered_ = false;
    bool frameDecoded_ = false; // a frame of the stream decoded (not concealed)
    bool firstFrame_ = true;
    bool prepared_ = false;
    bool framePending_ = false;
    std::unique_ptr<FrameDecoder, FrameDecoderDeleter> frameDecoder_;
    CFrameScanner scanner_;
    CStreamInfo streamInfo_;
    CloseAction closeAction_ = nullptr;
    void* closeValue_ = nullptr;
    // The result every call that prepares gives once preparing failed: the
    // input's read error, or QUOR_ERROR_DECODE for an input without a stream.
    std::int32_t preparationError_ = QUOR_OK;
    bool resetNeeded_ = false;
    QuorCallbacks callbacks_;
    void* user_;
    std::optional<StreamTags> tags_;
    // Gaps between the frames handed out since the start or a seek.
    CFrameGaps frameGaps_;
    // Frames of concealment still due in front of the held frame.
    std::int32_t missingFrames_ = 0;
    // The number of the frame the scanner holds, counted from the first
    // frame (0).
    std::int64_t heldFrame_ = 0;
};

} // namespace tesk::quor
