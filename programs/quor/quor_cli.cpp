#include "programs/quor/quor_cli.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "programs/common/decode_run.h"
#include "programs/common/plain_errors.h"
#include "programs/common/stream_report.h"
#include "quor/quor.h"

namespace tesk::quor::cli {

namespace {

namespace common = tesk::cli;

constexpr const char* kProgram = "quor";
constexpr std::int32_t kSmallestBuffer = 4;
constexpr int kLargestBuffer = 1 << 24;

constexpr const char* kUsage = "Usage: quor info FILE [--json]\n"
                               "       quor decode FILE... -o OUT [options]\n"
                               "Decodes MPEG audio files with the Quor library.\n"
                               "\n"
                               "  info                  the stream's duration, format and coding\n"
                               "  decode                decodes each FILE into OUT\n";

constexpr const char* kOwnOptions =
    "  --buffer BYTES        bytes asked of the decoder per call, 4 to 16777216\n";

struct HandleCloser {
    void operator()(QuorDecoder* handle) const { Quor_Destroy(handle); }
};
using Handle = std::unique_ptr<QuorDecoder, HandleCloser>;

// The decoder on the input with its stream information; throws
// InputError naming the cause.
class OpenStream {
public:
    OpenStream(const std::string& input, bool gapless) : m_input(input) {
        QuorDecoder* raw = nullptr;
        const std::int32_t created = input == "-"
                                         ? Quor_Create(&raw, QuorCallbacks{}, nullptr, QUOR_VERSION)
                                         : Quor_CreateUsingFile(&raw, input.c_str(), QUOR_VERSION);
        m_handle.reset(raw);
        check(created, true);
        check(Quor_SetOption(m_handle.get(), QUOR_OPTION_GAPLESS, gapless ? 1 : 0), true);
        check(Quor_GetFileInfo(m_handle.get(), &m_info), true);
        check(Quor_GetStreamFormat(m_handle.get(), &m_format), true);
    }

    void check(std::int32_t result, bool opening) const {
        if (result != QUOR_OK) {
            throw common::InputError(common::decoderCause(result, m_input, opening, seconds()));
        }
    }

    double seconds() const {
        std::int32_t ms = 0;
        return m_handle && Quor_GetTime(m_handle.get(), &ms) == QUOR_OK ? ms / 1000.0 : 0.0;
    }

    common::StreamReport report() const {
        common::StreamReport r;
        r.duration = m_info.durationMs < 0 ? -1.0 : m_info.durationMs / 1000.0;
        r.sampleRate = m_info.sampleRate;
        r.channels = m_info.channels;
        r.layer = m_format.layer;
        r.version = m_format.version;
        r.mode = m_format.mode;
        r.bitRate = m_info.bitRate;
        r.vbr = m_info.isVBR != 0;
        r.frames = m_format.frames;
        r.encoderDelay = m_info.encoderDelay;
        r.encoderPadding = m_info.encoderPadding;
        return r;
    }

    QuorDecoder* handle() const { return m_handle.get(); }
    const QuorFileInfo& info() const { return m_info; }

private:
    std::string m_input;
    Handle m_handle;
    QuorFileInfo m_info{};
    QuorStreamFormat m_format{};
};

class QuorReader : public common::AudioReader {
public:
    QuorReader(const std::string& input, const Options& options)
        : m_stream(input, options.gapless),
          m_buffer(static_cast<std::size_t>(options.bufferBytes)) {
        if (options.start > 0.0) {
            m_start = options.start;
            m_stream.check(Quor_SeekToTime(m_stream.handle(),
                                           static_cast<std::int32_t>(std::lround(m_start * 1000))),
                           false);
        }
    }

    common::PcmFormat format() override {
        return {m_stream.info().sampleRate, m_stream.info().channels, 2};
    }

    double remaining() override { return m_stream.info().durationMs / 1000.0 - m_start; }

    std::span<const std::uint8_t> read() override {
        for (;;) {
            std::int32_t delivered = 0;
            const auto size = static_cast<std::int32_t>(m_buffer.size());
            const double seconds = m_stream.seconds();
            const std::int32_t result =
                Quor_Decode(m_stream.handle(), m_buffer.data(), size, &delivered);
            if (result == QUOR_END) {
                return {};
            }
            m_stream.check(result, false);
            if (delivered > 0) {
                checkRate(seconds);
                return {m_buffer.data(), static_cast<std::size_t>(delivered)};
            }
        }
    }

private:
    // The output keeps one sample rate: a part of another rate ends the
    // decode (the plug-in, and so tesk, converts it instead).
    void checkRate(double seconds) {
        std::int32_t rate = m_stream.info().sampleRate;
        m_stream.check(Quor_GetDeliveredRate(m_stream.handle(), &rate), false);
        if (rate != m_stream.info().sampleRate) {
            char at[32];
            std::snprintf(at, sizeof at, "%.1f", seconds);
            throw common::InputError("the sample rate changes to " + std::to_string(rate) +
                                     " Hz at " + at + " s (tesk converts it)");
        }
    }

    OpenStream m_stream;
    std::vector<std::uint8_t> m_buffer;
    double m_start = 0.0;
};

int RunInfo(const Options& options) {
    const std::string& input = options.inputs.front();
    try {
        std::fputs(
            common::formatReport(OpenStream(input, options.gapless).report(), options.json).c_str(),
            stdout);
    } catch (const common::InputError& e) {
        common::reportFailure(kProgram, common::subjectName(input, false), e.what());
        return common::kExitFailure;
    }
    return common::kExitOk;
}

} // namespace

Options ParseArguments(const std::vector<std::string>& arguments) {
    Options options;
    common::parseCommandLine(
        arguments, options, [&](const std::string& argument, common::ArgumentReader& reader) {
            if (argument == "--buffer") {
                options.bufferBytes = common::parseInteger(argument, reader.valueOf(argument),
                                                           kSmallestBuffer, kLargestBuffer);
                return true;
            }
            return false;
        });
    return options;
}

int Run(const std::vector<std::string>& arguments) {
    Options options;
    try {
        options = ParseArguments(arguments);
    } catch (const common::UsageError& e) {
        std::fprintf(stderr, "quor: %s\nTry 'quor --help'.\n", e.what());
        return common::kExitUsage;
    }
    switch (options.command) {
    case common::Command::kHelp:
        std::printf("%s%s%s", kUsage, kOwnOptions, common::commonHelp());
        return common::kExitOk;
    case common::Command::kVersion:
        std::printf("quor %s (library %s, interface version %d)\n", TESK_QUOR_VERSION,
                    Quor_GetVersionString(), QUOR_VERSION);
        return common::kExitOk;
    case common::Command::kInfo:
        return RunInfo(options);
    case common::Command::kDecode:
        break;
    }
    return common::decodeAll(kProgram, options, [&](const std::string& input) {
        return std::make_unique<QuorReader>(input, options);
    });
}

} // namespace tesk::quor::cli
