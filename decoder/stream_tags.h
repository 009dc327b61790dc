// The tags a file carries (ID3v2 in front, APEv2 and ID3v1 behind the audio),
// read with TagLib through the decoder's input callbacks, as the same named
// UTF-8 values in every program: title, artist, album, album_artist, track,
// disc, date, genre, comment, composer, the four ReplayGain values and
// picture. A build without TagLib reads no tags.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "quor/quor.h"

namespace tesk::quor {

struct StreamTags {
    // Whether the tags could be looked for: TagLib is built in and the input
    // can seek.
    bool read = false;
    std::map<std::string, std::string> values;
    // The front cover, else the first picture; described by values["picture"].
    std::vector<std::uint8_t> picture;
};

// Whether this build reads tags at all.
bool TagReadingBuiltIn();

// The key of each value the tags may give, from index 0 on; null past the
// last, and for every index in a build without tag reading.
const char* TagKey(std::int32_t index);

// Reads the tags of the input behind the callbacks and moves it back to
// where it was. A tag that cannot be parsed gives no values; nothing throws
// but std::bad_alloc.
StreamTags ReadStreamTags(const QuorCallbacks& callbacks, void* user);

// A ReplayGain gain as the tags write it ("-6.20 dB") in decibels, or a peak
// ("0.988") as a factor; false when the text is no number.
bool ParseReplayGainValue(const std::string& text, double& value);

} // namespace tesk::quor
