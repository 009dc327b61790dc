// The command line of the tesk player.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tesk::player {

enum class Command { kInfo, kDecode, kHelp, kVersion };

struct Options {
    Command command = Command::kHelp;
    std::string file;
    std::string output;           // "-" for standard output
    std::optional<int> rate;      // Hz, 8000 to 192000; the file's own when absent
    std::optional<int> channels;  // 1 to 8; the file's own when absent
    int bits = 16;                // 8 or 16
    bool highQuality = true;      // the plug-in's high-quality converter
    double start = 0.0;           // seconds
    std::optional<double> length; // seconds
    bool raw = false;
    bool gapless = true; // trim the encoder delay and padding a stream records
    bool quiet = false;
    bool verbose = false;
    std::string plugin; // the plug-in library; empty for the default
};

// A command line that cannot be understood; the text says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments after the program name.
Options parseOptions(const std::vector<std::string>& arguments);

// The help text.
const char* usageText();

} // namespace tesk::player
