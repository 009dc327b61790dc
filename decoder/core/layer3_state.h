#pragma once

// Per-instance work state of the Layer III decoder, embedded in the frame
// decoder instance. All of it starts zeroed.

namespace tesk::quor {

inline constexpr int granule_lines = 576;
inline constexpr int subband_count = 32;
inline constexpr int time_slots = 18;

struct Layer3State {
    // Dequantised lines of the granule in hand, per channel.
    double spectrum[2][granule_lines];
    // Output of the hybrid synthesis: per channel 18 time slots of 32 sub-bands.
    double subbands[2][time_slots][subband_count];
    // IMDCT overlap: two halves per channel; a granule reads the previous
    // overlap from the half its selector names and writes the other.
    double overlap[2][2][granule_lines];
    int overlap_half[2];
};

} // namespace tesk::quor
