// bench-layer3: measures how fast the frame decoder turns Layer III into
// 16-bit PCM, against libmad (fixed point, synthesis and rounding to 16 bits
// included). Streams are generated in memory: a stereo
// and a mono stream at 44.1 kHz and an MPEG-2 stream at 22.05 kHz, each a
// minute long. Prints the decoding speed as a multiple of real time.
//
// Usage: bench-layer3 [ROUNDS]   (default 5; the best round counts)

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

void bench(const char* name, const StreamOptions& options, int rounds) {
    using namespace tesk::quor::crosscheck;
    const auto stream = tesk::quor::streamgen::Generate(options).bytes;
    const auto guarded = with_mad_guard(stream);
    const double seconds = static_cast<double>(options.samplesPerChannel) / options.sampleRate;
    std::size_t samples = 0;
    const double quor = best_time(
        rounds, [&] { return decode_with_quor(stream).samples.size(); }, samples);
    std::printf("%-28s quor   %8.1f x real time (%zu samples)\n", name, seconds / quor, samples);
    const double mad = best_time(
        rounds, [&] { return decode_with_mad(guarded).samples.size(); }, samples);
    std::printf("%-28s libmad %8.1f x real time (%zu samples); quor takes %.2f x libmad's time\n",
                name, seconds / mad, samples, quor / mad);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
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
