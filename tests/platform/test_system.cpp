#include "platform/System.h"

#include <gtest/gtest.h>

namespace zelm::posix {
namespace {

TEST(System, DebugBreakWithoutADebuggerReturns) {
    if (isDebuggerAttached()) {
        GTEST_SKIP() << "a debugger is attached; debugBreak would stop in it";
    }
    debugBreak();
    sleep(1);
    SUCCEED();
}

} // namespace
} // namespace zelm::posix
