#include "decoder/core/layer3.h"

#include "decoder/core/frame_decoder.h"

namespace tesk::quor {

void init_layer3_tables(int /*subband_limit*/) {}

int decode_layer3_frame(FrameDecoder& /*decoder*/, std::int16_t* /*out*/,
                        std::size_t& /*position*/) {
    return 0;
}

} // namespace tesk::quor
