// The player's two commands, carried out through a loaded plug-in.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include <tesk/Plugin.h>

#include "Options.h"
#include "programs/common/decode_run.h"

namespace tesk::player {

// The plug-in library to load when none is named: the first that exists of
// the one beside the program's installed libraries and the one of the build
// tree the program was built in, else the bare library name, which the
// dynamic loader looks for along its search path.
std::string locatePlugin(const std::string& programFolder);

// Prints the stream information of the input alike with the quor tool's.
// Throws cli::InputError.
void printInfo(common::ITESKPlugin& plugin, const Options& options, std::ostream& out);

// The input opened through the plug-in in the format the options ask for,
// at their start time. Throws cli::InputError.
std::unique_ptr<cli::AudioReader> openReader(common::ITESKPlugin& plugin, const Options& options,
                                             const std::string& input);

} // namespace tesk::player
