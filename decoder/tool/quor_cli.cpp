#include "decoder/tool/quor_cli.h"

#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "quor/quor.h"

namespace tesk::quor::cli {

namespace {

constexpr const char* kUsage =
    "Usage: quor info FILE\n"
    "       quor decode [--seek MS] [--buffer BYTES] [--no-gapless] FILE OUT\n"
    "       quor --help | --version\n"
    "\n"
    "info    prints duration_ms, vbr, bitrate, sample_rate, channels, encoder_delay\n"
    "        and encoder_padding (-1 when the stream records none)\n"
    "decode  writes 16-bit PCM: a WAV file when OUT ends in .wav, else raw\n"
    "        little-endian interleaved samples\n"
    "FILE and OUT may be - for standard input and standard output.\n"
    "--seek MS       start decoding at MS milliseconds: the first sample written is\n"
    "                sample round(MS x rate / 1000) of a decode from the start\n"
    "--buffer BYTES  bytes asked of the decoder per call (default 4608, at least 4)\n"
    "--no-gapless    keep the encoder delay and padding that a stream's encoder tag\n"
    "                records (trimmed by default; also changes info's duration)\n";

constexpr std::int32_t kSmallestBuffer = 4;

struct HandleCloser {
    void operator()(QuorDecoder* handle) const { Quor_Destroy(handle); }
};
using Handle = std::unique_ptr<QuorDecoder, HandleCloser>;

bool ParseNumber(std::string_view text, std::int32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// Decodes UTF-8 into wide characters; a byte that starts no valid sequence
// becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = lead < 0x80 || (lead >= 0xC2 && lead < 0xF5 && i + length <= text.size());
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        out += static_cast<wchar_t>(valid ? code : 0xFFFD);
        i += valid ? length : 1;
    }
    return out;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

int Fail(std::FILE* err, const std::string& file, std::int32_t code) {
    std::fprintf(err, "quor: %s: %s (%d)\n", file.c_str(), ResultName(code), code);
    return kExitFailure;
}

// Creates the decoder on the input, sets the trimming and reads the stream
// information.
std::int32_t Open(const Options& options, Handle& handle, QuorFileInfo& info) {
    const std::string& input = options.input;
    QuorDecoder* raw = nullptr;
    std::int32_t result =
        input == "-" ? Quor_Create(&raw, QuorCallbacks{}, nullptr, QUOR_VERSION)
                     : Quor_CreateUsingFileW(&raw, Utf8ToWide(input).c_str(), QUOR_VERSION);
    handle.reset(raw);
    if (result == QUOR_OK) {
        result = Quor_SetOption(raw, QUOR_OPTION_GAPLESS, options.gapless ? 1 : 0);
    }
    return result == QUOR_OK ? Quor_GetFileInfo(raw, &info) : result;
}

void PutLE(std::uint8_t* p, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::array<std::uint8_t, 44> WavHeader(const QuorFileInfo& info, std::uint64_t dataBytes) {
    const auto data = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataBytes, 0xFFFFFFDBu));
    const auto rate = static_cast<std::uint32_t>(info.sampleRate);
    const auto channels = static_cast<std::uint32_t>(info.channels);
    std::array<std::uint8_t, 44> h{};
    std::memcpy(h.data(), "RIFF", 4);
    PutLE(h.data() + 4, 36 + data, 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutLE(h.data() + 16, 16, 4);
    PutLE(h.data() + 20, 1, 2);
    PutLE(h.data() + 22, channels, 2);
    PutLE(h.data() + 24, rate, 4);
    PutLE(h.data() + 28, rate * channels * 2, 4);
    PutLE(h.data() + 32, channels * 2, 2);
    PutLE(h.data() + 34, 16, 2);
    std::memcpy(h.data() + 36, "data", 4);
    PutLE(h.data() + 40, data, 4);
    return h;
}

int WriteFailure(std::FILE* err, const std::string& file) {
    std::fprintf(err, "quor: %s: cannot write: %s\n", file.c_str(), std::strerror(errno));
    return kExitFailure;
}

int RunInfo(const Options& options, std::FILE* out, std::FILE* err) {
    Handle handle;
    QuorFileInfo info{};
    const std::int32_t result = Open(options, handle, info);
    if (result != QUOR_OK) {
        return Fail(err, options.input, result);
    }
    std::fprintf(out, "duration_ms: %d\nvbr: %d\nbitrate: %d\nsample_rate: %d\nchannels: %d\n",
                 info.durationMs, info.isVBR, info.bitRate, info.sampleRate, info.channels);
    std::fprintf(out, "encoder_delay: %d\nencoder_padding: %d\n", info.encoderDelay,
                 info.encoderPadding);
    return kExitOk;
}

// Writes every decoded byte to sink; returns a QUOR_ code or, for a write
// failure, QUOR_OK with writeFailed set.
std::int32_t DecodeAll(QuorDecoder* handle, std::int32_t bufferBytes, std::FILE* sink,
                       std::uint64_t& written, bool& writeFailed) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(bufferBytes));
    for (;;) {
        std::int32_t delivered = 0;
        const std::int32_t result = Quor_Decode(handle, buffer.data(), bufferBytes, &delivered);
        if (result == QUOR_END) {
            return QUOR_OK;
        }
        if (result != QUOR_OK) {
            return result;
        }
        const auto n = static_cast<std::size_t>(delivered);
        if (std::fwrite(buffer.data(), 1, n, sink) != n) {
            writeFailed = true;
            return QUOR_OK;
        }
        written += n;
    }
}

int RunDecode(const Options& options, std::FILE* out, std::FILE* err) {
    Handle handle;
    QuorFileInfo info{};
    std::int32_t result = Open(options, handle, info);
    if (result == QUOR_OK && options.seekMs >= 0) {
        result = Quor_SeekToTime(handle.get(), options.seekMs);
    }
    if (result != QUOR_OK) {
        return Fail(err, options.input, result);
    }
    const bool toStdout = options.output == "-";
    std::FILE* sink = toStdout ? out : std::fopen(options.output.c_str(), "wb");
    if (sink == nullptr) {
        return WriteFailure(err, options.output);
    }
    const bool wav = EndsWith(options.output, ".wav");
    bool writeFailed = wav && std::fwrite(WavHeader(info, 0).data(), 1, 44, sink) != 44;
    std::uint64_t written = 0;
    if (!writeFailed) {
        result = DecodeAll(handle.get(), options.bufferBytes, sink, written, writeFailed);
    }
    if (wav && !writeFailed && std::fseek(sink, 0, SEEK_SET) == 0) {
        writeFailed = std::fwrite(WavHeader(info, written).data(), 1, 44, sink) != 44;
    }
    writeFailed = std::fflush(sink) != 0 || writeFailed;
    if (!toStdout) {
        writeFailed = std::fclose(sink) != 0 || writeFailed;
    }
    if (writeFailed) {
        return WriteFailure(err, options.output);
    }
    return result == QUOR_OK ? kExitOk : Fail(err, options.input, result);
}

bool ParseOption(std::string_view name, const char* value, Options& options, std::string& error) {
    std::int32_t number = 0;
    if (value == nullptr || !ParseNumber(value, number)) {
        error = std::string(name) + " needs a number";
        return false;
    }
    if (name == "--seek") {
        options.seekMs = number;
        if (number < 0) {
            error = "--seek needs a time of 0 or more milliseconds";
        }
    } else {
        options.bufferBytes = number;
        if (number < kSmallestBuffer) {
            error = "--buffer needs at least 4 bytes";
        }
    }
    return error.empty();
}

bool CheckOperands(const std::vector<std::string>& operands, Options& options, std::string& error) {
    if (operands.empty()) {
        error = "no command given";
        return false;
    }
    const std::string& command = operands[0];
    const std::size_t wanted = command == "info" ? 2 : command == "decode" ? 3 : 0;
    if (wanted == 0) {
        error = "unknown command '" + command + "'";
        return false;
    }
    if (operands.size() != wanted) {
        error = "'" + command + "' takes " + (wanted == 2 ? "FILE" : "FILE OUT");
        return false;
    }
    options.command = wanted == 2 ? Command::kInfo : Command::kDecode;
    options.input = operands[1];
    options.output = wanted == 3 ? operands[2] : std::string();
    return true;
}

} // namespace

const char* ResultName(std::int32_t code) {
    switch (code) {
    case QUOR_OK:
        return "QUOR_OK";
    case QUOR_END:
        return "QUOR_END";
    case QUOR_ERROR_PARAM:
        return "QUOR_ERROR_PARAM";
    case QUOR_ERROR_UNSUPPORTED:
        return "QUOR_ERROR_UNSUPPORTED";
    case QUOR_ERROR_MEMORY:
        return "QUOR_ERROR_MEMORY";
    case QUOR_ERROR_INTERNAL:
        return "QUOR_ERROR_INTERNAL";
    case QUOR_ERROR_DECODE:
        return "QUOR_ERROR_DECODE";
    case QUOR_ERROR_READ:
        return "QUOR_ERROR_READ";
    case QUOR_ERROR_SEEK:
        return "QUOR_ERROR_SEEK";
    case QUOR_ERROR_OPENFILE:
        return "QUOR_ERROR_OPENFILE";
    case QUOR_ERROR_WRONGSTATE:
        return "QUOR_ERROR_WRONGSTATE";
    case QUOR_ERROR_NOTAVAILABLE:
        return "QUOR_ERROR_NOTAVAILABLE";
    case QUOR_ERROR_INCOMPATIBLEVERSION:
        return "QUOR_ERROR_INCOMPATIBLEVERSION";
    default:
        return "unknown result";
    }
}

bool ParseArguments(int argc, const char* const* argv, Options& options, std::string& error) {
    std::vector<std::string> operands;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.command = Command::kHelp;
            return true;
        }
        if (arg == "--version") {
            options.command = Command::kVersion;
            return true;
        }
        if (arg == "--no-gapless") {
            options.gapless = false;
        } else if (arg == "--seek" || arg == "--buffer") {
            const char* value = i + 1 < argc ? argv[++i] : nullptr;
            if (!ParseOption(arg, value, options, error)) {
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option '" + std::string(arg) + "'";
            return false;
        } else {
            operands.emplace_back(arg);
        }
    }
    return CheckOperands(operands, options, error);
}

int Run(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    Options options;
    std::string error;
    if (!ParseArguments(argc, argv, options, error)) {
        std::fprintf(err, "quor: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    switch (options.command) {
    case Command::kHelp:
        std::fputs(kUsage, out);
        return kExitOk;
    case Command::kVersion:
        std::fprintf(out, "quor %s (interface version %d)\n", TESK_QUOR_VERSION, QUOR_VERSION);
        return kExitOk;
    case Command::kInfo:
        return RunInfo(options, out, err);
    case Command::kDecode:
        return RunDecode(options, out, err);
    }
    return kExitUsage;
}

} // namespace tesk::quor::cli
