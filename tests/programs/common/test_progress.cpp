#include "programs/common/progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Times are rounded to the tenth before the minutes are taken.
TEST(ProgressLine, CarriesTheRoundingIntoTheMinutes) {
    for (const auto& [seconds, shown] :
         {std::pair{59.98, "1:00.0 / 1:00.0"}, std::pair{3599.96, "60:00.0 / 60:00.0"},
          std::pair{61.04, "1:01.0 / 1:01.0"}}) {
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* stream = open_memstream(&text, &size);
        {
            tesk::cli::ProgressLine line(true, stream);
            line.begin("", seconds);
            line.show(seconds);
        }
        std::fclose(stream);
        EXPECT_NE(std::string(text, size).find(shown), std::string::npos) << text;
        std::free(text);
    }
}
