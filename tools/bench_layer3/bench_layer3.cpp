// bench-layer3: measures how fast the frame decoder turns Layer III into
// 16-bit PCM, against libmad (fixed point, synthesis and rounding to 16 bits
// included). Without files, streams are generated in memory: a stereo
// and a mono stream at 44.1 kHz and an MPEG-2 stream at 22.05 kHz, each a
// minute long. With files, each file is read into memory and repeated until
// it holds at least REPEAT_SECONDS of audio. Prints the decoding speed as a
// multiple of real time per stream and the median time ratio to libmad.
//
// Usage: bench-layer3 [ROUNDS] [FILE...]   (default 5 rounds; the best counts)

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/crosscheck/layer3_decoders.h"
#include "tools/streamgen/streamgen.h"

namespace {

using Clock = std::chrono::steady_clock;
using tesk::quor::streamgen::ChannelMode;
using tesk::quor::streamgen::Layer;
using tesk::quor::streamgen::Signal;
using tesk::quor::streamgen::StreamOptions;

// Best time over the rounds of one decoder, in seconds.
template <typename Decode> double best_time(int rounds, Decode decode, std::size_t& samples) {
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        samples = decode();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

constexpr double kRepeatSeconds = 60.0;

// Returns quor's time over libmad's for one stream of the given length.
double bench_stream(const char* name, const std::vector<std::uint8_t>& stream, double seconds,
                    int rounds) {
    using namespace tesk::quor::crosscheck;
    const auto guarded = with_mad_guard(stream);
    std::size_t samples = 0;
    const double quor = best_time(
        rounds, [&] { return decode_with_quor(stream).samples.size(); }, samples);
    std::printf("%-28s quor   %8.1f x real time (%zu samples)\n", name, seconds / quor, samples);
    const double mad = best_time(
        rounds, [&] { return decode_with_mad(guarded).samples.size(); }, samples);
    std::printf("%-28s libmad %8.1f x real time (%zu samples); quor takes %.2f x libmad's time\n",
                name, seconds / mad, samples, quor / mad);
    return quor / mad;
}

void bench(const char* name, const StreamOptions& options, int rounds) {
    const double seconds = static_cast<double>(options.samplesPerChannel) / options.sampleRate;
    bench_stream(name, tesk::quor::streamgen::Generate(options).bytes, seconds, rounds);
}

// Seconds of audio in a stream, from the samples libmad decodes of it.
double stream_seconds(const std::vector<std::uint8_t>& stream) {
    using namespace tesk::quor::crosscheck;
    mad_header header;
    mad_header_init(&header);
    mad_stream input;
    mad_stream_init(&input);
    const auto guarded = with_mad_guard(stream);
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

// Benchmarks each file; returns 1 when a file cannot be read or holds no audio.
int bench_files(int count, char** paths, int rounds) {
    std::vector<double> ratios;
    for (int i = 0; i < count; ++i) {
        std::ifstream file(paths[i], std::ios::binary);
        const std::vector<std::uint8_t> once{std::istreambuf_iterator<char>(file), {}};
        const double seconds = stream_seconds(once);
        if (!file.good() && !file.eof()) {
            std::fprintf(stderr, "bench-layer3: cannot read '%s'\n", paths[i]);
            return 1;
        }
        if (seconds <= 0.0) {
            std::fprintf(stderr, "bench-layer3: no frames in '%s'\n", paths[i]);
            return 1;
        }
        std::vector<std::uint8_t> stream;
        const int repeats = static_cast<int>(kRepeatSeconds / seconds) + 1;
        for (int r = 0; r < repeats; ++r) {
            stream.insert(stream.end(), once.begin(), once.end());
        }
        const std::string name = std::string(paths[i]).substr(std::string(paths[i]).rfind('/') + 1);
        ratios.push_back(bench_stream(name.c_str(), stream, seconds * repeats, rounds));
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median over %zu streams: quor takes %.2f x libmad's time (range %.2f to %.2f)\n",
                ratios.size(), ratios[ratios.size() / 2], ratios.front(), ratios.back());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (argc > 2) {
        return bench_files(argc - 2, argv + 2, rounds);
    }
    StreamOptions options;
    options.layer = Layer::kIII;
    options.signal = Signal::kSweep;
    options.samplesPerChannel = 44100 * 60;
    options.bitRateKbps = 128;
    bench("44.1 kHz stereo 128 kbit/s", options, rounds);
    options.mode = ChannelMode::kMono;
    options.bitRateKbps = 64;
    bench("44.1 kHz mono 64 kbit/s", options, rounds);
    options.mode = ChannelMode::kStereo;
    options.sampleRate = 22050;
    options.samplesPerChannel = 22050 * 60;
    options.bitRateKbps = 64;
    bench("22.05 kHz stereo 64 kbit/s", options, rounds);
    return 0;
}
