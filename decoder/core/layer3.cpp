#include "decoder/core/layer3.h"

#include <algorithm>

#include "decoder/core/frame_decoder.h"
#include "decoder/core/layer3_dequant.h"
#include "decoder/core/layer3_hybrid.h"
#include "decoder/core/layer3_stereo.h"
#include "decoder/core/layer3_tables.h"
#include "decoder/core/simd_path.h"

namespace tesk::quor {
namespace {

constexpr int kJointStereo = 1;
constexpr unsigned kIntensityBit = 1;
constexpr unsigned kMidSideBit = 2;
constexpr int kLinesPerSubband = 18;

struct FrameLayout {
    int granules;
    int channels;
    bool mid_side;
    bool intensity;
    bool lsf;
    int sample_rate_index;
};

FrameLayout frame_layout(const FrameHeader& header) {
    const bool joint = header.mode == kJointStereo;
    const auto extension = static_cast<unsigned>(header.mode_extension);
    return {header.lsf != 0 ? 1 : 2,
            header.channels,
            joint && (extension & kMidSideBit) != 0,
            joint && (extension & kIntensityBit) != 0,
            header.lsf != 0,
            header.sample_rate_index};
}

// Reads the scale factors and decodes the spectrum of one channel of one
// granule. Returns 0, 1 (Huffman data ran over) or FRAME_CORRUPT.
int decode_channel(FrameDecoder& decoder, const FrameLayout& layout, int granule_index,
                   int channel) {
    Layer3State& state = decoder.layer3;
    GranuleInfo& granule = state.side_info.granules[channel][granule_index];
    unsigned* store = state.scale_factors[channel];
    const ScaleFactorRead read =
        layout.lsf
            ? read_scale_factors_lsf(decoder.bits, store, granule, channel == 1 && layout.intensity,
                                     state.intensity_not_coded)
            : read_scale_factors_mpeg1(decoder.bits, store, granule);
    if (read.bits == FRAME_CORRUPT) {
        return FRAME_CORRUPT;
    }
    return decode_spectrum(decoder.bits, state.spectrum[channel], {store, read.end}, granule,
                           layout.sample_rate_index, read.bits);
}

// Applies mid/side and intensity stereo to the granule's two channels.
// Returns false for a corrupt intensity band.
bool joint_stereo(Layer3State& state, const FrameLayout& layout, int granule_index) {
    GranuleInfo& left = state.side_info.granules[0][granule_index];
    GranuleInfo& right = state.side_info.granules[1][granule_index];
    if (layout.mid_side) {
        // Both channels are zero above their active sub-bands.
        const unsigned active = std::max(left.active_subbands, right.active_subbands);
        mid_side_stereo(state.spectrum[0], state.spectrum[1],
                        static_cast<int>(active) * kLinesPerSubband);
    }
    if (layout.intensity &&
        intensity_stereo(state.spectrum[0], state.spectrum[1], state.scale_factors[1],
                         state.intensity_not_coded, right, layout.sample_rate_index,
                         layout.mid_side, layout.lsf) == 0) {
        return false;
    }
    if (layout.mid_side || layout.intensity) {
        const unsigned active = std::max(left.active_subbands, right.active_subbands);
        left.active_subbands = active;
        right.active_subbands = active;
    }
    return true;
}

// Hands the time slots of the frame's first `granules` granules (one in
// double precision), in the precision of the transforms, to the polyphase
// synthesis.
int synthesize_granules(FrameDecoder& decoder, int channels, int granules, unsigned char* output,
                        int& position) {
    const Layer3State& state = decoder.layer3;
    if (precision() == Precision::kSingle) {
        const float* blocks[2] = {state.subbands_single[0][0], state.subbands_single[1][0]};
        return synthesize_decoded(decoder, blocks, channels, kLinesPerSubband * granules, output,
                                  position);
    }
    const double* blocks[2] = {state.subbands[0][0], state.subbands[1][0]};
    return synthesize_decoded(decoder, blocks, channels, kLinesPerSubband, output, position);
}

} // namespace

void init_layer3_tables(int /*subband_limit*/) {
    layer3_tables();
}

int decode_layer3_frame(FrameDecoder& decoder, unsigned char* output, int& position) {
    Layer3State& state = decoder.layer3;
    if (set_main_data_start(decoder, state.side_info.main_data_begin) != 0) {
        return 0;
    }
    const FrameLayout layout = frame_layout(decoder.header);
    // Single precision synthesises the frame's granules together (in lanes
    // of eight blocks, 36 blocks fill them better than 18), and those
    // transformed before a failure still come out.
    const bool together = precision() == Precision::kSingle;
    int clips = 0;
    int held = 0;
    const auto synthesize_held = [&] {
        if (held > 0) {
            clips += synthesize_granules(decoder, layout.channels, held, output, position);
        }
        held = 0;
        return clips;
    };
    for (int gr = 0; gr < layout.granules; ++gr) {
        for (int ch = 0; ch < layout.channels; ++ch) {
            const int result = decode_channel(decoder, layout, gr, ch);
            if (result != 0) {
                synthesize_held();
                return result == FRAME_CORRUPT ? FRAME_CORRUPT : clips;
            }
        }
        if (layout.channels == 2 && !joint_stereo(state, layout, gr)) {
            synthesize_held();
            return FRAME_CORRUPT;
        }
        state.slot_granule = together ? gr : 0;
        for (int ch = 0; ch < layout.channels; ++ch) {
            const GranuleInfo& granule = state.side_info.granules[ch][gr];
            antialias(state.spectrum[ch], granule);
            hybrid_synthesis(state, state.spectrum[ch], ch, granule);
        }
        ++held;
        if (!together) {
            synthesize_held();
        }
    }
    return synthesize_held();
}

} // namespace tesk::quor
