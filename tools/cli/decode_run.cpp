#include "tools/cli/decode_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include <unistd.h>

#include "tools/cli/progress.h"

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

// True when writing target would replace the input itself.
bool replacesInput(const std::string& input, const std::string& target) {
    std::error_code error;
    return input != "-" && target != "-" && std::filesystem::equivalent(input, target, error);
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
    ProgressLine progress(!options.quiet && isatty(STDERR_FILENO) != 0, stderr);
    int status = kExitOk;
    for (const std::string& input : options.inputs) {
        const OutputTarget target = outputFor(options, input);
        const std::string name = options.inputs.size() > 1 ? input : std::string();
        try {
            if (replacesInput(input, target.path)) {
                throw OutputError("is the input itself; it is left as it is");
            }
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
