#include "Player.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>

#include <tesk/AudioSource.h>
#include <tesk/host/PluginLoader.h>
#include <zelm/Exception.h>
#include <zelm/URI.h>

#include "programs/common/plain_errors.h"
#include "programs/common/stream_report.h"
#include "programs/common/system_seam.h"
#include "programs/common/temporary_files.h"

namespace tesk::player {

using zelm::P;
using zelm::String;

namespace {

// Flag bit 1 of createSource: the host wants an audio source.
constexpr int kAudioSourceFlag = 2;

// Standard input as a file the plug-in can open: the input itself when it
// is a regular file, else a copy in a temporary file removed at the end.
class StandardInputFile {
public:
    StandardInputFile() {
        m_path = cli::os::standardInputPath();
        if (!m_path.empty()) {
            return;
        }
        const std::filesystem::path folder = std::filesystem::temp_directory_path();
        try {
            m_copy = std::make_unique<cli::TemporaryFile>((folder / "tesk-stdin-XXXXXX").string());
        } catch (const std::system_error& e) {
            throw cli::InputError("cannot keep a copy: " + cli::systemCause(e.code().value()));
        }
        m_path = m_copy->path();
        copyInto(m_copy->openStream());
    }

    const std::string& path() const { return m_path; }

private:
    static void copyInto(std::FILE* copy) {
        char buffer[65536];
        std::size_t count = 0;
        bool written = copy != nullptr;
        while (written && (count = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
            written = std::fwrite(buffer, 1, count, copy) == count;
        }
        const int error = errno;
        written = copy != nullptr && std::fclose(copy) == 0 && written;
        if (!written || std::ferror(stdin) != 0) {
            throw cli::InputError("cannot keep a copy: " + cli::systemCause(error));
        }
    }

    std::string m_path;
    std::unique_ptr<cli::TemporaryFile> m_copy;
};

// An open audio source on the input, in the format the options ask for; the
// file's own rate and channel count where they ask for none. The plug-in's
// errors become cli::InputError in words.
class OpenSource {
public:
    OpenSource(common::ITESKPlugin& plugin, const Options& options, const std::string& input,
               int bytesPerSample)
        : m_input(input) {
        if (input == "-") {
            m_standardInput = std::make_unique<StandardInputFile>();
        }
        SourceFormat format{};
        format.size = sizeof format;
        format.sampleRate = options.rate.value_or(0);
        format.channels = options.channels.value_or(0);
        format.bytesPerSample = bytesPerSample;
        const std::string path = m_standardInput ? m_standardInput->path() : input;
        const String uri = zelm::CURI::fromPath(String::fromUTF8(path))->toString();
        const P<audio::ISource> source =
            plugin.createSource(*uri.getObject(), kAudioSourceFlag, 0, &format);
        m_source = P<audio::IAudioSource>::dynamicCast(source);
        if (!m_source) {
            throw cli::InputError("the plug-in offers no audio source for this file");
        }
        m_source->setOption(
            audio::sourceOption(audio::SourceOption::Gapless, options.gapless ? 1 : 0));
        m_source->setOption(audio::sourceOption(audio::SourceOption::ResamplerQuality,
                                                options.highQuality ? 1 : 0));
        guarded([&] { m_source->open(); });
    }
    ~OpenSource() { m_source->close(); }
    OpenSource(const OpenSource&) = delete;
    OpenSource& operator=(const OpenSource&) = delete;

    // Runs a call of the source; its error becomes cli::InputError.
    template <typename Call> auto guarded(Call call, double seconds = 0.0) -> decltype(call()) {
        try {
            return call();
        } catch (const zelm::CException& e) {
            throw cli::InputError(
                cli::pluginCause(e.getDescription().toStdString(), m_input, seconds));
        }
    }

    audio::IAudioSource* operator->() const { return m_source.get(); }

    // The stream as stored: the plug-in's metadata, a number or -1.
    int value(std::string_view name) const {
        const P<audio::IMetaData> data = P<audio::IMetaData>::dynamicCast(m_source->getMetaData());
        const std::string text =
            data ? data->getValue(String::fromUTF8(name)).toStdString() : std::string();
        return text.empty() ? -1 : std::stoi(text);
    }

private:
    std::string m_input;
    std::unique_ptr<StandardInputFile> m_standardInput;
    P<audio::IAudioSource> m_source;
};

class PluginReader : public cli::AudioReader {
public:
    PluginReader(common::ITESKPlugin& plugin, const Options& options, const std::string& input)
        : m_source(plugin, options, input, options.bits / 8), m_start(options.start) {
        if (m_start > 0.0) {
            m_source.guarded([&] { m_source->seek(m_start); });
        }
        m_format = {m_source->getSampleRate(), m_source->getChannels(),
                    m_source->getBytesPerSample()};
    }

    cli::PcmFormat format() override { return m_format; }

    double remaining() override { return m_source->getDuration() - m_start; }

    std::span<const std::uint8_t> read() override {
        const double bytesPerSecond =
            static_cast<double>(m_format.sampleRate) * m_format.channels * m_format.bytesPerSample;
        m_chunk = m_source.guarded([&] { return m_source->decode(); },
                                   m_start + static_cast<double>(m_bytesRead) / bytesPerSecond);
        if (!m_chunk || m_chunk->getSize() <= 0) {
            return {};
        }
        const auto size = static_cast<std::size_t>(m_chunk->getSize());
        m_bytesRead += size;
        return {m_chunk->getData(), size};
    }

private:
    OpenSource m_source;
    double m_start;
    cli::PcmFormat m_format;
    P<audio::IAudioChunk> m_chunk;
    std::uint64_t m_bytesRead = 0;
};

} // namespace

std::string locatePlugin(const std::string& programFolder) {
    for (const char* relative :
         {TESK_PLUGIN_FROM_INSTALLED_PROGRAM, TESK_PLUGIN_FROM_BUILT_PROGRAM}) {
        const std::filesystem::path candidate = std::filesystem::path(programFolder) / relative;
        if (std::filesystem::exists(candidate)) {
            return candidate.lexically_normal().string();
        }
    }
    return host::CPluginLoader::kDefaultPluginName;
}

void printInfo(common::ITESKPlugin& plugin, const Options& options, std::ostream& out) {
    const OpenSource source(plugin, options, options.inputs.front(), 0);
    cli::StreamReport report;
    report.duration = source->getDuration();
    report.sampleRate = source->getSampleRate();
    report.channels = source->getChannels();
    report.layer = source.value("layer");
    report.version = source.value("version");
    report.mode = source.value("mode");
    report.bitRate = source.value("bit_rate");
    report.vbr = source.value("vbr") == 1;
    report.frames = source.value("frames");
    report.encoderDelay = source.value("encoder_delay");
    report.encoderPadding = source.value("encoder_padding");
    out << cli::formatReport(report, options.json);
}

std::unique_ptr<cli::AudioReader> openReader(common::ITESKPlugin& plugin, const Options& options,
                                             const std::string& input) {
    return std::make_unique<PluginReader>(plugin, options, input);
}

} // namespace tesk::player
