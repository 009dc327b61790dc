// Layers I and II: allocation, scale factors and requantisation of the
// sub-band samples, handed 32 at a time per channel to the synthesis.
#pragma once

namespace tesk::quor {

struct FrameDecoder;

// Decode the frame at the decoder's bit reader (after header and CRC) and
// write its PCM at output + position, advancing position in bytes. Return the
// number of clipped samples.
int decode_layer1_frame(FrameDecoder& decoder, unsigned char* output, int& position);
int decode_layer2_frame(FrameDecoder& decoder, unsigned char* output, int& position);

// Bits of the frame at the decoder's bit reader (after header and CRC) that
// its CRC word protects: the allocation, and in Layer II the scale-factor
// selection. The reader does not move.
int layer12_protected_bits(FrameDecoder& decoder);

// Builds the Layer II requantisation tables once; later calls find them ready.
void init_layer2_tables();

} // namespace tesk::quor
