#include "zelm/URI.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "zelm/Exception.h"

namespace zelm {

namespace {

// A URI that could not be understood, kept only so that errors can quote it.
class CUnparsedURI : public CObject, public virtual IURI {
public:
    CUnparsedURI(const String& text, const String& scheme) : m_text(text), m_scheme(scheme) {}
    String getScheme() const override { return m_scheme; }
    String getPath() const override { return String(); }
    String toString() const override { return m_text; }

private:
    String m_text;
    String m_scheme;
};

[[noreturn]] void throwFormatError(const String& text) {
    throw CURIFormatError(P<IURI>(new CUnparsedURI(text, String())));
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

char toLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The scheme of "scheme:rest" in lower case, or nothing when the text does
// not begin with one (a plain path). One letter before the colon is not taken
// as a scheme, so that a drive-letter path is not mistaken for a URI.
std::optional<std::string> findScheme(std::string_view text) {
    if (text.empty() || !isAsciiLetter(text.front())) {
        return std::nullopt;
    }
    std::string scheme;
    for (char c : text) {
        if (c == ':') {
            return scheme.size() > 1 ? std::optional(scheme) : std::nullopt;
        }
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.') {
            return std::nullopt;
        }
        scheme += toLowerAscii(c);
    }
    return std::nullopt;
}

int hexValue(char c) {
    if (isAsciiDigit(c)) {
        return c - '0';
    }
    const char lower = toLowerAscii(c);
    return (lower >= 'a' && lower <= 'f') ? lower - 'a' + 10 : -1;
}

// The bytes of a percent-encoded text; nothing when an escape is malformed or
// decodes to a NUL byte, which no file name can hold.
std::optional<std::string> percentDecode(std::string_view encoded) {
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            bytes += encoded[i];
            continue;
        }
        if (i + 2 >= encoded.size()) {
            return std::nullopt;
        }
        const int high = hexValue(encoded[i + 1]);
        const int low = hexValue(encoded[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return bytes;
}

// Whether a byte stands for itself in the path of a URI's text form.
bool isPathCharacter(unsigned char c) {
    constexpr std::string_view kAllowed = "-._~!$&'()*+,;=:@/";
    return isAsciiLetter(static_cast<char>(c)) || isAsciiDigit(static_cast<char>(c)) ||
           kAllowed.find(static_cast<char>(c)) != std::string_view::npos;
}

std::string percentEncode(std::string_view bytes) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string encoded;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (isPathCharacter(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

// The path of a file URI's text after "file:": "///p", "//localhost/p" or "/p".
// A URI naming another host is not supported; other shapes are malformed.
std::string filePathPart(const String& text, std::string_view rest) {
    if (rest.find_first_of("?#") != std::string_view::npos) {
        throwFormatError(text);
    }
    if (rest.starts_with("//")) {
        const std::string_view afterSlashes = rest.substr(2);
        const std::size_t slash = afterSlashes.find('/');
        const std::string_view host = afterSlashes.substr(0, slash);
        if (slash == std::string_view::npos) {
            throwFormatError(text);
        }
        if (!host.empty() && host != "localhost") {
            throw CURITypeNotSupportedError(P<IURI>(new CUnparsedURI(text, String("file"))));
        }
        rest = afterSlashes.substr(slash);
    }
    if (!rest.starts_with('/')) {
        throwFormatError(text);
    }
    const std::optional<std::string> path = percentDecode(rest);
    if (!path) {
        throwFormatError(text);
    }
    return *path;
}

// A plain path made absolute against the current working directory; leading
// "./" segments of a relative path are dropped.
std::string absolutePath(std::string_view path) {
    if (path.starts_with('/')) {
        return std::string(path);
    }
    while (path.starts_with("./")) {
        path.remove_prefix(2);
    }
    std::string base = std::filesystem::current_path().string();
    if (!base.ends_with('/')) {
        base += '/';
    }
    return path == "." ? base : base + std::string(path);
}

} // namespace

CURI::CURI(const String& text) : m_scheme("file") {
    if (text.isNull() || text.isEmpty()) {
        throwFormatError(String(""));
    }
    const std::string utf8 = text.toUTF8Bytes();
    const std::optional<std::string> scheme = findScheme(utf8);
    if (!scheme) {
        m_path = String::fromUTF8(absolutePath(utf8));
    } else if (*scheme == "file") {
        m_path = String::fromUTF8(filePathPart(text, std::string_view(utf8).substr(5)));
    } else {
        throw CURITypeNotSupportedError(P<IURI>(new CUnparsedURI(text, String::fromUTF8(*scheme))));
    }
    m_text = String("file://") + String::fromUTF8(percentEncode(m_path.toUTF8Bytes()));
}

CURI::CURI(FromPath, const String& path)
    : m_scheme("file"), m_path(String::fromUTF8(absolutePath(path.toUTF8Bytes()))),
      m_text(String("file://") + String::fromUTF8(percentEncode(m_path.toUTF8Bytes()))) {}

P<CURI> CURI::fromPath(const String& path) {
    if (path.isNull() || path.isEmpty()) {
        throwFormatError(String(""));
    }
    return P<CURI>(new CURI(FromPath{}, path));
}

String CURI::getScheme() const {
    return m_scheme;
}

String CURI::getPath() const {
    return m_path;
}

String CURI::toString() const {
    return m_text;
}

} // namespace zelm
