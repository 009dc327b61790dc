// The quor command-line tool: stream information and decoding to PCM or WAV.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tesk::quor::cli {

enum class Command { kInfo, kDecode, kHelp, kVersion };

struct Options {
    Command command = Command::kHelp;
    std::string input;
    std::string output;
    std::int32_t seekMs = -1;
    std::int32_t bufferBytes = 4608;
    bool gapless = true;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Parses the arguments after the program name; on a usage error returns
// false with a message in error.
bool ParseArguments(int argc, const char* const* argv, Options& options, std::string& error);

// The name of a QUOR_ result code, such as "QUOR_ERROR_DECODE".
const char* ResultName(std::int32_t code);

// Runs the tool; out receives information and decoded PCM written to "-",
// err the messages. Returns the exit status.
int Run(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

} // namespace tesk::quor::cli
