// tesk: plays MPEG audio files through the tesk_quor plug-in.
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <tesk/host/PluginLoader.h>
#include <zelm/Exception.h>

#include "Options.h"
#include "Player.h"
#include "programs/common/decode_run.h"
#include "programs/common/system_seam.h"

namespace {

using tesk::player::Options;
namespace cli = tesk::cli;

constexpr const char* kProgram = "tesk";

// The folder of the running program.
std::string programFolder() {
    const std::filesystem::path program = cli::os::runningProgram();
    return program.empty() ? std::string(".") : program.parent_path().string();
}

tesk::host::LogSink logSink(bool verbose) {
    if (!verbose) {
        return {};
    }
    return [](int level, const zelm::String& line) {
        std::cerr << "tesk: [" << level << "] " << line.toStdString() << std::endl;
    };
}

int execute(const tesk::host::CPluginLoader& loader, const Options& options) {
    tesk::common::ITESKPlugin& plugin = *loader.getPlugin();
    if (options.command == cli::Command::kDecode) {
        return cli::decodeAll(kProgram, options, [&](const std::string& input) {
            return tesk::player::openReader(plugin, options, input);
        });
    }
    try {
        tesk::player::printInfo(plugin, options, std::cout);
    } catch (const cli::InputError& e) {
        cli::reportFailure(kProgram, cli::subjectName(options.inputs.front(), false), e.what());
        return cli::kExitFailure;
    }
    return cli::kExitOk;
}

// Loads the plug-in and runs the command. A plug-in that cannot be loaded is
// named in the message; the exceptions are handled while the plug-in is
// still loaded, since those it throws live in its library.
int run(const Options& options) {
    const std::string plugin =
        options.plugin.empty() ? tesk::player::locatePlugin(programFolder()) : options.plugin;
    std::optional<tesk::host::CPluginLoader> loader;
    try {
        loader.emplace(plugin, logSink(options.verbose));
    } catch (const zelm::CException& e) {
        std::cerr << "tesk: " << e.getDescription().toStdString() << std::endl;
        return cli::kExitFailure;
    }
    try {
        return execute(*loader, options);
    } catch (const std::exception& e) {
        std::cerr << "tesk: " << e.what() << std::endl;
        return cli::kExitFailure;
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = tesk::player::parseOptions(cli::os::startProgram(argc, argv));
    } catch (const cli::UsageError& e) {
        std::cerr << "tesk: " << e.what() << "\nTry 'tesk --help'." << std::endl;
        return cli::kExitUsage;
    }
    if (options.command == cli::Command::kHelp) {
        std::cout << tesk::player::usageText();
        return cli::kExitOk;
    }
    if (options.command == cli::Command::kVersion) {
        std::cout << "tesk " << TESK_QUOR_VERSION << std::endl;
        return cli::kExitOk;
    }
    return run(options);
}
