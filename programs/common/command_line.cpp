#include "programs/common/command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <set>

namespace tesk::cli {

namespace {

namespace fs = std::filesystem;

// The longest time accepted: what fits the decoder's milliseconds.
constexpr double kLongestSeconds = 2147483.0;
// Every argument after it is a command or a file, even one that begins with
// a dash.
constexpr std::string_view kEndOfOptions = "--";

// A number of seconds or minutes: digits with an optional fraction.
bool readNumber(std::string_view text, double& value) {
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return false;
    }
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// "[[H:]M:]S": each part before the seconds is a whole number, and the
// minutes and seconds after a colon are below 60.
bool readClockTime(std::string_view text, double& seconds) {
    seconds = 0.0;
    int parts = 0;
    for (;;) {
        const std::size_t colon = text.find(':');
        double part = 0.0;
        if (!readNumber(text.substr(0, colon), part) || ++parts > 3) {
            return false;
        }
        const bool last = colon == std::string_view::npos;
        if ((parts > 1 && part >= 60.0) || (!last && part != std::floor(part))) {
            return false;
        }
        seconds = seconds * 60.0 + part;
        if (last) {
            return true;
        }
        text.remove_prefix(colon + 1);
    }
}

bool isFolder(const std::string& output) {
    std::error_code error;
    return !output.empty() && (output.back() == '/' || fs::is_directory(output, error));
}

// A device or FIFO: its name need not tell a type, as standard output's
// does not.
bool isStream(const std::string& output) {
    std::error_code error;
    const fs::file_status status = fs::status(output, error);
    return !error && fs::exists(status) && !fs::is_regular_file(status) &&
           !fs::is_directory(status);
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

OutputType typeOf(const std::string& output) {
    const std::string extension = lowerCase(fs::path(output).extension().string());
    if (extension == ".wav") {
        return OutputType::kWav;
    }
    if (extension == ".raw" || extension == ".pcm") {
        return OutputType::kRaw;
    }
    throw UsageError("cannot tell the type of output '" + output +
                     "': name it .wav, .raw or .pcm, or give --raw");
}

int parseBits(std::string_view option, const std::string& text) {
    if (text != "8" && text != "16" && text != "24" && text != "32") {
        throw refusedValue(option, "8, 16, 24 or 32", text);
    }
    return std::stoi(text);
}

bool readCommonOption(const std::string& argument, ArgumentReader& reader, CommonOptions& options) {
    if (argument == "-o" || argument == "--output") {
        options.output = reader.valueOf(argument);
    } else if (argument == "--start") {
        options.start = parseSeconds(argument, reader.valueOf(argument));
    } else if (argument == "--length") {
        options.length = parseSeconds(argument, reader.valueOf(argument));
    } else if (argument == "-f" || argument == "--force") {
        options.force = true;
    } else if (argument == "--raw") {
        options.raw = true;
    } else if (argument == "--no-gapless") {
        options.gapless = false;
    } else if (argument == "--json") {
        options.json = true;
    } else if (argument == "--quiet" || argument == "-q") {
        options.quiet = true;
    } else if (argument == "--bits") {
        options.bits = parseBits(argument, reader.valueOf(argument));
    } else if (argument == "--float") {
        options.floatSamples = true;
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

void checkInfo(const CommonOptions& options) {
    if (options.inputs.size() > 1) {
        throw UsageError("info takes one file");
    }
    if (!options.output.empty() || options.start != 0.0 || options.length || options.raw) {
        throw UsageError("info takes no output options");
    }
}

// Every input needs an output of its own that can be told apart.
void checkDecode(const CommonOptions& options) {
    if (options.output.empty()) {
        throw UsageError("decode needs an output: -o OUT");
    }
    if (options.json) {
        throw UsageError("--json goes with info only");
    }
    if (options.inputs.size() > 1 && !isFolder(options.output)) {
        throw UsageError("several inputs need a folder as output: -o FOLDER/");
    }
    std::set<std::string> outputs;
    for (const std::string& input : options.inputs) {
        const std::string path = outputFor(options, input).path;
        if (!outputs.insert(path).second) {
            throw UsageError("two inputs would both be written to '" + path + "'");
        }
    }
}

} // namespace

const std::string& ArgumentReader::valueOf(const std::string& option) {
    if (done()) {
        throw UsageError(option + " needs a value");
    }
    return next();
}

UsageError refusedValue(std::string_view option, std::string_view accepted, std::string_view text) {
    return UsageError(std::string(option) + " accepts " + std::string(accepted) + ", not '" +
                      std::string(text) + "'");
}

double parseSeconds(std::string_view option, const std::string& text) {
    double seconds = 0.0;
    if (!readClockTime(text, seconds)) {
        throw refusedValue(option, "seconds such as 90, 1.5 or 1:30.5", text);
    }
    if (seconds > kLongestSeconds) {
        throw refusedValue(option, "times up to 2147483 seconds (596:31:23)", text);
    }
    return seconds;
}

int parseInteger(std::string_view option, std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        throw refusedValue(option, std::to_string(low) + " to " + std::to_string(high), text);
    }
    return value;
}

void parseCommandLine(const std::vector<std::string>& arguments, CommonOptions& options,
                      const OptionReader& ownOption) {
    for (const std::string& argument : arguments) {
        if (argument == kEndOfOptions) {
            break;
        }
        if (argument == "--help" || argument == "-h") {
            options.command = Command::kHelp;
            return;
        }
        if (argument == "--version") {
            options.command = Command::kVersion;
            return;
        }
    }
    ArgumentReader reader(arguments);
    bool commandRead = false;
    bool optionsEnded = false;
    while (!reader.done()) {
        const std::string& argument = reader.next();
        if (!optionsEnded) {
            if (argument == kEndOfOptions) {
                optionsEnded = true;
                continue;
            }
            if (readCommonOption(argument, reader, options) || ownOption(argument, reader)) {
                continue;
            }
            if (argument.size() > 1 && argument.front() == '-') {
                throw UsageError("unknown option '" + argument + "'");
            }
        }
        if (commandRead) {
            options.inputs.push_back(argument);
        } else {
            options.command = readCommand(argument);
            commandRead = true;
        }
    }
    if (!commandRead) {
        throw UsageError("no command given");
    }
    if (options.inputs.empty()) {
        throw UsageError("no input file given");
    }
    if (options.floatSamples && options.bits != 16 && options.bits != 32) {
        throw UsageError("--float gives 32-bit samples; it does not go with --bits " +
                         std::to_string(options.bits));
    }
    if (options.floatSamples) {
        options.bits = 32;
    }
    if (options.command == Command::kInfo) {
        checkInfo(options);
    } else {
        checkDecode(options);
    }
}

OutputTarget outputFor(const CommonOptions& options, const std::string& input) {
    const OutputType forced = options.raw ? OutputType::kRaw : OutputType::kWav;
    if (!isFolder(options.output)) {
        const bool named = options.output != "-" && !options.raw && !isStream(options.output);
        return {options.output, named ? typeOf(options.output) : forced};
    }
    if (input == "-") {
        throw UsageError("standard input needs an output file, not a folder");
    }
    const std::string name = fs::path(input).stem().string() + (options.raw ? ".raw" : ".wav");
    return {(fs::path(options.output) / name).string(), forced};
}

const char* commonHelp() {
    return "  -o, --output OUT      the output: a .wav, .raw or .pcm file (any case),\n"
           "                        \"-\" for standard output, or a folder (out/) that\n"
           "                        receives NAME.wav for each input, made when missing\n"
           "                        as mkdir -p would; a device or FIFO (/dev/null) is\n"
           "                        written as it is\n"
           "  -f, --force           replace output files that exist\n"
           "  --start TIME          begin at TIME seconds: 90, 1.5, 1:30.5 or 1:02:03\n"
           "  --length TIME         decode at most TIME seconds of audio\n"
           "  --raw                 bare interleaved PCM instead of WAV, whatever the name\n"
           "  --bits 8|16|24|32     output sample size; 16 by default (8 is unsigned)\n"
           "  --float               32-bit float samples, full scale at +-1.0, never\n"
           "                        clipped\n"
           "  --no-gapless          keep the encoder delay and padding that a stream's\n"
           "                        encoder tag records (trimmed by default)\n"
           "  --json                info as one JSON object\n"
           "  -q, --quiet           no progress line\n"
           "  -h, --help            this text\n"
           "  --version             the program's version\n"
           "An input \"-\" is standard input; after \"--\" every argument is a file.\n"
           "\n"
           "An output file that exists is replaced only with -f, and never by an\n"
           "unfinished one; an output that is an input is refused.\n"
           "\n"
           "Exit status: 0 success; 1 a file could not be read, decoded or written\n"
           "(the others given are still decoded); 2 a usage error, or an output\n"
           "refused before anything was written; 128 + N when stopped by signal N\n"
           "(SIGINT, SIGTERM, SIGHUP), the unfinished output removed; 141 (SIGPIPE)\n"
           "when the reader of a pipe the output goes to ends first.\n"
           "A WAV output of more than 4 GiB is written as RF64.\n";
}

} // namespace tesk::cli
