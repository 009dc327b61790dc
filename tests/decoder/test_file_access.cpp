#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <vector>

#include "decoder/file_access.h"
#include "test_support.h"

namespace tesk::quor {
namespace {

using test::MemoryInput;

MemoryInput Counting(std::size_t size) {
    MemoryInput input;
    input.bytes.resize(size);
    std::iota(input.bytes.begin(), input.bytes.end(), std::uint8_t{0});
    return input;
}

TEST(FileAccess, MarksGiveProbedBytesBack) {
    MemoryInput input = Counting(64);
    CQuorFileAccess file(input.Callbacks(), &input);
    std::uint8_t first[10];
    std::uint8_t again[10];
    const std::int32_t mark = file.Mark();
    ASSERT_EQ(file.Read(first, 10), 10);
    file.ReleaseMark(mark, true);
    EXPECT_EQ(file.GetPosition(), 0);
    const std::int32_t calls = input.readCalls;
    ASSERT_EQ(file.Read(again, 10), 10);
    EXPECT_EQ(input.readCalls, calls);
    EXPECT_EQ(0, std::memcmp(first, again, 10));
    EXPECT_EQ(file.GetPosition(), 10);

    // Without rewinding, the bytes stay consumed and later reads go on.
    const std::int32_t kept = file.Mark();
    ASSERT_EQ(file.Read(first, 10), 10);
    file.ReleaseMark(kept, false);
    ASSERT_EQ(file.Read(again, 4), 4);
    EXPECT_EQ(again[0], 20);
    EXPECT_EQ(file.GetPosition(), 24);
}

TEST(FileAccess, SeekMovesOnlyWhenAllowed) {
    MemoryInput input = Counting(100);
    input.seekable = false;
    CQuorFileAccess unseekable(input.Callbacks(), &input);
    EXPECT_FALSE(unseekable.CanSeek());
    EXPECT_TRUE(unseekable.Seek(0)); // already there
    EXPECT_FALSE(unseekable.Seek(10));
    EXPECT_EQ(unseekable.GetLastError(), 0);

    MemoryInput seekable = Counting(100);
    CQuorFileAccess file(seekable.Callbacks(), &seekable);
    const std::int32_t mark = file.Mark();
    EXPECT_FALSE(file.Seek(50)); // refused while a mark is open
    EXPECT_EQ(seekable.seekCalls, 0);
    file.ReleaseMark(mark, true);
    EXPECT_TRUE(file.Seek(50));
    EXPECT_EQ(file.GetPosition(), 50);

    seekable.failSeeks = true;
    EXPECT_FALSE(file.Seek(60));
    EXPECT_EQ(file.GetLastError(), QUOR_ERROR_SEEK);
}

TEST(FileAccess, ErrorsAreReportedWithTheirCause) {
    MemoryInput input = Counting(100);
    input.failReadsAfter = 0;
    CQuorFileAccess file(input.Callbacks(), &input);
    std::uint8_t buffer[8];
    EXPECT_EQ(file.Read(buffer, 8), -1);
    EXPECT_EQ(file.GetLastError(), QUOR_ERROR_READ);

    // A skip whose seek failed and whose reading fails too reports the seek.
    MemoryInput both = Counting(5000);
    both.failSeeks = true;
    both.failReadsAfter = 0;
    CQuorFileAccess skipper(both.Callbacks(), &both);
    EXPECT_EQ(skipper.Skip(2000), -1);
    EXPECT_EQ(skipper.GetLastError(), QUOR_ERROR_SEEK);
}

TEST(FileAccess, PositionsBeyondTwoGibibytesAreRefused) {
    MemoryInput input = Counting(100);
    input.startPosition = std::numeric_limits<std::int32_t>::max() - 10;
    CQuorFileAccess file(input.Callbacks(), &input);
    std::uint8_t buffer[100];
    EXPECT_EQ(file.Read(buffer, 100), -1);
    EXPECT_EQ(file.GetLastError(), QUOR_ERROR_UNSUPPORTED);
}

} // namespace
} // namespace tesk::quor
