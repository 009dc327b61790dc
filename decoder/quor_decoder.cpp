#include "decoder/quor_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

namespace tesk::quor {

namespace {

constexpr std::int64_t kLargestInput = std::numeric_limits<std::int32_t>::max();

FrameDecoder* CreateFrameDecoder() {
    FrameDecoder* decoder = frame_decoder_create();
    if (decoder == nullptr) {
        throw std::bad_alloc();
    }
    return decoder;
}

// Brings a frame's samples to the stream's channel count: a one-channel
// frame of a two-channel stream goes to both channels, a two-channel frame
// of a one-channel stream becomes the average of its channels. Returns the
// new sample count; samples holds room for the doubled count.
std::int32_t MatchChannels(std::int16_t* samples, std::int32_t count, bool frameTwoChannels,
                           bool streamTwoChannels) {
    if (frameTwoChannels == streamTwoChannels) {
        return count;
    }
    if (streamTwoChannels) {
        for (std::int32_t i = count - 1; i >= 0; --i) {
            samples[2 * i] = samples[i];
            samples[2 * i + 1] = samples[i];
        }
        return count * 2;
    }
    for (std::int32_t i = 0; i < count / 2; ++i) {
        samples[i] = static_cast<std::int16_t>((samples[2 * i] + samples[2 * i + 1]) / 2);
    }
    return count / 2;
}

void CloseFile(void* file) {
    std::fclose(static_cast<std::FILE*>(file));
}

} // namespace

CQuorDecoder::CQuorDecoder(const QuorCallbacks& callbacks, void* user)
    : input_(callbacks, user), frameDecoder_(CreateFrameDecoder()) {}

CQuorDecoder::~CQuorDecoder() {
    if (closeAction_ != nullptr) {
        closeAction_(closeValue_);
    }
}

void CQuorDecoder::SetCloseAction(CloseAction action, void* value) {
    closeAction_ = action;
    closeValue_ = value;
}

std::int32_t CQuorDecoder::Prepare() {
    if (prepared_) {
        return QUOR_OK;
    }
    if (preparationFailed_) {
        return QUOR_ERROR_DECODE;
    }
    blockAlign_ = 1;
    samples_ = pcmFrame_.Samples();
    SkipID3v2Tag(input_);
    if (!streamInfo_.Scan(scanner_, input_)) {
        preparationFailed_ = true;
        return QUOR_ERROR_DECODE;
    }
    prepared_ = true;
    framePending_ = scanner_.GetState() == CFrameScanner::kFrameComplete;
    return QUOR_OK;
}

std::int32_t CQuorDecoder::GetFileInfo(QuorFileInfo& info) {
    const std::int32_t result = Prepare();
    if (result != QUOR_OK) {
        return result;
    }
    info.durationMs = streamInfo_.durationMs;
    info.isVBR = streamInfo_.hasXing ? 1 : 0;
    info.bitRate = streamInfo_.bitRate;
    info.sampleRate = streamInfo_.sampleRate;
    info.channels = streamInfo_.channels;
    return QUOR_OK;
}

std::int32_t CQuorDecoder::Deliver(void* buffer, std::int32_t size, std::int32_t available) {
    std::int32_t n = buffer == nullptr || size == -1 || size > available ? available : size;
    n -= n % blockAlign_;
    if (buffer != nullptr && n > 0) {
        std::memcpy(buffer, reinterpret_cast<const std::uint8_t*>(samples_) + bytesDelivered_,
                    static_cast<std::size_t>(n));
    }
    bytesDelivered_ += n;
    if (format_.sampleRate > 0) {
        currentTime_ = startTime_ + (bytesDelivered_ / blockAlign_) * 1000.0 / format_.sampleRate;
    }
    return n;
}

std::int32_t CQuorDecoder::Decode(void* buffer, std::int32_t size, std::int32_t& delivered) {
    delivered = 0;
    const std::int32_t prepared = Prepare();
    if (prepared != QUOR_OK) {
        return prepared;
    }
    for (;;) {
        const std::int32_t available = bytesAvailable_ - bytesDelivered_;
        if (available > 0) {
            delivered = Deliver(buffer, size, available);
            return QUOR_OK;
        }
        const std::int32_t result = DecodeNext(buffer == nullptr);
        if (result != QUOR_OK) {
            return result;
        }
    }
}

std::int32_t CQuorDecoder::NoFrameResult() const {
    if (scanner_.GaveUp() || scanner_.StreamChanged()) {
        return QUOR_ERROR_DECODE;
    }
    if (scanner_.AtInputEnd(input_)) {
        return scanner_.FoundStream() ? QUOR_END : QUOR_ERROR_DECODE;
    }
    if (input_.GetLastError() != 0) {
        return input_.GetLastError();
    }
    return QUOR_ERROR_INTERNAL;
}

void CQuorDecoder::PassOverFrame() {
    const CFrameHeader& header = scanner_.CurrentHeader();
    resetNeeded_ = true;
    pcmFrame_.SetSampleCount(header.GetSamplesPerFrame() * streamInfo_.channels);
    pcmFrame_.SetFormat(streamInfo_.channels == 2 ? 1 : 0, header.sampleRate);
}

bool CQuorDecoder::DecodeHeldFrame() {
    if (resetNeeded_) {
        frame_decoder_reset(*frameDecoder_);
        resetNeeded_ = false;
    }
    DecodedFrame decoded;
    if (!DecodeFrame(*frameDecoder_, pcmFrame_.Samples(), pcmFrame_.GetCapacity(),
                     scanner_.FrameData(), scanner_.FrameLength(), decoded)) {
        return false;
    }
    const bool twoChannels = streamInfo_.channels == 2;
    const std::int32_t count = std::clamp(decoded.sample_count, 0, pcmFrame_.GetCapacity());
    pcmFrame_.SetSampleCount(
        MatchChannels(pcmFrame_.Samples(), count, decoded.two_channel != 0, twoChannels));
    pcmFrame_.SetFormat(twoChannels ? 1 : 0, decoded.sample_rate);
    return true;
}

std::int32_t CQuorDecoder::DecodeNext(bool passOver) {
    if (!framePending_ && !scanner_.GetFrame(input_)) {
        return NoFrameResult();
    }
    framePending_ = false;
    if (passOver) {
        PassOverFrame();
    } else if (!DecodeHeldFrame()) {
        return QUOR_OK;
    }
    AfterFrame();
    return QUOR_OK;
}

void CQuorDecoder::AfterFrame() {
    if (firstFrame_) {
        pcmFrame_.CopyFormatTo(format_);
        blockAlign_ = BlockAlign(format_);
        firstFrame_ = false;
    }
    const std::int32_t count = pcmFrame_.GetSampleCount();
    const std::int32_t perChannel = pcmFrame_.twoChannels == 1 ? count / 2 : count;
    startTime_ = endTime_;
    if (pcmFrame_.sampleRate > 0) {
        endTime_ += perChannel * 1000.0 / pcmFrame_.sampleRate;
    }
    if (framesToDiscard_ > 0) {
        --framesToDiscard_;
        return;
    }
    if (!pcmFrame_.SameFormat(format_)) {
        pcmFrame_.CopyFormatTo(format_);
        blockAlign_ = BlockAlign(format_);
    }
    bytesAvailable_ = count * 2;
    samples_ = pcmFrame_.Samples();
    bytesDelivered_ = 0;
}

std::int32_t CQuorDecoder::SeekToTime(std::int32_t milliseconds) {
    if (milliseconds < 0) {
        return QUOR_ERROR_PARAM;
    }
    if (!input_.CanSeek()) {
        return QUOR_ERROR_UNSUPPORTED;
    }
    const std::int32_t prepared = Prepare();
    if (prepared != QUOR_OK) {
        return prepared;
    }
    const std::int32_t position = streamInfo_.PositionForTime(milliseconds);
    if (position == -1) {
        return QUOR_ERROR_UNSUPPORTED;
    }
    if (!input_.Seek(position)) {
        return QUOR_ERROR_SEEK;
    }
    scanner_.Resync();
    frame_decoder_reset(*frameDecoder_);
    framePending_ = false;
    resetNeeded_ = false;
    bytesAvailable_ = 0;
    bytesDelivered_ = 0;
    framesToDiscard_ = milliseconds != 0 ? kFramesDiscardedAfterSeek : 0;
    currentTime_ = milliseconds;
    startTime_ = milliseconds;
    endTime_ = milliseconds;
    return QUOR_OK;
}

std::int32_t CQuorDecoder::GetTime() const {
    return static_cast<std::int32_t>(
        std::clamp(std::trunc(currentTime_), 0.0, static_cast<double>(kLargestInput)));
}

namespace {

CQuorDecoder* FromHandle(QuorHandle handle) {
    return reinterpret_cast<CQuorDecoder*>(handle);
}

// Runs an operation, turning an escaping exception into a result code.
template <typename Operation> std::int32_t Guarded(Operation operation) {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return QUOR_ERROR_MEMORY;
    } catch (...) {
        return QUOR_ERROR_INTERNAL;
    }
}

// Opens the file named by path, refuses inputs too large for 32-bit
// positions and creates a decoder that closes the file when destroyed.
template <typename Path>
std::int32_t CreateOnFile(QuorHandle* out, const Path* path, std::int32_t version,
                          std::FILE* (*open)(const Path*)) {
    if (version > QUOR_VERSION) {
        return QUOR_ERROR_INCOMPATIBLEVERSION;
    }
    if (out == nullptr || path == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    std::FILE* file = open(path);
    if (file == nullptr) {
        return QUOR_ERROR_OPENFILE;
    }
    if (FileSize(file) > kLargestInput) {
        std::fclose(file);
        return QUOR_ERROR_UNSUPPORTED;
    }
    const std::int32_t result = Quor_Create(out, FileCallbacks(), file, version);
    if (result != QUOR_OK) {
        std::fclose(file);
        return result;
    }
    FromHandle(*out)->SetCloseAction(CloseFile, file);
    return QUOR_OK;
}

} // namespace

} // namespace tesk::quor

using tesk::quor::CQuorDecoder;
using tesk::quor::FromHandle;
using tesk::quor::Guarded;

extern "C" {

QUOR_API std::int32_t Quor_Create(QuorHandle* out, QuorCallbacks callbacks, void* user,
                                  std::int32_t version) {
    if (callbacks.read == nullptr) {
        callbacks = tesk::quor::StandardInputCallbacks();
        user = stdin;
    }
    if (version > QUOR_VERSION) {
        return QUOR_ERROR_INCOMPATIBLEVERSION;
    }
    if (out == nullptr || callbacks.getPosition == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return Guarded([&] {
        *out = reinterpret_cast<QuorHandle>(new CQuorDecoder(callbacks, user));
        return QUOR_OK;
    });
}

QUOR_API std::int32_t Quor_CreateUsingFileW(QuorHandle* out, const wchar_t* path,
                                            std::int32_t version) {
    return tesk::quor::CreateOnFile(out, path, version, tesk::quor::OpenWidePath);
}

QUOR_API std::int32_t Quor_CreateUsingFile(QuorHandle* out, const char* utf8Path,
                                           std::int32_t version) {
    return tesk::quor::CreateOnFile(out, utf8Path, version, tesk::quor::OpenUtf8Path);
}

QUOR_API void Quor_Destroy(QuorHandle handle) {
    delete FromHandle(handle);
}

QUOR_API std::int32_t Quor_GetFileInfo(QuorHandle handle, QuorFileInfo* info) {
    if (handle == nullptr || info == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return Guarded([&] { return FromHandle(handle)->GetFileInfo(*info); });
}

QUOR_API std::int32_t Quor_Decode(QuorHandle handle, void* buffer, std::int32_t size,
                                  std::int32_t* delivered) {
    if (handle == nullptr || delivered == nullptr || size < -1 ||
        (buffer == nullptr && size != 0)) {
        return QUOR_ERROR_PARAM;
    }
    *delivered = 0;
    return Guarded([&] { return FromHandle(handle)->Decode(buffer, size, *delivered); });
}

QUOR_API std::int32_t Quor_SeekToTime(QuorHandle handle, std::int32_t timeMs) {
    if (handle == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return Guarded([&] { return FromHandle(handle)->SeekToTime(timeMs); });
}

QUOR_API std::int32_t Quor_GetTime(QuorHandle handle, std::int32_t* timeMs) {
    if (handle == nullptr || timeMs == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    *timeMs = FromHandle(handle)->GetTime();
    return QUOR_OK;
}

} // extern "C"
