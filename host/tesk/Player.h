// The player's two commands, carried out through a loaded plug-in.
#pragma once

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

#include <tesk/Plugin.h>

#include "Options.h"

namespace tesk::player {

// A failure that is neither the plug-in's exception nor the output's.
class PlayerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reports progress: seconds of audio written and the seconds to reach (0 or
// less when unknown).
using ProgressReport = std::function<void(double done, double total)>;

// The plug-in library to load when none is named: the first that exists of
// the one beside the program's installed libraries and the one of the build
// tree the program was built in, else the bare library name, which the
// dynamic loader looks for along its search path.
std::string locatePlugin(const std::string& programFolder);

// Prints the plug-in's name and version and the file's format, one
// "key: value" line each.
void printInfo(common::ITESKPlugin& plugin, const Options& options, std::ostream& out);

// Decodes the file into the output that the options name.
void decodeFile(common::ITESKPlugin& plugin, const Options& options,
                const ProgressReport& progress);

} // namespace tesk::player
