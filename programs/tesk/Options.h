// The command line of the tesk player.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "programs/common/command_line.h"

namespace tesk::player {

struct Options : cli::CommonOptions {
    std::optional<int> rate;     // Hz, 8000 to 192000; the file's own when absent
    std::optional<int> channels; // 1 to 8; the file's own when absent
    bool highQuality = true;     // the plug-in's high-quality converter
    bool verbose = false;
    int replayGain = 0;   // 0 off, 1 the track gain, 2 the album gain
    int preampTenths = 0; // tenths of a decibel added to the ReplayGain
    std::string plugin;   // the plug-in library; empty for the default
};

// Reads the arguments after the program name. Throws cli::UsageError.
Options parseOptions(const std::vector<std::string>& arguments);

// The help text.
std::string usageText();

} // namespace tesk::player
