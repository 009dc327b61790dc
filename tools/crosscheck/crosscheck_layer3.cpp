// crosscheck-layer3: encodes deterministic signals as Layer III at every
// sample rate, mono and stereo, at several bit rates, decodes each stream
// with the frame decoder and with libmad (its fixed-point output rounded to
// 16 bits without dither) and prints the sample counts, the largest
// difference and the PSNR per stream. Exit status 1 when a stream falls
// below the threshold (default 90 dB, or the first argument).

#include <mad.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "decoder/core/frame_decoder.h"
#include "tools/streamgen/streamgen.h"

namespace {

using tesk::quor::streamgen::ChannelMode;
using tesk::quor::streamgen::Layer;
using tesk::quor::streamgen::Signal;
using tesk::quor::streamgen::StreamOptions;

struct Decoded {
    std::vector<std::int16_t> samples;
    int errors = 0;
};

Decoded decode_with_quor(const std::vector<std::uint8_t>& stream) {
    using namespace tesk::quor;
    Decoded result;
    FrameDecoder* decoder = frame_decoder_create();
    if (decoder == nullptr) {
        throw std::bad_alloc();
    }
    std::vector<std::int16_t> frame(kMinOutputBytes / 2);
    const std::uint8_t* input = stream.data();
    int count = static_cast<int>(stream.size());
    for (;;) {
        int done = 0;
        const int status =
            decode_frame(*decoder, input, count, reinterpret_cast<unsigned char*>(frame.data()),
                         kMinOutputBytes, done);
        input = nullptr;
        count = 0;
        if (status == NEED_MORE) {
            break;
        }
        if (status == 0) {
            result.samples.insert(result.samples.end(), frame.begin(), frame.begin() + done / 2);
        } else {
            ++result.errors;
        }
    }
    frame_decoder_destroy(decoder);
    return result;
}

std::int16_t round_mad_sample(mad_fixed_t sample) {
    sample += 1L << (MAD_F_FRACBITS - 16);
    sample = std::clamp<mad_fixed_t>(sample, -MAD_F_ONE, MAD_F_ONE - 1);
    return static_cast<std::int16_t>(sample >> (MAD_F_FRACBITS + 1 - 16));
}

Decoded decode_with_mad(std::vector<std::uint8_t> stream) {
    stream.resize(stream.size() + MAD_BUFFER_GUARD, 0);
    mad_stream mstream;
    mad_frame mframe;
    mad_synth msynth;
    mad_stream_init(&mstream);
    mad_frame_init(&mframe);
    mad_synth_init(&msynth);
    mad_stream_buffer(&mstream, stream.data(), stream.size());
    Decoded result;
    for (;;) {
        if (mad_frame_decode(&mframe, &mstream) != 0) {
            if (MAD_RECOVERABLE(mstream.error)) {
                ++result.errors;
                continue;
            }
            break;
        }
        mad_synth_frame(&msynth, &mframe);
        const mad_pcm& pcm = msynth.pcm;
        for (unsigned i = 0; i < pcm.length; ++i) {
            for (unsigned ch = 0; ch < pcm.channels; ++ch) {
                result.samples.push_back(round_mad_sample(pcm.samples[ch][i]));
            }
        }
    }
    mad_synth_finish(&msynth);
    mad_frame_finish(&mframe);
    mad_stream_finish(&mstream);
    return result;
}

struct Agreement {
    std::size_t compared = 0;
    int max_difference = 0;
    double psnr = 0.0;
};

Agreement compare(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    Agreement result;
    result.compared = std::min(a.size(), b.size());
    double squares = 0.0;
    for (std::size_t i = 0; i < result.compared; ++i) {
        const int difference = std::abs(a[i] - b[i]);
        result.max_difference = std::max(result.max_difference, difference);
        squares += static_cast<double>(difference) * difference;
    }
    const double mean = result.compared > 0 ? squares / static_cast<double>(result.compared) : 0;
    result.psnr = mean == 0.0 ? 200.0 : 10.0 * std::log10(32767.0 * 32767.0 / mean);
    return result;
}

struct Case {
    int rate;
    bool stereo;
    int kbps;
    Signal signal;
};

// Every sample rate, mono and stereo, at bit rates across each version's
// range; the encoder takes MPEG-2.5 up to 64 kbit/s.
std::vector<Case> cases() {
    const int rates[] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};
    std::vector<Case> list;
    for (int rate : rates) {
        const bool mpeg1 = rate >= 32000;
        const std::vector<int> kbps = mpeg1           ? std::vector<int>{32, 128, 320}
                                      : rate >= 16000 ? std::vector<int>{8, 32, 64, 160}
                                                      : std::vector<int>{8, 24, 40, 64};
        for (bool stereo : {false, true}) {
            for (int k : kbps) {
                list.push_back(
                    {rate, stereo, k, k == kbps.back() ? Signal::kSweep : Signal::kTones});
            }
        }
    }
    return list;
}

void report(const Case& c, const Decoded& ours, const Decoded& theirs, double threshold,
            int& failures) {
    const Agreement agreement = compare(ours.samples, theirs.samples);
    const bool damaged = theirs.errors > 0;
    const bool ok = damaged || (agreement.psnr >= threshold && ours.errors == 0 &&
                                ours.samples.size() == theirs.samples.size());
    failures += ok ? 0 : 1;
    std::printf(
        "%-6d %-6s %5d %-6s %9zu %9zu %4d/%-4d %7d %9.2f%s\n", c.rate, c.stereo ? "stereo" : "mono",
        c.kbps, c.signal == Signal::kSweep ? "sweep" : "tones", ours.samples.size(),
        theirs.samples.size(), ours.errors, theirs.errors, agreement.max_difference, agreement.psnr,
        damaged ? "  damaged by the encoder (libmad reports errors)"
        : ok    ? ""
                : "  BELOW");
}

} // namespace

int main(int argc, char** argv) {
    const double threshold = argc > 1 ? std::atof(argv[1]) : 90.0;
    int failures = 0;
    std::printf("%-6s %-6s %5s %-6s %9s %9s %9s %7s %9s\n", "rate", "mode", "kbps", "signal",
                "quor", "libmad", "errors", "maxdiff", "psnr_db");
    for (const Case& c : cases()) {
        StreamOptions options;
        options.layer = Layer::kIII;
        options.sampleRate = c.rate;
        options.mode = c.stereo ? ChannelMode::kStereo : ChannelMode::kMono;
        options.bitRateKbps = c.kbps;
        options.samplesPerChannel = c.rate * 2;
        options.signal = c.signal;
        try {
            const auto stream = tesk::quor::streamgen::Generate(options);
            report(c, decode_with_quor(stream.bytes), decode_with_mad(stream.bytes), threshold,
                   failures);
        } catch (const std::exception& error) {
            std::printf("%-6d %-6s %5d not encoded: %s\n", c.rate, c.stereo ? "stereo" : "mono",
                        c.kbps, error.what());
        }
    }
    std::printf("%d stream(s) below %.1f dB, with decoding errors or with different lengths\n",
                failures, threshold);
    return failures == 0 ? 0 : 1;
}
