// Layer I streams written by the generator itself (no encoder library
// writes Layer I): deterministic sub-band samples, not the analysis of a
// signal, quantised frame by frame with a greedy bit allocation. Noise fills
// every sub-band below the top five with random samples (white noise after
// the synthesis); the tonal signals put slow sinusoids into a few low
// sub-bands. The streams take the decoder's Layer I paths: allocations,
// scale factors, joint stereo above a bound, padding and CRC words.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/streamgen/streamgen.h"

namespace tesk::quor::streamgen {

// The frames for the options' rate (32, 44.1 or 48 kHz, or the LSF 16,
// 22.05 or 24 kHz), mode, bit rate, CRC and signal, covering
// samplesPerChannel samples; throws std::runtime_error naming the option a
// Layer I frame cannot take.
std::vector<std::uint8_t> Layer1Stream(const StreamOptions& options);

} // namespace tesk::quor::streamgen
