#include "Options.h"

#include <cmath>
#include <cstdlib>

namespace tesk::player {

namespace {

// The rates and channel counts the plug-in's converter delivers.
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;
constexpr int kMaxChannels = 8;
// The largest pre-amplification in decibels, either way.
constexpr double kMaxPreamp = 20.0;

// Decibels from -20 to 20 as tenths of a decibel.
int parsePreamp(const std::string& argument, const std::string& text) {
    char* end = nullptr;
    const double decibels = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(std::abs(decibels) <= kMaxPreamp)) {
        throw cli::refusedValue(argument, "decibels from -20 to 20", text);
    }
    return static_cast<int>(std::lround(decibels * 10.0));
}

// Takes one of the player's own options; false when the argument is none.
bool readOption(const std::string& argument, cli::ArgumentReader& reader, Options& options) {
    if (argument == "--rate") {
        options.rate = cli::parseInteger(argument, reader.valueOf(argument), kMinRate, kMaxRate);
    } else if (argument == "--channels") {
        options.channels = cli::parseInteger(argument, reader.valueOf(argument), 1, kMaxChannels);
    } else if (argument == "--quality") {
        const std::string& quality = reader.valueOf(argument);
        if (quality != "fast" && quality != "high") {
            throw cli::refusedValue(argument, "fast or high", quality);
        }
        options.highQuality = quality == "high";
    } else if (argument == "--replaygain") {
        const std::string& mode = reader.valueOf(argument);
        if (mode != "off" && mode != "track" && mode != "album") {
            throw cli::refusedValue(argument, "track, album or off", mode);
        }
        options.replayGain = mode == "track" ? 1 : mode == "album" ? 2 : 0;
    } else if (argument == "--preamp") {
        options.preampTenths = parsePreamp(argument, reader.valueOf(argument));
    } else if (argument == "--plugin") {
        options.plugin = reader.valueOf(argument);
    } else if (argument == "--verbose" || argument == "-v") {
        options.verbose = true;
    } else {
        return false;
    }
    return true;
}

} // namespace

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    cli::parseCommandLine(arguments, options,
                          [&](const std::string& argument, cli::ArgumentReader& reader) {
                              return readOption(argument, reader, options);
                          });
    if (options.command == cli::Command::kInfo && (options.rate || options.channels)) {
        throw cli::UsageError("info takes no output options");
    }
    return options;
}

std::string usageText() {
    return std::string(
               "Usage: tesk info FILE [--json]\n"
               "       tesk decode FILE... -o OUT [options]\n"
               "Plays MPEG audio files through the tesk_quor plug-in.\n"
               "\n"
               "  info                  the stream's duration, format and coding\n"
               "  decode                decodes each FILE into OUT\n"
               "  --rate HZ             output sample rate, 8000 to 192000; the file's own by\n"
               "                        default\n"
               "  --channels N          output channels, 1 to 8; the file's own by default\n"
               "  --quality fast|high   sample-rate converter; high by default\n"
               "  --replaygain track|album|off\n"
               "                        applies the gain the tags record, limited so that\n"
               "                        their peak does not clip; off by default\n"
               "  --preamp DB           decibels added to the ReplayGain, -20 to 20; 0 by\n"
               "                        default\n"
               "  -v, --verbose         show the plug-in's log lines\n"
               "  --plugin PATH         load the plug-in from PATH\n") +
           cli::commonHelp();
}

} // namespace tesk::player
