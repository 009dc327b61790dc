#pragma once

// Huffman decoding and dequantisation of one granule of one channel.

#include "decoder/core/bit_reader.h"
#include "decoder/core/layer3_side_info.h"

namespace tesk::quor {

// Where the scale factors of the granule and channel are: the store and one
// past the last entry the reader wrote.
struct ScaleFactors {
    const unsigned* store;
    int end;
};

// Decodes the granule's Huffman data at the reader into 576 dequantised
// lines (short blocks in window-interleaved order) and writes the granule's
// band limits and active sub-bands. part2_length is the number of
// scale-factor bits already taken from part2_3_length. Returns 0 when done,
// 1 when the Huffman data ran over part2_3_length, FRAME_CORRUPT when a band
// walk, a scale-factor read or a line position leaves its bounds. On 0 the
// reader stands at the end of the granule's part2_3_length bits.
int decode_spectrum(BitReader& reader, double* lines, ScaleFactors scale_factors,
                    GranuleInfo& granule, int sample_rate_index, int part2_length);

} // namespace tesk::quor
