// A table whose header and field descriptors are gone: the layout is inferred from the records
// (or taken from a template of the same structure), and data that is not records stays
// unrecoverable.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/memofile.h"
#include "engine/recovery.h"
#include "engine/tableformat.h"
#include "tests/support/enginerun.h"
#include "tests/support/memobuilder.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::TableBuilder;
using testing::TempDir;

constexpr int recordCount = 300;
const char *const names[] = {"Ada Lind", "Bo Chen", "Cleo Marsh", "Dag Ito", "Eve van Os"};

enum class Memo { None, Dbt, FoxProText, FoxProBinary };

struct Kind {
    const char *name;
    std::uint8_t type;
    Memo memo;
};

std::string values(int i) {
    char text[64];
    std::snprintf(text, sizeof text, "%6d%-12s2024%02d%02d%c%8.2f", i + 1, names[i % 5], 1 + i % 12,
                  1 + i % 28, "TF "[i % 3], i * 3.25);
    return text;
}

std::string memoText(int i) {
    return "memo of record " + std::to_string(i + 1) + std::string(std::size_t(i % 5) * 20, 'x');
}

bool hasMemo(int i) {
    return i % 3 != 0;
}

struct Built {
    Bytes table;
    Bytes memo;
    std::size_t headerLength = 0;
    std::size_t recordLength = 0;
};

Built build(const Kind &kind) {
    Built b;
    std::vector<std::uint32_t> blocks(recordCount, 0);
    if (kind.memo != Memo::None) {
        std::vector<std::string> texts;
        std::vector<testing::FoxProMemo> foxPro;
        for (int i = 0; i < recordCount; ++i)
            if (hasMemo(i)) {
                texts.push_back(memoText(i));
                foxPro.push_back({1, testing::bytesOf(memoText(i))});
            }
        testing::BuiltMemo memo = kind.memo == Memo::Dbt ? testing::dBase3MemoFile(texts)
                                                         : testing::foxProMemoFile(64, foxPro);
        b.memo = memo.file;
        std::size_t next = 0;
        for (int i = 0; i < recordCount; ++i)
            if (hasMemo(i))
                blocks[std::size_t(i)] = memo.blocks[next++];
    }
    TableBuilder t(kind.type);
    t.field("ID", 'N', 6).field("NAME", 'C', 12).field("DUE", 'D', 8).field("OK", 'L', 1);
    t.field("PRICE", 'N', 8, 2);
    if (kind.memo != Memo::None)
        t.field("NOTES", 'M', kind.memo == Memo::FoxProBinary ? 4 : 10);
    for (int i = 0; i < recordCount; ++i) {
        Bytes record = testing::bytesOf((i % 11 == 0 ? "*" : " ") + values(i));
        std::uint32_t block = blocks[std::size_t(i)];
        if (kind.memo == Memo::FoxProBinary) {
            for (int k = 0; k < 4; ++k)
                record.push_back(static_cast<std::uint8_t>(block >> (8 * k)));
        } else if (kind.memo != Memo::None) {
            std::string ref = block ? testing::memoReference(block) : std::string(10, ' ');
            record.insert(record.end(), ref.begin(), ref.end());
        }
        t.rawRecord(record);
    }
    b.table = t.build();
    b.headerLength = t.computedHeaderLength();
    b.recordLength = t.computedRecordLength();
    return b;
}

// The memo text a reference of the output leads to.
std::string memoAt(const Bytes &memo, Memo style, std::uint32_t block) {
    if (block == 0)
        return "";
    if (style == Memo::Dbt) {
        std::size_t start = std::size_t{block} * 512;
        std::size_t end = start;
        while (end < memo.size() && memo[end] != 0x1A)
            ++end;
        return std::string(memo.begin() + std::ptrdiff_t(start),
                           memo.begin() + std::ptrdiff_t(end));
    }
    std::size_t blockSize = std::size_t(memo[6]) << 8 | memo[7];
    std::size_t start = block * blockSize;
    std::size_t length = readBe32(&memo[start + 4]);
    return std::string(memo.begin() + std::ptrdiff_t(start + 8),
                       memo.begin() + std::ptrdiff_t(start + 8 + length));
}

TEST(LayoutInference, EachTableKindComesBackFromItsRecords) {
    const std::vector<Kind> kinds = {{"dBASE III", 0x03, Memo::None},
                                     {"dBASE III with memo", 0x83, Memo::Dbt},
                                     {"FoxPro 2", 0xF5, Memo::FoxProText},
                                     {"Visual FoxPro", 0x30, Memo::FoxProBinary}};
    for (const Kind &kind : kinds) {
        // Bytes zeroed from the start (0: the header), then records whose bytes are garbage.
        const std::pair<std::size_t, std::size_t> damages[] = {{512, 0}, {4096, 0}, {0, 2}};
        for (auto [zeroedBytes, garbled] : damages) {
            Built b = build(kind);
            std::size_t zeroed = zeroedBytes ? zeroedBytes : b.headerLength;
            SCOPED_TRACE(std::string(kind.name) + ", first " + std::to_string(zeroed) +
                         " bytes zeroed, " + std::to_string(garbled) + " records garbled");
            std::fill(b.table.begin(), b.table.begin() + std::ptrdiff_t(zeroed), 0);
            std::fill_n(b.table.begin() + std::ptrdiff_t(zeroed), garbled * b.recordLength, 0xFF);
            zeroed += garbled * b.recordLength;
            TempDir dir;
            const char *memoName = kind.memo == Memo::Dbt ? "a.dbt" : "a.fpt";
            const char *outMemoName = kind.memo == Memo::Dbt ? "b.dbt" : "b.fpt";
            testing::writeFile(dir.file("a.dbf"), b.table);
            if (kind.memo != Memo::None)
                testing::writeFile(dir.file(memoName), b.memo);
            testing::EngineRun context{platform::nativePlatform()};
            ASSERT_EQ(context.run(nullptr, dir.file("a.dbf"), dir.file("b.dbf"), false),
                      recoveryFixed);

            Bytes out = testing::readFile(dir.file("b.dbf"));
            EXPECT_EQ(out[0], kind.type);
            const std::size_t headerLength = readLe16(&out[8]);
            ASSERT_EQ(readLe16(&out[10]), b.recordLength);
            const std::size_t fields = (headerLength - (kind.type == 0x30 ? 296 : 33)) / 32;
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(&out[32])), "FIELD1");
            const std::uint8_t *last = &out[32 + 32 * (fields - 1)];
            if (kind.memo != Memo::None) {
                EXPECT_EQ(last[11], 'M');
                EXPECT_EQ(last[16], kind.memo == Memo::FoxProBinary ? 4 : 10);
            }
            Bytes memo =
                kind.memo == Memo::None ? Bytes{} : testing::readFile(dir.file(outMemoName));

            // Every record whose flag lies behind the zeroed bytes comes back as it was.
            const int firstIntact =
                int((zeroed - b.headerLength + b.recordLength - 1) / b.recordLength);
            const std::uint32_t count = readLe32(&out[4]);
            ASSERT_EQ(count, std::uint32_t(recordCount - firstIntact));
            const std::size_t memoWidth =
                kind.memo == Memo::None ? 0 : (kind.memo == Memo::FoxProBinary ? 4 : 10);
            for (std::uint32_t r = 0; r < count; ++r) {
                const int i = firstIntact + int(r);
                const std::uint8_t *record = &out[headerLength + r * b.recordLength];
                const std::uint8_t *source =
                    &b.table[b.headerLength + std::size_t(i) * b.recordLength];
                ASSERT_TRUE(std::equal(source, source + b.recordLength - memoWidth, record))
                    << "record " << i + 1;
                if (kind.memo == Memo::None)
                    continue;
                const std::uint8_t *ref = record + b.recordLength - memoWidth;
                std::uint32_t block = kind.memo == Memo::FoxProBinary
                                          ? readLe32(ref)
                                          : std::uint32_t(std::strtoul(
                                                std::string(ref, ref + 10).c_str(), nullptr, 10));
                EXPECT_EQ(memoAt(memo, kind.memo, block), hasMemo(i) ? memoText(i) : "")
                    << "memo of record " << i + 1;
            }
        }
    }
}

TEST(LayoutInference, DataThatIsNotRecordsStaysUnrecoverable) {
    std::mt19937 random(22);
    Bytes noise(64 * 1024);
    for (std::uint8_t &b : noise)
        b = static_cast<std::uint8_t>(random());
    const char *const words[] = {"the", "record", "of",   "a",   "table", "is",  "written", "when",
                                 "its", "header", "says", "so,", "and",   "not", "before"};
    std::string prose;
    while (prose.size() < 64 * 1024) {
        std::string line;
        for (std::uint32_t w = 0, n = 4 + random() % 9; w < n; ++w)
            line += std::string(words[random() % 15]) + (w + 1 < n ? " " : "");
        prose += line + "\n";
    }
    // Fixed-width lines are a table in all but their line ends.
    std::string columns;
    for (int i = 0; i < 2000; ++i)
        columns += " " + values(i) + "\n";
    for (const Bytes &data : {noise, testing::bytesOf(prose), testing::bytesOf(columns)}) {
        TempDir dir;
        testing::writeFile(dir.file("a.dbf"), data);
        testing::EngineRun context{platform::nativePlatform()};
        EXPECT_EQ(context.run(nullptr, dir.file("a.dbf"), dir.file("b.dbf"), false),
                  recoveryNothingProduced);
        EXPECT_NE(context.messageText.find("Unrecoverable"), std::string::npos);
        EXPECT_FALSE(testing::fileExists(dir.file("b.dbf")));
    }
}

TEST(LayoutInference, ATemplateGivesTheLayoutOnlyWhenItFitsTheRecords) {
    const Kind kind{"dBASE III with memo", 0x83, Memo::Dbt};
    Built b = build(kind);
    std::fill(b.table.begin(), b.table.begin() + std::ptrdiff_t(b.headerLength), 0);
    TableBuilder good(0x83);
    good.field("ID", 'N', 6).field("NAME", 'C', 12).field("DUE", 'D', 8).field("OK", 'L', 1);
    good.field("PRICE", 'N', 8, 2).field("NOTES", 'M', 10);
    good.record(values(7));
    TableBuilder other = good;
    other.field("EXTRA", 'C', 3);

    TempDir dir;
    testing::writeFile(dir.file("a.dbf"), b.table);
    testing::writeFile(dir.file("a.dbt"), b.memo);
    testing::writeFile(dir.file("good.dbf"), good.build());
    testing::writeFile(dir.file("other.dbf"), other.build());
    testing::EngineRun context{platform::nativePlatform()};

    context.tableTemplate = dir.file("other.dbf");
    EXPECT_EQ(context.run(nullptr, dir.file("a.dbf"), dir.file("b.dbf"), false),
              recoveryNothingProduced);
    EXPECT_NE(context.outcome.failure.find("the template does not fit"), std::string::npos)
        << context.outcome.failure;
    EXPECT_FALSE(testing::fileExists(dir.file("b.dbf")));

    context.tableTemplate = dir.file("good.dbf");
    ASSERT_EQ(context.run(nullptr, dir.file("a.dbf"), dir.file("b.dbf"), false), recoveryFixed);
    Bytes out = testing::readFile(dir.file("b.dbf"));
    Bytes header = good.header();
    EXPECT_EQ(readLe32(&out[4]), std::uint32_t(recordCount));
    EXPECT_TRUE(std::equal(header.begin() + 32, header.end(), out.begin() + 32));
    Bytes memo = testing::readFile(dir.file("b.dbt"));
    for (int i = 0; i < recordCount; ++i) {
        const std::uint8_t *record = &out[b.headerLength + std::size_t(i) * b.recordLength];
        const std::uint8_t *source = &b.table[b.headerLength + std::size_t(i) * b.recordLength];
        ASSERT_TRUE(std::equal(source, source + b.recordLength - 10, record)) << "record " << i + 1;
        std::uint32_t block = std::uint32_t(
            std::strtoul(std::string(record + b.recordLength - 10, record + b.recordLength).c_str(),
                         nullptr, 10));
        EXPECT_EQ(memoAt(memo, Memo::Dbt, block), hasMemo(i) ? memoText(i) : "");
    }
}

} // namespace
} // namespace salvora
