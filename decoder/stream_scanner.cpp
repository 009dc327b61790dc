#include "decoder/stream_scanner.h"

#include <algorithm>
#include <cstring>

namespace tesk::quor {

namespace {

constexpr std::int32_t kID3v2HeaderSize = 10;
constexpr std::int32_t kID3v1TagSize = 128;
constexpr std::int32_t kReadSize = 4096;
constexpr std::int32_t kConfirmationSlack = 512;

bool IsID3v2Header(const std::uint8_t* b) {
    return b[0] == 'I' && b[1] == 'D' && b[2] == '3' && b[3] != 0xFF && b[4] != 0xFF &&
           b[6] < 0x80 && b[7] < 0x80 && b[8] < 0x80 && b[9] < 0x80;
}

std::int32_t ID3v2TagSize(const std::uint8_t* b) {
    return (b[6] << 21) | (b[7] << 14) | (b[8] << 7) | b[9];
}

// Parses a header the scanner would take at data; false otherwise.
bool ParseScannable(const std::uint8_t* data, CFrameHeader& header) {
    return IsSyncPattern(data[0], data[1]) && header.Parse(data) && header.IsScannable();
}

} // namespace

void SkipID3v2Tag(CQuorFileAccess& file) {
    const std::int32_t mark = file.Mark();
    std::uint8_t header[kID3v2HeaderSize];
    if (file.Read(header, kID3v2HeaderSize) == kID3v2HeaderSize && IsID3v2Header(header)) {
        file.ReleaseMark(mark, false);
        file.Skip(ID3v2TagSize(header));
        return;
    }
    file.ReleaseMark(mark, true);
}

CFrameScanner::CFrameScanner() : frame_(std::make_unique<std::uint8_t[]>(kFrameBufferSize)) {
    search_.data = std::make_unique<std::uint8_t[]>(kSearchBufferSize);
    search_.capacity = kSearchBufferSize;
    Reset();
}

void CFrameScanner::ClearFrame() {
    frameFill_ = 0;
    frame_[0] = 0;
    frame_[1] = 0;
}

void CFrameScanner::Resync() {
    ClearFrame();
    if (state_ >= kSync) {
        state_ = kSync;
    }
    search_.Empty();
    streaming_.Empty();
    candidates_.clear();
}

void CFrameScanner::Reset() {
    Resync();
    current_ = &search_;
    state_ = kFirstSync;
    giveUp_ = false;
    firstFramePosition_ = 0;
    reference_ = CFrameHeader{};
    reference_.layer = -1;
    confirmations_ = 3;
}

void CFrameScanner::AddCandidate(const CFrameHeader& header) {
    for (Candidate& c : candidates_) {
        if (c.chainLength < confirmations_ && header.offset >= c.chainEnd &&
            header.SameStream(c.header)) {
            c.chainEnd = header.offset + header.frameLength;
            ++c.chainLength;
        }
    }
    candidates_.push_back({header, header.offset + header.frameLength, 0});
}

bool CFrameScanner::Confirm(std::int32_t readPosition) {
    for (const Candidate& c : candidates_) {
        const std::int64_t needed = static_cast<std::int64_t>(c.header.offset) + 4 +
                                    (c.header.frameLength + kConfirmationSlack) * 3;
        if (readPosition < needed) {
            return false;
        }
        if (c.chainLength >= confirmations_) {
            Accept(c.header);
            return true;
        }
    }
    return false;
}

bool CFrameScanner::ChainReachesEnd(const CFrameHeader& first) const {
    std::int32_t position = first.offset;
    std::int32_t wholeFrames = 0;
    for (;;) {
        const std::int32_t remaining = search_.fill - position;
        if (remaining == 0) {
            return true;
        }
        if (remaining == kID3v1TagSize &&
            std::memcmp(search_.data.get() + position, "TAG", 3) == 0) {
            return true;
        }
        if (remaining < 4) {
            return wholeFrames >= 2;
        }
        CFrameHeader header;
        if (!ParseScannable(search_.data.get() + position, header) || !header.SameStream(first)) {
            return false;
        }
        if (header.frameLength > remaining) {
            // The input ends inside a frame whose header agrees.
            return wholeFrames >= 1;
        }
        position += header.frameLength;
        ++wholeFrames;
    }
}

bool CFrameScanner::ConfirmAtEnd() {
    for (const Candidate& c : candidates_) {
        if (ChainReachesEnd(c.header)) {
            Accept(c.header);
            return true;
        }
    }
    return false;
}

void CFrameScanner::Accept(const CFrameHeader& first) {
    reference_ = first;
    search_.read = first.offset;
    firstFramePosition_ = search_.origin + first.offset;
    candidates_.clear();
    state_ = kSync;
}

bool CFrameScanner::SearchFirstFrame() {
    while (search_.Unread() >= 4) {
        const std::int32_t position = search_.read;
        CFrameHeader header;
        if (ParseScannable(search_.data.get() + position, header)) {
            header.offset = position;
            AddCandidate(header);
            if (Confirm(position)) {
                return true;
            }
        }
        ++search_.read;
    }
    return false;
}

void CFrameScanner::TakeBytes(std::int32_t until) {
    const std::int32_t n = std::min(until - frameFill_, current_->Unread());
    std::memcpy(frame_.get() + frameFill_, current_->data.get() + current_->read,
                static_cast<std::size_t>(n));
    frameFill_ += n;
    current_->read += n;
}

void CFrameScanner::CheckHeader() {
    CFrameHeader header;
    if (header.Parse(frame_.get()) && header.IsScannable() && header.SameStream(reference_)) {
        header_ = header;
        frameLength_ = header.frameLength;
        framePosition_ = current_->origin + current_->read - 4;
        state_ = kFrameBody;
        return;
    }
    ClearFrame();
    state_ = kSync;
}

void CFrameScanner::Step() {
    switch (state_) {
    case kSync:
        frame_[0] = frame_[1];
        frame_[1] = current_->data[static_cast<std::size_t>(current_->read++)];
        if (IsSyncPattern(frame_[0], frame_[1])) {
            frameFill_ = 2;
            state_ = kHeaderBytes;
        }
        break;
    case kHeaderBytes:
        TakeBytes(4);
        if (frameFill_ == 4) {
            state_ = kHeaderCheck;
        }
        break;
    case kHeaderCheck:
        CheckHeader();
        break;
    case kFrameBody:
        TakeBytes(frameLength_);
        if (frameFill_ == frameLength_) {
            state_ = kFrameComplete;
        }
        break;
    case kFirstSync:
    case kFrameComplete:
        break;
    }
}

void CFrameScanner::RunMachine() {
    while (current_->Unread() > 0 && state_ != kFrameComplete) {
        if (state_ == kFirstSync) {
            if (!SearchFirstFrame()) {
                return;
            }
        } else {
            Step();
        }
    }
}

bool CFrameScanner::NextFrame() {
    if (state_ == kFrameComplete) {
        ClearFrame();
        state_ = kSync;
    }
    RunMachine();
    if (state_ != kFrameComplete && state_ != kFirstSync && current_ == &search_) {
        current_ = &streaming_;
        RunMachine();
    }
    if (state_ == kFirstSync && search_.fill == search_.capacity) {
        giveUp_ = true;
    }
    return state_ == kFrameComplete;
}

bool CFrameScanner::Fill(IFileAccess& file) {
    if (state_ == kFirstSync) {
        const std::int32_t room = search_.capacity - search_.fill;
        if (room == 0) {
            return true;
        }
        if (search_.fill == 0) {
            search_.origin = file.GetPosition();
        }
        const std::int32_t n =
            file.Read(search_.data.get() + search_.fill, std::min(room, kReadSize));
        if (n < 1) {
            return false;
        }
        search_.fill += n;
        return true;
    }
    if (!streaming_.data) {
        streaming_.data = std::make_unique<std::uint8_t[]>(kStreamingBufferSize);
        streaming_.capacity = kStreamingBufferSize;
    }
    streaming_.origin = file.GetPosition();
    const std::int32_t n = file.Read(streaming_.data.get(), kStreamingBufferSize);
    if (n < 1) {
        return false;
    }
    streaming_.fill = n;
    streaming_.read = 0;
    return true;
}

bool CFrameScanner::GetFrame(IFileAccess& file) {
    if (NextFrame()) {
        return true;
    }
    while (!giveUp_) {
        if (!Fill(file)) {
            return state_ == kFirstSync && file.IsEOF() && ConfirmAtEnd() && NextFrame();
        }
        if (NextFrame()) {
            return true;
        }
    }
    return false;
}

} // namespace tesk::quor
