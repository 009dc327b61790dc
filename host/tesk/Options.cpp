#include "Options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace tesk::player {

namespace {

// The rates and channel counts the plug-in's converter delivers.
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;
constexpr int kMaxChannels = 8;

int parseInteger(std::string_view name, std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        throw UsageError(std::string(name) + " wants a whole number from " + std::to_string(low) +
                         " to " + std::to_string(high) + ", not '" + std::string(text) + "'");
    }
    return value;
}

double parseSeconds(std::string_view name, const std::string& text) {
    std::size_t used = 0;
    double value = -1.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(value) || value < 0.0 ||
        value > 2147483.0) {
        throw UsageError(std::string(name) + " wants seconds (0 or more), not '" + text + "'");
    }
    return value;
}

bool parseQuality(const std::string& text) {
    if (text != "fast" && text != "high") {
        throw UsageError("--quality wants fast or high, not '" + text + "'");
    }
    return text == "high";
}

// Walks the arguments, handing out option values.
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& arguments) : m_arguments(arguments) {}
    bool done() const { return m_next >= m_arguments.size(); }
    const std::string& next() { return m_arguments[m_next++]; }
    const std::string& valueOf(const std::string& option) {
        if (done()) {
            throw UsageError(option + " needs a value");
        }
        return next();
    }

private:
    const std::vector<std::string>& m_arguments;
    std::size_t m_next = 0;
};

// Takes one option; false when the argument is not an option.
bool readOption(const std::string& argument, ArgumentReader& reader, Options& options) {
    if (argument == "-o" || argument == "--output") {
        options.output = reader.valueOf(argument);
    } else if (argument == "--rate") {
        options.rate = parseInteger(argument, reader.valueOf(argument), kMinRate, kMaxRate);
    } else if (argument == "--channels") {
        options.channels = parseInteger(argument, reader.valueOf(argument), 1, kMaxChannels);
    } else if (argument == "--bits") {
        options.bits = parseInteger(argument, reader.valueOf(argument), 8, 16);
        if (options.bits != 8 && options.bits != 16) {
            throw UsageError("--bits wants 8 or 16");
        }
    } else if (argument == "--quality") {
        options.highQuality = parseQuality(reader.valueOf(argument));
    } else if (argument == "--start") {
        options.start = parseSeconds(argument, reader.valueOf(argument));
    } else if (argument == "--length") {
        options.length = parseSeconds(argument, reader.valueOf(argument));
    } else if (argument == "--plugin") {
        options.plugin = reader.valueOf(argument);
    } else if (argument == "--raw") {
        options.raw = true;
    } else if (argument == "--no-gapless") {
        options.gapless = false;
    } else if (argument == "--quiet" || argument == "-q") {
        options.quiet = true;
    } else if (argument == "--verbose" || argument == "-v") {
        options.verbose = true;
    } else if (argument.size() > 1 && argument.front() == '-') {
        throw UsageError("unknown option '" + argument + "'");
    } else {
        return false;
    }
    return true;
}

Command readCommand(const std::string& word) {
    if (word == "info") {
        return Command::kInfo;
    }
    if (word == "decode") {
        return Command::kDecode;
    }
    throw UsageError("unknown command '" + word + "'");
}

void checkComplete(const Options& options) {
    if (options.file.empty()) {
        throw UsageError("no input file given");
    }
    if (options.command == Command::kDecode && options.output.empty()) {
        throw UsageError("decode needs an output: -o OUT");
    }
    if (options.command == Command::kInfo &&
        (!options.output.empty() || options.rate || options.channels || options.bits != 16 ||
         options.start != 0.0 || options.length || options.raw)) {
        throw UsageError("info takes no output options");
    }
}

} // namespace

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            options.command = Command::kHelp;
            return options;
        }
        if (argument == "--version") {
            options.command = Command::kVersion;
            return options;
        }
    }
    ArgumentReader reader(arguments);
    if (reader.done()) {
        throw UsageError("no command given");
    }
    options.command = readCommand(reader.next());
    while (!reader.done()) {
        const std::string& argument = reader.next();
        if (readOption(argument, reader, options)) {
            continue;
        }
        if (!options.file.empty()) {
            throw UsageError("more than one input file given");
        }
        options.file = argument;
    }
    checkComplete(options);
    return options;
}

const char* usageText() {
    return "Usage: tesk info FILE\n"
           "       tesk decode FILE -o OUT [options]\n"
           "Plays MPEG audio files through the tesk_quor plug-in.\n"
           "\n"
           "  info                  the plug-in's name and version and the file's duration,\n"
           "                        sample rate, channels and bytes per sample\n"
           "  decode                decodes FILE into a WAV file OUT (\"-\" for standard output)\n"
           "  -o, --output OUT      the output file\n"
           "  --rate HZ             output sample rate, 8000 to 192000; the file's own by default\n"
           "  --channels N          output channels, 1 to 8; the file's own by default\n"
           "  --bits 8|16           output sample size; 16 by default\n"
           "  --quality fast|high   sample-rate converter; high by default\n"
           "  --start SECONDS       begin decoding at this time\n"
           "  --length SECONDS      decode at most this much audio\n"
           "  --raw                 write bare interleaved PCM instead of a WAV file\n"
           "  --no-gapless          keep the encoder delay and padding that a stream's\n"
           "                        encoder tag records (trimmed by default)\n"
           "  -q, --quiet           no progress line\n"
           "  -v, --verbose         show the plug-in's log lines\n"
           "  --plugin PATH         load the plug-in from PATH\n"
           "  -h, --help            this text\n"
           "  --version             the player's version\n"
           "\n"
           "Exit status: 0 success, 1 a file could not be played or written, 2 usage error.\n";
}

} // namespace tesk::player
