#include "decoder/file_access.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

namespace tesk::quor {

namespace {

constexpr std::int32_t kRewindGrowth = 8192;
constexpr std::int32_t kScratchSize = 8192;
constexpr std::int32_t kSeekThreshold = 1024;
constexpr std::int64_t kLargestPosition = std::numeric_limits<std::int32_t>::max();

std::int32_t FileRead(void* user, void* buffer, std::int32_t bytes) {
    auto* file = static_cast<std::FILE*>(user);
    const std::size_t count = std::fread(buffer, 1, static_cast<std::size_t>(bytes), file);
    if (count < static_cast<std::size_t>(bytes) && std::ferror(file) != 0) {
        return -1;
    }
    return static_cast<std::int32_t>(count);
}

std::int32_t FileSeek(void* user, std::int32_t position) {
    return std::fseek(static_cast<std::FILE*>(user), position, SEEK_SET) == 0 ? 1 : 0;
}

std::int32_t FileLength(void* user) {
    const std::int64_t size = FileSize(static_cast<std::FILE*>(user));
    return static_cast<std::int32_t>(std::min(size, kLargestPosition));
}

std::int32_t FilePosition(void* user) {
    const long position = std::ftell(static_cast<std::FILE*>(user));
    return static_cast<std::int32_t>(std::min<std::int64_t>(position, kLargestPosition));
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// File names are byte strings here; wide names are taken as Unicode and
// written as UTF-8 (UTF-16 surrogate pairs are joined where wchar_t is 16 bits).
std::string WidePathToUtf8(const wchar_t* path) {
    std::string out;
    for (const wchar_t* p = path; *p != L'\0'; ++p) {
        auto code = static_cast<std::uint32_t>(*p);
        if (code >= 0xD800 && code < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint32_t>(p[1]) - 0xDC00);
            ++p;
        }
        if (code > 0x10FFFF) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}

} // namespace

CQuorFileAccess::CQuorFileAccess(const QuorCallbacks& callbacks, void* user)
    : callbacks_(callbacks), user_(user) {
    position_ = std::max(callbacks_.getPosition(user_), 0);
}

std::int32_t CQuorFileAccess::TakeBuffered(std::uint8_t* target, std::int32_t bytes) {
    const std::int32_t k = std::min(bytes, rewindFill_ - rewindRead_);
    if (k <= 0) {
        return 0;
    }
    if (target != nullptr) {
        std::memcpy(target, rewind_.get() + rewindRead_, static_cast<std::size_t>(k));
    }
    rewindRead_ += k;
    position_ += k;
    if (rewindRead_ == rewindFill_ && marks_ == 0) {
        rewindFill_ = 0;
        rewindRead_ = 0;
    }
    return k;
}

void CQuorFileAccess::AppendToRewind(const std::uint8_t* data, std::int32_t count) {
    if (rewindRead_ + count > rewindCapacity_) {
        const std::int32_t shortfall = rewindRead_ - rewindCapacity_ + count;
        const std::int32_t growth = (shortfall + kRewindGrowth - 1) / kRewindGrowth * kRewindGrowth;
        auto grown = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(rewindCapacity_) +
                                                      static_cast<std::size_t>(growth));
        if (rewindFill_ > 0) {
            std::memcpy(grown.get(), rewind_.get(), static_cast<std::size_t>(rewindFill_));
        }
        rewind_ = std::move(grown);
        rewindCapacity_ += growth;
    }
    std::memcpy(rewind_.get() + rewindRead_, data, static_cast<std::size_t>(count));
    rewindRead_ += count;
    rewindFill_ = rewindRead_;
}

bool CQuorFileAccess::Advance(const std::uint8_t* data, std::int32_t count) {
    if (position_ + static_cast<std::int64_t>(count) > kLargestPosition) {
        lastError_ = QUOR_ERROR_UNSUPPORTED;
        return false;
    }
    position_ += count;
    if (marks_ > 0 && count > 0) {
        AppendToRewind(data, count);
    }
    return true;
}

std::int32_t CQuorFileAccess::Read(void* buffer, std::int32_t bytes) {
    if (bytes <= 0) {
        return 0;
    }
    auto* target = static_cast<std::uint8_t*>(buffer);
    const std::int32_t k = TakeBuffered(target, bytes);
    const std::int32_t wanted = bytes - k;
    if (wanted == 0) {
        return k;
    }
    std::int32_t r = callbacks_.read(user_, target + k, wanted);
    if (r < 0) {
        lastError_ = QUOR_ERROR_READ;
        return -1;
    }
    r = std::min(r, wanted);
    if (r < wanted) {
        endOfStream_ = true;
    }
    if (!Advance(target + k, r)) {
        return -1;
    }
    return k + r;
}

std::int32_t CQuorFileAccess::SeekForward(std::int32_t remaining, bool& seekFailed) {
    if (remaining <= kSeekThreshold || callbacks_.seek == nullptr || marks_ > 0) {
        return 0;
    }
    const std::int32_t length = GetLength();
    if (length < 0) {
        return 0;
    }
    const std::int32_t step = std::min<std::int64_t>(remaining, std::max(length - position_, 0));
    if (step <= 0) {
        return 0;
    }
    if (callbacks_.seek(user_, position_ + step) == 0) {
        seekFailed = true;
        return 0;
    }
    position_ += step;
    return step;
}

std::int32_t CQuorFileAccess::Skip(std::int32_t bytes) {
    if (bytes <= 0) {
        return 0;
    }
    std::int32_t skipped = TakeBuffered(nullptr, bytes);
    bool seekFailed = false;
    skipped += SeekForward(bytes - skipped, seekFailed);
    while (skipped < bytes) {
        if (endOfStream_) {
            return skipped;
        }
        if (!scratch_) {
            scratch_ = std::make_unique<std::uint8_t[]>(kScratchSize);
        }
        const std::int32_t wanted = std::min(bytes - skipped, kScratchSize);
        std::int32_t r = callbacks_.read(user_, scratch_.get(), wanted);
        if (r < 0) {
            lastError_ = seekFailed ? QUOR_ERROR_SEEK : QUOR_ERROR_READ;
            return -1;
        }
        r = std::min(r, wanted);
        if (r < wanted) {
            endOfStream_ = true;
        }
        if (!Advance(scratch_.get(), r)) {
            return -1;
        }
        skipped += r;
    }
    return skipped;
}

bool CQuorFileAccess::Seek(std::int32_t position) {
    if (position == position_) {
        return true;
    }
    if (marks_ > 0 || callbacks_.seek == nullptr) {
        return false;
    }
    if (callbacks_.seek(user_, position) == 0) {
        lastError_ = QUOR_ERROR_SEEK;
        return false;
    }
    // Bytes given back by a released mark belong to the old position.
    rewindFill_ = 0;
    rewindRead_ = 0;
    endOfStream_ = false;
    position_ = position;
    return true;
}

std::int32_t CQuorFileAccess::GetLength() {
    return callbacks_.getLength != nullptr ? callbacks_.getLength(user_) : -1;
}

std::int32_t CQuorFileAccess::Mark() {
    ++marks_;
    return rewindRead_;
}

void CQuorFileAccess::ReleaseMark(std::int32_t mark, bool rewind) {
    if (marks_ == 0) {
        return;
    }
    if (rewind) {
        position_ -= rewindRead_ - mark;
        if (rewindRead_ != mark) {
            endOfStream_ = false;
        }
        rewindRead_ = mark;
    }
    --marks_;
}

QuorCallbacks FileCallbacks() {
    return {FileRead, FileSeek, FileLength, FilePosition};
}

QuorCallbacks StreamCallbacks() {
    return {FileRead, nullptr, nullptr, FilePosition};
}

std::FILE* OpenWidePath(const wchar_t* path) {
    return OpenUtf8Path(WidePathToUtf8(path).c_str());
}

std::FILE* OpenUtf8Path(const char* path) {
    // The name in the system's own form: UTF-16 on Windows, whose narrow
    // file functions take the ANSI code page instead of UTF-8.
    const std::filesystem::path native(std::u8string(reinterpret_cast<const char8_t*>(path)));
    // A folder opens for reading on some systems but holds no stream.
    std::error_code ignored;
    if (std::filesystem::is_directory(native, ignored)) {
        errno = EISDIR;
        return nullptr;
    }
#if defined(_WIN32)
    return ::_wfopen(native.c_str(), L"rb");
#else
    return std::fopen(native.c_str(), "rb");
#endif
}

std::int64_t FileSize(std::FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long size = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0) {
        return -1;
    }
    return size;
}

} // namespace tesk::quor
