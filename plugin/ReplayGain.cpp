#include "ReplayGain.h"

#include <cmath>
#include <cstdio>

#include "decoder/stream_tags.h"

namespace tesk::quor {

namespace {

struct TaggedGain {
    const char* kind;
    const char* gainKey;
    const char* peakKey;
};

constexpr TaggedGain kTrack = {"track", "replaygain_track_gain", "replaygain_track_peak"};
constexpr TaggedGain kAlbum = {"album", "replaygain_album_gain", "replaygain_album_peak"};

std::string decibels(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", value);
    return text;
}

} // namespace

ReplayGain chooseReplayGain(ReplayGainMode mode, double preampDb,
                            const std::function<std::string(const char* key)>& tag) {
    if (mode == ReplayGainMode::kOff) {
        return {};
    }
    const TaggedGain order[] = {mode == ReplayGainMode::kTrack ? kTrack : kAlbum,
                                mode == ReplayGainMode::kTrack ? kAlbum : kTrack};
    for (const TaggedGain& chosen : order) {
        double gain = 0.0;
        if (!ParseReplayGainValue(tag(chosen.gainKey), gain)) {
            continue;
        }
        const double wanted = gain + preampDb;
        double applied = wanted;
        double peak = 0.0;
        std::string description = std::string(chosen.kind) + " gain " + decibels(gain) +
                                  ", pre-amplification " + decibels(preampDb);
        if (ParseReplayGainValue(tag(chosen.peakKey), peak) && peak > 0.0 &&
            wanted > -20.0 * std::log10(peak)) {
            applied = -20.0 * std::log10(peak);
            description += ": limited to " + decibels(applied) + " by the peak " +
                           std::to_string(peak) + ", which would clip";
        }
        return {static_cast<float>(std::pow(10.0, applied / 20.0)),
                description + "; applied " + decibels(applied)};
    }
    return {1.0f, "no ReplayGain in the tags; none applied"};
}

} // namespace tesk::quor
