#include "programs/common/plain_errors.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <quor/quor.h>

#include "programs/common/system_seam.h"

namespace tesk::cli {

namespace {

std::string at(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, " at %.1f s", seconds);
    return text;
}

// The text on one line: line breaks become "; ".
std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            line += "; ";
        } else if (c != '\r') {
            line += c;
        }
    }
    return line;
}

// The code in "Errorcode: NAME (CODE)"; false when the text holds none.
bool readPluginCode(const std::string& description, int& code) {
    const std::size_t name = description.find("\nErrorcode: ");
    const std::size_t open = description.find(" (", name);
    if (name == std::string::npos || open == std::string::npos) {
        return false;
    }
    const char* first = description.data() + open + 2;
    const auto [end, error] = std::from_chars(first, description.data() + description.size(), code);
    return error == std::errc() && *end == ')';
}

} // namespace

std::string systemCause(int error) {
    switch (error) {
    case ENOENT:
        return "no such file";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "is a folder";
    case ENOTDIR:
        return "a part of the path is not a folder";
    case ENOSPC:
        return "no space left on the device";
    default:
        break;
    }
    std::string cause = std::strerror(error);
    if (!cause.empty()) {
        cause.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(cause.front())));
    }
    return cause;
}

std::string inputCause(const std::string& path) {
    const int error = os::readingError(path);
    return error != 0 ? systemCause(error) : "cannot be opened";
}

std::string decoderCause(int code, const std::string& path, bool opening, double seconds) {
    std::error_code ignored;
    if (opening && std::filesystem::is_directory(path, ignored)) {
        return systemCause(EISDIR);
    }
    switch (code) {
    case QUOR_ERROR_OPENFILE:
        return inputCause(path);
    case QUOR_ERROR_DECODE:
        return opening ? "not an MPEG audio stream"
                       : "stream damaged beyond recovery" + at(seconds);
    case QUOR_ERROR_READ:
        return "read failed" + at(seconds);
    default:
        return Quor_StrError(code);
    }
}

std::string pluginCause(const std::string& description, const std::string& path, double seconds) {
    int code = 0;
    if (description.rfind("Message: ", 0) != 0 || !readPluginCode(description, code)) {
        return oneLine(description);
    }
    const bool opening = description.find(" failed\n") != std::string::npos;
    return decoderCause(code, path, opening, seconds);
}

} // namespace tesk::cli
