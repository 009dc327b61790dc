#include "programs/common/system_seam.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tesk::cli::os {

std::vector<std::string> startProgram(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool pathStatus(const std::string& path, PathStatus& status) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        status = {};
        return errno == ENOENT;
    }
    if (S_ISREG(info.st_mode)) {
        status = {PathKind::kRegular, static_cast<unsigned>(info.st_mode & 07777)};
    } else {
        status = {S_ISLNK(info.st_mode) ? PathKind::kLink : PathKind::kOther, 0};
    }
    return true;
}

void givePermissions(std::FILE* file, bool replacing, unsigned permissions) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fileno(file), replacing ? static_cast<mode_t>(permissions) : 0666 & ~mask);
}

bool isRewritable(std::FILE* file) {
    struct stat status {};
    const int descriptor = fileno(file);
    return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
           (fcntl(descriptor, F_GETFL) & O_APPEND) == 0;
}

std::FILE* openInPlace(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
    }
    return file;
}

bool flushToDisk(std::FILE* file) {
    return fsync(fileno(file)) == 0;
}

bool isTerminal(std::FILE* file) {
    return isatty(fileno(file)) != 0;
}

bool sameFile(const std::string& input, const std::string& output) {
    struct stat in {};
    struct stat out {};
    const int found = input == "-" ? fstat(STDIN_FILENO, &in) : stat(input.c_str(), &in);
    return found == 0 && stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
           in.st_ino == out.st_ino;
}

std::string standardInputPath() {
    return "/dev/stdin";
}

int readingError(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY);
    if (descriptor < 0) {
        return errno;
    }
    ::close(descriptor);
    return 0;
}

std::filesystem::path runningProgram() {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program;
}

} // namespace tesk::cli::os
