#include "programs/common/decode_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string_view>

#include "programs/common/plain_errors.h"
#include "programs/common/progress.h"
#include "programs/common/system_seam.h"
#include "programs/common/temporary_files.h"

namespace tesk::cli {

namespace {

// The bytes of output the options allow, a whole number of sample frames.
std::uint64_t byteLimit(const CommonOptions& options, const PcmFormat& format) {
    if (!options.length) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    const auto frames =
        static_cast<std::uint64_t>(std::llround(*options.length * format.sampleRate));
    return frames * static_cast<std::uint64_t>(format.channels * format.bytesPerSample);
}

// The bytes the decode gives when the stream's length is known.
std::optional<std::uint64_t> expectedBytes(double seconds, const PcmFormat& format,
                                           std::uint64_t limit) {
    if (!(seconds > 0.0)) {
        return std::nullopt;
    }
    const auto frames = static_cast<std::uint64_t>(std::llround(seconds * format.sampleRate));
    return std::min(limit,
                    frames * static_cast<std::uint64_t>(format.channels * format.bytesPerSample));
}

// Why target must not be written, or "" when it may: only a file that is
// there can be spoilt. A path that cannot be looked at is left to the
// writing, which reports it.
std::string refusal(const CommonOptions& options, const std::string& target) {
    OutputPlace place;
    try {
        place = placeOf(target);
    } catch (const OutputError&) {
        return {};
    }
    if (place.kind != OutputKind::kFile || !place.exists) {
        return {};
    }
    for (const std::string& input : options.inputs) {
        if (os::sameFile(input, place.path)) {
            return "is the input itself; it is left as it is";
        }
    }
    return options.force ? "" : "exists; give -f to replace it";
}

// Reports every output that must not be written; true when there is one.
bool refuseOutputs(const std::string& program, const CommonOptions& options) {
    bool refused = false;
    for (const std::string& input : options.inputs) {
        const std::string target = outputFor(options, input).path;
        const std::string cause = refusal(options, target);
        if (!cause.empty()) {
            reportFailure(program, subjectName(target, true), cause);
            refused = true;
        }
    }
    return refused;
}

constexpr std::string_view kNoAudio = "no audio found";

// The next bytes of the reader. A failure (whose text says when it came)
// after audio was written keeps that audio: the output is finished first.
// A stream in which nothing decoded keeps nothing: what it gave was
// concealment only.
std::span<const std::uint8_t> readKeeping(AudioReader& reader, OutputFile& output) {
    try {
        return reader.read();
    } catch (const InputError& e) {
        if (output.getDataBytes() == 0 || e.what() == kNoAudio) {
            throw;
        }
        output.finish();
        throw InputError(std::string(e.what()) + "; the audio decoded before it is kept");
    }
}

// Why a decode gave no audio: a start time after the end (with the duration
// when that confirms it), or an input in which nothing decodes.
std::string noAudioCause(const CommonOptions& options, double remaining) {
    if (options.start <= 0.0) {
        return std::string(kNoAudio);
    }
    const double duration = remaining + options.start;
    char text[96];
    std::snprintf(text, sizeof text, "the start time %.3f s is past the end of the stream",
                  options.start);
    std::string cause = text;
    if (duration > 0.0 && duration <= options.start) {
        std::snprintf(text, sizeof text, " (%.3f s)", duration);
        cause += text;
    }
    return cause;
}

// An output folder named with a trailing slash is made when it is missing,
// as mkdir -p makes it. Throws OutputError.
void makeOutputFolder(const std::string& output) {
    std::error_code error;
    if (output.ends_with('/') && !std::filesystem::create_directories(output, error) && error) {
        throw OutputError("cannot make the folder: " + systemCause(error.value()));
    }
}

// Tells a reader's note on its own line: "PROGRAM: INPUT: note: ...".
using NoteTeller = std::function<void(const std::string& note)>;

void decodeOne(AudioReader& reader, const CommonOptions& options, const OutputTarget& target,
               ProgressLine& progress, const std::string& name, const NoteTeller& tell) {
    const PcmFormat format = reader.format();
    const double bytesPerSecond =
        static_cast<double>(format.sampleRate) * format.channels * format.bytesPerSample;
    const double remaining = reader.remaining();
    progress.begin(name, options.length && remaining > 0.0 ? std::min(*options.length, remaining)
                                                           : remaining);
    const std::uint64_t limit = byteLimit(options, format);
    OutputFile output(target.path, format, target.type == OutputType::kRaw,
                      expectedBytes(remaining, format, limit));
    while (output.getDataBytes() < limit) {
        const std::span<const std::uint8_t> bytes = readKeeping(reader, output);
        const std::string note = reader.takeNote();
        if (!note.empty()) {
            progress.end();
            tell(note);
        }
        if (bytes.empty()) {
            break;
        }
        const std::uint64_t wanted =
            std::min<std::uint64_t>(bytes.size(), limit - output.getDataBytes());
        output.write(bytes.data(), static_cast<std::size_t>(wanted));
        progress.show(static_cast<double>(output.getDataBytes()) / bytesPerSecond);
    }
    if (output.getDataBytes() == 0 && limit > 0) {
        throw InputError(noAudioCause(options, remaining));
    }
    output.finish();
    progress.end();
}

// The length of the well-formed UTF-8 character text begins with, or 0.
std::size_t characterLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text.front());
    const std::size_t length = lead < 0x80                    ? 1
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// A file name as it can be shown: a name is bytes, not always text.
std::string shownName(std::string_view name) {
    std::string shown;
    while (!name.empty()) {
        const std::size_t length = characterLength(name);
        const auto byte = static_cast<unsigned char>(name.front());
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            shown += escape;
            name.remove_prefix(1);
        } else {
            shown += name.substr(0, length);
            name.remove_prefix(length);
        }
    }
    return shown;
}

} // namespace

std::string outputRefusal(const CommonOptions& options, const std::string& target) {
    return refusal(options, target);
}

std::string subjectName(const std::string& path, bool output) {
    return path != "-" ? shownName(path) : output ? "standard output" : "standard input";
}

void reportFailure(const std::string& program, const std::string& subject,
                   const std::string& cause) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s: %s\n", program.c_str(), subject.c_str(), cause.c_str());
}

int decodeAll(const std::string& program, const CommonOptions& options, const ReaderFactory& open) {
    handleInterruptions();
    if (refuseOutputs(program, options)) {
        return kExitUsage;
    }
    try {
        makeOutputFolder(options.output);
    } catch (const OutputError& e) {
        reportFailure(program, subjectName(options.output, true), e.what());
        return kExitFailure;
    }
    ProgressLine progress(!options.quiet && os::isTerminal(stderr), stderr);
    int status = kExitOk;
    for (const std::string& input : options.inputs) {
        const OutputTarget target = outputFor(options, input);
        const std::string name = options.inputs.size() > 1 ? input : std::string();
        try {
            const std::unique_ptr<AudioReader> reader = open(input);
            decodeOne(*reader, options, target, progress, name, [&](const std::string& note) {
                reportFailure(program, subjectName(input, false), "note: " + note);
            });
        } catch (const InputError& e) {
            progress.end();
            reportFailure(program, subjectName(input, false), e.what());
            status = kExitFailure;
        } catch (const OutputError& e) {
            progress.end();
            reportFailure(program, subjectName(target.path, true), e.what());
            status = kExitFailure;
        }
    }
    return status;
}

} // namespace tesk::cli
