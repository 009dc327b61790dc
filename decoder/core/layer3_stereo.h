#pragma once

// Joint-stereo reconstruction of a Layer III granule: mid/side and intensity.

#include "decoder/core/layer3_side_info.h"

namespace tesk::quor {

// left' = left + right, right' = left - right over the first `lines`
// lines (at most 576), rounded up to a multiple of four; the lines above
// are zero in both channels. The 1/sqrt(2) of the reconstruction is already
// in the granule gains.
void mid_side_stereo(double* left, double* right, int lines);

// Rebuilds the intensity-coded bands of the right channel from the left
// channel, using the right channel's scale factors as intensity positions
// and its band limits. A band is not intensity-coded when its position is 7
// (MPEG-1) or when lsf_not_coded flags its store entry (LSF: the largest
// value of its scale-factor length). The top band takes the position of the
// band below it; in LSF frames, when the band below still holds right-channel
// data, position 0. LSF frames use the LSF factors with the intensity scale
// of the right channel's scalefac_compress; frames with mid/side use the
// factors times sqrt(2). Returns 1, or 0 when a band would end beyond
// line 576.
int intensity_stereo(double* left, double* right, const unsigned* right_scale_factors,
                     const bool* lsf_not_coded, const GranuleInfo& right_granule,
                     int sample_rate_index, bool mid_side, bool lsf);

} // namespace tesk::quor
