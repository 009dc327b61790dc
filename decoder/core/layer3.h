#pragma once

// Layer III spectrum decoding: Huffman decoding and dequantisation of the
// granules, stereo processing, alias reduction and the hybrid synthesis that
// feeds the polyphase filter bank. The frame entry, decode_layer3_frame, is
// declared with the frame decoder.

namespace tesk::quor {

// Makes sure the Layer III tables are built. They are immutable and built
// once per process, thread-safely; later calls find them ready. The sub-band
// limit is always 32.
void init_layer3_tables(int subband_limit);

} // namespace tesk::quor
