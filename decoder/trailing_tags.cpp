#include "decoder/trailing_tags.h"

#include <cstring>

namespace tesk::quor {

namespace {

constexpr std::int32_t kID3v1Size = 128;
constexpr std::int32_t kApeFooterSize = 32;
constexpr std::uint32_t kApeHasHeader = 0x80000000u;
constexpr std::int32_t kLyricsEndSize = 15; // six size digits and "LYRICS200"
constexpr std::int32_t kLyricsBeginSize = 11;

std::uint32_t LittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Each reader returns the size of its tag ending at `end`, or 0.

std::int32_t ID3v1Size(std::int32_t start, std::int32_t end, const ReadAt& read) {
    std::uint8_t tag[3];
    return end - start >= kID3v1Size && read(end - kID3v1Size, tag, 3) &&
                   std::memcmp(tag, "TAG", 3) == 0
               ? kID3v1Size
               : 0;
}

std::int32_t ApeSize(std::int32_t start, std::int32_t end, const ReadAt& read) {
    std::uint8_t footer[kApeFooterSize];
    if (end - start < kApeFooterSize || !read(end - kApeFooterSize, footer, kApeFooterSize) ||
        std::memcmp(footer, "APETAGEX", 8) != 0) {
        return 0;
    }
    // The size counts the items and the footer; a header adds its 32 bytes.
    const std::int64_t size = static_cast<std::int64_t>(LittleEndian32(footer + 12)) +
                              ((LittleEndian32(footer + 20) & kApeHasHeader) != 0 ? 32 : 0);
    return size >= kApeFooterSize && size <= end - start ? static_cast<std::int32_t>(size) : 0;
}

std::int32_t LyricsSize(std::int32_t start, std::int32_t end, const ReadAt& read) {
    std::uint8_t tail[kLyricsEndSize];
    if (end - start < kLyricsEndSize || !read(end - kLyricsEndSize, tail, kLyricsEndSize) ||
        std::memcmp(tail + 6, "LYRICS200", 9) != 0) {
        return 0;
    }
    std::int64_t size = 0;
    for (std::int32_t i = 0; i < 6; ++i) {
        if (tail[i] < '0' || tail[i] > '9') {
            return 0;
        }
        size = size * 10 + (tail[i] - '0');
    }
    // The size counts everything from "LYRICSBEGIN" up to the size digits.
    const std::int64_t total = size + kLyricsEndSize;
    std::uint8_t begin[kLyricsBeginSize];
    if (size < kLyricsBeginSize || total > end - start ||
        !read(end - static_cast<std::int32_t>(total), begin, kLyricsBeginSize) ||
        std::memcmp(begin, "LYRICSBEGIN", kLyricsBeginSize) != 0) {
        return 0;
    }
    return static_cast<std::int32_t>(total);
}

} // namespace

std::int32_t AudioEnd(std::int32_t start, std::int32_t end, const ReadAt& read) {
    for (;;) {
        std::int32_t size = ID3v1Size(start, end, read);
        if (size == 0) {
            size = ApeSize(start, end, read);
        }
        if (size == 0) {
            size = LyricsSize(start, end, read);
        }
        if (size == 0) {
            return end;
        }
        end -= size;
    }
}

} // namespace tesk::quor
