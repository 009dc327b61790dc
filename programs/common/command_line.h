// The command line both programs share: the commands, the inputs and output,
// times in seconds, and the output type each input is written as.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tesk::cli {

enum class Command { kInfo, kDecode, kHelp, kVersion };

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
// A usage error, or an output refused before anything was written.
inline constexpr int kExitUsage = 2;

struct CommonOptions {
    Command command = Command::kHelp;
    std::vector<std::string> inputs; // "-" is standard input
    std::string output;              // a file, a folder, or "-" for standard output
    double start = 0.0;              // seconds
    std::optional<double> length;    // seconds
    bool raw = false;
    bool force = false;  // replace an output file that exists
    bool gapless = true; // trim the encoder delay and padding a stream records
    bool quiet = false;
    bool json = false;
    int bits = 16;             // 8, 16, 24 or 32
    bool floatSamples = false; // 32-bit float samples; bits is then 32
};

// A command line that cannot be understood; the text says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Walks the arguments, handing out option values.
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& arguments) : m_arguments(arguments) {}
    bool done() const { return m_next >= m_arguments.size(); }
    const std::string& next() { return m_arguments[m_next++]; }
    // The value after option; throws UsageError when there is none.
    const std::string& valueOf(const std::string& option);

private:
    const std::vector<std::string>& m_arguments;
    std::size_t m_next = 0;
};

// The refusal of a value, worded alike for every option.
UsageError refusedValue(std::string_view option, std::string_view accepted, std::string_view text);

// Seconds written as "90", "1.5", "1:30.5" or "1:02:03.5".
double parseSeconds(std::string_view option, const std::string& text);
// A whole number from low to high.
int parseInteger(std::string_view option, std::string_view text, int low, int high);

// Takes one option of a program's own; false when the argument is none of
// them.
using OptionReader = std::function<bool(const std::string& argument, ArgumentReader& reader)>;

// Fills options from the arguments after the program name. Throws
// UsageError.
void parseCommandLine(const std::vector<std::string>& arguments, CommonOptions& options,
                      const OptionReader& ownOption);

enum class OutputType { kWav, kRaw };

struct OutputTarget {
    std::string path; // "-" for standard output
    OutputType type = OutputType::kWav;
};

// Where the audio of input goes: the output itself, or NAME.wav (NAME.raw
// with --raw) in the output folder. Throws UsageError for an output whose
// type cannot be told from its extension.
OutputTarget outputFor(const CommonOptions& options, const std::string& input);

// The lines of the help text that both programs share.
const char* commonHelp();

} // namespace tesk::cli
