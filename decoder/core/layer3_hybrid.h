#pragma once

// Alias reduction and the hybrid synthesis of a Layer III granule: IMDCT,
// windowing, overlap-add and frequency inversion, giving 18 time slots of 32
// sub-band samples for the polyphase filter bank.

#include "decoder/core/frame_decoder.h"

namespace tesk::quor {

// The alias-reduction butterflies between neighbouring sub-bands of one
// channel's 576 lines: none for pure short blocks, only between sub-bands
// 0 and 1 for mixed short blocks, else between all active sub-bands.
void antialias(double* lines, const GranuleInfo& granule);

// Transforms one channel's 576 lines into state.subbands[channel] (in
// single precision the slots of state.slot_granule in
// state.subbands_single[channel]), reading the previous overlap of the
// channel and writing the new one.
void hybrid_synthesis(Layer3State& state, const double* lines, int channel,
                      const GranuleInfo& granule);

} // namespace tesk::quor
