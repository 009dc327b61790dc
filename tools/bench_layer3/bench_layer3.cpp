// bench-layer3: measures how fast the frame decoder turns Layer III into
// 16-bit PCM, against libmad (fixed point, synthesis and rounding to 16 bits
// included). Without files it times the music corpus of the stream generator
// (short and mixed blocks, mid/side and intensity stereo, 11 to 48 kHz) and
// three streams of the encoder library (long blocks only), all generated in
// memory. With files, each file is read into memory. Every stream is
// repeated until it holds at least a minute of audio. Prints per stream the
// decoding speed as a multiple of real time (best process CPU time of the
// rounds) and quor's CPU time over libmad's, then the median and range of
// that ratio.
//
// Usage: bench-layer3 [--only quor|mad] [ROUNDS] [FILE...]
//   (default 5 rounds). --only runs one decoder, for counting its
//   instructions under callgrind (see instructions.sh).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/crosscheck/layer3_decoders.h"
#include "tools/streamgen/music_corpus.h"
#include "tools/streamgen/streamgen.h"

namespace {

using tesk::quor::streamgen::ChannelMode;
using tesk::quor::streamgen::Layer;
using tesk::quor::streamgen::Signal;
using tesk::quor::streamgen::StreamOptions;

constexpr double kRepeatSeconds = 60.0;

struct Settings {
    int rounds = 5;
    bool quor = true;
    bool mad = true;
};

// Best process CPU time over the rounds of one decoder, in seconds. Every
// round refills the output of the round before, so that only the first one
// grows it and touches its pages.
template <typename Decode> double best_time(int rounds, Decode decode) {
    double best = 1e30;
    tesk::quor::crosscheck::Decoded output;
    for (int round = 0; round < rounds; ++round) {
        const std::clock_t start = std::clock();
        decode(output);
        best = std::min(best, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    return best;
}

// Seconds of audio in a stream, from the frame headers libmad reads.
double stream_seconds(const std::vector<std::uint8_t>& stream) {
    const auto guarded = tesk::quor::crosscheck::with_mad_guard(stream);
    mad_header header;
    mad_header_init(&header);
    mad_stream input;
    mad_stream_init(&input);
    mad_stream_buffer(&input, guarded.data(), guarded.size());
    double seconds = 0.0;
    while (mad_header_decode(&header, &input) == 0 || MAD_RECOVERABLE(input.error)) {
        if (input.error == MAD_ERROR_NONE) {
            seconds += static_cast<double>(header.duration.seconds) +
                       static_cast<double>(header.duration.fraction) / MAD_TIMER_RESOLUTION;
        }
    }
    mad_stream_finish(&input);
    return seconds;
}

// Times both decoders on the stream repeated to at least kRepeatSeconds and
// adds quor's time over libmad's to `ratios`. False when it holds no frames.
bool bench_stream(const std::string& name, const std::vector<std::uint8_t>& once,
                  const Settings& settings, std::vector<double>& ratios) {
    using namespace tesk::quor::crosscheck;
    const double once_seconds = stream_seconds(once);
    if (once_seconds <= 0.0) {
        std::fprintf(stderr, "bench-layer3: no frames in '%s'\n", name.c_str());
        return false;
    }
    const int repeats = static_cast<int>(kRepeatSeconds / once_seconds) + 1;
    std::vector<std::uint8_t> stream;
    for (int r = 0; r < repeats; ++r) {
        stream.insert(stream.end(), once.begin(), once.end());
    }
    const double seconds = once_seconds * repeats;
    const auto guarded = with_mad_guard(stream);
    double quor = 0.0;
    double mad = 0.0;
    if (settings.quor) {
        quor =
            best_time(settings.rounds, [&](Decoded& output) { decode_with_quor(stream, output); });
        std::printf("%-36s %7.1f s  quor   %8.1f x real time\n", name.c_str(), seconds,
                    seconds / quor);
    }
    if (settings.mad) {
        mad =
            best_time(settings.rounds, [&](Decoded& output) { decode_with_mad(guarded, output); });
        std::printf("%-36s %7.1f s  libmad %8.1f x real time\n", name.c_str(), seconds,
                    seconds / mad);
    }
    if (settings.quor && settings.mad) {
        std::printf("%-36s quor takes %.2f x libmad's CPU time\n", name.c_str(), quor / mad);
        ratios.push_back(quor / mad);
    }
    return true;
}

std::string file_name(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// Benchmarks each file; false when one cannot be read or holds no frames.
bool bench_files(const std::vector<std::string>& paths, const Settings& settings,
                 std::vector<double>& ratios) {
    for (const std::string& path : paths) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "bench-layer3: cannot open '%s'\n", path.c_str());
            return false;
        }
        const std::vector<std::uint8_t> once{std::istreambuf_iterator<char>(file), {}};
        if (file.bad() || !bench_stream(file_name(path), once, settings, ratios)) {
            return false;
        }
    }
    return true;
}

void bench_generated(const Settings& settings, std::vector<double>& ratios) {
    for (const auto& entry : tesk::quor::streamgen::MusicCorpus()) {
        bench_stream(entry.name, tesk::quor::streamgen::MusicStream(entry.options), settings,
                     ratios);
    }
    StreamOptions options;
    options.layer = Layer::kIII;
    options.signal = Signal::kSweep;
    options.samplesPerChannel = 44100 * 10;
    options.bitRateKbps = 128;
    const auto encoded = [&](const char* name) {
        bench_stream(name, tesk::quor::streamgen::Generate(options).bytes, settings, ratios);
    };
    encoded("encoder-44100-stereo-128");
    options.mode = ChannelMode::kMono;
    options.bitRateKbps = 64;
    encoded("encoder-44100-mono-64");
    options.mode = ChannelMode::kStereo;
    options.sampleRate = 22050;
    options.samplesPerChannel = 22050 * 10;
    encoded("encoder-22050-stereo-64");
}

void print_summary(std::vector<double> ratios) {
    if (ratios.empty()) {
        return;
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median over %zu streams: quor takes %.2f x libmad's CPU time (%.2f to %.2f)\n",
                ratios.size(), ratios[ratios.size() / 2], ratios.front(), ratios.back());
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    int arg = 1;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--only") == 0) {
        settings.quor = std::strcmp(argv[arg + 1], "quor") == 0;
        settings.mad = std::strcmp(argv[arg + 1], "mad") == 0;
        if (!settings.quor && !settings.mad) {
            std::fprintf(stderr, "bench-layer3: --only takes 'quor' or 'mad', not '%s'\n",
                         argv[arg + 1]);
            return 2;
        }
        arg += 2;
    }
    if (arg < argc) {
        settings.rounds = std::max(1, std::atoi(argv[arg++]));
    }
    std::vector<double> ratios;
    if (arg < argc) {
        if (!bench_files({argv + arg, argv + argc}, settings, ratios)) {
            return 1;
        }
    } else {
        bench_generated(settings, ratios);
    }
    print_summary(ratios);
    return 0;
}
