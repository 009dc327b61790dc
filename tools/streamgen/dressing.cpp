#include "tools/streamgen/dressing.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tesk::quor::streamgen {

namespace {

constexpr std::size_t kID3v1Size = 128;
constexpr std::uint32_t kApeVersion = 2000;
constexpr std::uint32_t kApeHasHeader = 0x80000000u;
constexpr std::uint32_t kApeIsHeader = 0x20000000u;

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// An APEv2 header or footer for a tag of `size` bytes (items and footer).
std::vector<std::uint8_t> ApeFrame(std::uint32_t size, std::uint32_t flags) {
    std::vector<std::uint8_t> out = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
    PutLittleEndian(out, kApeVersion);
    PutLittleEndian(out, size);
    PutLittleEndian(out, 1); // one item
    PutLittleEndian(out, flags);
    out.resize(32, 0);
    return out;
}

std::vector<std::uint8_t> TrailingID3v1() {
    std::vector<std::uint8_t> tag(kID3v1Size, 0);
    std::memcpy(tag.data(), "TAGdressed", 10);
    return tag;
}

void Insert(std::vector<std::uint8_t>& out, std::size_t at, const std::vector<std::uint8_t>& add) {
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), add.begin(), add.end());
}

} // namespace

void MakeFreeFormat(Stream& stream) {
    for (const std::int32_t offset : stream.frameOffsets) {
        stream.bytes[static_cast<std::size_t>(offset) + 2] &= 0x0F;
    }
}

void VaryHeaderFlags(Stream& stream) {
    for (std::size_t i = 0; i < stream.frameOffsets.size(); ++i) {
        const auto at = static_cast<std::size_t>(stream.frameOffsets[i]);
        const auto bits = static_cast<std::uint8_t>(i);
        stream.bytes[at + 2] =
            static_cast<std::uint8_t>((stream.bytes[at + 2] & 0xFE) | ((bits >> 2) & 1));
        stream.bytes[at + 3] = static_cast<std::uint8_t>((stream.bytes[at + 3] & 0xF0) |
                                                         ((bits >> 3) & 3) << 2 | (bits & 3));
    }
}

std::vector<std::uint8_t> ApeTag(std::int32_t itemBytes, bool withHeader) {
    const std::string key = "Comment";
    std::vector<std::uint8_t> items;
    PutLittleEndian(items, static_cast<std::uint32_t>(itemBytes));
    PutLittleEndian(items, 0);
    items.insert(items.end(), key.begin(), key.end());
    items.push_back(0);
    for (std::int32_t i = 0; i < itemBytes; ++i) {
        // Item values may hold any byte, also ones that look like sync words.
        items.push_back(static_cast<std::uint8_t>(i % 7 == 0 ? 0xFF : 0xF0 + i % 16));
    }
    const auto size = static_cast<std::uint32_t>(items.size() + 32);
    const std::uint32_t flags = withHeader ? kApeHasHeader : 0;
    std::vector<std::uint8_t> tag;
    if (withHeader) {
        tag = ApeFrame(size, flags | kApeIsHeader);
    }
    tag.insert(tag.end(), items.begin(), items.end());
    const std::vector<std::uint8_t> footer = ApeFrame(size, flags);
    tag.insert(tag.end(), footer.begin(), footer.end());
    return tag;
}

std::vector<std::uint8_t> Lyrics3Tag() {
    const std::string body = "LYRICSBEGININD0000210LYR00010generated";
    std::string size = std::to_string(body.size());
    size.insert(0, 6 - size.size(), '0');
    const std::string tag = body + size + "LYRICS200";
    return {tag.begin(), tag.end()};
}

std::vector<std::uint8_t> JunkWithHeaders(const Stream& stream, std::int32_t count,
                                          std::int32_t spacing) {
    std::vector<std::uint8_t> junk(static_cast<std::size_t>(count * spacing));
    for (std::size_t i = 0; i < junk.size(); ++i) {
        junk[i] = static_cast<std::uint8_t>((i * 37 + 11) % 255);
    }
    const auto first = static_cast<std::size_t>(stream.frameOffsets.front());
    for (std::int32_t i = 0; i < count; ++i) {
        std::memcpy(junk.data() + static_cast<std::size_t>(i * spacing), &stream.bytes[first], 4);
    }
    return junk;
}

void Join(Stream& stream, const Stream& next) {
    const auto shift = static_cast<std::int32_t>(stream.bytes.size());
    stream.bytes.insert(stream.bytes.end(), next.bytes.begin(), next.bytes.end());
    for (const std::int32_t offset : next.frameOffsets) {
        stream.frameOffsets.push_back(offset + shift);
    }
}

void Dress(Stream& stream, const Dressing& dressing, bool hasID3v1) {
    if (dressing.freeFormat) {
        MakeFreeFormat(stream);
    }
    if (dressing.varyFlags) {
        VaryHeaderFlags(stream);
    }
    std::size_t at = stream.bytes.size() - (hasID3v1 ? kID3v1Size : 0);
    if (dressing.apeBytes >= 0) {
        const std::vector<std::uint8_t> tag = ApeTag(dressing.apeBytes, dressing.apeHeader);
        Insert(stream.bytes, at, tag);
        at += tag.size();
    }
    if (dressing.lyrics3) {
        const std::vector<std::uint8_t> tag = Lyrics3Tag();
        Insert(stream.bytes, at, tag);
        at += tag.size();
    }
    if (dressing.id3v1) {
        Insert(stream.bytes, at, TrailingID3v1());
    }
}

} // namespace tesk::quor::streamgen
