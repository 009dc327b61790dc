// The progress line of a decode on a terminal: position / duration, speed
// and time left, and the file's name when several files are decoded. It is
// rewritten in place at most ten times a second.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace tesk::cli {

class ProgressLine {
public:
    // Shown only when shown is true; written to stream.
    ProgressLine(bool shown, std::FILE* stream);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Starts a file: name is shown when not empty; total is the seconds to
    // reach, 0 or less when unknown.
    void begin(const std::string& name, double total);
    // Seconds of audio written so far.
    void show(double done);
    // Ends the line of the current file.
    void end();

private:
    void render() const;

    bool m_shown;
    std::FILE* m_stream;
    bool m_written = false;
    std::string m_name;
    double m_done = 0.0;
    double m_total = 0.0;
    std::chrono::steady_clock::time_point m_startTime;
    std::chrono::steady_clock::time_point m_lastShown;
};

} // namespace tesk::cli
