// What info prints about a stream, alike in both programs: one "key: value"
// line each, or one JSON object.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tesk::cli {

struct StreamReport {
    double duration = -1.0; // seconds; below 0 when unknown
    int sampleRate = 0;
    int channels = 0;
    int layer = 0;
    int version = 0;  // 10 MPEG-1, 20 MPEG-2, 25 MPEG-2.5
    int mode = 0;     // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int bitRate = -1; // bit/s; -1 when unknown
    bool vbr = false;
    int frames = -1;         // -1 when unknown
    int encoderDelay = -1;   // samples; -1 when not recorded
    int encoderPadding = -1; // samples; -1 when not recorded
    // The tags: key and UTF-8 value, in the decoder library's order of keys.
    // tagsNote says why there are none when they could not be read.
    std::vector<std::pair<std::string, std::string>> tags;
    std::string tagsNote;
    int bits = 16;        // the sample size a decode with the same options writes
    bool isFloat = false; // and whether its samples are float
};

// Fills the report's tags: lookup gives the value of a key, "" for none.
// Without keys (a decoder library built without tag reading) the note says
// so.
void addTags(StreamReport& report, const std::function<std::string(const char* key)>& lookup);

// "MPEG-1", "MPEG-2" or "MPEG-2.5" for the interface's version code.
std::string versionName(int version);

// The report as text lines or, with json, as one JSON object on one line.
std::string formatReport(const StreamReport& report, bool json);

} // namespace tesk::cli
