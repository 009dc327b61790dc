#include "Player.h"

#include <algorithm>
#include <cmath>
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

namespace tesk::player {

using zelm::P;
using zelm::String;

namespace {

// Flag bit 1 of createSource: the host wants an audio source.
constexpr int kAudioSourceFlag = 2;

// An open audio source on the input, in the format the options ask for; the
// file's own rate and channel count where they ask for none. The plug-in's
// errors become cli::InputError in words.
class OpenSource {
public:
    OpenSource(common::ITESKPlugin& plugin, const Options& options, const std::string& input,
               int bytesPerSample)
        : m_input(input) {
        SourceFormat format{};
        format.size = sizeof format;
        format.sampleRate = options.rate.value_or(0);
        format.channels = options.channels.value_or(0);
        format.bytesPerSample = bytesPerSample;
        const std::string path = input == "-" ? cli::os::standardInputPath() : input;
        if (path.empty()) {
            throw cli::InputError("standard input cannot be opened through the plug-in here");
        }
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
        m_source->setOption(audio::sourceOption(audio::SourceOption::ReplayGain,
                                                static_cast<std::uint16_t>(options.replayGain)));
        m_source->setOption(audio::sourceOption(audio::SourceOption::ReplayGainPreamp,
                                                static_cast<std::uint16_t>(options.preampTenths)));
        m_source->setOption(
            audio::sourceOption(audio::SourceOption::FloatSamples, options.floatSamples ? 1 : 0));
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
        const std::string number = text(name);
        return number.empty() ? -1 : std::stoi(number);
    }

    // A value of the plug-in's metadata as UTF-8 text, "" when it has none.
    std::string text(std::string_view name) const {
        const P<audio::IMetaData> data = P<audio::IMetaData>::dynamicCast(m_source->getMetaData());
        return data ? data->getValue(String::fromUTF8(name)).toStdString() : std::string();
    }

private:
    std::string m_input;
    P<audio::IAudioSource> m_source;
};

class PluginReader : public cli::AudioReader {
public:
    PluginReader(common::ITESKPlugin& plugin, const Options& options, const std::string& input)
        : m_source(plugin, options, input, options.bits / 8), m_start(options.start) {
        m_format = {m_source->getSampleRate(), m_source->getChannels(),
                    m_source->getBytesPerSample(), options.floatSamples};
        if (m_start > 0.0 && m_source->isSeekable()) {
            m_source.guarded([&] { m_source->seek(m_start); });
        } else if (m_start > 0.0) {
            // An input that cannot seek is decoded from its start, and the
            // samples before the start time are dropped.
            m_skipBytes = static_cast<std::uint64_t>(std::llround(m_start * m_format.sampleRate)) *
                          static_cast<std::uint64_t>(m_format.channels * m_format.bytesPerSample);
        }
    }

    cli::PcmFormat format() override { return m_format; }

    double remaining() override { return m_source->getDuration() - m_start; }

    // The end is an empty holder or the source's end of stream; a chunk
    // without samples before it is passed over.
    std::span<const std::uint8_t> read() override {
        const double bytesPerSecond =
            static_cast<double>(m_format.sampleRate) * m_format.channels * m_format.bytesPerSample;
        for (;;) {
            m_chunk = m_source.guarded([&] { return m_source->decode(); },
                                       m_start + static_cast<double>(m_bytesRead) / bytesPerSecond);
            if (!m_chunk || m_chunk->getSize() <= 0) {
                if (m_chunk && !m_source->isEndOfStream()) {
                    continue;
                }
                return {};
            }
            std::span<const std::uint8_t> bytes(m_chunk->getData(),
                                                static_cast<std::size_t>(m_chunk->getSize()));
            const auto dropped =
                static_cast<std::size_t>(std::min<std::uint64_t>(m_skipBytes, bytes.size()));
            m_skipBytes -= dropped;
            bytes = bytes.subspan(dropped);
            if (!bytes.empty()) {
                m_bytesRead += bytes.size();
                return bytes;
            }
        }
    }

private:
    OpenSource m_source;
    double m_start;
    cli::PcmFormat m_format;
    P<audio::IAudioChunk> m_chunk;
    std::uint64_t m_bytesRead = 0;
    std::uint64_t m_skipBytes = 0; // still to drop before the start time
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
    const OpenSource source(plugin, options, options.inputs.front(), options.bits / 8);
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
    cli::addTags(report, [&](const char* key) { return source.text(key); });
    const std::string note = source.text("tags");
    if (report.tagsNote.empty() && note.starts_with("not read (")) {
        report.tagsNote = note.substr(10, note.size() - 11);
    }
    report.bits = source->getBytesPerSample() * 8;
    report.isFloat = options.floatSamples;
    out << cli::formatReport(report, options.json);
}

std::unique_ptr<cli::AudioReader> openReader(common::ITESKPlugin& plugin, const Options& options,
                                             const std::string& input) {
    return std::make_unique<PluginReader>(plugin, options, input);
}

} // namespace tesk::player
