#include "decoder/stream_info.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "decoder/core/frame_decoder.h"
#include "decoder/trailing_tags.h"

namespace tesk::quor {

namespace {

constexpr std::int64_t kLargestValue = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kHeldMainData = static_cast<std::int32_t>(kReservoirLead) - 1;
// The most frames of concealment a gap stands for.
constexpr double kLargestGap = 1e6;

std::int32_t BigEndian32(const std::uint8_t* p) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 24) |
                                     (static_cast<std::uint32_t>(p[1]) << 16) |
                                     (static_cast<std::uint32_t>(p[2]) << 8) | p[3]);
}

std::int32_t Limited(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, kLargestValue));
}

std::int32_t DurationMs(std::int64_t samples, std::int32_t sampleRate) {
    return Limited(samples * 1000 / sampleRate);
}

std::int64_t TicksPerSample(const CFrameHeader& header) {
    return CStreamInfo::kTicksPerSecond / header.sampleRate;
}

} // namespace

std::int32_t XingOffset(const CFrameHeader& header) {
    if (header.lsf == 0) {
        return header.twoChannels != 0 ? 36 : 21;
    }
    return header.twoChannels != 0 ? 21 : 13;
}

bool XingHeader::Parse(const CFrameHeader& header, const std::uint8_t* frame, std::int32_t length) {
    std::int32_t at = XingOffset(header);
    if (at + 8 > length || std::memcmp(frame + at, "Xing", 4) != 0) {
        return false;
    }
    version = header.lsf == 0 ? 1 : 0;
    flags = BigEndian32(frame + at + 4);
    at += 8;
    // Takes a field of size bytes when its flag is set and it lies inside
    // the frame; clears the flag otherwise.
    auto field = [&](std::int32_t flag, std::int32_t size) -> const std::uint8_t* {
        if ((flags & flag) == 0) {
            return nullptr;
        }
        if (at + size > length) {
            flags &= ~flag;
            return nullptr;
        }
        const std::uint8_t* p = frame + at;
        at += size;
        return p;
    };
    const std::uint8_t* p = field(kFrameCountFlag, 4);
    frameCount = p != nullptr ? BigEndian32(p) : 0;
    p = field(kByteCountFlag, 4);
    byteCount = p != nullptr ? BigEndian32(p) : 0;
    p = field(kTocFlag, 100);
    if (p != nullptr) {
        std::memcpy(toc.data(), p, toc.size());
    }
    p = field(kScaleFlag, 4);
    vbrScale = p != nullptr ? BigEndian32(p) : -1;
    return true;
}

std::int32_t FramesInGap(double gap, const CFrameHeader& header, double averageFrame) {
    if (averageFrame > 0.0) {
        return static_cast<std::int32_t>(
            std::clamp(std::floor(gap / averageFrame + 0.5), 0.0, kLargestGap));
    }
    const double frames = std::floor(gap / header.exactFrameLength + 0.5);
    const double slack = std::max(frames, 1.0) * header.SlotSize();
    const bool whole = std::abs(gap - frames * header.exactFrameLength) <= slack;
    return whole ? static_cast<std::int32_t>(std::clamp(frames, 0.0, kLargestGap)) : 0;
}

void CFrameGaps::Restart(const CFrameScanner& scanner) {
    expectedPosition_ = -1;
    droppedSeen_ = scanner.DroppedFrames();
    broken_ = false;
}

std::int32_t CFrameGaps::Follow(const CFrameScanner& scanner, double averageFrame) {
    const std::int32_t position = scanner.FramePosition();
    const std::int32_t expected = expectedPosition_;
    const CFrameHeader& header = scanner.CurrentHeader();
    expectedPosition_ = position + header.frameLength;
    const std::int32_t dropped = scanner.DroppedFrames() - droppedSeen_;
    droppedSeen_ = scanner.DroppedFrames();
    broken_ = expected >= 0 && position != expected;
    if (!broken_) {
        return 0;
    }
    return std::max(FramesInGap(position - expected, header, averageFrame), dropped);
}

double CStreamInfo::AverageFrameLength() const {
    if (!hasXing || xing.frameCount <= 0 || xing.byteCount <= 0) {
        return 0.0;
    }
    return static_cast<double>(xing.byteCount) / xing.frameCount;
}

void CStreamInfo::BuildSeekTable() {
    for (std::int32_t i = 0; i < kSeekTableSize - 1; ++i) {
        seekTable[static_cast<std::size_t>(i)] =
            (xing.flags & XingHeader::kTocFlag) != 0
                ? static_cast<float>(xing.toc[static_cast<std::size_t>(i)]) / 256.0f
                : static_cast<float>(i) / 100.0f;
    }
    seekTable[kSeekTableSize - 1] = 1.0f;
    const float first = seekTable[0];
    if (first != 0.0f) {
        for (float& entry : seekTable) {
            entry = (entry - first) / (1.0f - first);
        }
    }
}

void CStreamInfo::SetBitRate(const CFrameHeader& header) {
    // Without a Xing header, frames of varied bit rates counted in the pass
    // over the stream give the average.
    const std::int64_t bytes = hasXing && xing.byteCount > 0 ? xing.byteCount
                               : variableBitRate_            ? countedBytes_
                                                             : 0;
    if (bytes > 0 && durationMs > 0) {
        bitRate = Limited(bytes * 8 * 1000 / durationMs);
        return;
    }
    bitRate = header.bitRate * 1000;
}

// The frame decoder passes over a first frame that holds a tag when the frame
// is long enough for its probe; the same test tells whether the audio starts
// with the first frame or the next.
bool CStreamInfo::ReadTagFrame(const CFrameScanner& scanner) {
    VbrTagInfo tag;
    const bool found =
        scanner.FrameLength() >= kVbrTagProbeSize && parse_vbr_tag(tag, scanner.FrameData());
    encoderDelay = found ? tag.encoder_delay : -1;
    encoderPadding = found ? tag.encoder_padding : -1;
    encoderPeak = tag.peak;
    encoderTrackGain = tag.track_gain_tenths;
    encoderAlbumGain = tag.album_gain_tenths;
    return found;
}

// The frame decoder holds the main data of the frames since it started, at
// most 511 bytes of it, and gives no output for a frame whose data begins
// further back; the audio starts with the first frame that gives output.
void CStreamInfo::CountLeadingFrame(const CFrameScanner& scanner) {
    ++examinedFrames_;
    const CFrameHeader& header = scanner.CurrentHeader();
    if (audioStarted_ || header.layer != 3) {
        audioStarted_ = true;
        return;
    }
    const std::uint8_t* side = scanner.FrameData() + header.SideInformationOffset();
    const std::int32_t begin = header.lsf != 0 ? side[0] : (side[0] << 1) | (side[1] >> 7);
    const std::int32_t usable = std::min(heldMainData_, kHeldMainData);
    if (begin <= usable) {
        audioStarted_ = true;
        return;
    }
    heldMainData_ = usable + header.MainDataBytes();
    ++leadingFrames;
}

bool CStreamInfo::FindsLeadingFrame(const CFrameScanner& scanner, std::int64_t frame) {
    if (frame != examinedFrames_) {
        return false;
    }
    const std::int64_t before = leadingFrames;
    CountLeadingFrame(scanner);
    return leadingFrames > before;
}

void CStreamInfo::IndexFrame(std::int32_t position) {
    if (frameCount % kIndexStride == 0) {
        frameIndex.push_back(position);
    }
    ++frameCount;
}

std::pair<std::int64_t, std::int32_t> CStreamInfo::IndexedFrame(std::int64_t frame) const {
    const std::size_t entry =
        std::min(static_cast<std::size_t>(std::max<std::int64_t>(frame, 0) / kIndexStride),
                 frameIndex.size() - 1);
    return {static_cast<std::int64_t>(entry) * kIndexStride, frameIndex[entry]};
}

const CStreamInfo::Part& CStreamInfo::PartAt(std::int64_t Part::*field, std::int64_t value) const {
    const auto after = std::upper_bound(
        parts.begin() + 1, parts.end(), value,
        [field](std::int64_t wanted, const Part& part) { return wanted < part.*field; });
    return *(after - 1);
}

std::int64_t CStreamInfo::NextPartFrame(std::int64_t frame) const {
    const auto next =
        std::upper_bound(parts.begin(), parts.end(), frame,
                         [](std::int64_t wanted, const Part& part) { return wanted < part.frame; });
    return next == parts.end() ? -1 : next->frame;
}

void CStreamInfo::AddPart(std::int64_t frame, std::int64_t sample, const CFrameHeader& header) {
    const Part& last = parts.back();
    parts.push_back(
        {frame, sample, last.tick + (sample - last.sample) * TicksPerSample(last.header), header});
}

CStreamInfo::GapIterator CStreamInfo::GapAfter(std::int64_t Gap::*field, std::int64_t value) const {
    return std::upper_bound(
        gaps.begin(), gaps.end(), value,
        [field](std::int64_t wanted, const Gap& gap) { return wanted < gap.*field; });
}

CStreamInfo::Gap CStreamInfo::StartInPart(const Part& part, GapIterator after) const {
    if (after != gaps.begin() && std::prev(after)->frame >= part.frame) {
        return *std::prev(after);
    }
    return {part.frame, part.sample};
}

std::int64_t CStreamInfo::ChainStart(std::int64_t frame) const {
    for (;;) {
        const auto gap = GapAfter(&Gap::frame, frame);
        if (frame <= 0 || gap == gaps.end() || gap->frame - frame >= CFrameScanner::kChainFrames) {
            return std::max<std::int64_t>(frame, 0);
        }
        frame = gap->frame - CFrameScanner::kChainFrames;
    }
}

std::int64_t CStreamInfo::FrameSample(std::int64_t frame) const {
    const Part& part = PartOfFrame(frame);
    const auto after = GapAfter(&Gap::frame, frame);
    const Gap from = StartInPart(part, after);
    return from.sample + (frame - from.frame) * part.header.GetSamplesPerFrame();
}

std::int64_t CStreamInfo::SampleFrame(std::int64_t sample) const {
    const Part& part = PartOfSample(sample);
    const auto after = GapAfter(&Gap::sample, sample);
    const Gap from = StartInPart(part, after);
    const std::int64_t frame =
        from.frame + (sample - from.sample) / part.header.GetSamplesPerFrame();
    // A sample of concealment belongs to the frame that the concealment precedes.
    return after == gaps.end() ? frame : std::min(frame, after->frame);
}

std::int64_t CStreamInfo::SampleTick(std::int64_t sample) const {
    const Part& part = PartOfSample(sample);
    return part.tick + (sample - part.sample) * TicksPerSample(part.header);
}

std::int64_t CStreamInfo::TickSample(std::int64_t tick) const {
    const Part& part = PartAt(&Part::tick, tick);
    const std::int64_t period = TicksPerSample(part.header);
    return part.sample + (2 * (tick - part.tick) + period) / (2 * period);
}

std::int32_t CStreamInfo::FindAudioEnd(IFileAccess& file) {
    const std::int32_t length = file.GetLength();
    if (!file.CanSeek() || length <= 0) {
        return length;
    }
    const std::int32_t start = file.GetPosition();
    const ReadAt read = [&file](std::int32_t at, std::uint8_t* buffer, std::int32_t count) {
        return file.Seek(at) && file.Read(buffer, count) == count;
    };
    const std::int32_t end = AudioEnd(start, length, read);
    return file.Seek(start) ? end : length;
}

bool CStreamInfo::CountFrames(CFrameScanner& scanner, IFileAccess& file,
                              const CFrameHeader& first) {
    std::int64_t samples = first.GetSamplesPerFrame();
    countedBytes_ = first.frameLength;
    IndexFrame(firstFramePosition);
    CFrameGaps frameGaps;
    frameGaps.Restart(scanner);
    frameGaps.Follow(scanner, AverageFrameLength());
    while (scanner.GetFrame(file)) {
        const CFrameHeader& header = scanner.CurrentHeader();
        if (!header.SameStream(parts.back().header)) {
            AddPart(frameCount, samples, header);
        }
        const std::int32_t missing = frameGaps.Follow(scanner, AverageFrameLength());
        if (frameGaps.Broken()) {
            samples += std::int64_t{missing} * header.GetSamplesPerFrame();
            gaps.push_back({frameCount, samples});
        }
        samples += header.GetSamplesPerFrame();
        countedBytes_ += header.frameLength;
        variableBitRate_ = variableBitRate_ || header.bitRate != first.bitRate;
        IndexFrame(scanner.FramePosition());
        CountLeadingFrame(scanner);
    }
    // Leading frames, whose data lies before the stream, give no output; the
    // parts' durations add up.
    const std::int64_t lead = leadingFrames * first.GetSamplesPerFrame();
    durationMs = Limited((SampleTick(samples) - SampleTick(lead)) * 1000 / kTicksPerSecond);
    if (!file.Seek(firstFramePosition)) {
        return false;
    }
    scanner.Resync();
    scanner.GetFrame(file);
    return true;
}

bool CStreamInfo::Scan(CFrameScanner& scanner, IFileAccess& file) {
    audioLength = -1;
    firstFramePosition = 0;
    durationMs = -1;
    bitRate = -1;
    hasXing = false;
    frameCount = 0;
    frameIndex.clear();
    gaps.clear();
    const std::int32_t length = FindAudioEnd(file);
    scanner.SetInputEnd(length);
    if (!scanner.GetFrame(file)) {
        return false;
    }
    firstFramePosition = scanner.FirstFramePosition();
    audioLength = length < 0 ? -1 : std::max(length - firstFramePosition, 0);
    const CFrameHeader first = scanner.CurrentHeader();
    firstFrame = first;
    parts.assign(1, {0, 0, 0, first});
    leadingFrames = 0;
    countedBytes_ = 0;
    variableBitRate_ = false;
    audioStarted_ = false;
    heldMainData_ = 0;
    examinedFrames_ = 0;
    if (ReadTagFrame(scanner)) {
        leadingFrames = 1;
        examinedFrames_ = 1;
    } else {
        CountLeadingFrame(scanner);
    }
    std::int64_t estimate = -1;
    if (first.exactFrameLength > 0.0) {
        if (scanner.FrameLength() >= kSmallestXingFrame &&
            xing.Parse(first, scanner.FrameData(), scanner.FrameLength())) {
            hasXing = true;
            BuildSeekTable();
            estimate = xing.frameCount;
        } else if (audioLength >= 0) {
            estimate = static_cast<std::int64_t>(audioLength / first.exactFrameLength);
        }
    }
    if (estimate != -1 && first.sampleRate != 0) {
        if (file.CanSeek()) {
            if (!CountFrames(scanner, file, first)) {
                return false;
            }
        } else {
            durationMs = DurationMs(estimate * first.GetSamplesPerFrame(), first.sampleRate);
        }
        SetBitRate(scanner.CurrentHeader());
    }
    sampleRate = scanner.CurrentHeader().sampleRate;
    channels = scanner.CurrentHeader().twoChannels != 0 ? 2 : 1;
    return true;
}

std::int32_t CStreamInfo::XingPosition(double fraction) const {
    const float x = std::clamp(static_cast<float>(fraction * 100.0), 0.0f, 100.0f);
    const std::int32_t i = std::min(static_cast<std::int32_t>(x), 99);
    const auto at = static_cast<std::size_t>(i);
    const float v =
        (x - static_cast<float>(i)) * (seekTable[at + 1] - seekTable[at]) + seekTable[at];
    const float offset = std::min(v * static_cast<float>(audioLength), 4.0e9f);
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(static_cast<std::int64_t>(offset), 0, audioLength));
}

std::int32_t CStreamInfo::PositionForTime(std::int32_t milliseconds) const {
    if (durationMs > 0 && audioLength >= 0) {
        const double fraction = static_cast<double>(milliseconds) / durationMs;
        const std::int32_t offset =
            hasXing ? XingPosition(fraction)
                    : Limited(std::min(static_cast<std::int64_t>(fraction * audioLength),
                                       static_cast<std::int64_t>(audioLength)));
        return firstFramePosition + offset;
    }
    return milliseconds == 0 ? firstFramePosition : -1;
}

} // namespace tesk::quor
