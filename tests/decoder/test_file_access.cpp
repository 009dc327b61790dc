#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
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

TEST(FileAccess, PositionStartsFromTheCallbackAndNeverBelowZero) {
    MemoryInput input = Counting(16);
    input.startPosition = -5;
    const CQuorFileAccess negative(input.Callbacks(), &input);
    EXPECT_EQ(negative.GetPosition(), 0);

    input.startPosition = 100;
    const CQuorFileAccess offset(input.Callbacks(), &input);
    EXPECT_EQ(offset.GetPosition(), 100);
}

TEST(FileAccess, ShortReadSetsTheEndAndSkipThenStops) {
    MemoryInput input = Counting(10);
    CQuorFileAccess file(input.Callbacks(), &input);
    std::uint8_t buffer[16];
    EXPECT_EQ(file.Read(buffer, 16), 10);
    EXPECT_TRUE(file.IsEOF());
    EXPECT_EQ(file.GetPosition(), 10);
    const std::int32_t calls = input.readCalls;
    EXPECT_EQ(file.Skip(5), 0);
    EXPECT_EQ(input.readCalls, calls);
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

TEST(FileAccess, RewindBufferGrowsAcrossLargeProbes) {
    MemoryInput input = Counting(40000);
    CQuorFileAccess file(input.Callbacks(), &input);
    std::vector<std::uint8_t> probe(20000);
    const std::int32_t mark = file.Mark();
    ASSERT_EQ(file.Read(probe.data(), 12000), 12000);
    ASSERT_EQ(file.Read(probe.data() + 12000, 8000), 8000);
    file.ReleaseMark(mark, true);
    std::vector<std::uint8_t> again(20000);
    ASSERT_EQ(file.Read(again.data(), 20000), 20000);
    EXPECT_EQ(probe, again);
    EXPECT_EQ(again[19999], static_cast<std::uint8_t>(19999));
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

TEST(FileAccess, LongSkipsSeekAndStopAtTheEnd) {
    MemoryInput input = Counting(5000);
    CQuorFileAccess file(input.Callbacks(), &input);
    EXPECT_EQ(file.Skip(2000), 2000);
    EXPECT_EQ(input.seekCalls, 1);
    EXPECT_EQ(input.readCalls, 0);
    EXPECT_EQ(file.GetPosition(), 2000);

    // Past the end: seek to the end, then the rest is read and comes back short.
    EXPECT_EQ(file.Skip(4000), 3000);
    EXPECT_EQ(input.lastSeek, 5000);
    EXPECT_TRUE(file.IsEOF());

    // Short skips read.
    MemoryInput small = Counting(5000);
    CQuorFileAccess reader(small.Callbacks(), &small);
    EXPECT_EQ(reader.Skip(1000), 1000);
    EXPECT_EQ(small.seekCalls, 0);
}

TEST(FileAccess, WithoutLengthSkipReads) {
    MemoryInput input = Counting(5000);
    input.knowsLength = false;
    CQuorFileAccess file(input.Callbacks(), &input);
    EXPECT_EQ(file.GetLength(), -1);
    EXPECT_EQ(file.Skip(3000), 3000);
    EXPECT_EQ(input.seekCalls, 0);
    std::uint8_t next = 0;
    ASSERT_EQ(file.Read(&next, 1), 1);
    EXPECT_EQ(next, static_cast<std::uint8_t>(3000));
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

TEST(FileAccess, FileCallbacksReadSeekAndMeasure) {
    const std::string path = test::BinaryPath("file-access.bin");
    std::vector<std::uint8_t> data(3000);
    std::iota(data.begin(), data.end(), std::uint8_t{7});
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::filesystem::create_directories(test::BinaryPath(""));
        out = std::fopen(path.c_str(), "wb");
    }
    ASSERT_NE(out, nullptr) << path;
    std::fwrite(data.data(), 1, data.size(), out);
    std::fclose(out);

    std::FILE* file = OpenWidePath(test::Wide(path).c_str());
    ASSERT_NE(file, nullptr);
    CQuorFileAccess access(FileCallbacks(), file);
    EXPECT_EQ(access.GetLength(), 3000);
    EXPECT_EQ(FileSize(file), 3000);
    EXPECT_TRUE(access.Seek(2990));
    std::uint8_t buffer[20];
    EXPECT_EQ(access.Read(buffer, 20), 10);
    EXPECT_EQ(buffer[0], data[2990]);
    EXPECT_TRUE(access.IsEOF());
    std::fclose(file);

    EXPECT_EQ(OpenWidePath(L"/nonexistent/folder/file.mp3"), nullptr);
}

} // namespace
} // namespace tesk::quor
