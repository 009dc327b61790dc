#include "Player.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>

#include <tesk/AudioSource.h>
#include <tesk/host/PluginLoader.h>
#include <zelm/URI.h>

#include "OutputFile.h"

namespace tesk::player {

using zelm::P;
using zelm::String;

namespace {

// Flag bit 1 of createSource: the host wants an audio source.
constexpr int kAudioSourceFlag = 2;

// An open audio source on the file, in the format the options ask for; the
// file's own rate and channel count where they ask for none.
class OpenSource {
public:
    OpenSource(common::ITESKPlugin& plugin, const Options& options, int bytesPerSample) {
        SourceFormat format{};
        format.size = sizeof format;
        format.sampleRate = options.rate.value_or(0);
        format.channels = options.channels.value_or(0);
        format.bytesPerSample = bytesPerSample;
        const String uri = zelm::CURI::fromPath(String::fromUTF8(options.file))->toString();
        const P<audio::ISource> source =
            plugin.createSource(*uri.getObject(), kAudioSourceFlag, 0, &format);
        m_source = P<audio::IAudioSource>::dynamicCast(source);
        if (!m_source) {
            throw PlayerError("the plug-in offers no audio source for this file");
        }
        m_source->setOption(
            audio::sourceOption(audio::SourceOption::Gapless, options.gapless ? 1 : 0));
        m_source->setOption(audio::sourceOption(audio::SourceOption::ResamplerQuality,
                                                options.highQuality ? 1 : 0));
        m_source->open();
    }
    ~OpenSource() { m_source->close(); }
    OpenSource(const OpenSource&) = delete;
    OpenSource& operator=(const OpenSource&) = delete;

    audio::IAudioSource& operator*() const { return *m_source; }
    audio::IAudioSource* operator->() const { return m_source.get(); }

private:
    P<audio::IAudioSource> m_source;
};

PcmFormat formatOf(audio::IAudioSource& source) {
    return {source.getSampleRate(), source.getChannels(), source.getBytesPerSample()};
}

// The bytes of output the options allow, a whole number of sample frames.
std::uint64_t byteLimit(const Options& options, const PcmFormat& format) {
    if (!options.length) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    const auto frames =
        static_cast<std::uint64_t>(std::llround(*options.length * format.sampleRate));
    return frames * static_cast<std::uint64_t>(format.channels * format.bytesPerSample);
}

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
    const OpenSource source(plugin, options, 0);
    out << "plugin: " << plugin.getName().toStdString() << '\n';
    out << "version: " << plugin.getVersion() << '\n';
    out << "duration: " << source->getDuration() << '\n';
    out << "sample_rate: " << source->getSampleRate() << '\n';
    out << "channels: " << source->getChannels() << '\n';
    out << "bytes_per_sample: " << source->getBytesPerSample() << '\n';
}

void decodeFile(common::ITESKPlugin& plugin, const Options& options,
                const ProgressReport& progress) {
    const OpenSource source(plugin, options, options.bits / 8);
    if (options.start > 0.0) {
        source->seek(options.start);
    }
    const PcmFormat format = formatOf(*source);
    const double bytesPerSecond =
        static_cast<double>(format.sampleRate) * format.channels * format.bytesPerSample;
    const double duration = source->getDuration();
    const double total = options.length ? std::min(*options.length, duration - options.start)
                                        : duration - options.start;
    OutputFile output(options.output, format, options.raw);
    const std::uint64_t limit = byteLimit(options, format);
    while (output.getDataBytes() < limit) {
        const P<audio::IAudioChunk> chunk = source->decode();
        if (!chunk) {
            break;
        }
        const auto size = static_cast<std::uint64_t>(std::max(chunk->getSize(), 0));
        const std::uint64_t wanted = std::min(size, limit - output.getDataBytes());
        output.write(chunk->getData(), static_cast<std::size_t>(wanted));
        if (progress) {
            progress(static_cast<double>(output.getDataBytes()) / bytesPerSecond, total);
        }
    }
    output.finish();
}

} // namespace tesk::player
