// Quality and speed of the plug-in's resampler next to libsoxr.
//
// For each rate pair it prints, per resampler:
//   SNR      1 kHz sine at -1 dBFS against the ideal sine (gain errors count)
//   THD+N    everything but the fitted 1 kHz fundamental, relative to it
//   ripple   peak-to-peak gain of tones up to 0.45 x the lower rate
//   stop     weakest attenuation of a tone above the lower Nyquist frequency
//            (its image or alias in the output, against the input level),
//            over the whole stop band and from 1.05 x that frequency on
//   speed    mono input samples per second, fed in blocks of 4096
//
// Run: cmake --build build --target bench_resampler && build/tools/bench_resampler/bench_resampler

#include "resampling/resampler.h"

#ifdef TESK_QUOR_HAVE_SOXR
#include <soxr.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace {

using Samples = std::vector<short>;
namespace src = tesk::samplerateconverter;

constexpr std::size_t kBlock = 4096;
constexpr std::size_t kEdge = 1000;

// One resampler under test: turns a whole mono stream at one rate into
// another, fed block by block as a player would.
class Resampler {
public:
    virtual ~Resampler() = default;
    virtual const char* name() const = 0;
    virtual Samples run(int inRate, int outRate, const Samples& input) const = 0;
};

class OwnResampler final : public Resampler {
public:
    const char* name() const override { return "tesk_quor"; }

    Samples run(int inRate, int outRate, const Samples& input) const override {
        std::unique_ptr<src::ResampleContext, void (*)(src::ResampleContext*)> context(
            src::av_resample_init(outRate, inRate, 16, 10, 0, 1.0), src::av_resample_close);
        const int dstSize = 96000;
        Samples output;
        Samples pending;
        Samples dst(dstSize);
        for (std::size_t start = 0; start < input.size(); start += kBlock) {
            const std::size_t end = std::min(input.size(), start + kBlock);
            pending.insert(pending.end(), input.begin() + static_cast<std::ptrdiff_t>(start),
                           input.begin() + static_cast<std::ptrdiff_t>(end));
            int consumed = 0;
            const int written =
                src::av_resample(context.get(), dst.data(), pending.data(), &consumed,
                                 static_cast<int>(pending.size()), dstSize, 1);
            output.insert(output.end(), dst.begin(), dst.begin() + written);
            pending.erase(pending.begin(), pending.begin() + consumed);
        }
        return output;
    }
};

#ifdef TESK_QUOR_HAVE_SOXR
class SoxrResampler final : public Resampler {
public:
    const char* name() const override { return "libsoxr"; }

    Samples run(int inRate, int outRate, const Samples& input) const override {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        soxr_error_t error = nullptr;
        std::unique_ptr<soxr, void (*)(soxr_t)> resampler(
            soxr_create(inRate, outRate, 1, &error, &io, nullptr, nullptr), soxr_delete);
        if (error != nullptr) {
            std::fprintf(stderr, "bench_resampler: libsoxr refused %d -> %d: %s\n", inRate, outRate,
                         error);
            return {};
        }
        Samples output;
        Samples dst(kBlock * 8);
        std::size_t start = 0;
        for (;;) {
            const bool flushing = start >= input.size();
            const std::size_t length = flushing ? 0 : std::min(kBlock, input.size() - start);
            std::size_t done = 0;
            std::size_t produced = 0;
            soxr_process(resampler.get(), flushing ? nullptr : input.data() + start, length, &done,
                         dst.data(), dst.size(), &produced);
            output.insert(output.end(), dst.begin(),
                          dst.begin() + static_cast<std::ptrdiff_t>(produced));
            start += done;
            if (flushing && produced == 0) {
                return output;
            }
        }
    }
};
#endif

Samples tone(int rate, double frequency, double amplitude, std::size_t count) {
    Samples samples(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate;
        samples[n] = static_cast<short>(std::lrint(amplitude * std::sin(phase)));
    }
    return samples;
}

// Least-squares fit of a sin + b cos at one frequency over the output
// without its edges.
struct Fit {
    double sinPart = 0.0;
    double cosPart = 0.0;
    double amplitude() const { return std::hypot(sinPart, cosPart); }
    double at(double omega, std::size_t n) const {
        return sinPart * std::sin(omega * static_cast<double>(n)) +
               cosPart * std::cos(omega * static_cast<double>(n));
    }
};

Fit fitTone(const Samples& signal, int rate, double frequency) {
    const double omega = 2.0 * std::numbers::pi * frequency / rate;
    double ss = 0.0, cc = 0.0, sc = 0.0, xs = 0.0, xc = 0.0;
    for (std::size_t n = kEdge; n + kEdge < signal.size(); ++n) {
        const double s = std::sin(omega * static_cast<double>(n));
        const double c = std::cos(omega * static_cast<double>(n));
        ss += s * s;
        cc += c * c;
        sc += s * c;
        xs += signal[n] * s;
        xc += signal[n] * c;
    }
    const double det = ss * cc - sc * sc;
    return {(xs * cc - xc * sc) / det, (xc * ss - xs * sc) / det};
}

double decibels(double ratio) {
    return 20.0 * std::log10(ratio);
}

struct SineFigures {
    double snr = 0.0;
    double thdPlusNoise = 0.0;
};

SineFigures measureSine(const Resampler& resampler, int inRate, int outRate) {
    const double amplitude = 32767.0 * std::pow(10.0, -1.0 / 20.0);
    const Samples output = resampler.run(inRate, outRate, tone(inRate, 1000.0, amplitude, inRate));
    const Fit fit = fitTone(output, outRate, 1000.0);
    // The ideal sine keeps the input's amplitude; only its phase (the
    // resampler's delay) is taken from the fit.
    const double scale = amplitude / fit.amplitude();
    const Fit ideal{fit.sinPart * scale, fit.cosPart * scale};
    const double omega = 2.0 * std::numbers::pi * 1000.0 / outRate;
    double signal = 0.0, error = 0.0, fundamental = 0.0, residual = 0.0;
    for (std::size_t n = kEdge; n + kEdge < output.size(); ++n) {
        const double wanted = ideal.at(omega, n);
        const double fitted = fit.at(omega, n);
        signal += wanted * wanted;
        error += (output[n] - wanted) * (output[n] - wanted);
        fundamental += fitted * fitted;
        residual += (output[n] - fitted) * (output[n] - fitted);
    }
    return {10.0 * std::log10(signal / error), 10.0 * std::log10(residual / fundamental)};
}

constexpr double kTestAmplitude = 16384.0;
constexpr std::size_t kToneLength = 16384;

double gainAt(const Resampler& resampler, int inRate, int outRate, double inFrequency,
              double outFrequency) {
    const Samples output =
        resampler.run(inRate, outRate, tone(inRate, inFrequency, kTestAmplitude, kToneLength));
    return fitTone(output, outRate, outFrequency).amplitude() / kTestAmplitude;
}

// The frequency at which a tone of the given frequency appears once sampled
// at the given rate.
double folded(double frequency, int rate) {
    const double wrapped = std::fmod(frequency, static_cast<double>(rate));
    return wrapped > rate / 2.0 ? rate - wrapped : wrapped;
}

double passbandRipple(const Resampler& resampler, int inRate, int outRate) {
    const double top = 0.45 * std::min(inRate, outRate);
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    const int points = 48;
    for (int k = 1; k <= points; ++k) {
        const double frequency = top * k / points;
        const double gain = decibels(gainAt(resampler, inRate, outRate, frequency, frequency));
        low = std::min(low, gain);
        high = std::max(high, gain);
    }
    return high - low;
}

struct StopbandFigures {
    double worst = std::numeric_limits<double>::max();
    std::optional<double> beyondEdge;
};

// Each stop-band frequency is either an input tone that the output must not
// alias (output rate the lower one) or an image of an input tone that the
// output must not contain (input rate the lower one).
StopbandFigures stopband(const Resampler& resampler, int inRate, int outRate) {
    const double nyquist = std::min(inRate, outRate) / 2.0;
    const double top = std::max(inRate, outRate) / 2.0;
    StopbandFigures figures;
    const int points = 48;
    for (int k = 1; k <= points; ++k) {
        const double frequency = nyquist + (top - nyquist) * (k - 0.5) / points;
        const bool decimating = outRate < inRate;
        const double inFrequency = decimating ? frequency : folded(frequency, inRate);
        const double outFrequency = decimating ? folded(frequency, outRate) : frequency;
        const double attenuation =
            -decibels(gainAt(resampler, inRate, outRate, inFrequency, outFrequency));
        figures.worst = std::min(figures.worst, attenuation);
        if (frequency >= 1.05 * nyquist) {
            figures.beyondEdge = std::min(figures.beyondEdge.value_or(attenuation), attenuation);
        }
    }
    return figures;
}

double throughput(const Resampler& resampler, int inRate, int outRate) {
    const Samples input = tone(inRate, 997.0, 20000.0, static_cast<std::size_t>(inRate) * 20);
    double best = 0.0;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const Samples output = resampler.run(inRate, outRate, input);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (output.empty()) {
            return 0.0;
        }
        best = std::max(best, static_cast<double>(input.size()) / elapsed.count());
    }
    return best;
}

std::string beyondText(const std::optional<double>& value) {
    if (!value) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *value);
    return text;
}

void report(const Resampler& resampler, int inRate, int outRate) {
    const SineFigures sine = measureSine(resampler, inRate, outRate);
    const StopbandFigures stop = stopband(resampler, inRate, outRate);
    std::printf("%5d -> %5d  %-10s %8.1f %8.1f %9.3f %9.1f %9s %10.1f\n", inRate, outRate,
                resampler.name(), sine.snr, sine.thdPlusNoise,
                passbandRipple(resampler, inRate, outRate), stop.worst,
                beyondText(stop.beyondEdge).c_str(), throughput(resampler, inRate, outRate) / 1e6);
}

} // namespace

int main() {
    const int pairs[][2] = {{44100, 48000}, {48000, 44100}, {22050, 48000}, {8000, 44100}};
    std::vector<std::unique_ptr<Resampler>> resamplers;
    resamplers.push_back(std::make_unique<OwnResampler>());
#ifdef TESK_QUOR_HAVE_SOXR
    resamplers.push_back(std::make_unique<SoxrResampler>());
#else
    std::printf("libsoxr not found: only the plug-in's resampler is measured\n");
#endif
    std::printf("%-14s %-10s %8s %8s %9s %9s %9s %10s\n", "rates (Hz)", "resampler", "SNR dB",
                "THD+N dB", "ripple dB", "stop dB", ">1.05 Nyq", "Msamples/s");
    for (const auto& pair : pairs) {
        for (const auto& resampler : resamplers) {
            report(*resampler, pair[0], pair[1]);
        }
    }
    return 0;
}
