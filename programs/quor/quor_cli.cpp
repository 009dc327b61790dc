#include "programs/quor/quor_cli.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "programs/common/decode_run.h"
#include "programs/common/plain_errors.h"
#include "programs/common/stream_report.h"
#include "quor/quor.h"
#include "resampling/sample_rate_converter.h"

namespace tesk::quor::cli {

namespace {

namespace common = tesk::cli;

constexpr const char* kProgram = "quor";
constexpr std::int32_t kSmallestBuffer = 4;
constexpr int kLargestBuffer = 1 << 24;

constexpr const char* kUsage = "Usage: quor info FILE [--json] [--picture OUT]\n"
                               "       quor decode FILE... -o OUT [options]\n"
                               "Decodes MPEG audio files with the Quor library.\n"
                               "\n"
                               "  info                  the stream's duration, format and coding\n"
                               "  decode                decodes each FILE into OUT\n";

constexpr const char* kOwnOptions =
    "  --buffer BYTES        bytes asked of the decoder per call, 4 to 16777216\n"
    "  --picture OUT         info: writes the front cover of the tags to OUT\n";

struct HandleCloser {
    void operator()(QuorDecoder* handle) const { Quor_Destroy(handle); }
};
using Handle = std::unique_ptr<QuorDecoder, HandleCloser>;

// The library's sample format for the options; 8-bit output is made from
// its 16-bit samples.
std::int32_t sampleFormatOf(const common::CommonOptions& options) {
    if (options.floatSamples) {
        return QUOR_SAMPLES_FLOAT;
    }
    switch (options.bits) {
    case 24:
        return QUOR_SAMPLES_INT24;
    case 32:
        return QUOR_SAMPLES_INT32;
    default:
        return QUOR_SAMPLES_INT16;
    }
}

// 16-bit samples as unsigned 8-bit ones in place, round(x / 256) + 128
// (halves away from zero) up to 255, as the plug-in makes them; returns the
// new size.
std::size_t toUnsignedBytes(std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size / 2; ++i) {
        std::int16_t sample = 0;
        std::memcpy(&sample, bytes + 2 * i, sizeof sample);
        bytes[i] = static_cast<std::uint8_t>(std::min(std::lround(sample / 256.0) + 128, 255L));
    }
    return size / 2;
}

// The parts of a joined stream that come at another sample rate go through
// the plug-in's converter (its high-quality resampler) to the rate the
// stream opened with, so that one output holds the whole stream; parts at
// the opening rate pass as they are. The decoder keeps the opening channel
// count and sample format in every part.
class PartConverter {
public:
    PartConverter(const common::PcmFormat& opening, std::int32_t decodedBytes)
        : m_opening(opening), m_decodedBytes(decodedBytes), m_rate(opening.sampleRate) {}

    // Appends the bytes of one decode, delivered at rate, to out in the
    // opening format. A new rate first ends the part before it.
    void add(std::span<const std::uint8_t> bytes, std::int32_t rate,
             std::vector<std::uint8_t>& out) {
        if (rate != m_rate) {
            finish(out);
            m_rate = rate;
            if (rate != m_opening.sampleRate) {
                m_converter = converterFrom(rate);
            }
        }
        if (!m_converter) {
            out.insert(out.end(), bytes.begin(), bytes.end());
            return;
        }
        append(
            m_converter->convert(bytes.data(), static_cast<std::int32_t>(bytes.size()), kAnyLayout),
            out);
    }

    // Appends what the converter of a converted part still holds.
    void finish(std::vector<std::uint8_t>& out) {
        if (m_converter) {
            append(m_converter->flush(), out);
            m_converter.reset();
        }
    }

private:
    using Converter = samplerateconverter::CSampleRateConverter;
    static constexpr std::int32_t kAnyLayout = -1;

    zelm::P<Converter> converterFrom(std::int32_t rate) const {
        samplerateconverter::ConversionOptions options;
        options.highQuality = true;
        options.floatSource = m_opening.isFloat;
        options.floatTarget = m_opening.isFloat;
        return Converter::create(rate, m_opening.channels, m_decodedBytes, m_opening.sampleRate,
                                 m_opening.channels, m_decodedBytes, {}, options);
    }

    static void append(const zelm::P<tesk::audio::IAudioChunk>& chunk,
                       std::vector<std::uint8_t>& out) {
        if (chunk && chunk->getSize() > 0) {
            out.insert(out.end(), chunk->getData(), chunk->getData() + chunk->getSize());
        }
    }

    common::PcmFormat m_opening;
    std::int32_t m_decodedBytes;
    std::int32_t m_rate;
    zelm::P<Converter> m_converter;
};

// The decoder on the input with its stream information; throws
// InputError naming the cause.
class OpenStream {
public:
    OpenStream(const std::string& input, const common::CommonOptions& options)
        : m_input(input), m_bits(options.bits), m_isFloat(options.floatSamples) {
        QuorDecoder* raw = nullptr;
        const std::int32_t created = input == "-"
                                         ? Quor_Create(&raw, QuorCallbacks{}, nullptr, QUOR_VERSION)
                                         : Quor_CreateUsingFile(&raw, input.c_str(), QUOR_VERSION);
        m_handle.reset(raw);
        check(created, true);
        check(Quor_SetOption(m_handle.get(), QUOR_OPTION_GAPLESS, options.gapless ? 1 : 0), true);
        check(Quor_SetOption(m_handle.get(), QUOR_OPTION_SAMPLE_FORMAT, sampleFormatOf(options)),
              true);
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
        common::addTags(r, [&](const char* key) { return tag(key); });
        std::int32_t length = 0;
        if (r.tagsNote.empty() &&
            Quor_GetTag(m_handle.get(), "title", nullptr, 0, &length) == QUOR_ERROR_UNSUPPORTED) {
            r.tagsNote = "the input cannot seek";
        }
        r.bits = m_bits;
        r.isFloat = m_isFloat;
        return r;
    }

    // The value of a tag key, "" when the stream has none.
    std::string tag(const char* key) const {
        std::int32_t length = 0;
        if (Quor_GetTag(m_handle.get(), key, nullptr, 0, &length) != QUOR_OK) {
            return {};
        }
        std::string value(static_cast<std::size_t>(length) + 1, '\0');
        if (Quor_GetTag(m_handle.get(), key, value.data(), length + 1, &length) != QUOR_OK) {
            return {};
        }
        value.resize(static_cast<std::size_t>(length));
        return value;
    }

    // The picture the tags describe; empty when they hold none.
    std::vector<std::uint8_t> picture() const {
        std::int32_t length = 0;
        std::vector<std::uint8_t> bytes;
        if (Quor_GetPicture(m_handle.get(), nullptr, 0, &length) == QUOR_OK) {
            bytes.resize(static_cast<std::size_t>(length));
            if (Quor_GetPicture(m_handle.get(), bytes.data(), length, &length) != QUOR_OK) {
                bytes.clear();
            }
        }
        return bytes;
    }

    QuorDecoder* handle() const { return m_handle.get(); }
    const QuorFileInfo& info() const { return m_info; }
    const QuorStreamFormat& format() const { return m_format; }

private:
    std::string m_input;
    int m_bits;
    bool m_isFloat;
    Handle m_handle;
    QuorFileInfo m_info{};
    QuorStreamFormat m_format{};
};

class QuorReader : public common::AudioReader {
public:
    QuorReader(const std::string& input, const Options& options)
        : m_stream(input, options), m_bits(options.bits), m_isFloat(options.floatSamples),
          // At least one sample frame of the samples asked of the library.
          m_buffer(static_cast<std::size_t>(std::max(
              options.bufferBytes, m_stream.info().channels * std::max(options.bits / 8, 2)))),
          m_parts({m_stream.info().sampleRate, m_stream.info().channels, 0, m_isFloat},
                  std::max(options.bits / 8, 2)),
          m_delivered(m_stream.format()) {
        if (options.start > 0.0) {
            m_start = options.start;
            m_stream.check(Quor_SeekToTime(m_stream.handle(),
                                           static_cast<std::int32_t>(std::lround(m_start * 1000))),
                           false);
        }
    }

    common::PcmFormat format() override {
        return {m_stream.info().sampleRate, m_stream.info().channels, m_bits / 8, m_isFloat};
    }

    double remaining() override { return m_stream.info().durationMs / 1000.0 - m_start; }

    std::span<const std::uint8_t> read() override {
        m_converted.clear();
        while (m_converted.empty()) {
            std::int32_t delivered = 0;
            const auto size = static_cast<std::int32_t>(m_buffer.size());
            const double seconds = m_stream.seconds();
            const std::int32_t result =
                Quor_Decode(m_stream.handle(), m_buffer.data(), size, &delivered);
            if (result == QUOR_END) {
                m_parts.finish(m_converted);
                break;
            }
            m_stream.check(result, false);
            if (delivered > 0) {
                followFormat(seconds);
                m_parts.add({m_buffer.data(), static_cast<std::size_t>(delivered)},
                            m_delivered.deliveredRate, m_converted);
            }
        }
        const std::size_t bytes = m_converted.size();
        return {m_converted.data(),
                m_bits == 8 ? toUnsignedBytes(m_converted.data(), bytes) : bytes};
    }

    std::string takeNote() override { return std::exchange(m_note, {}); }

private:
    // Notes a change of sample rate, version or layer in the samples just
    // delivered, which began at `seconds`: where the change lies, or that
    // the start time lies in a later part of such a format.
    void followFormat(double seconds) {
        QuorStreamFormat now{};
        m_stream.check(Quor_GetStreamFormat(m_stream.handle(), &now), false);
        const bool first = !std::exchange(m_begun, true);
        if (now.deliveredRate == m_delivered.deliveredRate &&
            now.deliveredVersion == m_delivered.deliveredVersion &&
            now.deliveredLayer == m_delivered.deliveredLayer) {
            return;
        }
        m_delivered = now;
        char text[160];
        std::snprintf(text, sizeof text,
                      first ? "the start time %.3f s lies in a part of %s layer %d at %d Hz"
                            : "at %.3f s the stream goes on as %s layer %d at %d Hz",
                      seconds, common::versionName(now.deliveredVersion).c_str(),
                      now.deliveredLayer, now.deliveredRate);
        m_note = text;
        if (now.deliveredRate != m_stream.info().sampleRate) {
            m_note += ", converted to " + std::to_string(m_stream.info().sampleRate) + " Hz";
        }
    }

    OpenStream m_stream;
    int m_bits;
    bool m_isFloat;
    std::vector<std::uint8_t> m_buffer;
    PartConverter m_parts;
    // The format of the part delivered last, and the note of its start.
    QuorStreamFormat m_delivered;
    std::string m_note;
    bool m_begun = false; // samples were delivered
    std::vector<std::uint8_t> m_converted;
    double m_start = 0.0;
};

// Writes the front cover to the --picture file, with the rules of every
// output file; false after a failure, which is reported.
bool WritePicture(const OpenStream& stream, const Options& options) {
    const std::vector<std::uint8_t> bytes = stream.picture();
    const std::string subject = common::subjectName(options.picture, true);
    if (bytes.empty()) {
        common::reportFailure(kProgram, common::subjectName(options.inputs.front(), false),
                              "no picture in its tags");
        return false;
    }
    try {
        common::OutputFile output(options.picture, {}, true);
        output.write(bytes.data(), bytes.size());
        output.finish();
    } catch (const common::OutputError& e) {
        common::reportFailure(kProgram, subject, e.what());
        return false;
    }
    return true;
}

int RunInfo(const Options& options) {
    const std::string& input = options.inputs.front();
    if (!options.picture.empty()) {
        const std::string cause = common::outputRefusal(options, options.picture);
        if (!cause.empty()) {
            common::reportFailure(kProgram, common::subjectName(options.picture, true), cause);
            return common::kExitUsage;
        }
    }
    try {
        const OpenStream stream(input, options);
        std::fputs(common::formatReport(stream.report(), options.json).c_str(), stdout);
        if (!options.picture.empty() && !WritePicture(stream, options)) {
            return common::kExitFailure;
        }
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
            if (argument == "--picture") {
                options.picture = reader.valueOf(argument);
                return true;
            }
            return false;
        });
    if (!options.picture.empty() && options.command != common::Command::kInfo) {
        throw common::UsageError("--picture goes with info only");
    }
    if (options.picture == "-") {
        throw common::UsageError("--picture needs a file, not standard output");
    }
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
