#include "decoder/core/layer3.h"

namespace tesk::quor {

void init_layer3_tables(int /*subband_limit*/) {}

int decode_layer3_frame(FrameDecoder& /*decoder*/, unsigned char* /*output*/, int& /*position*/,
                        MonoSynthesis /*mono*/, StereoSynthesis /*stereo*/) {
    return 0;
}

} // namespace tesk::quor
