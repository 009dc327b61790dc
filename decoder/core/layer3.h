#pragma once

// Layer III spectrum decoding: Huffman decoding and dequantisation of the
// granules, stereo processing, alias reduction and the hybrid synthesis that
// feeds the polyphase filter bank.

namespace tesk::quor {

struct FrameDecoder;

// Result of a Layer III frame whose data contradict themselves.
inline constexpr int FRAME_CORRUPT = -1000;

// Makes sure the Layer III tables are built. They are immutable and built
// once per process, thread-safely; later calls find them ready. The sub-band
// limit is always 32.
void init_layer3_tables(int subband_limit);

// Decodes the main data of the frame in hand, whose side information
// layer3_side_info_bits has read, into PCM at the output position (in
// bytes, advanced by the bytes written; see synthesize_blocks16). Returns
// the number of clipped samples, 0 when the reservoir cannot supply the
// frame's data, or FRAME_CORRUPT. Output of granules decoded before a
// failure stays written.
int decode_layer3_frame(FrameDecoder& decoder, unsigned char* output, int& position);

} // namespace tesk::quor
