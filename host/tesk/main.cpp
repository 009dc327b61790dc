// tesk: plays MPEG audio files through the tesk_quor plug-in.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <tesk/host/PluginLoader.h>
#include <zelm/Exception.h>

#include "Options.h"
#include "OutputFile.h"
#include "Player.h"

namespace {

using tesk::player::Options;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The text on one line: line breaks become "; ".
std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            line += "; ";
        } else if (c != '\r') {
            line += c;
        }
    }
    return line;
}

int fail(const std::string& subject, const std::string& cause) {
    std::cerr << "tesk: " << subject << ": " << oneLine(cause) << std::endl;
    return kExitFailure;
}

// The progress line on standard error, rewritten in place at most ten times a
// second, and a last time when decoding ends.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : m_shown(shown) {}
    ~ProgressLine() {
        if (m_shown && m_written) {
            render();
            std::fputc('\n', stderr);
        }
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    tesk::player::ProgressReport reporter() {
        if (!m_shown) {
            return {};
        }
        m_startTime = std::chrono::steady_clock::now();
        return [this](double done, double total) { show(done, total); };
    }

private:
    void show(double done, double total) {
        m_done = done;
        m_total = total;
        const auto now = std::chrono::steady_clock::now();
        if (!m_written || now - m_lastShown >= std::chrono::milliseconds(100)) {
            m_lastShown = now;
            render();
            m_written = true;
        }
    }

    void render() const {
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - m_startTime;
        const double speed = spent.count() > 0.0 ? m_done / spent.count() : 0.0;
        if (m_total > 0.0) {
            std::fprintf(stderr, "\r%5.1f%%  %.1fx ", 100.0 * std::min(m_done / m_total, 1.0),
                         speed);
        } else {
            std::fprintf(stderr, "\r%.1f s  %.1fx ", m_done, speed);
        }
    }

    bool m_shown;
    bool m_written = false;
    double m_done = 0.0;
    double m_total = 0.0;
    std::chrono::steady_clock::time_point m_startTime;
    std::chrono::steady_clock::time_point m_lastShown;
};

int execute(const tesk::host::CPluginLoader& loader, const Options& options) {
    if (options.command == tesk::player::Command::kInfo) {
        tesk::player::printInfo(*loader.getPlugin(), options, std::cout);
        return 0;
    }
    ProgressLine progress(!options.quiet && isatty(STDERR_FILENO) != 0);
    tesk::player::decodeFile(*loader.getPlugin(), options, progress.reporter());
    return 0;
}

// The folder of the running program.
std::string programFolder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : program.parent_path().string();
}

tesk::host::LogSink logSink(bool verbose) {
    if (!verbose) {
        return {};
    }
    return [](int level, const zelm::String& line) {
        std::cerr << "tesk: [" << level << "] " << line.toStdString() << std::endl;
    };
}

// Runs the command; every failure becomes one line and exit status 1. The
// exceptions are handled while the plug-in is still loaded, since those it
// throws live in its library.
int run(const Options& options) {
    std::optional<tesk::host::CPluginLoader> loader;
    try {
        loader.emplace(options.plugin.empty() ? tesk::player::locatePlugin(programFolder())
                                              : options.plugin,
                       logSink(options.verbose));
        return execute(*loader, options);
    } catch (const tesk::player::OutputError& e) {
        return fail(options.output == "-" ? std::string("standard output") : options.output,
                    e.what());
    } catch (const zelm::CException& e) {
        return fail(options.file, e.getDescription().toStdString());
    } catch (const std::exception& e) {
        return fail(options.file, e.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = tesk::player::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const tesk::player::UsageError& e) {
        std::cerr << "tesk: " << e.what() << "\nTry 'tesk --help'." << std::endl;
        return kExitUsage;
    }
    if (options.command == tesk::player::Command::kHelp) {
        std::cout << tesk::player::usageText();
        return 0;
    }
    if (options.command == tesk::player::Command::kVersion) {
        std::cout << "tesk " << TESK_QUOR_VERSION << std::endl;
        return 0;
    }
    return run(options);
}
