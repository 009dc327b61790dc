// libFuzzer target: the plug-in's audio source as a host drives it. The
// first four bytes choose the output format, the source's options and a
// seek; the rest is the file, which the source opens by its path. Each input
// opens a source, decodes a few chunks, seeks, decodes to the end and closes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <tesk/AudioSource.h>
#include <tesk/host/PluginHost.h>
#include <zelm/Exception.h>

#include "plugin/Plugin.h"

namespace {

using tesk::audio::IAudioChunk;
using tesk::audio::IAudioSource;
using tesk::audio::SourceOption;
using zelm::P;

// Rates the converter serves, the file's own (0) and a few it refuses.
constexpr std::int32_t kRates[] = {0,     8000,  11025, 12000, 16000,  22050, 24000, 32000,
                                   44100, 48000, 88200, 96000, 192000, 7999,  44101, 1};
constexpr std::size_t kControlBytes = 4;
constexpr int kMostChunks = 4000;

// What the control bytes ask for.
struct Control {
    tesk::SourceFormat format{};
    bool gapless = false;
    bool highQuality = false;
    bool dither = false;
    int chunksBeforeSeek = 0;
    double seekSeconds = 0.0;
};

// Byte 0: rate (low 4 bits) and channels (0 to 15, above 8 refused). Byte 1:
// bytes per sample (0 to 3, 3 refused), gapless, high quality, dither and the
// chunks decoded before the seek. Bytes 2 and 3: the seek time in
// hundredths of a second, signed.
Control controlOf(const std::uint8_t* bytes) {
    Control control;
    control.format.size = sizeof control.format;
    control.format.sampleRate = kRates[bytes[0] & 15];
    control.format.channels = bytes[0] >> 4;
    control.format.bytesPerSample = bytes[1] & 3;
    control.gapless = (bytes[1] & 4) != 0;
    control.highQuality = (bytes[1] & 8) != 0;
    control.dither = (bytes[1] & 16) != 0;
    control.chunksBeforeSeek = (bytes[1] >> 5) * 3;
    const auto hundredths = static_cast<std::int16_t>(bytes[2] | bytes[3] << 8);
    control.seekSeconds = hundredths / 100.0;
    return control;
}

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::abort();
}

// The file the source opens: one memory file, rewritten for every input.
class MemoryFile {
public:
    MemoryFile() : m_fd(::memfd_create("tesk_fuzz", 0)) {
        if (m_fd < 0) {
            fail("tesk_fuzz: memfd_create");
        }
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }
    void write(const std::uint8_t* data, std::size_t size) const {
        if (::ftruncate(m_fd, 0) != 0 ||
            ::pwrite(m_fd, data, size, 0) != static_cast<ssize_t>(size)) {
            fail("tesk_fuzz: writing the memory file");
        }
    }

private:
    int m_fd;
};

// Chunks until the end or until count; every chunk holds whole sample frames,
// at least one: only the end comes without samples, as an empty holder.
void decodeChunks(IAudioSource& source, int count) {
    const int frameBytes = source.getChannels() * source.getBytesPerSample();
    for (int i = 0; i < count; ++i) {
        const P<IAudioChunk> chunk = source.decode();
        if (!chunk && !source.isEndOfStream()) {
            std::fputs("tesk_fuzz: no chunk before the end\n", stderr);
            std::abort();
        }
        if (!chunk) {
            return;
        }
        if (frameBytes <= 0 || chunk->getSize() <= 0 || chunk->getSize() % frameBytes != 0) {
            std::fprintf(stderr, "tesk_fuzz: a chunk of %d bytes in frames of %d bytes\n",
                         chunk->getSize(), frameBytes);
            std::abort();
        }
    }
}

void setOptions(IAudioSource& source, const Control& control) {
    source.setOption(tesk::audio::sourceOption(SourceOption::Gapless, control.gapless ? 1 : 0));
    source.setOption(
        tesk::audio::sourceOption(SourceOption::ResamplerQuality, control.highQuality ? 1 : 0));
    source.setOption(
        tesk::audio::sourceOption(SourceOption::EightBitDither, control.dither ? 1 : 0));
}

void play(IAudioSource& source, const Control& control) {
    try {
        source.open();
        source.getDuration();
        source.getMetaData();
        decodeChunks(source, control.chunksBeforeSeek);
        source.seek(control.seekSeconds);
        decodeChunks(source, kMostChunks);
    } catch (const zelm::CException&) {
        // A stream or format the source refuses: it says so and closes.
    }
    source.close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const MemoryFile file;
    static const P<tesk::quor::CPlugin> plugin(new tesk::quor::CPlugin(
        P<tesk::host::CPluginHost>(new tesk::host::CPluginHost(tesk::host::LogSink())).get()));
    if (size < kControlBytes || size > (1u << 24)) {
        return 0;
    }
    const Control control = controlOf(data);
    file.write(data + kControlBytes, size - kControlBytes);
    const zelm::String path = zelm::String::fromUTF8(file.path());
    const P<IAudioSource> source = P<IAudioSource>::dynamicCast(
        plugin->createSource(*path.getObject(), tesk::common::kAudioFlag, 0, &control.format));
    if (source) {
        setOptions(*source, control);
        play(*source, control);
    }
    return 0;
}
