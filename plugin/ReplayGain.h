// ReplayGain on playback: the factor the converter multiplies the samples
// by, from the stream's tagged gains and peaks, a choice of track or album
// gain and a pre-amplification.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tesk::quor {

enum class ReplayGainMode { kOff = 0, kTrack = 1, kAlbum = 2 };

struct ReplayGain {
    float factor = 1.0f;
    // What was applied, for the log; empty when nothing was.
    std::string description;
};

// The gain for mode: the chosen gain of the tags (the other one where the
// tags lack it) plus preampDb, limited so that the peak tagged with that
// gain stays at or below full scale. tag gives the value of a tag key, ""
// for none. No gain is applied when the tags have no usable gain.
ReplayGain chooseReplayGain(ReplayGainMode mode, double preampDb,
                            const std::function<std::string(const char* key)>& tag);

} // namespace tesk::quor
