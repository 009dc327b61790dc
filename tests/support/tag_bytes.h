// Tags written byte by byte, as other programs write them: ID3v2 (versions
// 2, 3 and 4) and APEv2; streamgen writes the ID3v1 tag.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tesk_quor_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

inline Bytes joined(Bytes front, const Bytes& back) {
    front.insert(front.end(), back.begin(), back.end());
    return front;
}

// UTF-16 text, with a little-endian byte-order mark unless big-endian.
inline Bytes utf16(std::u16string_view text, bool bigEndian) {
    Bytes out = bigEndian ? Bytes{} : Bytes{0xFF, 0xFE};
    for (const char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(bigEndian ? unit >> 8 : unit));
        out.push_back(static_cast<std::uint8_t>(bigEndian ? unit : unit >> 8));
    }
    return out;
}

inline Bytes word(std::uint64_t value, int bytes, bool bigEndian = true) {
    Bytes out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * (bigEndian ? bytes - 1 - i : i))));
    }
    return out;
}

// A text frame's body: encoding 0 Latin-1, 1 UTF-16, 2 UTF-16BE, 3 UTF-8.
inline Bytes text(int encoding, const Bytes& value) {
    return joined({static_cast<std::uint8_t>(encoding)}, value);
}

// A picture frame's body (APIC; in version 2 PIC, whose format is the MIME
// type's last three letters).
inline Bytes picture(int version, int type, const std::string& mime, const Bytes& data) {
    const std::string format = version == 2 ? mime.substr(6, 3) : mime + '\0';
    return joined(bytesOf('\0' + format + static_cast<char>(type) + '\0'), data);
}

// An ID3v2 tag of a major version (2, 3 or 4) with frames of ids and bodies;
// claimedSize replaces the size in its header when not 0.
inline Bytes id3v2(int version, const std::vector<std::pair<std::string, Bytes>>& frames,
                   std::uint32_t claimedSize = 0) {
    const auto syncSafe = [](std::size_t v) {
        return static_cast<std::uint32_t>((v & 0x7F) | (v << 1 & 0x7F00) | (v << 2 & 0x7F0000) |
                                          (v << 3 & 0x7F000000));
    };
    Bytes body;
    for (const auto& [id, content] : frames) {
        const std::size_t size = content.size();
        body = joined(joined(body, bytesOf(id)),
                      word(version == 4 ? syncSafe(size) : size, version == 2 ? 3 : 4));
        body = joined(joined(body, word(0, version == 2 ? 0 : 2)), content);
    }
    body.resize(body.size() + 16, 0);
    const Bytes header = joined(bytesOf("ID3"), word(static_cast<std::uint64_t>(version) << 16, 3));
    return joined(joined(header, word(syncSafe(claimedSize != 0 ? claimedSize : body.size()), 4)),
                  body);
}

// An APEv2 tag of text items, with its footer and no header.
inline Bytes apeTag(const std::vector<std::pair<std::string, std::string>>& items) {
    Bytes body;
    for (const auto& [key, value] : items) {
        body = joined(joined(body, word(value.size(), 8, false)), bytesOf(key + '\0' + value));
    }
    Bytes out = joined(body, bytesOf("APETAGEX"));
    for (const std::size_t value : {std::size_t{2000}, body.size() + 32, items.size()}) {
        out = joined(out, word(value, 4, false));
    }
    out.resize(out.size() + 12, 0);
    return out;
}

} // namespace tesk_quor_test
