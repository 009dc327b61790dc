// Layers I and II: allocation, scale factors and requantisation of the
// sub-band samples, handed 32 at a time per channel to the synthesis.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tesk::quor {

struct FrameDecoder;

// Decode the frame at the decoder's bit reader (after header and CRC) and
// write its PCM at out[position], advancing position in samples. Return the
// number of clipped samples.
int decode_layer1_frame(FrameDecoder& decoder, std::int16_t* out, std::size_t& position);
int decode_layer2_frame(FrameDecoder& decoder, std::int16_t* out, std::size_t& position);

} // namespace tesk::quor
