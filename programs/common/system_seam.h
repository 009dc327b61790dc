// What the programs ask of the operating system about files, terminals and
// their own start, in one place: system_seam.cpp for POSIX systems,
// system_seam_win32.cpp for Windows. Failures leave errno set.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tesk::cli::os {

// The process made ready and its arguments (without the program name) in
// UTF-8: on Windows taken from the wide command line, and the standard
// streams switched to binary.
std::vector<std::string> startProgram(int argc, char** argv);

enum class PathKind { kMissing, kRegular, kLink, kOther };

struct PathStatus {
    PathKind kind = PathKind::kMissing;
    unsigned permissions = 0; // of a regular file
};

// What path names, a symbolic link not followed; false when that cannot be
// told.
bool pathStatus(const std::string& path, PathStatus& status);

// A new output file gets the permissions of the file it replaces, or those
// of any new file of the user (Windows: the folder's, unchanged).
void givePermissions(std::FILE* file, bool replacing, unsigned permissions);

// A regular file not opened for appending, whose header can be rewritten.
bool isRewritable(std::FILE* file);

// A device, FIFO or socket opened for writing in place.
std::FILE* openInPlace(const std::string& path);

// The file's data handed to the disk (fsync, FlushFileBuffers).
bool flushToDisk(std::FILE* file);

bool isTerminal(std::FILE* file);

// True when the two paths name one file: standard input for "-".
bool sameFile(const std::string& input, const std::string& output);

// A path by which a program can open its standard input, a file or a pipe
// alike; "" where the system has none.
std::string standardInputPath();

// The error of opening path for reading, 0 when it opens.
int readingError(const std::string& path);

// The file of the running program; empty when it cannot be told.
std::filesystem::path runningProgram();

} // namespace tesk::cli::os
