// The memo corpus: memo files of every kind with the memos that stress the copy (larger than
// the read window, binary, unterminated, referenced out of order, shared, leading nowhere).
// The output's memo file and table are pinned to what the build before the streamed copy
// wrote, by their FNV-1a hash.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/enginerun.h"
#include "tests/support/memobuilder.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::memoReference;
using testing::TableBuilder;

std::uint64_t fnv1a(const Bytes &bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// Text of `length` bytes that varies, so that a misplaced piece shows.
std::string text(std::size_t length, char seed) {
    std::string s(length, ' ');
    for (std::size_t i = 0; i < length; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + static_cast<std::size_t>(seed)) % 26);
    return s;
}

struct Corpus {
    std::string name;
    Bytes table;
    Bytes memo;
    std::string memoExtension;
};

Corpus foxPro(std::uint8_t type) {
    Bytes binary(3000);
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<std::uint8_t>(i * 31);
    testing::BuiltMemo memo = testing::foxProMemoFile(
        64, {{1, bytesOf(text(100, 'a'))},
             {1, bytesOf(text(3u << 20, 'b'))}, // larger than the read window
             {0, binary},
             {1, {}},
             {1, bytesOf(text(700, 'c'))}});
    bool visual = type == 0x30;
    TableBuilder t(type);
    t.field("NAME", 'C', 4).field("NOTES", 'M', visual ? 4 : 10);
    auto reference = [&](std::uint32_t block) {
        return visual ? std::string(reinterpret_cast<const char *>(testing::le32(block).data()), 4)
                      : memoReference(block);
    };
    // Out of order, shared, and one that leads past the end of the file.
    for (std::size_t i : {4u, 0u, 1u, 2u, 3u, 0u})
        t.record("r" + std::to_string(i) + "  " + reference(memo.blocks[i]));
    t.record("bad " + reference(999999));
    return {visual ? "visual foxpro" : "foxpro 2", t.build(), memo.file, "fpt"};
}

Corpus dBase3() {
    testing::BuiltMemo memo = testing::dBase3MemoFile(
        {text(10, 'a'), text(3u << 20, 'b'), text(600, 'c'), std::string("bin\0ary", 7)});
    // The last memo loses its terminator: it runs to the end of the file.
    Bytes file = memo.file;
    for (std::size_t i = static_cast<std::size_t>(memo.blocks[3]) * 512; i < file.size(); ++i)
        if (file[i] == 0x1A)
            file[i] = 'z';
    TableBuilder t(0x83);
    t.field("NAME", 'C', 4).field("NOTES", 'M', 10);
    for (std::size_t i : {2u, 0u, 1u, 3u, 0u})
        t.record("r" + std::to_string(i) + "  " + memoReference(memo.blocks[i]));
    t.record("bad " + memoReference(999999));
    return {"dbase iii", t.build(), file, "dbt"};
}

Corpus dBase4() {
    testing::BuiltMemo memo =
        testing::dBase4MemoFile("T", 1024, {text(10, 'a'), text(3u << 20, 'b'), text(2000, 'c')});
    TableBuilder t(0x8B);
    t.field("NAME", 'C', 4).field("NOTES", 'M', 10);
    for (std::size_t i : {2u, 0u, 1u, 0u})
        t.record("r" + std::to_string(i) + "  " + memoReference(memo.blocks[i]));
    return {"dbase iv", t.build(), memo.file, "dbt"};
}

struct Pinned {
    std::uint64_t table;
    std::uint64_t memo;
};

TEST(MemoBytesTest, OutputMemosAreThoseOfThePreviousBuild) {
    const std::vector<std::pair<Corpus, Pinned>> cases = {
        {foxPro(0xF5), {0xa7a85ccb7a976c99ull, 0x650cf6f02d12d200ull}},
        {foxPro(0x30), {0xfa5ce6c14e67f875ull, 0x650cf6f02d12d200ull}},
        {dBase3(), {0x70b0000c90619ad3ull, 0x183de437ca12e92dull}},
        {dBase4(), {0xddb84c5c6c62540dull, 0xaaeaaa3b22d41d26ull}},
    };
    // Set, the inputs are left there to be repaired by another build.
    const char *dumpTo = std::getenv("SALVORA_MEMO_CORPUS_DIR");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto &[corpus, pinned] = cases[i];
        SCOPED_TRACE(corpus.name);
        testing::TempDir dir;
        testing::writeFile(dir.file("t.dbf"), corpus.table);
        testing::writeFile(dir.file("t." + corpus.memoExtension), corpus.memo);
        if (dumpTo) {
            std::string prefix = std::string(dumpTo) + "/" + std::to_string(i);
            testing::writeFile(prefix + ".dbf", corpus.table);
            testing::writeFile(prefix + "." + corpus.memoExtension, corpus.memo);
        }
        testing::EngineRun context{platform::nativePlatform()};
        context.run(nullptr, dir.file("t.dbf"), dir.file("o.dbf"), false);
        Bytes table = testing::readFile(dir.file("o.dbf"));
        Bytes memo = testing::readFile(dir.file("o." + corpus.memoExtension));
        EXPECT_EQ(fnv1a(table), pinned.table);
        EXPECT_EQ(fnv1a(memo), pinned.memo);
    }
}

} // namespace
} // namespace salvora
