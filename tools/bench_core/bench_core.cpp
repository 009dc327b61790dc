// bench_core: decodes generated Layer II streams (every MPEG-1 and MPEG-2
// rate, stereo, joint stereo and mono, several bit rates) with the frame
// decoder core and with libmad, and reports for each the agreement (PSNR and
// largest difference of the 16-bit output) and the decoding speed of both as
// a multiple of real time. The Layer I and II conformance streams, when
// present, are timed as well.
//
// Usage: bench_core [PASSES]   (default 5 passes per stream)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decoder/core/frame_decoder.h"
#include "tools/crosscheck/layer3_decoders.h"
#include "tools/streamgen/streamgen.h"

namespace {

using tesk::quor::FrameDecoder;
namespace streamgen = tesk::quor::streamgen;

std::vector<std::int16_t> decode_with_core(const std::vector<std::uint8_t>& bytes) {
    return tesk::quor::crosscheck::decode_with_quor(bytes).samples;
}

std::vector<std::int16_t> decode_with_libmad(const std::vector<std::uint8_t>& bytes) {
    return tesk::quor::crosscheck::decode_with_mad(tesk::quor::crosscheck::with_mad_guard(bytes))
        .samples;
}

struct Agreement {
    double psnr = 0.0;
    int max_difference = 0;
};

Agreement compare(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    Agreement result;
    double squares = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const int difference = std::abs(a[i] - b[i]);
        result.max_difference = std::max(result.max_difference, difference);
        squares += static_cast<double>(difference) * difference;
    }
    const double mean = n == 0 ? 0.0 : squares / static_cast<double>(n);
    result.psnr = mean == 0.0 ? 999.0 : 10.0 * std::log10(32767.0 * 32767.0 / mean);
    return result;
}

template <typename Decode>
double realtime_factor(Decode decode, const std::vector<std::uint8_t>& bytes, double seconds,
                       int passes) {
    const auto start = std::chrono::steady_clock::now();
    for (int p = 0; p < passes; ++p) {
        decode(bytes);
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return seconds * passes / elapsed;
}

const char* mode_name(streamgen::ChannelMode mode) {
    switch (mode) {
    case streamgen::ChannelMode::kStereo:
        return "stereo";
    case streamgen::ChannelMode::kJointStereo:
        return "joint";
    case streamgen::ChannelMode::kDualChannel:
        return "dual";
    default:
        return "mono";
    }
}

int bench_generated(int passes) {
    std::printf("%-30s %9s %8s %10s %10s\n", "generated Layer II stream", "PSNR dB", "maxdiff",
                "core x RT", "libmad x RT");
    int below = 0;
    for (const int rate : {32000, 44100, 48000, 16000, 22050, 24000}) {
        const bool lsf = rate < 32000;
        for (const auto mode :
             {streamgen::ChannelMode::kStereo, streamgen::ChannelMode::kJointStereo,
              streamgen::ChannelMode::kMono}) {
            for (const int kbps :
                 lsf ? std::vector<int>{32, 64, 160} : std::vector<int>{64, 192, 384}) {
                streamgen::StreamOptions options;
                options.sampleRate = rate;
                options.mode = mode;
                options.bitRateKbps = kbps;
                options.samplesPerChannel = rate * 2;
                options.signal = streamgen::Signal::kSweep;
                streamgen::Stream stream;
                try {
                    stream = streamgen::Generate(options);
                } catch (const std::exception&) {
                    continue; // a combination the encoder does not offer
                }
                const std::vector<std::int16_t> ours = decode_with_core(stream.bytes);
                const std::vector<std::int16_t> theirs = decode_with_libmad(stream.bytes);
                const Agreement agreement = compare(ours, theirs);
                const double seconds = static_cast<double>(ours.size()) / stream.channels / rate;
                const double core_speed =
                    realtime_factor(decode_with_core, stream.bytes, seconds, passes);
                const double mad_speed =
                    realtime_factor(decode_with_libmad, stream.bytes, seconds, passes);
                const std::string name = std::to_string(rate) + " Hz " + mode_name(mode) + " " +
                                         std::to_string(kbps) + " kbit/s";
                std::printf("%-30s %9.1f %8d %10.0f %10.0f%s\n", name.c_str(), agreement.psnr,
                            agreement.max_difference, core_speed, mad_speed,
                            ours.size() == theirs.size() ? "" : "  (sample counts differ)");
                below += agreement.psnr < 90.0 ? 1 : 0;
            }
        }
    }
    return below;
}

void bench_conformance(int passes) {
    const std::filesystem::path folder =
        std::filesystem::path(TESK_QUOR_SHARED_DIR) / "conformance";
    std::printf("\n%-30s %10s\n", "conformance stream", "core x RT");
    for (const char* name : {"l1-fl1", "l1-fl2", "l1-fl3", "l2-fl10", "l2-fl11", "l2-fl13"}) {
        std::ifstream in(folder / (std::string(name) + ".bit"), std::ios::binary);
        if (!in) {
            std::printf("%-30s %10s\n", name, "absent");
            continue;
        }
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        const std::vector<std::int16_t> samples = decode_with_core(bytes);
        FrameDecoder* probe = tesk::quor::frame_decoder_create();
        tesk::quor::decode_header(probe->header, (std::uint32_t{bytes[0]} << 24) |
                                                     (std::uint32_t{bytes[1]} << 16) |
                                                     (std::uint32_t{bytes[2]} << 8) | bytes[3]);
        const double seconds = static_cast<double>(samples.size()) / probe->header.channels /
                               tesk::quor::sample_rate_hz(probe->header.sample_rate_index);
        tesk::quor::frame_decoder_destroy(probe);
        std::printf("%-30s %10.0f\n", name,
                    realtime_factor(decode_with_core, bytes, seconds, passes));
    }
}

} // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    try {
        const int below = bench_generated(passes);
        bench_conformance(passes);
        std::printf("\n%d generated stream(s) below 90 dB\n", below);
        return below == 0 ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_core: %s\n", error.what());
        return 1;
    }
}
