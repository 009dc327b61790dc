#include "programs/common/progress.h"

#include <algorithm>
#include <cmath>

namespace tesk::cli {

namespace {

// Seconds as m:ss.s, rounded to the tenth before the minutes are taken, so
// that 59.98 s shows as 1:00.0.
std::string clock(double seconds) {
    const long long tenths = std::llround(std::max(seconds, 0.0) * 10.0);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, tenths % 600 / 10,
                  tenths % 10);
    return text;
}

} // namespace

ProgressLine::ProgressLine(bool shown, std::FILE* stream) : m_shown(shown), m_stream(stream) {}

ProgressLine::~ProgressLine() {
    end();
}

void ProgressLine::begin(const std::string& name, double total) {
    end();
    m_name = name;
    m_done = 0.0;
    m_total = total;
    m_startTime = std::chrono::steady_clock::now();
}

void ProgressLine::show(double done) {
    m_done = done;
    const auto now = std::chrono::steady_clock::now();
    if (m_shown && (!m_written || now - m_lastShown >= std::chrono::milliseconds(100))) {
        m_lastShown = now;
        render();
        m_written = true;
    }
}

void ProgressLine::end() {
    if (m_written) {
        render();
        std::fputc('\n', m_stream);
        m_written = false;
    }
}

void ProgressLine::render() const {
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - m_startTime;
    const double speed = spent.count() > 0.0 ? m_done / spent.count() : 0.0;
    std::string line = "\r" + (m_name.empty() ? std::string() : m_name + "  ") + clock(m_done);
    if (m_total > 0.0) {
        line += " / " + clock(m_total);
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "  %.1fx", speed);
    line += rate;
    if (m_total > 0.0 && speed > 0.0) {
        line += "  " + clock(std::max(m_total - m_done, 0.0) / speed) + " left";
    }
    std::fputs((line + "   ").c_str(), m_stream);
}

} // namespace tesk::cli
