#include "platform/CLocaleFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string formatDouble(const char* specification, double value) {
    char buffer[64];
    const int length = zelm::platform::formatDouble(buffer, sizeof buffer, specification, value);
    return std::string(buffer, static_cast<std::size_t>(length));
}

// Switches the process to a German locale (decimal comma) for its life. The
// locale is compiled with localedef into the build tree on first use, so the
// test needs no locale installed on the system.
class CommaLocale {
public:
    CommaLocale() : m_previous(std::setlocale(LC_ALL, nullptr)) {
        const std::string folder = std::string(TESK_QUOR_BINARY_DIR) + "/test-locales";
        const std::string locale = "'" + folder + "/de_DE.UTF-8'";
        const std::string command = "test -d " + locale + " || (mkdir -p '" + folder +
                                    "' && localedef -i de_DE -f UTF-8 " + locale +
                                    " >/dev/null 2>&1)";
        if (std::system(command.c_str()) != 0) {
            return;
        }
        setenv("LOCPATH", folder.c_str(), 1);
        m_active = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr &&
                   std::localeconv()->decimal_point[0] == ',';
    }
    ~CommaLocale() {
        std::setlocale(LC_ALL, m_previous.c_str());
        unsetenv("LOCPATH");
    }
    bool active() const { return m_active; }

private:
    std::string m_previous;
    bool m_active = false;
};

} // namespace

TEST(CLocaleFormat, DecimalSeparatorIgnoresTheProcessLocale) {
    const CommaLocale locale;
    if (!locale.active()) {
        GTEST_SKIP() << "localedef could not build a German locale (package locales missing?)";
    }
    char local[16];
    std::snprintf(local, sizeof local, "%.1f", 0.5);
    EXPECT_STREQ(local, "0,5");
    EXPECT_EQ(formatDouble("%.1f", 0.5), "0.5");
    EXPECT_EQ(formatDouble("%'.1f", 1234567.0), "1234567.0");
}
