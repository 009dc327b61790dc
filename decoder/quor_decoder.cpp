#include "decoder/quor_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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
template <typename T>
std::int32_t MatchChannels(T* samples, std::int32_t count, bool frameTwoChannels,
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
        samples[i] = static_cast<T>((samples[2 * i] + samples[2 * i + 1]) / 2);
    }
    return count / 2;
}

void CloseFile(void* file) {
    std::fclose(static_cast<std::FILE*>(file));
}

// The most bytes a Layer III frame's data may begin before the frame: the
// largest main_data_begin, 9 bits wide for MPEG-1 and 8 for MPEG-2 and 2.5.
// Layers I and II keep nothing between frames.
std::int32_t ReservoirReach(const CFrameHeader& header) {
    if (header.layer != 3) {
        return 0;
    }
    return header.lsf != 0 ? 255 : 511;
}

} // namespace

CQuorDecoder::CQuorDecoder(const QuorCallbacks& callbacks, void* user, std::int32_t version)
    : version_(version), input_(callbacks, user), frameDecoder_(CreateFrameDecoder()),
      callbacks_(callbacks), user_(user) {
    if (version >= 5) {
        scanner_.AllowStreamChange();
    }
}

CQuorDecoder::~CQuorDecoder() {
    if (closeAction_ != nullptr) {
        closeAction_(closeValue_);
    }
}

void CQuorDecoder::SetCloseAction(CloseAction action, void* value) {
    closeAction_ = action;
    closeValue_ = value;
}

std::int32_t CQuorDecoder::SetOption(std::int32_t option, std::int32_t value) {
    if (option == QUOR_OPTION_SAMPLE_FORMAT && version_ >= 5 && BytesPerSample(value) != 0) {
        sampleFormat_ = value;
        return QUOR_OK;
    }
    if (option != QUOR_OPTION_GAPLESS) {
        return QUOR_ERROR_PARAM;
    }
    gapless_ = value != 0;
    return QUOR_OK;
}

std::int32_t CQuorDecoder::Prepare() {
    if (prepared_) {
        return QUOR_OK;
    }
    if (preparationError_ != QUOR_OK) {
        return preparationError_;
    }
    blockAlign_ = 1;
    SkipID3v2Tag(input_);
    if (!streamInfo_.Scan(scanner_, input_)) {
        preparationError_ = input_.GetLastError() != 0 ? input_.GetLastError() : QUOR_ERROR_DECODE;
        return preparationError_;
    }
    frameGaps_.Restart(scanner_);
    framePending_ = scanner_.GetState() == CFrameScanner::kFrameComplete;
    nextFrameStart_ = FrameStart(0);
    heldFrame_ = 0;
    lastHeader_ = scanner_.CurrentHeader();
    if (LoneFrameIsJunk()) {
        preparationError_ = QUOR_ERROR_DECODE;
        return preparationError_;
    }
    prepared_ = true;
    return QUOR_OK;
}

// Junk may hold a word that looks like a frame header with a frame's length
// of bytes behind it up to the end of the input. A stream of one frame that
// gives no audio is such junk; a lone Xing or Info frame is an empty stream.
bool CQuorDecoder::LoneFrameIsJunk() {
    if (streamInfo_.frameCount != 1 || streamInfo_.hasXing || !framePending_) {
        return false;
    }
    if (streamInfo_.leadingFrames > 0) {
        return true;
    }
    const bool audio = DecodeHeldFrame(FrameStart(0)) && pcmFrame_.GetSampleCount() > 0;
    frame_decoder_reset(*frameDecoder_);
    return !audio;
}

// A stream read from its start that ended without one sample, or in which
// no frame decoded (what it delivered was concealment only); callers of
// version 4 and earlier take it for an ordinary end.
bool CQuorDecoder::GaveNoAudio() const {
    return version_ >= 5 && fromStart_ && (!audioDelivered_ || !frameDecoded_);
}

bool CQuorDecoder::Trimming() const {
    return gapless_ && streamInfo_.encoderDelay >= 0 && streamInfo_.encoderPadding >= 0;
}

std::int64_t CQuorDecoder::TrimStart() const {
    return Trimming() ? streamInfo_.encoderDelay + kDecoderDelay : 0;
}

std::int64_t CQuorDecoder::AudioEnd() const {
    if (!Trimming() || streamInfo_.frameCount == 0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    const std::int64_t padding =
        std::max<std::int64_t>(streamInfo_.encoderPadding - kDecoderDelay, 0);
    return FrameStart(streamInfo_.frameCount) - padding;
}

std::int64_t CQuorDecoder::Origin() const {
    return streamInfo_.leadingFrames * streamInfo_.firstFrame.GetSamplesPerFrame() + TrimStart();
}

std::int64_t CQuorDecoder::SampleOfTime(std::int32_t milliseconds) const {
    const std::int64_t ticks = std::int64_t{milliseconds} * (CStreamInfo::kTicksPerSecond / 1000);
    return streamInfo_.TickSample(streamInfo_.SampleTick(Origin()) + ticks) - Origin();
}

double CQuorDecoder::TimeOfPosition(std::int64_t position) const {
    const std::int64_t ticks =
        streamInfo_.SampleTick(position + Origin()) - streamInfo_.SampleTick(Origin());
    return static_cast<double>(ticks) * 1000.0 / CStreamInfo::kTicksPerSecond;
}

std::int64_t CQuorDecoder::FrameStart(std::int64_t frame) const {
    return streamInfo_.FrameSample(frame) - (Origin() - TrimStart());
}

std::int64_t CQuorDecoder::FrameOf(std::int64_t sample) const {
    return streamInfo_.SampleFrame(sample + Origin() - TrimStart());
}

std::int32_t CQuorDecoder::GetFileInfo(QuorFileInfo& info) {
    const std::int32_t result = Prepare();
    if (result != QUOR_OK) {
        return result;
    }
    info.durationMs = streamInfo_.durationMs;
    if (Trimming() && streamInfo_.frameCount > 0) {
        const double kept = std::max(TimeOfPosition(AudioEnd() - TrimStart()), 0.0);
        info.durationMs = static_cast<std::int32_t>(
            std::min(std::floor(kept), static_cast<double>(kLargestInput)));
    }
    info.isVBR = streamInfo_.hasXing ? 1 : 0;
    info.bitRate = streamInfo_.bitRate;
    info.sampleRate = streamInfo_.sampleRate;
    info.channels = streamInfo_.channels;
    if (version_ >= 4) {
        info.encoderDelay = streamInfo_.encoderDelay;
        info.encoderPadding = streamInfo_.encoderPadding;
    }
    return QUOR_OK;
}

namespace {

// The frames counted in the pass over the stream, else those its Xing header
// states, else -1.
std::int32_t KnownFrames(const CStreamInfo& info) {
    if (info.frameCount > 0) {
        return static_cast<std::int32_t>(
            std::min<std::int64_t>(info.frameCount, std::numeric_limits<std::int32_t>::max()));
    }
    const bool stated = info.hasXing && (info.xing.flags & XingHeader::kFrameCountFlag) != 0;
    return stated ? info.xing.frameCount : -1;
}

// The MPEG version of a header as the interface gives it: 10, 20 or 25.
std::int32_t VersionCode(const CFrameHeader& header) {
    return header.mpeg25 != 0 ? 25 : header.lsf != 0 ? 20 : 10;
}

} // namespace

std::int32_t CQuorDecoder::GetStreamFormat(QuorStreamFormat& format) {
    const std::int32_t result = Prepare();
    if (result != QUOR_OK) {
        return result;
    }
    const CFrameHeader& first = streamInfo_.firstFrame;
    format.version = VersionCode(first);
    format.layer = first.layer;
    format.mode = first.mode;
    format.frames = KnownFrames(streamInfo_);
    if (version_ >= 5) {
        format.sampleFormat = sampleFormat_;
        format.bytesPerSample = BytesPerSample(sampleFormat_);
    }
    if (version_ >= 6) {
        const CFrameHeader& part = deliveredHeader_ ? *deliveredHeader_ : first;
        format.deliveredRate = part.sampleRate;
        format.deliveredVersion = VersionCode(part);
        format.deliveredLayer = part.layer;
        format.deliveredMode = part.mode;
    }
    return QUOR_OK;
}

std::int32_t CQuorDecoder::HeldBytes(std::int32_t outputBytes) const {
    const std::int64_t bytes =
        std::int64_t{outputBytes} / BytesPerSample(sampleFormat_) * (format_.bitsPerSample / 8);
    return static_cast<std::int32_t>(std::min(bytes, kLargestInput));
}

std::int32_t CQuorDecoder::OutputBytes(std::int32_t heldBytes) const {
    return heldBytes / (format_.bitsPerSample / 8) * BytesPerSample(sampleFormat_);
}

// Counts run in bytes of the held frame (16-bit or float values); what is
// delivered is packed in the sample format.
std::int32_t CQuorDecoder::Deliver(void* buffer, std::int32_t size, std::int32_t available) {
    std::int32_t n = buffer == nullptr || size == -1 || HeldBytes(size) > available
                         ? available
                         : HeldBytes(size);
    n -= n % blockAlign_;
    if (buffer != nullptr && n > 0) {
        auto* out = static_cast<std::uint8_t*>(buffer);
        const std::int32_t count = n / (format_.bitsPerSample / 8);
        if (floatHeld_) {
            PackSamples(floatFrame_.Samples() + bytesDelivered_ / 4, count, sampleFormat_, out);
        } else {
            PackSamples(pcmFrame_.Samples() + bytesDelivered_ / 2, count, sampleFormat_, out);
        }
    }
    bytesDelivered_ += n;
    audioDelivered_ = audioDelivered_ || n > 0;
    position_ = frameStart_ + bytesDelivered_ / blockAlign_ - TrimStart();
    if (format_.sampleRate > 0) {
        currentTime_ = partTime_ +
                       static_cast<double>(position_ - partPosition_) * 1000.0 / format_.sampleRate;
    }
    return OutputBytes(n);
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
            if (buffer != nullptr && size != -1 && size < OutputBytes(blockAlign_)) {
                return QUOR_ERROR_PARAM;
            }
            delivered = Deliver(buffer, size, available);
            return QUOR_OK;
        }
        const std::int32_t result = DecodeNext(buffer == nullptr);
        if (result != QUOR_OK) {
            return result == QUOR_END && GaveNoAudio() ? QUOR_ERROR_NOAUDIO : result;
        }
    }
}

std::int32_t CQuorDecoder::NoFrameResult() const {
    if (scanner_.GaveUp() || scanner_.StreamChanged()) {
        return QUOR_ERROR_DECODE;
    }
    if (scanner_.EndedEarly(input_)) {
        return QUOR_ERROR_READ;
    }
    if (scanner_.AtInputEnd(input_)) {
        return scanner_.FoundStream() ? QUOR_END : QUOR_ERROR_DECODE;
    }
    if (input_.GetLastError() != 0) {
        return input_.GetLastError();
    }
    return QUOR_ERROR_INTERNAL;
}

AudioFrame& CQuorDecoder::HeldFrame() {
    if (floatHeld_) {
        return floatFrame_;
    }
    return pcmFrame_;
}

void CQuorDecoder::PassOverFrame() {
    const CFrameHeader& header = scanner_.CurrentHeader();
    resetNeeded_ = true;
    floatHeld_ = sampleFormat_ != QUOR_SAMPLES_INT16;
    HeldFrame().SetSampleCount(header.GetSamplesPerFrame() * streamInfo_.channels);
    HeldFrame().SetFormat(streamInfo_.channels == 2 ? 1 : 0, header.sampleRate);
}

namespace {

// Decodes a held frame into a frame of samples and brings them to the
// stream's channel count.
template <typename Samples>
bool DecodeInto(FrameDecoder& decoder, Samples& frame, const CFrameScanner& scanner,
                bool twoChannels) {
    DecodedFrame decoded;
    if (!DecodeFrame(decoder, frame.Samples(), frame.GetCapacity(), scanner.FrameData(),
                     scanner.FrameLength(), decoded) ||
        decoded.sample_count == 0) {
        return false;
    }
    const std::int32_t count = std::clamp(decoded.sample_count, 0, frame.GetCapacity());
    frame.SetSampleCount(
        MatchChannels(frame.Samples(), count, decoded.two_channel != 0, twoChannels));
    frame.SetFormat(twoChannels ? 1 : 0, decoded.sample_rate);
    return true;
}

// Fills a frame of samples with a frame of concealment at the stream's
// channel count.
template <typename Samples>
void ConcealInto(FrameDecoder& decoder, Samples& frame, const CFrameHeader& header,
                 bool twoChannels) {
    const std::int32_t count =
        frame_decoder_conceal(decoder, frame.Samples(), header.GetSamplesPerFrame());
    frame.SetSampleCount(
        MatchChannels(frame.Samples(), count, decoder.header.channels == 2, twoChannels));
    frame.SetFormat(twoChannels ? 1 : 0, header.sampleRate);
}

} // namespace

// Readies the frame decoder for the frame that starts at sample `start`:
// every frame is synthesised in the phase a decode from the start gives it,
// also after a seek or a frame that did not decode.
void CQuorDecoder::ReadyFrameDecoder(std::int64_t start) {
    if (resetNeeded_) {
        frame_decoder_reset(*frameDecoder_);
        resetNeeded_ = false;
    }
    set_synthesis_phase(frameDecoder_->synthesis, start / kSubbands);
}

bool CQuorDecoder::DecodeHeldFrame(std::int64_t start) {
    ReadyFrameDecoder(start);
    const bool twoChannels = streamInfo_.channels == 2;
    floatHeld_ = sampleFormat_ != QUOR_SAMPLES_INT16;
    if (floatHeld_) {
        return DecodeInto(*frameDecoder_, floatFrame_, scanner_, twoChannels);
    }
    return DecodeInto(*frameDecoder_, pcmFrame_, scanner_, twoChannels);
}

void CQuorDecoder::ConcealFrame(std::int64_t start) {
    ReadyFrameDecoder(start);
    const CFrameHeader& header = scanner_.CurrentHeader();
    const bool twoChannels = streamInfo_.channels == 2;
    floatHeld_ = sampleFormat_ != QUOR_SAMPLES_INT16;
    if (floatHeld_) {
        ConcealInto(*frameDecoder_, floatFrame_, header, twoChannels);
    } else {
        ConcealInto(*frameDecoder_, pcmFrame_, header, twoChannels);
    }
}

// A frame that does not follow the one before breaks the chain of main data.
std::int32_t CQuorDecoder::MissingFrames() {
    const std::int32_t missing = frameGaps_.Follow(scanner_, streamInfo_.AverageFrameLength());
    if (frameGaps_.Broken()) {
        frame_decoder_break_chain(*frameDecoder_);
    }
    return missing;
}

// Numbers the frame the scanner just handed out. An input whose frames were
// not counted (one that cannot seek) shows its leading frames only as the
// decode reaches them: each moves the frames after it back by its length,
// so that the audio starts at the same sample, in the same synthesis phase,
// as with the counting pass.
void CQuorDecoder::FollowLeadingFrames() {
    ++heldFrame_;
    if (streamInfo_.FindsLeadingFrame(scanner_, heldFrame_)) {
        nextFrameStart_ -= scanner_.CurrentHeader().GetSamplesPerFrame();
    }
}

// The frame decoder takes the frames of one layer, version and sample rate:
// a part in another format starts it anew, as a stream's first frame does.
void CQuorDecoder::FollowFormatChange() {
    const CFrameHeader& header = scanner_.CurrentHeader();
    if (lastHeader_ && !header.SameStream(*lastHeader_)) {
        resetNeeded_ = true;
    }
    lastHeader_ = header;
}

// Every frame takes its place in time, whether it decodes or not, and frames
// missing from the stream are concealed, so that the samples of later
// frames keep theirs.
std::int32_t CQuorDecoder::DecodeNext(bool passOver) {
    if (!framePending_) {
        if (!scanner_.GetFrame(input_)) {
            return NoFrameResult();
        }
        framePending_ = true;
        missingFrames_ = MissingFrames();
        FollowLeadingFrames();
        FollowFormatChange();
    } else if (!frameGaps_.Following()) {
        MissingFrames();
    }
    const std::int64_t start = nextFrameStart_;
    nextFrameStart_ += scanner_.CurrentHeader().GetSamplesPerFrame();
    const bool missing = missingFrames_ > 0;
    if (missing) {
        --missingFrames_;
    } else {
        framePending_ = false;
    }
    if (passOver) {
        PassOverFrame();
    } else if (!missing && DecodeHeldFrame(start)) {
        frameDecoded_ = true;
    } else {
        ConcealFrame(start);
    }
    AfterFrame(start);
    return QUOR_OK;
}

// Offers the part of the frame that lies between the first sample to deliver
// and the end of the kept audio.
void CQuorDecoder::AfterFrame(std::int64_t start) {
    const AudioFrame& frame = HeldFrame();
    const std::int32_t count = frame.GetSampleCount();
    const std::int32_t perChannel = frame.twoChannels == 1 ? count / 2 : count;
    const std::int64_t from = std::max(start, TrimStart() + deliverFrom_);
    const std::int64_t to = std::min(start + perChannel, AudioEnd());
    if (from >= to) {
        return;
    }
    deliveredHeader_ = scanner_.CurrentHeader();
    if (!firstFrame_ && frame.sampleRate != format_.sampleRate) {
        // A part of another rate: its time runs on from the last sample's.
        partPosition_ = from - TrimStart();
        partTime_ = currentTime_;
    }
    if (firstFrame_ || !frame.SameFormat(format_)) {
        frame.CopyFormatTo(format_);
        blockAlign_ = BlockAlign(format_);
        firstFrame_ = false;
    }
    frameStart_ = start;
    bytesDelivered_ = static_cast<std::int32_t>(from - start) * blockAlign_;
    bytesAvailable_ = static_cast<std::int32_t>(to - start) * blockAlign_;
}

void CQuorDecoder::Restart(std::int64_t frame) {
    scanner_.Resync();
    frame_decoder_reset(*frameDecoder_);
    framePending_ = false;
    resetNeeded_ = false;
    bytesAvailable_ = 0;
    bytesDelivered_ = 0;
    missingFrames_ = 0;
    frameGaps_.Restart(scanner_);
    nextFrameStart_ = FrameStart(frame);
    heldFrame_ = frame - 1;
    lastHeader_.reset();
}

bool CQuorDecoder::WalkFrames(std::int32_t position, std::int64_t count,
                              std::vector<FrameSpan>& frames) {
    frames.clear();
    if (!input_.Seek(position)) {
        return false;
    }
    scanner_.Resync();
    while (static_cast<std::int64_t>(frames.size()) < count) {
        if (!scanner_.GetFrame(input_)) {
            return false;
        }
        frames.push_back({scanner_.FramePosition(), scanner_.CurrentHeader().MainDataBytes()});
    }
    return true;
}

bool CQuorDecoder::FindPreRollStart(std::int64_t settled, std::int64_t& start,
                                    std::int32_t& position) {
    const CStreamInfo::Part& part = streamInfo_.PartOfFrame(settled);
    const std::int32_t reach = ReservoirReach(part.header);
    std::vector<FrameSpan> frames;
    for (std::int64_t back = reach > 0 ? CStreamInfo::kIndexStride : 0;;
         back = std::max<std::int64_t>(back * 2, CStreamInfo::kIndexStride)) {
        const auto [known, knownPosition] = streamInfo_.IndexedFrame(settled - back);
        if (!WalkFrames(knownPosition, settled - known + 1, frames)) {
            return false;
        }
        std::int64_t frame = settled;
        std::int32_t needed = reach;
        while (needed > 0 && frame > std::max(known, part.frame)) {
            --frame;
            needed -= frames[static_cast<std::size_t>(frame - known)].mainDataBytes;
        }
        const std::int64_t chained = std::max(streamInfo_.ChainStart(frame), part.frame);
        if ((needed <= 0 || known <= part.frame) && chained >= known) {
            start = chained;
            position = frames[static_cast<std::size_t>(chained - known)].position;
            return true;
        }
    }
}

// Frames were not counted: the time's share of the stream (or the table of
// contents) gives a position, and the frame found there is taken to start
// at the time asked for.
std::int32_t CQuorDecoder::SeekByPosition(std::int32_t milliseconds) {
    const std::int32_t position = streamInfo_.PositionForTime(milliseconds);
    if (position == -1) {
        return QUOR_ERROR_UNSUPPORTED;
    }
    if (!input_.Seek(position)) {
        return QUOR_ERROR_SEEK;
    }
    Restart(0);
    if (milliseconds != 0) {
        nextFrameStart_ = TrimStart() + SampleOfTime(milliseconds);
    }
    return QUOR_OK;
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
    const std::int64_t target = SampleOfTime(milliseconds);
    if (streamInfo_.frameIndex.empty()) {
        const std::int32_t result = SeekByPosition(milliseconds);
        if (result != QUOR_OK) {
            return result;
        }
    } else {
        const std::int64_t frame = std::min(FrameOf(TrimStart() + target), streamInfo_.frameCount);
        std::int64_t start = 0;
        std::int32_t position = 0;
        if (!FindPreRollStart(SettledFrame(frame), start, position) || !input_.Seek(position)) {
            return QUOR_ERROR_SEEK;
        }
        Restart(start);
    }
    deliverFrom_ = target;
    fromStart_ = milliseconds == 0;
    position_ = target;
    currentTime_ = milliseconds;
    // The part of the target counts from its start on; its first delivered
    // frame is no change of part.
    partPosition_ =
        std::max<std::int64_t>(streamInfo_.PartOfSample(target + Origin()).sample - Origin(), 0);
    partTime_ = TimeOfPosition(partPosition_);
    firstFrame_ = true;
    return QUOR_OK;
}

std::int64_t CQuorDecoder::SettledFrame(std::int64_t frame) const {
    std::int64_t settled = frame - kSettlingFrames;
    const std::int64_t next = streamInfo_.NextPartFrame(frame);
    if (next >= 0) {
        settled = std::min(settled, next - CFrameScanner::kChainFrames);
    }
    return std::max(settled, streamInfo_.PartOfFrame(frame).frame);
}

std::int32_t CQuorDecoder::GetDeliveredRate(std::int32_t& sampleRate) {
    const std::int32_t result = Prepare();
    if (result != QUOR_OK) {
        return result;
    }
    sampleRate = format_.sampleRate > 0 ? format_.sampleRate : streamInfo_.sampleRate;
    return QUOR_OK;
}

std::int32_t CQuorDecoder::GetTime() const {
    return static_cast<std::int32_t>(
        std::clamp(std::trunc(currentTime_), 0.0, static_cast<double>(kLargestInput)));
}

namespace {

std::string Formatted(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool HasReplayGain(const StreamTags& tags) {
    return tags.values.count("replaygain_track_gain") != 0 ||
           tags.values.count("replaygain_album_gain") != 0;
}

// The encoder tag's ReplayGain values, as the text tags write them.
void AddEncoderReplayGain(const CStreamInfo& info, StreamTags& tags) {
    if (info.encoderTrackGain != VbrTagInfo::kNoGain) {
        tags.values["replaygain_track_gain"] = Formatted("%.1f dB", info.encoderTrackGain / 10.0);
    }
    if (info.encoderAlbumGain != VbrTagInfo::kNoGain) {
        tags.values["replaygain_album_gain"] = Formatted("%.1f dB", info.encoderAlbumGain / 10.0);
    }
    if (info.encoderPeak > 0.0 && HasReplayGain(tags)) {
        const char* key = info.encoderTrackGain != VbrTagInfo::kNoGain ? "replaygain_track_peak"
                                                                       : "replaygain_album_peak";
        tags.values[key] = Formatted("%.6f", info.encoderPeak);
    }
}

} // namespace

const StreamTags& CQuorDecoder::Tags() {
    if (!tags_) {
        StreamTags tags = ReadStreamTags(callbacks_, user_);
        if (!HasReplayGain(tags) && Prepare() == QUOR_OK) {
            AddEncoderReplayGain(streamInfo_, tags);
        }
        tags_ = std::move(tags);
    }
    return *tags_;
}

std::int32_t CQuorDecoder::GetTag(const std::string& key, const std::string*& value) {
    const StreamTags& tags = Tags();
    const auto found = tags.values.find(key);
    value = found == tags.values.end() ? nullptr : &found->second;
    return value != nullptr || tags.read ? QUOR_OK : QUOR_ERROR_UNSUPPORTED;
}

std::int32_t CQuorDecoder::GetPicture(const std::vector<std::uint8_t>*& picture) {
    const StreamTags& tags = Tags();
    if (!tags.read) {
        return QUOR_ERROR_UNSUPPORTED;
    }
    picture = tags.picture.empty() ? nullptr : &tags.picture;
    return QUOR_OK;
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
    // A pipe or a device is read as a stream: it can neither seek nor tell
    // its length.
    const bool seekable = std::ftell(file) >= 0;
    const std::int32_t result =
        Quor_Create(out, seekable ? FileCallbacks() : StreamCallbacks(), file, version);
    if (result != QUOR_OK) {
        std::fclose(file);
        return result;
    }
    FromHandle(*out)->SetCloseAction(CloseFile, file);
    return QUOR_OK;
}

// Copies a value of bytes (and a NUL after a text) into the caller's buffer;
// see Quor_GetTag.
std::int32_t CopyOut(const std::uint8_t* data, std::size_t bytes, bool text, void* buffer,
                     std::int32_t size, std::int32_t* length) {
    if (bytes > static_cast<std::size_t>(kLargestInput) - 1) {
        return QUOR_ERROR_UNSUPPORTED;
    }
    *length = static_cast<std::int32_t>(bytes);
    if (buffer == nullptr && size == 0) {
        return QUOR_OK;
    }
    const std::size_t needed = bytes + (text ? 1 : 0);
    if (buffer == nullptr || size < 0 || static_cast<std::size_t>(size) < needed) {
        return QUOR_ERROR_PARAM;
    }
    std::copy_n(data, bytes, static_cast<std::uint8_t*>(buffer));
    if (text) {
        static_cast<std::uint8_t*>(buffer)[bytes] = 0;
    }
    return QUOR_OK;
}

} // namespace

} // namespace tesk::quor

using tesk::quor::CopyOut;
using tesk::quor::CQuorDecoder;
using tesk::quor::FromHandle;
using tesk::quor::Guarded;

extern "C" {

QUOR_API std::int32_t Quor_Create(QuorHandle* out, QuorCallbacks callbacks, void* user,
                                  std::int32_t version) {
    if (callbacks.read == nullptr) {
        callbacks = tesk::quor::StreamCallbacks();
        user = stdin;
    }
    if (version > QUOR_VERSION) {
        return QUOR_ERROR_INCOMPATIBLEVERSION;
    }
    if (out == nullptr || callbacks.getPosition == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return Guarded([&] {
        *out = reinterpret_cast<QuorHandle>(new CQuorDecoder(callbacks, user, version));
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

QUOR_API std::int32_t Quor_GetStreamFormat(QuorHandle handle, QuorStreamFormat* format) {
    if (handle == nullptr || format == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return Guarded([&] { return FromHandle(handle)->GetStreamFormat(*format); });
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

QUOR_API std::int32_t Quor_GetPosition(QuorHandle handle, std::int64_t* samples) {
    if (handle == nullptr || samples == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    *samples = FromHandle(handle)->GetPosition();
    return QUOR_OK;
}

QUOR_API std::int32_t Quor_GetDeliveredRate(QuorHandle handle, std::int32_t* sampleRate) {
    if (handle == nullptr || sampleRate == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return Guarded([&] { return FromHandle(handle)->GetDeliveredRate(*sampleRate); });
}

QUOR_API std::int32_t Quor_SetOption(QuorHandle handle, std::int32_t option, std::int32_t value) {
    if (handle == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return FromHandle(handle)->SetOption(option, value);
}

QUOR_API std::int32_t Quor_GetTag(QuorHandle handle, const char* key, char* buffer,
                                  std::int32_t size, std::int32_t* length) {
    if (handle == nullptr || key == nullptr || length == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return Guarded([&] {
        const std::string* value = nullptr;
        const std::int32_t result = FromHandle(handle)->GetTag(key, value);
        if (result != QUOR_OK || value == nullptr) {
            return result != QUOR_OK ? result : QUOR_ERROR_NOTAVAILABLE;
        }
        return CopyOut(reinterpret_cast<const std::uint8_t*>(value->data()), value->size(), true,
                       buffer, size, length);
    });
}

QUOR_API std::int32_t Quor_GetPicture(QuorHandle handle, void* buffer, std::int32_t size,
                                      std::int32_t* length) {
    if (handle == nullptr || length == nullptr) {
        return QUOR_ERROR_PARAM;
    }
    return Guarded([&] {
        const std::vector<std::uint8_t>* picture = nullptr;
        const std::int32_t result = FromHandle(handle)->GetPicture(picture);
        if (result != QUOR_OK || picture == nullptr) {
            return result != QUOR_OK ? result : QUOR_ERROR_NOTAVAILABLE;
        }
        return CopyOut(picture->data(), picture->size(), false, buffer, size, length);
    });
}

QUOR_API const char* Quor_GetTagKey(std::int32_t index) {
    return tesk::quor::TagKey(index);
}

} // extern "C"
