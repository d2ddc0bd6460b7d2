// Engine faults found by the damage corpus and the fuzz targets, each kept fixed by a test
// written from the table it was found with.
#include <gtest/gtest.h>

#include "engine/recovery.h"
#include "engine/tableformat.h"
#include "tests/support/enginerun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/memobuilder.h"
#include "tests/support/scratchfolder.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::TableBuilder;

class EngineFindings : public ::testing::Test {
  protected:
    int repair(const Bytes &table, const std::string &output = "out.dbf") {
        testing::writeFile(dir.file("t.dbf"), table);
        return context.run(nullptr, dir.file("t.dbf"), dir.file(output), false);
    }
    Bytes read(const std::string &name) { return testing::readFile(dir.file(name)); }

    testing::ScratchFolder dir;
    testing::WorkingFolder cwd{dir.path()};
    testing::EngineRun context{platform::nativePlatform()};
};

// A header rebuilt from its descriptors when no record is left used to take the file size for
// its header length, while the run writes the rebuilt list: the output's header then claimed
// more (or fewer) bytes than it had.
TEST_F(EngineFindings, RebuiltHeaderWithoutRecordsDescribesTheHeaderWritten) {
    for (std::uint8_t type : {std::uint8_t{0x03}, std::uint8_t{0x30}}) {
        TableBuilder t(type);
        t.field("NAME", 'C', 10).field("WHEN", type == 0x30 ? 'T' : 'D', 8);
        Bytes file = t.header();
        std::fill(file.begin(), file.begin() + 32, 0);
        // Ten bytes after the terminator: too few for a record, and for a backlink.
        file.resize(32 + 2 * 32 + 1 + 10, 0x1A);
        ASSERT_EQ(repair(file), recoveryFixed);
        Bytes out = read("out.dbf");
        EXPECT_EQ(readLe32(&out[4]), 0u);
        EXPECT_EQ(readLe16(&out[8]), t.computedHeaderLength()) << int{type};
        EXPECT_EQ(out.size(), t.computedHeaderLength()) << int{type};
        EXPECT_EQ(out[32 + 2 * 32], 0x0D) << int{type};
    }
}

// A Visual FoxPro header takes its field count from the header length less 296, so a header
// length below 32 was accepted once the record length matched no descriptors at all: the
// records were written at offset 0 and the header over them.
TEST_F(EngineFindings, HeaderShorterThanItselfIsNotAccepted) {
    TableBuilder t(0x02);
    t.field("NAME", 'C', 6).record("alpha").record("bravo");
    Bytes file = t.build();
    // A would-be header in the record area: type '0', header length 0, record length 1.
    const Bytes fake = {'0', 1, 1, 1, 9, 0, 0, 0, 0, 0, 1, 0};
    file.insert(file.end() - 1, fake.begin(), fake.end());
    file.insert(file.end() - 1, 20, ' ');
    std::fill(file.begin() + 32, file.begin() + 64, 0); // the descriptor is lost
    EXPECT_EQ(repair(file), recoveryNothingProduced);
    EXPECT_FALSE(testing::fileExists(dir.file("out.dbf")));

    // In place the table stays as it was.
    EXPECT_EQ(repair(file, "t.dbf"), recoveryNothingProduced);
    EXPECT_EQ(read("t.dbf"), file);
}

// A memo file that is there but cannot be opened was taken for a missing one: every reference
// was cleared and, in place, the memo file replaced by an empty one, with success reported.
TEST(EngineFindingsMemo, MemoFileThatCannotBeOpenedStopsTheRun) {
    testing::ScratchFolder dir;
    testing::WorkingFolder cwd(dir.path());
    testing::FaultPlatform os;
    testing::EngineRun context(os);
    testing::BuiltMemo memo = testing::foxProMemoFile(64, {{1, testing::bytesOf("kept")}});
    TableBuilder t(0xF5);
    t.field("NOTES", 'M', 10).record(testing::memoReference(memo.blocks[0])).recordCount(9);
    Bytes table = t.build();
    for (const char *output : {"out.dbf", "t.dbf"}) {
        testing::writeFile(dir.file("t.dbf"), table);
        testing::writeFile(dir.file("t.fpt"), memo.file);
        os.failOpen(testing::pathEndsWith("t.fpt"), testing::ioError(), platform::Access::Read);
        EXPECT_EQ(context.run(nullptr, dir.file("t.dbf"), dir.file(output), false),
                  recoveryNothingProduced)
            << output;
        os.clearFaults();
        EXPECT_EQ(context.lastError, testing::ioError());
        EXPECT_EQ(testing::readFile(dir.file("t.dbf")), table);
        EXPECT_EQ(testing::readFile(dir.file("t.fpt")), memo.file);
        EXPECT_FALSE(testing::fileExists(dir.file("out.dbf")));
        EXPECT_FALSE(testing::fileExists(dir.file("out.fpt")));
        EXPECT_FALSE(testing::fileExists(dir.file("tmpmemo.tmp")));
    }
}

} // namespace
} // namespace salvora
