#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/bufferedio.h"
#include "tests/support/faultplatform.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using platform::Access;
using platform::Disposition;
using platform::OpenRequest;
using platform::OpenResult;
using platform::Share;
using testing::Bytes;
using testing::bytesOf;
using testing::FaultPlatform;
using testing::ioError;
using testing::pathIs;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

Bytes randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto &byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

OpenResult openForReading(platform::Platform &os, const std::string &path) {
    return os.openFile(path, OpenRequest{Access::Read, Share::Read, Disposition::OpenExisting});
}

OpenResult openForWriting(platform::Platform &os, const std::string &path) {
    return os.openFile(path,
                       OpenRequest{Access::ReadWrite, Share::None, Disposition::CreateAlways});
}

// What a view must show: the file's bytes, zeros past its end.
Bytes expectedView(const Bytes &file, std::uint64_t offset, std::size_t length) {
    Bytes view(length, 0);
    for (std::size_t i = 0; i < length; ++i) {
        if (offset + i < file.size())
            view[i] = file[offset + i];
    }
    return view;
}

Bytes viewOf(WindowReader &reader, std::uint64_t offset, std::size_t length) {
    const std::uint8_t *data = reader.view(offset, length);
    return Bytes(data, data + length);
}

// --- WindowReader --------------------------------------------------------------------------

TEST(WindowReader, ZeroFillsPastTheEndOfTheFile) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("0123456789"));
    OpenResult file = openForReading(platform::nativePlatform(), path);
    ASSERT_TRUE(file);
    WindowReader reader(*file.file, 10, 16);
    EXPECT_EQ(viewOf(reader, 6, 8), (Bytes{'6', '7', '8', '9', 0, 0, 0, 0}));
    EXPECT_EQ(viewOf(reader, 10, 16), Bytes(16, 0));
    EXPECT_EQ(viewOf(reader, 1000, 4), Bytes(4, 0));
    EXPECT_EQ(viewOf(reader, 0, 16), expectedView(bytesOf("0123456789"), 0, 16));
    EXPECT_EQ(reader.error(), 0);
}

TEST(WindowReader, HonoursTheGivenSizeOverTheFilesSize) {
    // A size taken from a header may be smaller than the file; nothing beyond it is shown.
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("0123456789"));
    OpenResult file = openForReading(platform::nativePlatform(), path);
    ASSERT_TRUE(file);
    WindowReader reader(*file.file, 4, 16);
    EXPECT_EQ(viewOf(reader, 2, 4), (Bytes{'2', '3', 0, 0}));
    EXPECT_EQ(viewOf(reader, 0, 8), (Bytes{'0', '1', '2', '3', 0, 0, 0, 0}));

    // And a size larger than the file reads the missing part as zeros.
    WindowReader longer(*file.file, 100, 16);
    EXPECT_EQ(viewOf(longer, 8, 4), (Bytes{'8', '9', 0, 0}));
    EXPECT_EQ(longer.error(), 0);
}

TEST(WindowReader, RandomViewsMatchTheFileAcrossRefills) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    const Bytes content = randomBytes(10007, 1);
    writeFile(path, content);
    OpenResult file = openForReading(platform::nativePlatform(), path);
    ASSERT_TRUE(file);
    for (std::size_t capacity : {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{4096},
                                 std::size_t{1} << 16}) {
        WindowReader reader(*file.file, content.size(), capacity);
        std::mt19937 random(static_cast<unsigned>(capacity));
        for (int i = 0; i < 3000; ++i) {
            std::uint64_t offset = random() % (content.size() + 200);
            std::size_t length = random() % (capacity + 1);
            ASSERT_EQ(viewOf(reader, offset, length), expectedView(content, offset, length))
                << "capacity " << capacity << " offset " << offset << " length " << length;
        }
        // Sequential views that straddle every window boundary.
        std::size_t step = std::max<std::size_t>(1, capacity / 3 + 1);
        std::size_t length = std::min(capacity, step + 2);
        for (std::uint64_t offset = 0; offset < content.size() + 10; offset += step) {
            ASSERT_EQ(viewOf(reader, offset, length), expectedView(content, offset, length))
                << "capacity " << capacity << " offset " << offset;
        }
        EXPECT_EQ(reader.error(), 0);
    }
}

TEST(WindowReader, ListsAndZeroFillsWhatAFailingReadCouldNotDeliverAndKeepsTheFirstError) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    const Bytes content = randomBytes(1000, 2);
    writeFile(path, content);
    faults.failReadsAt(pathIs(path), 300, 10);
    OpenResult file = openForReading(faults, path);
    ASSERT_TRUE(file);
    WindowReader reader(*file.file, content.size(), 256);

    EXPECT_EQ(viewOf(reader, 0, 100), expectedView(content, 0, 100));
    EXPECT_EQ(reader.error(), 0);
    Bytes around = viewOf(reader, 290, 30);
    EXPECT_EQ(reader.error(), ioError());
    EXPECT_EQ(Bytes(around.begin(), around.begin() + 10), expectedView(content, 290, 10));
    EXPECT_EQ(Bytes(around.begin() + 10, around.begin() + 20), Bytes(10, 0));
    // What stays unreadable runs to the sector's end and is listed; past it the file reads
    // normally again.
    ASSERT_EQ(reader.unreadable().size(), 1u);
    EXPECT_EQ(reader.unreadable()[0].start, 300u);
    EXPECT_EQ(reader.unreadable()[0].end, 512u);
    EXPECT_TRUE(reader.touchesUnreadable(290, 11));
    EXPECT_FALSE(reader.touchesUnreadable(512, 100));
    EXPECT_FALSE(reader.touchesUnreadable(200, 100));
    EXPECT_EQ(viewOf(reader, 512, 200), expectedView(content, 512, 200));
    EXPECT_EQ(viewOf(reader, 0, 256), expectedView(content, 0, 256));
    EXPECT_EQ(reader.error(), ioError());
    EXPECT_EQ(reader.unreadableBytes(), 212u);
}

TEST(WindowReader, ReadsManySmallRecordsWithFewCalls) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    const std::size_t recordLength = 32, records = 100000;
    const Bytes content = randomBytes(recordLength * records, 3);
    writeFile(path, content);
    OpenResult file = openForReading(faults, path);
    ASSERT_TRUE(file);
    WindowReader reader(*file.file, content.size(), 1u << 20);
    std::uint64_t sum = 0, expected = 0;
    for (std::size_t i = 0; i < records; ++i) {
        const std::uint8_t *record = reader.view(i * recordLength, recordLength);
        sum += record[0] + record[recordLength - 1];
        expected += content[i * recordLength] + content[i * recordLength + recordLength - 1];
    }
    EXPECT_EQ(sum, expected);
    // 3.2 MB through a 1 MiB window.
    EXPECT_LE(faults.counters().reads, 5u);
    EXPECT_LE(faults.counters().seeks, 5u);
}

// --- BufferedWriter ------------------------------------------------------------------------

TEST(BufferedWriter, WritesEverythingInOrder) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    const Bytes content = randomBytes(100000, 4);
    {
        OpenResult file = openForWriting(platform::nativePlatform(), path);
        ASSERT_TRUE(file);
        BufferedWriter writer(*file.file, 1000);
        std::mt19937 random(5);
        std::size_t done = 0;
        while (done < content.size()) {
            std::size_t length = std::min<std::size_t>(random() % 2500, content.size() - done);
            writer.write(content.data() + done, length);
            done += length;
            ASSERT_EQ(writer.position(), done);
        }
        writer.flush(true);
        EXPECT_EQ(writer.error(), 0);
    }
    EXPECT_EQ(readFile(path), content);
}

TEST(BufferedWriter, SeekAndSetEndActOnWhatWasBuffered) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    {
        OpenResult file = openForWriting(platform::nativePlatform(), path);
        ASSERT_TRUE(file);
        BufferedWriter writer(*file.file, 64);
        writer.write("hello world", 11);
        writer.seek(6);
        EXPECT_EQ(writer.position(), 6u);
        writer.write("W", 1);
        EXPECT_EQ(writer.position(), 7u);
        writer.seek(20);
        writer.write("!", 1);
        writer.flush();
        EXPECT_EQ(writer.error(), 0);
    }
    Bytes expected = bytesOf("hello World");
    expected.resize(20, 0);
    expected.push_back('!');
    EXPECT_EQ(readFile(path), expected);
    {
        OpenResult file = platform::nativePlatform().openFile(
            path, OpenRequest{Access::ReadWrite, Share::None, Disposition::OpenExisting});
        ASSERT_TRUE(file);
        BufferedWriter writer(*file.file, 64);
        writer.seek(3);
        writer.write("LO", 2);
        // The buffered bytes must land before the file is cut behind them.
        writer.setEnd();
        writer.flush();
        EXPECT_EQ(writer.error(), 0);
    }
    EXPECT_EQ(readFile(path), bytesOf("helLO"));
}

TEST(BufferedWriter, LargeWritesBypassTheBuffer) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    const Bytes big = randomBytes(1000, 6);
    {
        OpenResult file = openForWriting(faults, path);
        ASSERT_TRUE(file);
        BufferedWriter writer(*file.file, 64);
        writer.write(big.data(), big.size());
        EXPECT_EQ(faults.counters().writes, 1u) << "one direct write, no copying";
        writer.write("abc", 3);
        writer.write(big.data(), big.size());
        // The small piece goes out on its own before the large one goes direct.
        EXPECT_EQ(faults.counters().writes, 3u);
        EXPECT_EQ(faults.counters().bytesWritten, 1000u + 3u + 1000u);
        writer.write(big.data(), 32); // half the buffer is large enough
        EXPECT_EQ(faults.counters().writes, 4u);
        writer.flush();
        EXPECT_EQ(writer.error(), 0);
        EXPECT_EQ(writer.position(), 2035u);
    }
    Bytes expected = big;
    expected.insert(expected.end(), {'a', 'b', 'c'});
    expected.insert(expected.end(), big.begin(), big.end());
    expected.insert(expected.end(), big.begin(), big.begin() + 32);
    EXPECT_EQ(readFile(path), expected);
}

TEST(BufferedWriter, ErrorIsStickyAfterDiskFull) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    faults.failWritesAfter(1000, pathIs(path));
    const Bytes content = randomBytes(2000, 7);
    {
        OpenResult file = openForWriting(faults, path);
        ASSERT_TRUE(file);
        BufferedWriter writer(*file.file, 256);
        for (std::size_t i = 0; i < content.size(); i += 10)
            writer.write(content.data() + i, 10);
        EXPECT_EQ(writer.error(), platform::errorDiskFull());
        std::uint64_t writesAtError = faults.counters().writes;
        std::uint64_t seeksAtError = faults.counters().seeks;

        writer.write("more", 4);
        writer.write(content.data(), content.size());
        writer.seek(0);
        writer.setEnd();
        writer.flush(true);
        EXPECT_EQ(writer.error(), platform::errorDiskFull());
        EXPECT_EQ(faults.counters().writes, writesAtError) << "nothing is tried after the error";
        EXPECT_EQ(faults.counters().seeks, seeksAtError);
        EXPECT_EQ(faults.counters().setEnds, 0u);
        EXPECT_EQ(faults.counters().flushes, 0u);
    }
    // The short write kept what fitted.
    EXPECT_EQ(readFile(path), Bytes(content.begin(), content.begin() + 1000));
}

TEST(BufferedWriter, ErrorOfTheFinalDrainIsReported) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    faults.failWritesAfter(5);
    OpenResult file = openForWriting(faults, path);
    ASSERT_TRUE(file);
    BufferedWriter writer(*file.file, 256);
    writer.write("0123456789", 10);
    EXPECT_EQ(writer.error(), 0) << "still buffered";
    writer.flush();
    EXPECT_EQ(writer.error(), platform::errorDiskFull());
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST(BufferedWriter, FailedSetEndIsSticky) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    OpenResult file = openForWriting(faults, path);
    ASSERT_TRUE(file);
    BufferedWriter writer(*file.file, 256);
    writer.write("abc", 3);
    writer.flush();
    ASSERT_EQ(writer.error(), 0);
    faults.crashAfter(0);
    writer.setEnd();
    EXPECT_EQ(writer.error(), ioError());
    faults.clearFaults();
    writer.write("def", 3);
    writer.flush();
    EXPECT_EQ(writer.error(), ioError());
    EXPECT_EQ(readFile(path), bytesOf("abc"));
}
#endif

TEST(BufferedWriter, ManySmallRecordsMakeOnlyAHandfulOfWriteCalls) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    const std::size_t recordLength = 32, records = 100000;
    Bytes expected;
    {
        OpenResult file = openForWriting(faults, path);
        ASSERT_TRUE(file);
        BufferedWriter writer(*file.file);
        std::uint8_t record[recordLength];
        for (std::size_t i = 0; i < records; ++i) {
            std::memset(record, static_cast<int>(' ' + i % 64), recordLength);
            std::memcpy(record, &i, sizeof i);
            writer.write(record, recordLength);
            expected.insert(expected.end(), record, record + recordLength);
        }
        writer.flush(true);
        EXPECT_EQ(writer.error(), 0);
    }
    // 3.2 MB through the default 1 MiB buffer.
    EXPECT_LE(faults.counters().writes, 5u);
    EXPECT_LE(faults.counters().seeks, 1u);
    EXPECT_EQ(faults.counters().flushes, 1u);
    EXPECT_EQ(readFile(path), expected);
}

} // namespace
} // namespace salvora
