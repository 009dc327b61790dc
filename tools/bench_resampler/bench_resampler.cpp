// Quality and speed of the plug-in's two resamplers next to libsoxr's quick,
// high and very high quality settings.
//
// Quality, per rate pair and resampler (mono tones, 16-bit input; the output
// is taken before 16-bit rounding where the resampler offers it):
//   ripple   largest deviation of the gain from its value at 1 kHz, for
//            tones up to 0.9 x the lower Nyquist frequency (+- dB)
//   stop     weakest attenuation of a tone above the lower Nyquist
//            frequency: its alias in the output when decimating, its image
//            when interpolating
//   tone     the alias or image of the pair's named tone, against the tone
//   edge     gain at the pair's named high frequency against 1 kHz
//   THD+N    of a 1 kHz and a 15 kHz sine at -1 dBFS: everything but the
//            fitted fundamental (the 16-bit input alone gives -97.1 dB)
// Speed: stereo 16-bit frames per second of processor time (best of five),
// interleaved in and out, fed in blocks of 4096 frames; the plug-in's modes
// run through the converter.
//
// Run: cmake --build build --target bench_resampler && build/tools/bench_resampler/bench_resampler

#include "resampling/resampler.h"
#include "resampling/sample_rate_converter.h"
#include "resampling/studio_resampler.h"
#include "tools/tone_fit/tone_fit.h"

#ifdef TESK_QUOR_HAVE_SOXR
#include <soxr.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using Shorts = std::vector<std::int16_t>;
using Signal = std::vector<double>;
namespace src = tesk::samplerateconverter;

constexpr std::size_t kBlock = 4096;
constexpr std::size_t kEdge = 1200;
constexpr double kFullScale = 32768.0;

// One resampler under test.
class Resampler {
public:
    virtual ~Resampler() = default;
    virtual std::string name() const = 0;
    // A whole mono stream at one rate into another, fed block by block.
    virtual Signal mono(int inRate, int outRate, const Shorts& input) const = 0;
    // Interleaved stereo; returns the frames written.
    virtual std::size_t stereo(int inRate, int outRate, const Shorts& input) const = 0;
};

// Feeds a mono stream to a resampler that carries unconsumed input back to
// the caller, as the converter does.
template <class Run> Signal feedCarrying(const Shorts& input, Run run) {
    Signal output;
    Shorts pending;
    for (std::size_t start = 0; start < input.size(); start += kBlock) {
        const std::size_t end = std::min(input.size(), start + kBlock);
        pending.insert(pending.end(), input.begin() + static_cast<std::ptrdiff_t>(start),
                       input.begin() + static_cast<std::ptrdiff_t>(end));
        const std::size_t consumed = run(pending, output);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(consumed));
    }
    return output;
}

// Stereo through the converter the plug-in uses.
std::size_t stereoThroughConverter(int inRate, int outRate, const Shorts& input, bool highQuality) {
    const zelm::P<src::CSampleRateConverter> converter =
        src::CSampleRateConverter::create(inRate, 2, 2, outRate, 2, 2, nullptr, {highQuality});
    std::size_t frames = 0;
    for (std::size_t start = 0; start < input.size(); start += 2 * kBlock) {
        const std::size_t length = std::min(2 * kBlock, input.size() - start);
        frames += static_cast<std::size_t>(
                      converter->convert(input.data() + start, static_cast<int>(length * 2), -1)
                          ->getSize()) /
                  4;
    }
    return frames;
}

class FastResampler final : public Resampler {
public:
    std::string name() const override { return "fast"; }

    Signal mono(int inRate, int outRate, const Shorts& input) const override {
        std::unique_ptr<src::ResampleContext, void (*)(src::ResampleContext*)> context(
            src::av_resample_init(outRate, inRate, 16, 10, 0, 1.0), src::av_resample_close);
        Shorts dst(96000);
        return feedCarrying(input, [&](Shorts& pending, Signal& output) {
            int consumed = 0;
            const int written =
                src::av_resample(context.get(), dst.data(), pending.data(), &consumed,
                                 static_cast<int>(pending.size()), static_cast<int>(dst.size()), 1);
            output.insert(output.end(), dst.begin(), dst.begin() + written);
            return static_cast<std::size_t>(consumed);
        });
    }

    std::size_t stereo(int inRate, int outRate, const Shorts& input) const override {
        return stereoThroughConverter(inRate, outRate, input, false);
    }
};

class HighResampler final : public Resampler {
public:
    std::string name() const override { return "high"; }

    Signal mono(int inRate, int outRate, const Shorts& input) const override {
        src::CStudioResampler resampler(
            std::make_shared<const src::CStudioFilter>(inRate, outRate));
        std::vector<float> dst(96000);
        return feedCarrying(input, [&](Shorts& pending, Signal& output) {
            int consumed = 0;
            const int written =
                resampler.resample(dst.data(), pending.data(), &consumed,
                                   static_cast<int>(pending.size()), static_cast<int>(dst.size()));
            output.insert(output.end(), dst.begin(), dst.begin() + written);
            return static_cast<std::size_t>(consumed);
        });
    }

    std::size_t stereo(int inRate, int outRate, const Shorts& input) const override {
        return stereoThroughConverter(inRate, outRate, input, true);
    }
};

#ifdef TESK_QUOR_HAVE_SOXR
class SoxrResampler final : public Resampler {
public:
    SoxrResampler(const char* label, unsigned long recipe) : m_label(label), m_recipe(recipe) {}
    std::string name() const override { return m_label; }

    Signal mono(int inRate, int outRate, const Shorts& input) const override {
        std::vector<float> out;
        run(inRate, outRate, 1, input, SOXR_FLOAT32_I, &out);
        return Signal(out.begin(), out.end());
    }

    std::size_t stereo(int inRate, int outRate, const Shorts& input) const override {
        return run<std::int16_t>(inRate, outRate, 2, input, SOXR_INT16_I, nullptr) / 2;
    }

private:
    // Runs the whole stream and a flush, keeping the output when asked to;
    // returns the samples written.
    template <class Sample>
    std::size_t run(int inRate, int outRate, unsigned channels, const Shorts& input,
                    soxr_datatype_t outType, std::vector<Sample>* output) const {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, outType);
        const soxr_quality_spec_t quality = soxr_quality_spec(m_recipe, 0);
        soxr_error_t error = nullptr;
        std::unique_ptr<soxr, void (*)(soxr_t)> resampler(
            soxr_create(inRate, outRate, channels, &error, &io, &quality, nullptr), soxr_delete);
        if (error != nullptr) {
            std::fprintf(stderr, "bench_resampler: libsoxr refused %d -> %d: %s\n", inRate, outRate,
                         error);
            return 0;
        }
        std::vector<Sample> dst(kBlock * 8 * channels);
        const std::size_t frames = input.size() / channels;
        std::size_t start = 0;
        std::size_t written = 0;
        for (;;) {
            const bool flushing = start >= frames;
            const std::size_t length = flushing ? 0 : std::min(kBlock, frames - start);
            std::size_t done = 0;
            std::size_t produced = 0;
            soxr_process(resampler.get(), flushing ? nullptr : input.data() + start * channels,
                         length, &done, dst.data(), dst.size() / channels, &produced);
            if (output != nullptr) {
                output->insert(output->end(), dst.begin(),
                               dst.begin() + static_cast<std::ptrdiff_t>(produced * channels));
            }
            written += produced * channels;
            start += done;
            if (flushing && produced == 0) {
                return written;
            }
        }
    }

    std::string m_label;
    unsigned long m_recipe;
};
#endif

Shorts tone(int rate, double frequency, double amplitude, std::size_t count) {
    Shorts samples(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate;
        samples[n] = static_cast<std::int16_t>(std::lrint(amplitude * std::sin(phase)));
    }
    return samples;
}

using tesk::tonefit::decibels;

constexpr double kTestAmplitude = 16384.0;
constexpr std::size_t kToneLength = 16384;

// The level of the output at outFrequency for an input tone at inFrequency,
// against the input tone, fitted together with the tone itself where it
// passes.
double levelAt(const Resampler& resampler, int inRate, int outRate, double inFrequency,
               double outFrequency) {
    const Signal output =
        resampler.mono(inRate, outRate, tone(inRate, inFrequency, kTestAmplitude, kToneLength));
    std::vector<double> frequencies = {outFrequency};
    if (inFrequency != outFrequency && inFrequency < outRate / 2.0) {
        frequencies.push_back(inFrequency);
    }
    return decibels(
        tesk::tonefit::fitTones(output, outRate, frequencies, kEdge).amplitudes.front() /
        kTestAmplitude);
}

double gainAt(const Resampler& resampler, int inRate, int outRate, double frequency) {
    return levelAt(resampler, inRate, outRate, frequency, frequency);
}

double thdPlusNoise(const Resampler& resampler, int inRate, int outRate, double frequency) {
    const double amplitude = kFullScale * std::pow(10.0, -1.0 / 20.0);
    const Signal output =
        resampler.mono(inRate, outRate, tone(inRate, frequency, amplitude, kToneLength * 2));
    return tesk::tonefit::thdPlusNoise(output, outRate, frequency, kEdge);
}

// The frequency at which a tone appears once sampled at the given rate.
double folded(double frequency, int rate) {
    const double wrapped = std::fmod(frequency, static_cast<double>(rate));
    return wrapped > rate / 2.0 ? rate - wrapped : wrapped;
}

constexpr int kPoints = 32;

double passbandRipple(const Resampler& resampler, int inRate, int outRate) {
    const double top = 0.9 * std::min(inRate, outRate) / 2.0;
    const double reference = gainAt(resampler, inRate, outRate, 1000.0);
    double worst = 0.0;
    for (int k = 1; k <= kPoints; ++k) {
        const double deviation = gainAt(resampler, inRate, outRate, top * k / kPoints) - reference;
        worst = std::max(worst, std::abs(deviation));
    }
    return worst;
}

// A stop-band frequency is an input tone that the output must not alias
// (output rate the lower one) or an image of an input tone that the output
// must not contain (input rate the lower one).
double stopband(const Resampler& resampler, int inRate, int outRate) {
    const double nyquist = std::min(inRate, outRate) / 2.0;
    const double top = std::max(inRate, outRate) / 2.0;
    const bool decimating = outRate < inRate;
    double worst = std::numeric_limits<double>::max();
    // Denser near the edge, where the attenuation is weakest; the first
    // point stays far enough from it to tell a tone from its image.
    const double edge = 1.002 * nyquist;
    for (int k = 0; k < kPoints; ++k) {
        const double share = static_cast<double>(k) / kPoints;
        const double frequency = edge + (top - edge) * share * share;
        const double inFrequency = decimating ? frequency : folded(frequency, inRate);
        const double outFrequency = decimating ? folded(frequency, outRate) : frequency;
        worst = std::min(worst, -levelAt(resampler, inRate, outRate, inFrequency, outFrequency));
    }
    return worst;
}

Shorts stereoTone(int rate) {
    const Shorts mono = tone(rate, 997.0, 20000.0, static_cast<std::size_t>(rate) * 10);
    Shorts input(mono.size() * 2);
    for (std::size_t n = 0; n < mono.size(); ++n) {
        input[2 * n] = mono[n];
        input[2 * n + 1] = static_cast<std::int16_t>(-mono[n]);
    }
    return input;
}

// Stereo frames per second of processor time, the best of five rounds; the
// resamplers take turns in each round, so a change in the machine's load
// falls on all of them alike.
std::vector<double> stereoFramesPerSecond(const std::vector<std::unique_ptr<Resampler>>& resamplers,
                                          int inRate, int outRate) {
    const Shorts input = stereoTone(inRate);
    std::vector<double> best(resamplers.size(), 0.0);
    for (int round = 0; round < 5; ++round) {
        for (std::size_t r = 0; r < resamplers.size(); ++r) {
            const std::clock_t start = std::clock();
            const std::size_t frames = resamplers[r]->stereo(inRate, outRate, input);
            const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
            if (frames > 0) {
                best[r] = std::max(best[r], static_cast<double>(input.size() / 2) / seconds);
            }
        }
    }
    return best;
}

// A rate pair with the tone whose alias or image it reports and the high
// frequency whose gain it reports.
struct Pair {
    int inRate;
    int outRate;
    double tone;
    double edge;
};

std::string figure(double value, bool shown) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return shown ? text : "-";
}

void reportQuality(const Resampler& resampler, const Pair& pair) {
    const bool decimating = pair.outRate < pair.inRate;
    const double unwanted = decimating ? folded(pair.tone, pair.outRate)
                                       : folded(pair.inRate - pair.tone, pair.outRate);
    const double toneLevel =
        pair.tone > 0.0 ? levelAt(resampler, pair.inRate, pair.outRate, pair.tone, unwanted) : 0.0;
    const double edge = gainAt(resampler, pair.inRate, pair.outRate, pair.edge) -
                        gainAt(resampler, pair.inRate, pair.outRate, 1000.0);
    const bool fifteen = 15000.0 < std::min(pair.inRate, pair.outRate) / 2.0;
    std::printf(
        "%6d -> %6d  %-10s %7.3f %8.1f %8s %6.0f %8.2f %9.1f %9s\n", pair.inRate, pair.outRate,
        resampler.name().c_str(), passbandRipple(resampler, pair.inRate, pair.outRate),
        stopband(resampler, pair.inRate, pair.outRate), figure(toneLevel, pair.tone > 0.0).c_str(),
        pair.edge, edge, thdPlusNoise(resampler, pair.inRate, pair.outRate, 1000.0),
        figure(thdPlusNoise(resampler, pair.inRate, pair.outRate, 15000.0), fifteen).c_str());
}

} // namespace

int main() {
    std::vector<std::unique_ptr<Resampler>> resamplers;
    resamplers.push_back(std::make_unique<FastResampler>());
    resamplers.push_back(std::make_unique<HighResampler>());
#ifdef TESK_QUOR_HAVE_SOXR
    resamplers.push_back(std::make_unique<SoxrResampler>("soxr-quick", SOXR_QQ));
    resamplers.push_back(std::make_unique<SoxrResampler>("soxr-high", SOXR_HQ));
    resamplers.push_back(std::make_unique<SoxrResampler>("soxr-vhigh", SOXR_VHQ));
#else
    std::printf("libsoxr not found: only the plug-in's resamplers are measured\n");
#endif
    const Pair pairs[] = {
        {44100, 48000, 0.0, 20000.0},     {48000, 44100, 0.0, 20000.0},
        {44100, 32000, 17000.0, 14400.0}, {48000, 32000, 19000.0, 14400.0},
        {44100, 22050, 11600.0, 9900.0},  {22050, 44100, 9500.0, 9900.0},
        {8000, 44100, 3500.0, 3600.0},
    };
    std::printf("%-16s %-10s %7s %8s %8s %15s %9s %9s\n", "rates (Hz)", "resampler", "ripple",
                "stop dB", "tone dB", "edge Hz / dB", "THD+N 1k", "THD+N 15k");
    for (const Pair& pair : pairs) {
        for (const auto& resampler : resamplers) {
            reportQuality(*resampler, pair);
        }
    }
    std::printf("\n%-10s %22s %22s\n", "resampler", "44100 -> 48000 Mfr/s", "48000 -> 44100 Mfr/s");
    const std::vector<double> up = stereoFramesPerSecond(resamplers, 44100, 48000);
    const std::vector<double> down = stereoFramesPerSecond(resamplers, 48000, 44100);
    for (std::size_t r = 0; r < resamplers.size(); ++r) {
        std::printf("%-10s %22.1f %22.1f\n", resamplers[r]->name().c_str(), up[r] / 1e6,
                    down[r] / 1e6);
    }
    return 0;
}
