// File access: the decoder's only way to its input. CQuorFileAccess forwards
// to the caller's callbacks and adds a position counter, an end flag, the last
// error, a skip that seeks over long distances, and a rewind buffer with marks
// so that probed bytes can be read again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "quor/quor.h"

namespace tesk::quor {

class IFileAccess {
public:
    virtual ~IFileAccess() = default;
    virtual std::int32_t Read(void* buffer, std::int32_t bytes) = 0;
    virtual std::int32_t Skip(std::int32_t bytes) = 0;
    virtual bool IsEOF() const = 0;
    virtual bool CanSeek() const = 0;
    virtual bool Seek(std::int32_t position) = 0;
    virtual std::int32_t GetPosition() const = 0;
    virtual std::int32_t GetLength() = 0;
};

class CQuorFileAccess final : public IFileAccess {
public:
    CQuorFileAccess(const QuorCallbacks& callbacks, void* user);
    CQuorFileAccess(const CQuorFileAccess&) = delete;
    CQuorFileAccess& operator=(const CQuorFileAccess&) = delete;

    std::int32_t Read(void* buffer, std::int32_t bytes) override;
    std::int32_t Skip(std::int32_t bytes) override;
    bool IsEOF() const override { return endOfStream_; }
    bool CanSeek() const override { return callbacks_.seek != nullptr; }
    bool Seek(std::int32_t position) override;
    std::int32_t GetPosition() const override { return position_; }
    std::int32_t GetLength() override;

    // Opens a mark: bytes read from here on can be delivered again.
    std::int32_t Mark();
    // Closes the newest mark, moving back to it when rewind is set.
    void ReleaseMark(std::int32_t mark, bool rewind);
    std::int32_t GetLastError() const { return lastError_; }

private:
    // Takes up to bytes unread bytes of the rewind buffer (copying them when
    // target is given) and returns their count.
    std::int32_t TakeBuffered(std::uint8_t* target, std::int32_t bytes);
    // Accounts for bytes that came from the callback; false when the
    // position would pass the largest addressable offset.
    bool Advance(const std::uint8_t* data, std::int32_t count);
    void AppendToRewind(const std::uint8_t* data, std::int32_t count);
    // Tries to pass over the remaining bytes with one seek; returns the step.
    std::int32_t SeekForward(std::int32_t remaining, bool& seekFailed);

    QuorCallbacks callbacks_;
    void* user_;
    std::int32_t position_ = 0;
    bool endOfStream_ = false;
    std::unique_ptr<std::uint8_t[]> rewind_;
    std::int32_t rewindCapacity_ = 0;
    std::int32_t rewindFill_ = 0;
    std::int32_t rewindRead_ = 0;
    std::int32_t marks_ = 0;
    std::unique_ptr<std::uint8_t[]> scratch_;
    std::int32_t lastError_ = 0;
};

// The callback set over a file opened for binary reading (the user value is
// the std::FILE*).
QuorCallbacks FileCallbacks();
// The callback set over a file that can neither seek nor tell its length
// (standard input, a pipe, a device; the user value is the std::FILE*).
QuorCallbacks StreamCallbacks();
// Opens a file named by a wide-character path for binary reading; null when
// it cannot be opened.
std::FILE* OpenWidePath(const wchar_t* path);
// Opens a file named by a UTF-8 path for binary reading; null, with errno
// set, when it cannot be opened or names a folder.
std::FILE* OpenUtf8Path(const char* path);
// The size of an open file in bytes, or -1 when it cannot be measured; the
// file position is left unchanged.
std::int64_t FileSize(std::FILE* file);

} // namespace tesk::quor
