// Tags written byte by byte, as other programs write them: ID3v2 (versions
// 2, 3 and 4, every text encoding), APEv2 and ID3v1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tesk_quor_test {

using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

inline void appendBigEndian(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline void appendLittleEndian(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline std::uint32_t syncSafe(std::uint32_t value) {
    return (value & 0x7F) | (value << 1 & 0x7F00) | (value << 2 & 0x7F0000) |
           (value << 3 & 0x7F000000);
}

// UTF-8 text as UTF-16 code units, big-endian or little-endian.
inline Bytes utf16(const std::string& utf8, bool bigEndian) {
    Bytes out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        std::uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            code = code << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += static_cast<std::size_t>(extra) + 1;
        std::vector<std::uint16_t> units;
        if (code >= 0x10000) {
            units = {static_cast<std::uint16_t>(0xD800 + ((code - 0x10000) >> 10)),
                     static_cast<std::uint16_t>(0xDC00 + ((code - 0x10000) & 0x3FF))};
        } else {
            units = {static_cast<std::uint16_t>(code)};
        }
        for (const std::uint16_t unit : units) {
            out.push_back(static_cast<std::uint8_t>(bigEndian ? unit >> 8 : unit));
            out.push_back(static_cast<std::uint8_t>(bigEndian ? unit : unit >> 8));
        }
    }
    return out;
}

// UTF-8 text (of Latin-1 characters only, for encoding 0) in an ID3v2 text
// encoding: 0 Latin-1, 1 UTF-16 with byte-order mark, 2 UTF-16BE, 3 UTF-8;
// with the terminator when terminated.
inline Bytes encodedText(const std::string& utf8, int encoding, bool terminated) {
    Bytes out;
    if (encoding == 0) {
        for (std::size_t i = 0; i < utf8.size(); ++i) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            out.push_back(c < 0x80 ? c
                                   : static_cast<std::uint8_t>((c & 3) << 6 | (utf8[++i] & 0x3F)));
        }
    } else if (encoding == 1) {
        out = {0xFF, 0xFE};
        const Bytes units = utf16(utf8, false);
        out.insert(out.end(), units.begin(), units.end());
    } else if (encoding == 2) {
        out = utf16(utf8, true);
    } else {
        append(out, utf8);
    }
    if (terminated) {
        out.insert(out.end(), encoding == 1 || encoding == 2 ? 2 : 1, 0);
    }
    return out;
}

// An ID3v2 tag of one major version (2, 3 or 4) built frame by frame.
class Id3v2Writer {
public:
    explicit Id3v2Writer(int version) : m_version(version) {}

    Id3v2Writer& frame(const std::string& id, const Bytes& body) {
        append(m_frames, id);
        if (m_version == 2) {
            appendBigEndian(m_frames, static_cast<std::uint32_t>(body.size()), 3);
        } else {
            const auto size = static_cast<std::uint32_t>(body.size());
            appendBigEndian(m_frames, m_version == 4 ? syncSafe(size) : size, 4);
            appendBigEndian(m_frames, 0, 2);
        }
        m_frames.insert(m_frames.end(), body.begin(), body.end());
        return *this;
    }

    Id3v2Writer& text(const std::string& id, const std::string& value, int encoding) {
        Bytes body{static_cast<std::uint8_t>(encoding)};
        const Bytes encoded = encodedText(value, encoding, false);
        body.insert(body.end(), encoded.begin(), encoded.end());
        return frame(id, body);
    }

    Id3v2Writer& userText(const std::string& description, const std::string& value, int encoding) {
        Bytes body{static_cast<std::uint8_t>(encoding)};
        for (const Bytes& part :
             {encodedText(description, encoding, true), encodedText(value, encoding, false)}) {
            body.insert(body.end(), part.begin(), part.end());
        }
        return frame(m_version == 2 ? "TXX" : "TXXX", body);
    }

    Id3v2Writer& picture(int type, const std::string& mime, const Bytes& data) {
        Bytes body{0};
        if (m_version == 2) {
            append(body, mime == "image/png" ? "PNG" : "JPG");
        } else {
            append(body, mime);
            body.push_back(0);
        }
        body.push_back(static_cast<std::uint8_t>(type));
        body.push_back(0);
        body.insert(body.end(), data.begin(), data.end());
        return frame(m_version == 2 ? "PIC" : "APIC", body);
    }

    // The tag; claimedSize replaces the size in its header when not 0.
    Bytes bytes(std::uint32_t claimedSize = 0) const {
        Bytes out;
        append(out, "ID3");
        out.push_back(static_cast<std::uint8_t>(m_version));
        out.push_back(0);
        out.push_back(0);
        const auto size = static_cast<std::uint32_t>(m_frames.size() + kPadding);
        appendBigEndian(out, syncSafe(claimedSize != 0 ? claimedSize : size), 4);
        out.insert(out.end(), m_frames.begin(), m_frames.end());
        out.insert(out.end(), kPadding, 0);
        return out;
    }

private:
    static constexpr std::size_t kPadding = 16;
    int m_version;
    Bytes m_frames;
};

// An APEv2 tag of text items, with its footer and no header.
inline Bytes apeTag(const std::vector<std::pair<std::string, std::string>>& items) {
    Bytes body;
    for (const auto& [key, value] : items) {
        appendLittleEndian(body, static_cast<std::uint32_t>(value.size()));
        appendLittleEndian(body, 0);
        append(body, key);
        body.push_back(0);
        append(body, value);
    }
    Bytes out = body;
    append(out, "APETAGEX");
    appendLittleEndian(out, 2000);
    appendLittleEndian(out, static_cast<std::uint32_t>(body.size() + 32));
    appendLittleEndian(out, static_cast<std::uint32_t>(items.size()));
    appendLittleEndian(out, 0);
    out.insert(out.end(), 8, 0);
    return out;
}

// An ID3v1.1 tag (Latin-1 fields cut to their width).
inline Bytes id3v1Tag(const std::string& title, const std::string& artist, int track) {
    Bytes out;
    append(out, "TAG");
    for (const auto& [field, width] : std::vector<std::pair<std::string, std::size_t>>{
             {title, 30}, {artist, 30}, {"", 30}, {"1999", 4}, {"", 28}}) {
        Bytes bytes = encodedText(field, 0, false);
        bytes.resize(width, 0);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(track));
    out.push_back(17);
    return out;
}

} // namespace tesk_quor_test
