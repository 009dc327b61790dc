// The decoder object behind the Quor_ interface: it owns the input, the
// stream scanner and stream information, the output frames and the frame
// decoder instance, and delivers decoded PCM bytes on request.
#pragma once

#include <cstdint>
#include <memory>

#include "decoder/core/frame_decoder.h"
#include "decoder/file_access.h"
#include "decoder/output_frames.h"
#include "decoder/stream_info.h"
#include "decoder/stream_scanner.h"
#include "quor/quor.h"

namespace tesk::quor {

class CQuorDecoder {
public:
    static constexpr std::int32_t kFrameCapacity = 4608;
    static constexpr std::int32_t kFramesDiscardedAfterSeek = 5;

    using CloseAction = void (*)(void* value);

    CQuorDecoder(const QuorCallbacks& callbacks, void* user);
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

private:
    struct FrameDecoderDeleter {
        void operator()(FrameDecoder* decoder) const { frame_decoder_destroy(decoder); }
    };

    std::int32_t Prepare();
    std::int32_t Deliver(void* buffer, std::int32_t size, std::int32_t available);
    std::int32_t DecodeNext(bool passOver);
    std::int32_t NoFrameResult() const;
    void PassOverFrame();
    bool DecodeHeldFrame();
    void AfterFrame();

    PCMFrame pcmFrame_{kFrameCapacity};
    AudioFrame format_;
    std::int32_t blockAlign_ = 1;
    CQuorFileAccess input_;
    std::int32_t bytesAvailable_ = 0;
    std::int32_t bytesDelivered_ = 0;
    const std::int16_t* samples_ = nullptr;
    double currentTime_ = 0.0;
    double startTime_ = 0.0;
    double endTime_ = 0.0;
    bool firstFrame_ = true;
    bool prepared_ = false;
    bool framePending_ = false;
    std::int32_t framesToDiscard_ = 0;
    std::unique_ptr<FrameDecoder, FrameDecoderDeleter> frameDecoder_;
    CFrameScanner scanner_;
    CStreamInfo streamInfo_;
    CloseAction closeAction_ = nullptr;
    void* closeValue_ = nullptr;
    bool preparationFailed_ = false;
    bool resetNeeded_ = false;
};

} // namespace tesk::quor
