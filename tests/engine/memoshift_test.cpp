// Bytes inserted into or lost from a memo file: the memos behind the damage stay with their
// records, and a memo that cannot be found again beyond doubt is cleared, never replaced by
// another one's text.
#include <gtest/gtest.h>

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

constexpr int recordCount = 40;

enum class Kind { FoxPro2, VisualFoxPro, DBase3, DBase4 };

// Record i's memo; `shortMemos` makes memos shorter than a 100-byte shift.
std::string memoText(int i, bool shortMemos) {
    std::string text = "memo " + std::to_string(i) + ":";
    std::size_t length = shortMemos ? 10 + static_cast<std::size_t>(i % 3) * 7
                                    : 230 + static_cast<std::size_t>(i * 37 % 300);
    for (std::size_t k = 0; text.size() < length; ++k)
        text += static_cast<char>('a' + (k * 5 + static_cast<std::size_t>(i)) % 26);
    return text;
}

std::string name(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "R%05d", i);
    return text;
}

struct Sound {
    Bytes table;
    Bytes memo;
    std::size_t blockSize = 0;
    std::vector<std::uint32_t> blocks;
    std::vector<std::size_t> lengths; // bytes each memo takes, its block head included
};

Sound soundTable(Kind kind, bool shortMemos) {
    std::vector<std::string> texts;
    for (int i = 0; i < recordCount; ++i)
        texts.push_back(memoText(i, shortMemos));
    Sound s;
    testing::BuiltMemo built;
    std::uint8_t type = 0x83;
    switch (kind) {
    case Kind::FoxPro2:
    case Kind::VisualFoxPro: {
        s.blockSize = kind == Kind::FoxPro2 ? 64 : 32;
        std::vector<testing::FoxProMemo> memos;
        for (const std::string &text : texts)
            memos.push_back({1, testing::bytesOf(text)});
        built = testing::foxProMemoFile(static_cast<std::uint16_t>(s.blockSize), memos);
        type = kind == Kind::FoxPro2 ? 0xF5 : 0x30;
        for (const std::string &text : texts)
            s.lengths.push_back(text.size() + 8);
        break;
    }
    case Kind::DBase3:
        s.blockSize = 512;
        built = testing::dBase3MemoFile(texts);
        for (const std::string &text : texts)
            s.lengths.push_back(text.size() + 2);
        break;
    case Kind::DBase4:
        s.blockSize = 512;
        built = testing::dBase4MemoFile("A", 512, texts);
        type = 0x8B;
        for (const std::string &text : texts)
            s.lengths.push_back(text.size() + 8);
        break;
    }
    bool visual = kind == Kind::VisualFoxPro;
    TableBuilder t(type);
    t.field("NAME", 'C', 6).field("NOTES", 'M', visual ? 4 : 10);
    if (visual)
        t.tableFlags(0x02);
    for (int i = 0; i < recordCount; ++i) {
        std::uint32_t block = built.blocks[static_cast<std::size_t>(i)];
        std::string reference =
            visual ? std::string(reinterpret_cast<const char *>(testing::le32(block).data()), 4)
                   : testing::memoReference(block);
        t.record(name(i) + reference);
    }
    s.table = t.build();
    s.memo = built.file;
    s.blocks = built.blocks;
    return s;
}

// The memo text the output's reference `record` leads to, "" when it has none.
std::string outputMemo(const Bytes &memo, Kind kind, const std::uint8_t *reference) {
    std::uint32_t block = 0;
    if (kind == Kind::VisualFoxPro)
        block = readLe32(reference);
    else
        block = static_cast<std::uint32_t>(
            std::strtoul(std::string(reference, reference + 10).c_str(), nullptr, 10));
    if (block == 0)
        return "";
    switch (kind) {
    case Kind::FoxPro2:
    case Kind::VisualFoxPro: {
        std::size_t at = block * static_cast<std::size_t>(readBe16(&memo[6]));
        std::size_t length = readBe32(&memo[at + 4]);
        return std::string(memo.begin() + static_cast<std::ptrdiff_t>(at + 8),
                           memo.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
    }
    case Kind::DBase3: {
        std::size_t at = block * 512u;
        std::size_t end = at;
        while (end < memo.size() && memo[end] != 0x1A)
            ++end;
        return std::string(memo.begin() + static_cast<std::ptrdiff_t>(at),
                           memo.begin() + static_cast<std::ptrdiff_t>(end));
    }
    case Kind::DBase4: {
        std::size_t at = block * 512u;
        std::size_t length = readLe32(&memo[at + 4]) - 8;
        return std::string(memo.begin() + static_cast<std::ptrdiff_t>(at + 8),
                           memo.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
    }
    }
    return "";
}

TEST(MemoShiftTest, MemosBehindInsertedOrLostBytesStayWithTheirRecords) {
    struct Case {
        Kind kind;
        const char *kindName;
        bool shortMemos;
    };
    const Case kinds[] = {{Kind::FoxPro2, "foxpro 2", false},
                          {Kind::VisualFoxPro, "visual foxpro", false},
                          {Kind::DBase3, "dbase iii", false},
                          {Kind::DBase4, "dbase iv", false},
                          // Memos shorter than the shift cannot be told apart: cleared, never
                          // swapped.
                          {Kind::FoxPro2, "foxpro 2, short memos", true}};
    for (const Case &c : kinds) {
        for (int bytes : {1, 7, 100, -1, -7, -100}) {
            for (bool middle : {false, true}) {
                Sound s = soundTable(c.kind, c.shortMemos);
                std::size_t at = middle ? s.memo.size() / 2 + 3 : 512 + 5;
                SCOPED_TRACE(std::string(c.kindName) + (middle ? ", middle" : ", start") +
                             ", bytes " + std::to_string(bytes));
                Bytes memo = s.memo;
                std::size_t length = static_cast<std::size_t>(bytes < 0 ? -bytes : bytes);
                if (bytes > 0)
                    memo.insert(memo.begin() + static_cast<std::ptrdiff_t>(at), length, 0xA5);
                else
                    memo.erase(memo.begin() + static_cast<std::ptrdiff_t>(at),
                               memo.begin() + static_cast<std::ptrdiff_t>(at + length));

                testing::TempDir dir;
                std::string extension =
                    c.kind == Kind::FoxPro2 || c.kind == Kind::VisualFoxPro ? ".fpt" : ".dbt";
                testing::writeFile(dir.file("a.dbf"), s.table);
                testing::writeFile(dir.file("a" + extension), memo);
                testing::EngineRun context{platform::nativePlatform()};
                context.run(nullptr, dir.file("a.dbf"), dir.file("b.dbf"), false);
                Bytes out = testing::readFile(dir.file("b.dbf"));
                Bytes outMemo = testing::readFile(dir.file("b" + extension));
                ASSERT_GE(out.size(), 32u);
                ASSERT_EQ(readLe32(&out[4]), static_cast<std::uint32_t>(recordCount));
                std::size_t headerLength = readLe16(&out[8]);
                std::size_t recordLength = readLe16(&out[10]);
                int back = 0;
                int intact = 0;
                for (int i = 0; i < recordCount; ++i) {
                    const std::uint8_t *record = &out[headerLength + i * recordLength];
                    ASSERT_EQ(std::string(record + 1, record + 7), name(i));
                    std::string text = outputMemo(outMemo, c.kind, record + 7);
                    std::size_t start = s.blocks[static_cast<std::size_t>(i)] * s.blockSize;
                    std::size_t end = start + s.lengths[static_cast<std::size_t>(i)];
                    bool touched =
                        bytes > 0 ? start < at && at < end : start < at + length && at < end;
                    if (touched)
                        continue;
                    ++intact;
                    if (text == memoText(i, c.shortMemos)) {
                        ++back;
                    } else {
                        EXPECT_EQ(text, "") << "record " << i << " got another memo";
                    }
                }
                if (!c.shortMemos) {
                    EXPECT_EQ(back, intact);
                }
            }
        }
    }
}

} // namespace
} // namespace salvora
