#include "platform/CLocaleFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

std::string formatDouble(const char* specification, double value) {
    char buffer[64];
    const int length = zelm::posix::formatDouble(buffer, sizeof buffer, specification, value);
    return std::string(buffer, static_cast<std::size_t>(length));
}

// Switches the process to a locale whose decimal separator is a comma, if the
// system has one, and back to the previous locale at the end.
class CommaLocale {
public:
    CommaLocale() : m_previous(std::setlocale(LC_ALL, nullptr)) {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "fr_FR"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) {
                m_active = std::localeconv()->decimal_point[0] == ',';
                if (m_active) {
                    return;
                }
            }
        }
    }
    ~CommaLocale() { std::setlocale(LC_ALL, m_previous.c_str()); }
    bool active() const { return m_active; }

private:
    std::string m_previous;
    bool m_active = false;
};

} // namespace

TEST(CLocaleFormat, FormatsOneField) {
    EXPECT_EQ(formatDouble("%.3f", 2.5), "2.500");
    EXPECT_EQ(formatDouble("%+08.2e", -1234.5), "-1.23e+03");
    char buffer[8];
    EXPECT_EQ(zelm::posix::formatCharacter(buffer, sizeof buffer, "%-3c", 'q'), 3);
    EXPECT_EQ(std::string(buffer), "q  ");
}

TEST(CLocaleFormat, ReportsTheFullLengthWhenTheBufferIsShort) {
    char buffer[4];
    EXPECT_EQ(zelm::posix::formatDouble(buffer, sizeof buffer, "%f", 12.0), 9);
    EXPECT_EQ(std::string(buffer), "12.");
}

TEST(CLocaleFormat, DecimalSeparatorIgnoresTheProcessLocale) {
    const CommaLocale locale;
    if (!locale.active()) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    EXPECT_EQ(formatDouble("%.1f", 0.5), "0.5");
}
