// crosscheck-layer3: encodes deterministic signals as Layer III at every
// sample rate, mono and stereo, at several bit rates, decodes each stream
// with the frame decoder and with libmad (its fixed-point output rounded to
// 16 bits without dither) and prints the sample counts, the largest
// difference and the PSNR per stream. Exit status 1 when a stream falls
// below the threshold (default 90 dB, or the first argument).
// With --corpus [THRESHOLD] it does the same for the generator's music corpus
// (short and mixed blocks, mid/side and intensity stereo).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "tools/crosscheck/layer3_decoders.h"
#include "tools/streamgen/music_corpus.h"
#include "tools/streamgen/streamgen.h"

namespace {

using tesk::quor::crosscheck::Decoded;
using tesk::quor::streamgen::ChannelMode;
using tesk::quor::streamgen::Layer;
using tesk::quor::streamgen::Signal;
using tesk::quor::streamgen::StreamOptions;

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
    const bool agree = agreement.psnr >= threshold && ours.errors == 0 &&
                       ours.samples.size() == theirs.samples.size();
    // A stream libmad also stumbles over is the encoder's fault, not a
    // disagreement between the decoders.
    const bool damaged = !agree && theirs.errors > 0;
    failures += agree || damaged ? 0 : 1;
    std::printf(
        "%-6d %-6s %5d %-6s %9zu %9zu %4d/%-4d %7d %9.2f%s\n", c.rate, c.stereo ? "stereo" : "mono",
        c.kbps, c.signal == Signal::kSweep ? "sweep" : "tones", ours.samples.size(),
        theirs.samples.size(), ours.errors, theirs.errors, agreement.max_difference, agreement.psnr,
        agree     ? ""
        : damaged ? "  damaged by the encoder (libmad reports errors)"
                  : "  BELOW");
}

int check_corpus(double threshold) {
    int failures = 0;
    std::printf("%-34s %9s %9s %9s %7s %9s\n", "stream", "quor", "libmad", "errors", "maxdiff",
                "psnr_db");
    for (const auto& entry : tesk::quor::streamgen::MusicCorpus()) {
        const auto stream = tesk::quor::streamgen::MusicStream(entry.options);
        const Decoded ours = tesk::quor::crosscheck::decode_with_quor(stream);
        const Decoded theirs =
            tesk::quor::crosscheck::decode_with_mad(tesk::quor::crosscheck::with_mad_guard(stream));
        const Agreement agreement = compare(ours.samples, theirs.samples);
        const bool agree = agreement.psnr >= threshold && ours.errors == 0 && theirs.errors == 0 &&
                           ours.samples.size() == theirs.samples.size();
        failures += agree ? 0 : 1;
        std::printf("%-34s %9zu %9zu %4d/%-4d %7d %9.2f%s\n", entry.name.c_str(),
                    ours.samples.size(), theirs.samples.size(), ours.errors, theirs.errors,
                    agreement.max_difference, agreement.psnr, agree ? "" : "  BELOW");
    }
    std::printf("%d corpus stream(s) below %.1f dB, with decoding errors or with different "
                "lengths\n",
                failures, threshold);
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--corpus") {
        return check_corpus(argc > 2 ? std::atof(argv[2]) : 90.0);
    }
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
            report(c, tesk::quor::crosscheck::decode_with_quor(stream.bytes),
                   tesk::quor::crosscheck::decode_with_mad(
                       tesk::quor::crosscheck::with_mad_guard(stream.bytes)),
                   threshold, failures);
        } catch (const std::exception& error) {
            std::printf("%-6d %-6s %5d not encoded: %s\n", c.rate, c.stereo ? "stereo" : "mono",
                        c.kbps, error.what());
        }
    }
    std::printf("%d stream(s) below %.1f dB, with decoding errors or with different lengths\n",
                failures, threshold);
    return failures == 0 ? 0 : 1;
}
