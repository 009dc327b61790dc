#include "programs/common/decode_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

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

void decodeOne(AudioReader& reader, const CommonOptions& options, const OutputTarget& target,
               ProgressLine& progress, const std::string& name) {
    const PcmFormat format = reader.format();
    const double bytesPerSecond =
        static_cast<double>(format.sampleRate) * format.channels * format.bytesPerSample;
    const double remaining = reader.remaining();
    progress.begin(name, options.length && remaining > 0.0 ? std::min(*options.length, remaining)
                                                           : remaining);
    OutputFile output(target.path, format, target.type == OutputType::kRaw);
    const std::uint64_t limit = byteLimit(options, format);
    while (output.getDataBytes() < limit) {
        const std::span<const std::uint8_t> bytes = reader.read();
        if (bytes.empty()) {
            break;
        }
        const std::uint64_t wanted =
            std::min<std::uint64_t>(bytes.size(), limit - output.getDataBytes());
        output.write(bytes.data(), static_cast<std::size_t>(wanted));
        progress.show(static_cast<double>(output.getDataBytes()) / bytesPerSecond);
    }
    output.finish();
    progress.end();
}

} // namespace

std::string subjectName(const std::string& path, bool output) {
    return path != "-" ? path : output ? "standard output" : "standard input";
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
    ProgressLine progress(!options.quiet && os::isTerminal(stderr), stderr);
    int status = kExitOk;
    for (const std::string& input : options.inputs) {
        const OutputTarget target = outputFor(options, input);
        const std::string name = options.inputs.size() > 1 ? input : std::string();
        try {
            const std::unique_ptr<AudioReader> reader = open(input);
            decodeOne(*reader, options, target, progress, name);
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
