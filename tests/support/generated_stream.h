#pragma once

#include <filesystem>
#include <string>

#include <unistd.h>

#include "tools/streamgen/streamgen.h"

namespace tesk_quor_test {

// A generated stream in the build tree's folder of test streams, made once.
// It is written under a name of this process's own and renamed, as tests
// running side by side may make the same stream.
inline std::string generatedStream(const std::string& folder, const std::string& name,
                                   const tesk::quor::streamgen::StreamOptions& options) {
    namespace gen = tesk::quor::streamgen;
    const std::filesystem::path path =
        std::filesystem::path(TESK_QUOR_BINARY_DIR) / "test-streams" / folder / name;
    if (!std::filesystem::exists(path)) {
        const std::string temporary = path.string() + "." + std::to_string(::getpid());
        gen::WriteFile(temporary, gen::Generate(options).bytes);
        std::filesystem::rename(temporary, path);
    }
    return path.string();
}

} // namespace tesk_quor_test
