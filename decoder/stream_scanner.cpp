#include "decoder/stream_scanner.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "decoder/trailing_tags.h"

namespace tesk::quor {

namespace {

constexpr std::int32_t kID3v2HeaderSize = 10;
constexpr std::int32_t kReadSize = 4096;

bool IsID3v2Header(const std::uint8_t* b) {
    return b[0] == 'I' && b[1] == 'D' && b[2] == '3' && b[3] != 0xFF && b[4] != 0xFF &&
           b[6] < 0x80 && b[7] < 0x80 && b[8] < 0x80 && b[9] < 0x80;
}

std::int32_t ID3v2TagSize(const std::uint8_t* b) {
    return (b[6] << 21) | (b[7] << 14) | (b[8] << 7) | b[9];
}

} // namespace

void SkipID3v2Tag(CQuorFileAccess& file) {
    const std::int32_t mark = file.Mark();
    std::uint8_t header[kID3v2HeaderSize];
    if (file.Read(header, kID3v2HeaderSize) == kID3v2HeaderSize && IsID3v2Header(header)) {
        file.ReleaseMark(mark, false);
        // A tag that claims to end past the input is damaged: the audio is
        // looked for right behind its header instead.
        const std::int32_t size = ID3v2TagSize(header);
        const std::int32_t length = file.GetLength();
        if (length < 0 || size <= length - file.GetPosition()) {
            file.Skip(size);
        }
        return;
    }
    file.ReleaseMark(mark, true);
}

CFrameScanner::CFrameScanner()
    : frame_(std::make_unique<std::uint8_t[]>(kFrameBufferSize + kHeaderSize)) {
    held_.data = std::make_unique<std::uint8_t[]>(kFrameBufferSize);
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
    search_.Empty();
    streaming_.Empty();
    current_ = &search_;
    state_ = kSearch;
    searchStart_ = 0;
    inputEnded_ = false;
    streamChanged_ = false;
    followerRead_ = false;
    held_.held = false;
}

void CFrameScanner::Reset() {
    Resync();
    giveUp_ = false;
    firstFramePosition_ = 0;
    reference_ = CFrameHeader{};
    reference_.layer = -1;
    freeFormatLength_ = 0;
}

bool CFrameScanner::ParseAt(std::int32_t position, std::int32_t freeLength,
                            CFrameHeader& header) const {
    const std::uint8_t* data = search_.data.get() + position;
    if (!IsSyncPattern(data[0], data[1]) || !header.Parse(data)) {
        return false;
    }
    if (header.IsFreeFormat()) {
        if (freeLength == 0) {
            return false;
        }
        header.SetFreeFormatLength(freeLength);
    }
    header.offset = position;
    return header.IsScannable();
}

bool CFrameScanner::EndsInTags(std::int32_t position) const {
    if (!inputEnded_) {
        return false;
    }
    const ReadAt read = [this](std::int32_t at, std::uint8_t* buffer, std::int32_t count) {
        std::memcpy(buffer, search_.data.get() + at, static_cast<std::size_t>(count));
        return true;
    };
    return AudioEnd(position, search_.fill, read) == position;
}

CFrameScanner::Chain CFrameScanner::WalkChain(const CFrameHeader& first,
                                              std::int32_t freeLength) const {
    Chain chain;
    std::int32_t position = first.offset;
    for (;;) {
        const std::int32_t remaining = search_.fill - position;
        if (remaining < 4) {
            chain.atEnd = true;
            return chain;
        }
        CFrameHeader header;
        if (!ParseAt(position, freeLength, header) || !header.SameStream(first)) {
            chain.atEnd = EndsInTags(position);
            chain.broken = !chain.atEnd;
            return chain;
        }
        ++chain.frames;
        if (header.frameLength > remaining) {
            chain.atEnd = true;
            return chain;
        }
        ++chain.wholeFrames;
        position += header.frameLength;
    }
}

bool CFrameScanner::LongerChainOverlaps(const CFrameHeader& first, std::int32_t freeLength,
                                        std::int32_t frames) const {
    const std::int32_t end = std::min(first.offset + first.frameLength, search_.fill - 3);
    for (std::int32_t position = first.offset + 1; position < end; ++position) {
        CFrameHeader other;
        if (ParseAt(position, freeLength, other) && WalkChain(other, freeLength).frames > frames) {
            return true;
        }
    }
    return false;
}

CFrameScanner::Verdict CFrameScanner::Judge(const CFrameHeader& first,
                                            std::int32_t freeLength) const {
    const Chain chain = WalkChain(first, freeLength);
    if (chain.frames >= kChainFrames) {
        return LongerChainOverlaps(first, freeLength, chain.frames) ? Verdict::kReject
                                                                    : Verdict::kAccept;
    }
    if (chain.broken) {
        return Verdict::kReject;
    }
    if (!inputEnded_) {
        return search_.fill == search_.capacity && !SearchCanSlide() ? Verdict::kReject
                                                                     : Verdict::kWait;
    }
    // A short chain of another format is taken for a pseudo frame in the
    // data (a change of format needs a whole chain).
    const bool change = FoundStream() && !first.SameStream(reference_);
    return chain.wholeFrames >= 1 && !change ? Verdict::kAccept : Verdict::kReject;
}

CFrameScanner::Verdict CFrameScanner::ExamineFreeFormat(const CFrameHeader& first) {
    // The frame runs up to the next free-format header of the same stream.
    const std::int32_t last = first.offset + kFrameBufferSize - 4;
    const std::int32_t end = std::min(last + 1, search_.fill - 3);
    for (std::int32_t position = first.offset + 4; position < end; ++position) {
        const std::uint8_t* data = search_.data.get() + position;
        CFrameHeader next;
        if (!IsSyncPattern(data[0], data[1]) || !next.Parse(data) || !next.IsFreeFormat() ||
            !next.SameStream(first)) {
            continue;
        }
        const std::int32_t unpadded = position - first.offset - first.padding * first.SlotSize();
        CFrameHeader sized = first;
        sized.SetFreeFormatLength(unpadded);
        if (!sized.IsScannable()) {
            continue;
        }
        const Verdict verdict = Judge(sized, unpadded);
        if (verdict == Verdict::kAccept) {
            freeFormatLength_ = unpadded;
            Accept(sized);
        }
        if (verdict != Verdict::kReject) {
            return verdict;
        }
    }
    const bool moreToCome = !inputEnded_ && search_.fill < search_.capacity;
    return end <= last && moreToCome ? Verdict::kWait : Verdict::kReject;
}

CFrameScanner::Verdict CFrameScanner::Examine(std::int32_t position) {
    const std::uint8_t* data = search_.data.get() + position;
    CFrameHeader header;
    if (!IsSyncPattern(data[0], data[1]) || !header.Parse(data)) {
        return Verdict::kReject;
    }
    header.offset = position;
    if (header.IsFreeFormat()) {
        if (freeFormatLength_ == 0) {
            return ExamineFreeFormat(header);
        }
        header.SetFreeFormatLength(freeFormatLength_);
    }
    if (!header.IsScannable()) {
        return Verdict::kReject;
    }
    const Verdict verdict = Judge(header, freeFormatLength_);
    if (verdict == Verdict::kAccept) {
        Accept(header);
    }
    return verdict;
}

void CFrameScanner::Accept(const CFrameHeader& first) {
    if (!FoundStream()) {
        reference_ = first;
        firstFramePosition_ = searchOrigin_ + first.offset;
    } else if (!first.SameStream(reference_) && !allowChange_) {
        streamChanged_ = true;
        return;
    }
    reference_ = first;
    search_.read = first.offset;
    ClearFrame();
    state_ = kHeaderBytes;
}

bool CFrameScanner::SearchChain() {
    while (SkipToSyncByte()) {
        const Verdict verdict = Examine(search_.read);
        if (verdict == Verdict::kAccept) {
            return !streamChanged_;
        }
        if (verdict == Verdict::kWait) {
            return false;
        }
        ++search_.read;
    }
    return false;
}

bool CFrameScanner::SkipToSyncByte() {
    if (search_.Unread() < 4) {
        return false;
    }
    const std::uint8_t* data = search_.data.get();
    const void* sync =
        std::memchr(data + search_.read, 0xFF, static_cast<std::size_t>(search_.Unread() - 3));
    search_.read = sync != nullptr
                       ? static_cast<std::int32_t>(static_cast<const std::uint8_t*>(sync) - data)
                       : search_.fill - 3;
    return sync != nullptr;
}

void CFrameScanner::LoseSync() {
    // The bytes after the refused header's first byte are searched again.
    const std::int32_t taken = frameFill_ - 1;
    if (current_ == &search_) {
        search_.read -= taken;
    } else {
        search_.Empty();
        std::memcpy(search_.data.get(), frame_.get() + 1, static_cast<std::size_t>(taken));
        std::memcpy(search_.data.get() + taken, streaming_.data.get() + streaming_.read,
                    static_cast<std::size_t>(streaming_.Unread()));
        search_.fill = taken + streaming_.Unread();
        streaming_.Empty();
        current_ = &search_;
    }
    searchStart_ = search_.read;
    ClearFrame();
    state_ = kSearch;
}

void CFrameScanner::CompactSearchBuffer() {
    const std::int32_t unread = search_.Unread();
    std::memmove(search_.data.get(), search_.data.get() + search_.read,
                 static_cast<std::size_t>(unread));
    search_.fill = unread;
    searchOrigin_ += search_.read;
    search_.read = 0;
    searchStart_ = 0;
}

void CFrameScanner::TakeBytes(std::int32_t until) {
    const std::int32_t n = std::min(until - frameFill_, current_->Unread());
    std::memcpy(frame_.get() + frameFill_, current_->data.get() + current_->read,
                static_cast<std::size_t>(n));
    frameFill_ += n;
    current_->read += n;
}

bool CFrameScanner::ContinuesStream(const std::uint8_t* bytes, CFrameHeader& header) const {
    if (!IsSyncPattern(bytes[0], bytes[1]) || !header.Parse(bytes)) {
        return false;
    }
    if (header.IsFreeFormat() && freeFormatLength_ > 0) {
        header.SetFreeFormatLength(freeFormatLength_);
    }
    return header.IsScannable() && header.SameStream(reference_);
}

void CFrameScanner::CheckHeader() {
    CFrameHeader header;
    if (ContinuesStream(frame_.get(), header)) {
        header_ = header;
        frameLength_ = header.frameLength;
        framePosition_ = inputPosition_ - current_->Unread() - kHeaderSize;
        state_ = kFrameBody;
        return;
    }
    LoseSync();
}

void CFrameScanner::CheckFollower() {
    CFrameHeader next;
    if (ContinuesStream(frame_.get() + frameLength_, next)) {
        followerRead_ = true;
        state_ = kFrameComplete;
        return;
    }
    HoldBack();
}

void CFrameScanner::HoldBack() {
    std::memcpy(held_.data.get(), frame_.get(), static_cast<std::size_t>(frameLength_));
    held_.header = header_;
    held_.position = framePosition_;
    held_.held = true;
    LoseSync();
}

bool CFrameScanner::ReleaseHeld(std::int32_t position) {
    if (!held_.held) {
        return false;
    }
    held_.held = false;
    if (position < held_.position + held_.header.frameLength) {
        ++droppedFrames_;
        return false;
    }
    header_ = held_.header;
    frameLength_ = header_.frameLength;
    framePosition_ = held_.position;
    std::memcpy(frame_.get(), held_.data.get(), static_cast<std::size_t>(frameLength_));
    frameFill_ = frameLength_;
    followerRead_ = false;
    state_ = kFrameComplete;
    return true;
}

void CFrameScanner::CompleteAtInputEnd() {
    if (state_ == kFrameBody && frameFill_ >= frameLength_) {
        followerRead_ = false;
        state_ = kFrameComplete;
    } else if (state_ == kSearch) {
        ReleaseHeld(std::numeric_limits<std::int32_t>::max());
    }
}

void CFrameScanner::Step() {
    switch (state_) {
    case kHeaderBytes:
        TakeBytes(4);
        if (frameFill_ == 4) {
            CheckHeader();
        }
        break;
    case kFrameBody:
        TakeBytes(frameLength_ + kHeaderSize);
        if (frameFill_ == frameLength_ + kHeaderSize) {
            CheckFollower();
        }
        break;
    case kSearch:
    case kFrameComplete:
        break;
    }
}

void CFrameScanner::RunMachine() {
    while (current_->Unread() > 0 && state_ != kFrameComplete) {
        if (state_ == kSearch) {
            const bool found = SearchChain();
            const std::int32_t chain = inputPosition_ - search_.fill + search_.read;
            if ((found || streamChanged_) && ReleaseHeld(chain)) {
                return;
            }
            if (!found) {
                return;
            }
        } else {
            Step();
        }
    }
}

bool CFrameScanner::NextFrame() {
    if (streamChanged_) {
        return false;
    }
    if (state_ == kFrameComplete && followerRead_) {
        std::memmove(frame_.get(), frame_.get() + frameLength_, kHeaderSize);
        frameFill_ = kHeaderSize;
        followerRead_ = false;
        CheckHeader();
    } else if (state_ == kFrameComplete) {
        ClearFrame();
        state_ = kHeaderBytes;
    }
    RunMachine();
    if (state_ != kFrameComplete && state_ != kSearch && current_ == &search_) {
        current_ = &streaming_;
        RunMachine();
    }
    if (inputEnded_ && state_ != kFrameComplete) {
        CompleteAtInputEnd();
    }
    return state_ == kFrameComplete;
}

std::int32_t CFrameScanner::Readable(const IFileAccess& file, std::int32_t wanted) const {
    if (inputEnd_ < 0) {
        return wanted;
    }
    return std::clamp(inputEnd_ - file.GetPosition(), 0, wanted);
}

bool CFrameScanner::Fill(IFileAccess& file) {
    if (state_ == kSearch) {
        if (!FoundStream() && !file.CanSeek() &&
            searchOrigin_ + search_.read >= kStreamSearchLimit) {
            giveUp_ = true;
            return true;
        }
        if (search_.fill == search_.capacity && (FoundStream() || SearchCanSlide())) {
            CompactSearchBuffer();
        }
        const std::int32_t room = search_.capacity - search_.fill;
        if (room == 0) {
            giveUp_ = !FoundStream();
            return true;
        }
        if (search_.fill == 0) {
            searchOrigin_ = file.GetPosition();
        }
        const std::int32_t wanted = Readable(file, std::min(room, kReadSize));
        const std::int32_t n =
            wanted > 0 ? file.Read(search_.data.get() + search_.fill, wanted) : 0;
        if (n < 1) {
            return false;
        }
        search_.fill += n;
        inputPosition_ = file.GetPosition();
        return true;
    }
    if (!streaming_.data) {
        streaming_.data = std::make_unique<std::uint8_t[]>(kStreamingBufferSize);
        streaming_.capacity = kStreamingBufferSize;
    }
    const std::int32_t wanted = Readable(file, kStreamingBufferSize);
    const std::int32_t n = wanted > 0 ? file.Read(streaming_.data.get(), wanted) : 0;
    if (n < 1) {
        return false;
    }
    streaming_.fill = n;
    streaming_.read = 0;
    inputPosition_ = file.GetPosition();
    return true;
}

bool CFrameScanner::GetFrame(IFileAccess& file) {
    if (NextFrame()) {
        return true;
    }
    while (!giveUp_ && !streamChanged_) {
        if (!Fill(file)) {
            if (inputEnded_) {
                return false;
            }
            // Chains that wait for more input now run to its end: search
            // again from where the search began.
            inputEnded_ = true;
            if (state_ == kSearch) {
                search_.read = searchStart_;
            }
            return NextFrame();
        }
        if (NextFrame()) {
            return true;
        }
    }
    return false;
}

} // namespace tesk::quor
