#include "tools/streamgen/layer1_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "decoder/frame_header.h"
#include "tools/streamgen/bit_writer.h"

namespace tesk::quor::streamgen {
namespace {

constexpr int kSubbands = 32;
constexpr int kSlots = 12;             // sub-band samples per frame
constexpr int kQuietSubbands = 5;      // the top sub-bands stay silent
constexpr int kLargestAllocation = 14; // 15-bit samples
constexpr int kJointBound = 4;         // mode extension 0
constexpr int kLowestScaleFactor = 62;

using Slots = std::array<std::array<std::array<double, kSubbands>, kSlots>, 2>;
using PerSubband = std::array<std::array<int, 2>, kSubbands>;

struct Layout {
    int channels = 2;
    int bound = kSubbands; // sub-bands below it carry samples per channel
    bool crc = false;
    std::uint8_t header[4] = {};
};

int SampleRateCode(std::int32_t rate, bool& lsf) {
    static constexpr std::int32_t kRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};
    for (int version = 0; version < 2; ++version) {
        for (int code = 0; code < 3; ++code) {
            if (kRates[version][code] == rate) {
                lsf = version == 1;
                return code;
            }
        }
    }
    throw std::runtime_error("Layer I: no sample rate " + std::to_string(rate) + " Hz");
}

// The header bytes with the bit-rate index whose rate the decoder's header
// reading finds equal to the options' bit rate.
Layout LayoutOf(const StreamOptions& options) {
    bool lsf = false;
    const int rateCode = SampleRateCode(options.sampleRate, lsf);
    static constexpr int kModeCodes[] = {0, 1, 2, 3};
    const int mode = kModeCodes[static_cast<int>(options.mode)];
    Layout layout;
    layout.channels = options.mode == ChannelMode::kMono ? 1 : 2;
    layout.bound = options.mode == ChannelMode::kJointStereo ? kJointBound : kSubbands;
    layout.crc = options.crc;
    for (int index = 1; index < 15; ++index) {
        BitWriter w;
        w.Put(0x7FF, 11);
        w.Put(lsf ? 2 : 3, 2);
        w.Put(3, 2); // Layer I
        w.Put(options.crc ? 0 : 1, 1);
        w.Put(static_cast<std::uint32_t>(index), 4);
        w.Put(static_cast<std::uint32_t>(rateCode), 2);
        w.Put(0, 2); // padding and private bit
        w.Put(static_cast<std::uint32_t>(mode), 2);
        w.Put(0, 4); // mode extension, copyright, original
        w.Put(0, 2); // emphasis
        CFrameHeader parsed;
        if (parsed.Parse(w.bytes().data()) && parsed.bitRate == options.bitRateKbps) {
            std::copy_n(w.bytes().begin(), 4, layout.header);
            return layout;
        }
    }
    throw std::runtime_error("Layer I: no bit rate of " + std::to_string(options.bitRateKbps) +
                             " kbit/s");
}

// Sub-band samples of one frame, within (-1, 1).
class SubbandSignal {
public:
    explicit SubbandSignal(Signal signal) : signal_(signal) {}

    void Next(Slots& slots) {
        for (int t = 0; t < kSlots; ++t, ++slot_) {
            for (int ch = 0; ch < 2; ++ch) {
                for (int sb = 0; sb < kSubbands; ++sb) {
                    slots[ch][t][sb] = Value(ch, sb);
                }
            }
        }
    }

private:
    double Value(int ch, int sb) {
        if (sb >= kSubbands - kQuietSubbands) {
            return 0.0;
        }
        if (signal_ == Signal::kNoise) {
            noise_ = noise_ * 1664525u + 1013904223u;
            const double level = 0.08 / (1.0 + 0.1 * sb);
            return level * (static_cast<double>(noise_ >> 8) / 8388608.0 - 1.0);
        }
        // Slow sinusoids in sub-bands 1, 2 (and 5 on the second channel).
        const bool tonal = sb == 1 || sb == 2 || (ch == 1 && sb == 5);
        if (!tonal) {
            return 0.0;
        }
        const double cycles = 0.03 + 0.011 * sb + 0.007 * ch;
        return 0.2 * std::sin(2.0 * std::numbers::pi * cycles * slot_ + sb);
    }

    Signal signal_;
    std::uint32_t noise_ = 12345;
    std::int64_t slot_ = 0;
};

double ScaleFactorValue(int index) {
    return 2.0 * std::pow(2.0, -index / 3.0);
}

// The smallest scale factor at or above the peak.
int ScaleFactorFor(double peak) {
    int index = std::clamp(static_cast<int>(std::floor(3.0 * std::log2(2.0 / peak))), 0,
                           kLowestScaleFactor);
    while (index > 0 && ScaleFactorValue(index) < peak) {
        --index;
    }
    return index;
}

// Bits of the allocation step from a to a + 1 of a sub-band: its samples
// (shared above the bound) and, from nothing, the scale factors.
int StepBits(int a, bool shared, int channels) {
    return kSlots + (a == 0 ? kSlots + 6 * (shared ? channels : 1) : 0);
}

struct Allocation {
    PerSubband bits{};  // allocation code: samples of code + 1 bits, 0 none
    PerSubband scale{}; // scale-factor index
};

// Raises, while the frame has room, the allocation of the sub-band whose
// quantisation step is the largest.
Allocation Allocate(const Slots& slots, const Layout& layout, int room) {
    Allocation allocation;
    std::array<std::array<double, 2>, kSubbands> peak{};
    for (int sb = 0; sb < kSubbands; ++sb) {
        for (int ch = 0; ch < layout.channels; ++ch) {
            for (int t = 0; t < kSlots; ++t) {
                peak[sb][ch] = std::max(peak[sb][ch], std::abs(slots[ch][t][sb]));
            }
            allocation.scale[sb][ch] =
                peak[sb][ch] > 0.0 ? ScaleFactorFor(peak[sb][ch]) : kLowestScaleFactor;
        }
    }
    for (;;) {
        int best = -1;
        int bestChannel = 0;
        double largest = 0.0;
        for (int sb = 0; sb < kSubbands; ++sb) {
            const bool shared = sb >= layout.bound;
            for (int ch = 0; ch < (shared ? 1 : layout.channels); ++ch) {
                const int a = allocation.bits[sb][ch];
                const double step = peak[sb][ch] / std::pow(2.0, a);
                if (a < kLargestAllocation && step > largest &&
                    StepBits(a, shared, layout.channels) <= room) {
                    best = sb;
                    bestChannel = ch;
                    largest = step;
                }
            }
        }
        if (best < 0) {
            return allocation;
        }
        const bool shared = best >= layout.bound;
        room -= StepBits(allocation.bits[best][bestChannel], shared, layout.channels);
        ++allocation.bits[best][bestChannel];
        if (shared) {
            allocation.bits[best][1] = allocation.bits[best][0];
        }
    }
}

// The code of a sample of allocation a under scale factor `scale`.
std::uint32_t Quantised(double value, int a, int scale) {
    const int largest = (1 << a) - 1;
    const double levels = (2 << a) - 1;
    const int m = static_cast<int>(std::lround(value / ScaleFactorValue(scale) * levels / 2.0));
    return static_cast<std::uint32_t>(std::clamp(m, -largest, largest) + largest);
}

std::vector<std::uint8_t> Frame(const Slots& slots, const Layout& layout, bool padding,
                                int frameBytes) {
    const int allocationBits = 4 * (layout.bound * layout.channels + kSubbands - layout.bound);
    const int room = 8 * frameBytes - 32 - (layout.crc ? 16 : 0) - allocationBits;
    const Allocation allocation = Allocate(slots, layout, room);
    BitWriter w;
    for (int i = 0; i < 4; ++i) {
        w.Put(layout.header[i] | (i == 2 && padding ? 2u : 0u), 8);
    }
    w.Put(0, layout.crc ? 16 : 0);
    BitWriter body;
    for (int sb = 0; sb < kSubbands; ++sb) {
        for (int ch = 0; ch < (sb < layout.bound ? layout.channels : 1); ++ch) {
            body.Put(static_cast<std::uint32_t>(allocation.bits[sb][ch]), 4);
        }
    }
    for (int sb = 0; sb < kSubbands; ++sb) {
        for (int ch = 0; ch < layout.channels; ++ch) {
            if (allocation.bits[sb][ch] != 0) {
                body.Put(static_cast<std::uint32_t>(allocation.scale[sb][ch]), 6);
            }
        }
    }
    for (int t = 0; t < kSlots; ++t) {
        for (int sb = 0; sb < kSubbands; ++sb) {
            // Above the bound the first channel's samples serve both.
            for (int ch = 0; ch < (sb < layout.bound ? layout.channels : 1); ++ch) {
                const int a = allocation.bits[sb][ch];
                if (a != 0) {
                    body.Put(Quantised(slots[ch][t][sb], a, allocation.scale[sb][ch]), a + 1);
                }
            }
        }
    }
    w.Append(body);
    std::vector<std::uint8_t> frame = w.bytes();
    frame.resize(static_cast<std::size_t>(frameBytes), 0);
    if (layout.crc) {
        // The word covers header bytes 2 and 3 and the allocation.
        std::vector<std::uint8_t> covered(frame.begin() + 2, frame.begin() + 4);
        covered.insert(covered.end(), body.bytes().begin(), body.bytes().end());
        const std::uint16_t crc = Crc16(covered, 16 + allocationBits);
        frame[4] = static_cast<std::uint8_t>(crc >> 8);
        frame[5] = static_cast<std::uint8_t>(crc & 0xFF);
    }
    return frame;
}

} // namespace

std::vector<std::uint8_t> Layer1Stream(const StreamOptions& options) {
    const Layout layout = LayoutOf(options);
    SubbandSignal signal(options.signal);
    // Frames of 12 slots of 4 bytes per 1000 bit/s; a padding slot keeps the
    // average at the bit rate.
    const std::int64_t slotsPerSecond = 12000LL * options.bitRateKbps;
    std::int64_t remainder = 0;
    std::vector<std::uint8_t> stream;
    Slots slots{};
    for (std::int32_t done = 0; done < options.samplesPerChannel; done += kSlots * kSubbands) {
        remainder += slotsPerSecond % options.sampleRate;
        const bool padding = remainder >= options.sampleRate;
        remainder %= options.sampleRate;
        const int frameBytes =
            4 * (static_cast<int>(slotsPerSecond / options.sampleRate) + (padding ? 1 : 0));
        signal.Next(slots);
        const std::vector<std::uint8_t> frame = Frame(slots, layout, padding, frameBytes);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

} // namespace tesk::quor::streamgen
