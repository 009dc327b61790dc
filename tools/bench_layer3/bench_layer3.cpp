// bench-layer3: measures how fast the frame decoder turns Layer III into
// 16-bit PCM, against libmad (fixed point, synthesis and rounding to 16 bits
// included) when it is available. Streams are generated in memory: a stereo
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

#ifdef TESK_QUOR_HAVE_MAD
#include <mad.h>
#endif

#include "decoder/core/frame_decoder.h"
#include "tools/streamgen/streamgen.h"

namespace {

using Clock = std::chrono::steady_clock;
using tesk::quor::streamgen::ChannelMode;
using tesk::quor::streamgen::Layer;
using tesk::quor::streamgen::Signal;
using tesk::quor::streamgen::StreamOptions;

// Decodes the whole stream; returns the number of 16-bit samples.
std::size_t decode_with_quor(const std::vector<std::uint8_t>& stream) {
    using namespace tesk::quor;
    FrameDecoder* decoder = frame_decoder_create();
    if (decoder == nullptr) {
        std::fprintf(stderr, "bench-layer3: cannot allocate a frame decoder\n");
        std::exit(1);
    }
    std::vector<unsigned char> frame(kMinOutputBytes);
    std::size_t samples = 0;
    const std::uint8_t* input = stream.data();
    int count = static_cast<int>(stream.size());
    for (;;) {
        int done = 0;
        const int status =
            decode_frame(*decoder, input, count, frame.data(), kMinOutputBytes, done);
        input = nullptr;
        count = 0;
        if (status == NEED_MORE) {
            break;
        }
        samples += static_cast<std::size_t>(done / 2);
    }
    frame_decoder_destroy(decoder);
    return samples;
}

#ifdef TESK_QUOR_HAVE_MAD
std::int16_t round_mad_sample(mad_fixed_t sample) {
    sample += 1L << (MAD_F_FRACBITS - 16);
    sample = std::clamp<mad_fixed_t>(sample, -MAD_F_ONE, MAD_F_ONE - 1);
    return static_cast<std::int16_t>(sample >> (MAD_F_FRACBITS + 1 - 16));
}

std::size_t decode_with_mad(const std::vector<std::uint8_t>& guarded_stream) {
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, guarded_stream.data(), guarded_stream.size());
    std::vector<std::int16_t> out(2 * 1152);
    std::size_t samples = 0;
    for (;;) {
        if (mad_frame_decode(&frame, &stream) != 0) {
            if (MAD_RECOVERABLE(stream.error)) {
                continue;
            }
            break;
        }
        mad_synth_frame(&synth, &frame);
        std::size_t n = 0;
        for (unsigned i = 0; i < synth.pcm.length; ++i) {
            for (unsigned ch = 0; ch < synth.pcm.channels; ++ch) {
                out[n++] = round_mad_sample(synth.pcm.samples[ch][i]);
            }
        }
        samples += n;
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    return samples;
}
#endif

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
    const auto stream = tesk::quor::streamgen::Generate(options).bytes;
    const double seconds = static_cast<double>(options.samplesPerChannel) / options.sampleRate;
    std::size_t samples = 0;
    const double quor = best_time(
        rounds, [&] { return decode_with_quor(stream); }, samples);
    std::printf("%-28s quor   %8.1f x real time (%zu samples)\n", name, seconds / quor, samples);
#ifdef TESK_QUOR_HAVE_MAD
    std::vector<std::uint8_t> guarded = stream;
    guarded.resize(guarded.size() + MAD_BUFFER_GUARD, 0);
    const double mad = best_time(
        rounds, [&] { return decode_with_mad(guarded); }, samples);
    std::printf("%-28s libmad %8.1f x real time (%zu samples); quor takes %.2f x libmad's time\n",
                name, seconds / mad, samples, quor / mad);
#endif
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
