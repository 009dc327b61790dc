// The quor command-line tool: stream information and decoding to WAV or
// bare PCM, straight through the Quor_ interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "programs/common/command_line.h"

namespace tesk::quor::cli {

struct Options : tesk::cli::CommonOptions {
    std::int32_t bufferBytes = 4608; // asked of the decoder per call
    std::string picture;             // info: where the front cover goes
};

// Reads the arguments after the program name. Throws tesk::cli::UsageError.
Options ParseArguments(const std::vector<std::string>& arguments);

// Runs the tool on the arguments after the program name, writing to the
// standard streams. Returns the exit status.
int Run(const std::vector<std::string>& arguments);

} // namespace tesk::quor::cli
