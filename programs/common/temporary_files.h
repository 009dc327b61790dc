// Temporary files that an interruption must not leave behind. While one
// exists, SIGINT, SIGTERM and SIGHUP remove it and end the program with
// 128 + the signal number; the names are kept in buffers set aside before
// any signal can come, so the handler only unlinks them. On Windows
// (temporary_files_win32.cpp) a console control handler does the same and
// the final name is given with MoveFileExW.
#pragma once

#include <cstdio>
#include <string>

namespace tesk::cli {

// Installs the signal handlers once. SIGXFSZ is ignored, so that a file
// size limit shows as a failed write (EFBIG) that the program reports.
void handleInterruptions();

// A file made from a mkstemp template (its last six characters "XXXXXX"),
// owned by the object: removed when the object goes unless it was renamed,
// and by the signal handlers while it exists.
class TemporaryFile {
public:
    // Throws std::system_error when the file cannot be made.
    explicit TemporaryFile(std::string nameTemplate);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const { return m_path; }
    // The open file as a stream for writing, which the caller then closes;
    // null with errno set when it cannot be had.
    std::FILE* openStream();
    // Gives the file its final name; false with errno set on failure, the
    // file then still being temporary.
    bool renameTo(const std::string& path);

private:
    std::string m_path;
    int m_descriptor = -1;
    int m_slot = -1;
};

} // namespace tesk::cli
