#include "tools/streamgen/music_corpus.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tesk::quor::streamgen {
namespace {

constexpr int kTones = 12;

// A small generator with the same sequence on every platform.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(0x9E3779B97F4A7C15ULL ^ seed) {}
    double Uniform() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
    int Below(int n) { return static_cast<int>(Uniform() * n); }
    bool Chance(double p) { return Uniform() < p; }
    // Laplace-distributed with mean absolute value 1.
    double Laplace() {
        const double u = Uniform() - 0.5;
        return (u < 0 ? 1.0 : -1.0) * std::log(1.0 - 2.0 * std::abs(u) + 1e-300);
    }

private:
    std::uint64_t Next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::uint64_t state_;
};

struct Tone {
    double line = 0; // position on the long-block scale, 0-575
    double level = 0;
    int life = 0;
};

// The evolving state of the music: tones, loudness, block switching,
// stereo decisions.
class Music {
public:
    explicit Music(const MusicOptions& options)
        : options_(options), random_(options.seed), header_(HeaderOf(options)) {
        for (Tone& tone : tones_) {
            Renew(tone);
        }
    }

    Layer3Frame NextFrame(int reservoirBytes);

private:
    static Layer3Header HeaderOf(const MusicOptions& options) {
        Layer3Header header;
        header.sampleRate = options.sampleRate;
        header.mode = options.mode;
        header.bitRateKbps = options.bitRateKbps;
        header.original = true;
        header.crc = options.crc;
        return header;
    }

    void Renew(Tone& tone) {
        // Tones gather at low frequencies, as in music.
        tone.line = 2.0 + 300.0 * std::pow(random_.Uniform(), 2.5);
        tone.level = 0.2 + random_.Uniform();
        tone.life = 5 + random_.Below(60);
    }

    int Channels() const { return options_.mode == ChannelMode::kMono ? 1 : 2; }
    // An encoder's low-pass falls with the bit rate per channel.
    int LowPassHz() const {
        const int perChannel = options_.bitRateKbps / Channels();
        return perChannel >= 96   ? 16000
               : perChannel >= 64 ? 15000
               : perChannel >= 48 ? 14000
                                  : 11000;
    }
    bool Lsf() const { return options_.sampleRate < 32000; }
    // LSF codes the intensity right channel without preflag.
    bool IntensityChannel(int channel) const { return options_.intensity && channel == 1 && Lsf(); }
    void NextBlockType();
    void StepStereo();
    void Spectrum(int channel, bool shortBlock, std::array<double, kLayer3Lines>& lines);
    void ScaleFactors(Layer3Granule& g, int channel);
    void Intensity(Layer3Granule& right, std::array<double, kLayer3Lines>& lines);
    void Scfsi(Layer3Frame& frame);
    void Quantise(Layer3Frame& frame, int granule, int channel,
                  const std::array<double, kLayer3Lines>& lines, int targetBits);
    void Budget(const Layer3Frame& frame, int reservoirBytes, bool transient,
                std::array<int, 2>& targets) const;

    MusicOptions options_;
    Random random_;
    Layer3Header header_;
    std::array<Tone, kTones> tones_{};
    int padRemainder_ = 0;
    int blockType_ = 0;
    int shortLeft_ = 0;
    bool mixed_ = false;
    bool midSide_ = true;
    int intensityBand_ = 16;
    double loudness_ = 1.0;
    std::array<std::array<int, 22>, 2> previousScalefac_{};
};

void Music::NextBlockType() {
    if (!options_.blockSwitching) {
        blockType_ = 0;
        return;
    }
    if (blockType_ == 2 && --shortLeft_ > 0) {
        return;
    }
    if (blockType_ == 2) {
        blockType_ = 3;
    } else if (blockType_ == 1) {
        blockType_ = 2;
        shortLeft_ = 1 + random_.Below(3);
        mixed_ = options_.mixedBlocks && options_.sampleRate != 8000 && random_.Chance(0.3);
        loudness_ = 1.5 + random_.Uniform();
    } else {
        blockType_ = random_.Chance(0.04) ? 1 : 0;
    }
}

void Music::StepStereo() {
    // Mid/side holds in most frames and drops out for short runs.
    if (random_.Chance(midSide_ ? 0.05 : 0.3)) {
        midSide_ = !midSide_;
    }
    intensityBand_ = std::clamp(intensityBand_ + random_.Below(3) - 1, 12, 19);
}

// Magnitudes on the long-block scale: a floor falling with frequency, the
// tones, and noise; short blocks take every third line per window, flatter.
void Music::Spectrum(int channel, bool shortBlock, std::array<double, kLayer3Lines>& lines) {
    const double side =
        (channel == 1 && midSide_ && options_.mode == ChannelMode::kJointStereo) ? 0.3 : 1.0;
    const double slope = shortBlock ? 1.1 : 1.8;
    std::array<double, kLayer3Lines> level{};
    for (int f = 0; f < kLayer3Lines; ++f) {
        level[f] = 0.008 * std::pow(1.0 + f / 12.0, -slope);
    }
    for (const Tone& tone : tones_) {
        const int f = static_cast<int>(tone.line);
        level[f] += 0.08 * tone.level * (shortBlock ? 0.3 : 1.0);
    }
    const int cutoff = std::min(kLayer3Lines, 576 * LowPassHz() / (options_.sampleRate / 2));
    for (int f = 0; f < kLayer3Lines; ++f) {
        lines[f] = f < cutoff ? side * loudness_ * level[f] * random_.Laplace() : 0.0;
    }
    if (!shortBlock) {
        return;
    }
    std::array<double, kLayer3Lines> ordered{};
    for (int b = 0; b < 13; ++b) {
        const int start = ShortBandStart(options_.sampleRate, b);
        const int width = ShortBandStart(options_.sampleRate, b + 1) - start;
        for (int w = 0; w < 3; ++w) {
            for (int k = 0; k < width; ++k) {
                ordered[ShortLine(options_.sampleRate, b, w, k)] = lines[3 * (start + k) + w];
            }
        }
    }
    lines = ordered;
}

void Music::ScaleFactors(Layer3Granule& g, int channel) {
    auto& previous = previousScalefac_[channel];
    for (int b = 0; b < 21; ++b) {
        if (random_.Chance(0.3)) {
            previous[b] = std::clamp(previous[b] + random_.Below(3) - 1, 0, b < 11 ? 5 : 3);
        }
        g.longScalefac[b] = previous[b];
    }
    for (int b = 0; b < 12; ++b) {
        for (int w = 0; w < 3; ++w) {
            g.shortScalefac[b][w] = random_.Below(b < 6 ? 4 : 3);
        }
    }
    g.scalefacScale = random_.Chance(0.1);
    g.preflag = g.blockType != 2 && random_.Chance(0.15) && !IntensityChannel(channel);
}

// The right channel carries intensity positions above the bound, mostly
// small, now and then the "not coded" value of MPEG-1; its lines there are
// dropped.
void Music::Intensity(Layer3Granule& right, std::array<double, kLayer3Lines>& lines) {
    const auto position = [&] {
        return Lsf() ? random_.Below(10) : random_.Chance(0.05) ? 7 : random_.Below(7);
    };
    if (right.blockType != 2) {
        for (int b = intensityBand_; b < 21; ++b) {
            right.longScalefac[b] = position();
        }
        std::fill(lines.begin() + LongBandStart(options_.sampleRate, intensityBand_), lines.end(),
                  0.0);
        return;
    }
    const int bound = std::clamp(intensityBand_ - 8, 5, 11);
    for (int b = bound; b < 12; ++b) {
        for (int w = 0; w < 3; ++w) {
            right.shortScalefac[b][w] = position();
        }
    }
    std::fill(lines.begin() + ShortLine(options_.sampleRate, bound, 0, 0), lines.end(), 0.0);
}

// Granule 1 reuses granule 0's scale factors for the groups where they agree.
void Music::Scfsi(Layer3Frame& frame) {
    static constexpr int kGroups[4][3] = {{0, 6, 8}, {6, 11, 4}, {11, 16, 2}, {16, 21, 1}};
    for (int ch = 0; ch < Channels(); ++ch) {
        const Layer3Granule& first = frame.granules[0][ch];
        const Layer3Granule& second = frame.granules[1][ch];
        if (first.blockType == 2 || second.blockType == 2) {
            continue;
        }
        for (const auto& group : kGroups) {
            if (std::equal(first.longScalefac.begin() + group[0],
                           first.longScalefac.begin() + group[1],
                           second.longScalefac.begin() + group[0])) {
                frame.scfsi[ch] |= group[2];
            }
        }
    }
}

// Fits the global gain so that the granule takes at most targetBits.
void Music::Quantise(Layer3Frame& frame, int granule, int channel,
                     const std::array<double, kLayer3Lines>& lines, int targetBits) {
    Layer3Granule& g = frame.granules[granule][channel];
    const auto fits = [&](int gain) {
        g.globalGain = gain;
        const std::array<double, kLayer3Lines> steps = Layer3LineSteps(frame, granule, channel);
        for (int i = 0; i < kLayer3Lines; ++i) {
            const double q = std::pow(std::abs(lines[i]) / steps[i], 0.75) + 0.4054;
            g.values[i] = static_cast<int>(std::min(q, 9000.0)) * (lines[i] < 0 ? -1 : 1);
        }
        try {
            return Layer3GranuleBits(frame, granule, channel) <= targetBits;
        } catch (const std::invalid_argument&) {
            return false;
        }
    };
    int low = 0;
    int high = 255;
    while (low < high) {
        const int middle = (low + high) / 2;
        if (fits(middle)) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    if (!fits(low)) {
        g.values.fill(0);
    }
}

void Music::Budget(const Layer3Frame& frame, int reservoirBytes, bool transient,
                   std::array<int, 2>& targets) const {
    const int channels = Channels();
    const int granules = Lsf() ? 1 : 2;
    const int head = 4 + (frame.header.crc ? 2 : 0) +
                     (Lsf() ? (channels == 1 ? 9 : 17) : (channels == 1 ? 17 : 32));
    const int frameBits = 8 * (Layer3FrameBytes(frame.header) - head) - 16;
    const int reservoirBits = 8 * std::min(reservoirBytes, Lsf() ? 255 : 511);
    const int total =
        transient ? frameBits + reservoirBits * 4 / 5 : frameBits * 9 / 10 + reservoirBits / 4;
    const bool weakSide = channels == 2 && (frame.header.modeExtension & 2) != 0;
    const double share1 = weakSide ? 0.3 : 0.5;
    const int perGranule = total / granules;
    targets[0] = std::min(4095, static_cast<int>(perGranule * (channels == 1 ? 1.0 : 1 - share1)));
    targets[1] = std::min(4095, static_cast<int>(perGranule * share1));
}

Layer3Frame Music::NextFrame(int reservoirBytes) {
    Layer3Frame frame;
    frame.header = header_;
    // Padding keeps the average frame length at the bit rate.
    const int slots = (Lsf() ? 72 : 144) * 1000 * options_.bitRateKbps;
    padRemainder_ += slots % options_.sampleRate;
    frame.header.padding = padRemainder_ >= options_.sampleRate;
    padRemainder_ %= options_.sampleRate;
    if (options_.mode == ChannelMode::kJointStereo) {
        StepStereo();
        frame.header.modeExtension = (options_.midSide && midSide_ ? kModeExtensionMidSide : 0) |
                                     (options_.intensity ? kModeExtensionIntensity : 0);
    }
    const int granules = Lsf() ? 1 : 2;
    std::array<std::array<std::array<double, kLayer3Lines>, 2>, 2> lines{};
    bool transient = false;
    for (int gr = 0; gr < granules; ++gr) {
        NextBlockType();
        transient = transient || blockType_ == 2;
        loudness_ = 1.0 + (loudness_ - 1.0) * 0.7;
        for (Tone& tone : tones_) {
            if (--tone.life <= 0) {
                Renew(tone);
            }
        }
        for (int ch = 0; ch < Channels(); ++ch) {
            Layer3Granule& g = frame.granules[gr][ch];
            g.blockType = blockType_;
            g.mixedBlock = blockType_ == 2 && mixed_;
            for (int& gain : g.subblockGain) {
                gain = blockType_ == 2 && random_.Chance(0.2) ? 1 + random_.Below(2) : 0;
            }
            ScaleFactors(g, ch);
            Spectrum(ch, blockType_ == 2, lines[gr][ch]);
        }
        if (options_.intensity && Channels() == 2) {
            Intensity(frame.granules[gr][1], lines[gr][1]);
        }
    }
    if (!Lsf()) {
        Scfsi(frame);
    }
    std::array<int, 2> targets{};
    Budget(frame, reservoirBytes, transient, targets);
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < Channels(); ++ch) {
            Quantise(frame, gr, ch, lines[gr][ch], targets[ch]);
        }
    }
    return frame;
}

std::vector<Layer3Frame> Compose(const MusicOptions& options, Layer3Writer& writer) {
    if (options.intensity && options.mode != ChannelMode::kJointStereo) {
        throw std::invalid_argument("intensity stereo needs joint stereo");
    }
    Music music(options);
    Layer3Header probe;
    probe.sampleRate = options.sampleRate;
    const int frames = static_cast<int>(
        std::ceil(options.seconds * options.sampleRate / Layer3FrameSamples(probe)));
    std::vector<Layer3Frame> list;
    for (int i = 0; i < frames; ++i) {
        list.push_back(music.NextFrame(writer.reservoirBytes()));
        writer.Add(list.back());
    }
    return list;
}

} // namespace

MusicOptions MusicOptionsOf(const StreamOptions& options) {
    MusicOptions music;
    music.sampleRate = options.sampleRate;
    music.mode = options.mode;
    music.bitRateKbps = options.bitRateKbps;
    music.seconds = static_cast<double>(options.samplesPerChannel) / options.sampleRate;
    music.crc = options.crc;
    return music;
}

std::vector<Layer3Frame> MusicFrames(const MusicOptions& options) {
    Layer3Writer writer;
    return Compose(options, writer);
}

std::vector<std::uint8_t> MusicStream(const MusicOptions& options) {
    Layer3Writer writer;
    Compose(options, writer);
    return writer.bytes();
}

std::vector<MusicCorpusEntry> MusicCorpus() {
    std::vector<MusicCorpusEntry> corpus;
    const auto add = [&](std::int32_t rate, ChannelMode mode, std::int32_t kbps, bool intensity) {
        static constexpr const char* kModeNames[] = {"stereo", "joint", "dual", "mono"};
        MusicCorpusEntry entry;
        entry.options.sampleRate = rate;
        entry.options.mode = mode;
        entry.options.bitRateKbps = kbps;
        entry.options.intensity = intensity;
        entry.options.seed = static_cast<std::uint32_t>(corpus.size() + 1);
        entry.name = "music-" + std::to_string(rate) + "-" + kModeNames[static_cast<int>(mode)] +
                     (intensity ? "-intensity-" : "-") + std::to_string(kbps);
        corpus.push_back(entry);
    };
    for (std::int32_t kbps : {128, 192, 256, 320}) {
        add(44100, ChannelMode::kJointStereo, kbps, false);
    }
    add(48000, ChannelMode::kJointStereo, 192, false);
    add(48000, ChannelMode::kStereo, 320, false);
    add(44100, ChannelMode::kJointStereo, 96, true);
    add(32000, ChannelMode::kJointStereo, 128, false);
    add(44100, ChannelMode::kMono, 64, false);
    add(22050, ChannelMode::kJointStereo, 64, true);
    add(24000, ChannelMode::kJointStereo, 48, true);
    add(16000, ChannelMode::kJointStereo, 32, false);
    add(11025, ChannelMode::kMono, 24, false);
    return corpus;
}

} // namespace tesk::quor::streamgen
