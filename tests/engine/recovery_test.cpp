#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/recovery.h"
#include "tests/support/enginerun.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::CapturedText;
using testing::RecordingWindow;
using testing::TableBuilder;
using testing::TempDir;

class RecoveryTest : public ::testing::Test {
  protected:
    static TableBuilder people(std::uint8_t type = 0x03) {
        TableBuilder t(type);
        t.field("NAME", 'C', 10).field("AGE", 'N', 3).field("BORN", 'D', 8);
        return t;
    }
    static TableBuilder withRecords(TableBuilder t, int n) {
        for (int i = 0; i < n; ++i)
            t.record("name" + std::to_string(i));
        return t;
    }
    int run(const std::string &source, const std::string &output, RunWindow *window = nullptr,
            bool folderMode = false) {
        return context.run(window, source, output, folderMode);
    }
    // The stored date is today's in a rebuilt header, so compare everything else.
    static Bytes withoutDate(Bytes b) {
        if (b.size() >= 4)
            std::fill(b.begin() + 1, b.begin() + 4, 0);
        return b;
    }

    TempDir dir;
    testing::EngineRun context{platform::nativePlatform()};
};

TEST_F(RecoveryTest, SoundTableIsCopiedByteForByteAndTheSourceIsLeftAlone) {
    Bytes original = withRecords(people(), 3).build();
    testing::writeFile(dir.file("a.dbf"), original);
    EXPECT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(testing::readFile(dir.file("b.dbf")), original);
    EXPECT_EQ(testing::readFile(dir.file("a.dbf")), original);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.dbf", "b.dbf"}));
    EXPECT_EQ(context.messageText,
              "Analyzing file...\r\nProcess complete.\r\nRecoverable records: 3\r\n");
}

TEST_F(RecoveryTest, WrongRecordCountIsCorrected) {
    TableBuilder t = withRecords(people(), 4);
    t.recordCount(1000);
    testing::writeFile(dir.file("a.dbf"), t.build());
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    t.recordCount(4);
    EXPECT_EQ(testing::readFile(dir.file("b.dbf")), t.build());
}

TEST_F(RecoveryTest, TruncatedLastRecordIsDroppedAndTheEndMarkerRestored) {
    TableBuilder t = withRecords(people(), 3);
    Bytes file = t.build();
    file.resize(file.size() - 10); // cut inside record 3, marker gone
    testing::writeFile(dir.file("a.dbf"), file);
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    Bytes expected = withRecords(people(), 2).build();
    EXPECT_EQ(testing::readFile(dir.file("b.dbf")), expected);
}

TEST_F(RecoveryTest, StrayLeadingBytesAreDropped) {
    Bytes original = withRecords(people(), 5).build();
    testing::writeFile(dir.file("a.dbf"), testing::concat(Bytes(7, 0xEE), original));
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(testing::readFile(dir.file("b.dbf")), original);
}

TEST_F(RecoveryTest, ZeroedHeaderIsRebuiltAroundTheSameRecords) {
    Bytes original = withRecords(people(), 5).build();
    Bytes damaged = original;
    std::fill(damaged.begin(), damaged.begin() + 32, 0);
    testing::writeFile(dir.file("a.dbf"), damaged);
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    Bytes fixed = testing::readFile(dir.file("b.dbf"));
    // The rebuilt header has no reserved bytes; the descriptors come back as found, with the
    // engine's displacements.
    Bytes expected = original;
    platform::LocalTime today = context.os.localTime();
    expected[1] = static_cast<std::uint8_t>(today.year - 1900);
    expected[2] = static_cast<std::uint8_t>(today.month);
    expected[3] = static_cast<std::uint8_t>(today.day);
    for (int f = 0; f < 3; ++f) {
        expected[32 + 32 * f + 14] = 0;
        expected[32 + 32 * f + 15] = 0;
    }
    EXPECT_EQ(withoutDate(fixed), withoutDate(expected));
}

TEST_F(RecoveryTest, RebuiltVisualFoxProHeaderGetsAnEmptyBacklink) {
    TableBuilder t(0x30);
    // Day 2459000 (31 May 2020) at midnight, as the date-time field stores it.
    std::string when("\xB8\x85\x25\x00\x00\x00\x00\x00", 8);
    t.field("NAME", 'C', 6).field("WHEN", 'T', 8).record("abcdef" + when).record("ghijkl" + when);
    t.backlink("sales.dbc");
    Bytes damaged = t.build();
    std::fill(damaged.begin(), damaged.begin() + 32, 0);
    testing::writeFile(dir.file("a.dbf"), damaged);
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    Bytes fixed = testing::readFile(dir.file("b.dbf"));
    ASSERT_EQ(fixed.size(), t.build().size());
    EXPECT_EQ(fixed[0], 0x30);
    std::uint16_t headerLength = static_cast<std::uint16_t>(fixed[8] | fixed[9] << 8);
    EXPECT_EQ(headerLength, 32 * 2 + 296);
    EXPECT_EQ(Bytes(fixed.begin() + headerLength - 263, fixed.begin() + headerLength),
              Bytes(263, 0));
    EXPECT_EQ(fixed[32 * 3], 0x0D);
    EXPECT_EQ(fixed[headerLength + 1], 'a');
}

TEST_F(RecoveryTest, EmptyTableHasNoEndMarker) {
    testing::writeFile(dir.file("a.dbf"), people().build());
    RecordingWindow window;
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf"), &window, true), recoveryFixed);
    Bytes fixed = testing::readFile(dir.file("b.dbf"));
    EXPECT_EQ(fixed, people().endMarker(false).build());
    EXPECT_EQ(window.calls, (std::vector<std::string>{"range 0 0", "step 0", "pos 0"}));
}

TEST_F(RecoveryTest, ProgressIsScaledAndSteppedEveryHundredRecords) {
    struct Case {
        int records;
        std::vector<std::string> head;
        int steps;
    };
    for (const Case &c :
         {Case{100, {"range 0 100", "step 1"}, 1}, Case{101, {"range 0 1", "step 1"}, 2},
          Case{99, {"range 0 99", "step 49"}, 1}, Case{250, {"range 0 2", "step 1"}, 3}}) {
        testing::writeFile(dir.file("a.dbf"), withRecords(people(), c.records).build());
        RecordingWindow window;
        ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf"), &window, true), recoveryFixed);
        EXPECT_EQ(window.calls[0], c.head[0]) << c.records;
        EXPECT_EQ(window.calls[1], c.head[1]) << c.records;
        EXPECT_EQ(window.count("stepit"), c.steps) << c.records;
        EXPECT_EQ(window.calls.back(), "pos " + std::to_string(c.records));
    }
}

TEST_F(RecoveryTest, ZeroDayGetsTodaysDateAndKeepsTheRest) {
    TableBuilder t = withRecords(people(), 2);
    t.date(99, 12, 0);
    testing::writeFile(dir.file("a.dbf"), t.build());
    platform::LocalTime before = context.os.localTime();
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    Bytes fixed = testing::readFile(dir.file("b.dbf"));
    platform::LocalTime after = context.os.localTime();
    bool matches = false;
    for (const platform::LocalTime &day : {before, after})
        matches |= fixed[1] == static_cast<std::uint8_t>(day.year - 1900) &&
                   fixed[2] == day.month && fixed[3] == day.day;
    EXPECT_TRUE(matches);
    EXPECT_EQ(withoutDate(fixed), withoutDate(t.build()));
}

TEST_F(RecoveryTest, NewNameDetachesFromIndexAndDatabaseContainer) {
    TableBuilder t(0x30);
    t.field("NAME", 'C', 6).record("abcdef").backlink("..\\data\\sales.dbc").tableFlags(0x01);
    Bytes original = t.build();
    testing::writeFile(dir.file("a.dbf"), original);
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    Bytes fixed = testing::readFile(dir.file("b.dbf"));
    Bytes expected = original;
    expected[28] = 0x00;
    std::fill(expected.begin() + 32 + 32 + 1, expected.begin() + 32 + 32 + 1 + 263, 0);
    EXPECT_EQ(fixed, expected);
}

TEST_F(RecoveryTest, InPlaceRepairKeepsFlagsAndBacklinkAndLeavesNoTemporaryFile) {
    TableBuilder t(0x30);
    t.field("NAME", 'C', 6)
        .record("abcdef")
        .record("ghijkl")
        .backlink("sales.dbc")
        .tableFlags(0x01);
    t.recordCount(9);
    testing::writeFile(dir.file("a.dbf"), t.build());
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("a.dbf")), recoveryFixed);
    t.recordCount(2);
    EXPECT_EQ(testing::readFile(dir.file("a.dbf")), t.build());
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.dbf"});
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(RecoveryTest, TwoSpellingsOfOneFileAreAnInPlaceRepair) {
    TableBuilder t = withRecords(people(), 3);
    t.recordCount(1).tableFlags(0x01);
    testing::writeFile(dir.file("a.dbf"), t.build());
    ASSERT_EQ(::symlink(dir.file("a.dbf").c_str(), dir.file("link.dbf").c_str()), 0);
    for (const std::string &other : {dir.path() + "/./a.dbf", dir.file("link.dbf")}) {
        ASSERT_EQ(run(dir.file("a.dbf"), other), recoveryFixed) << other;
        TableBuilder expected = withRecords(people(), 3);
        expected.tableFlags(0x01); // in place: still attached to its index
        EXPECT_EQ(testing::readFile(dir.file("a.dbf")), expected.build()) << other;
    }
    // Repaired through the link, the table behind it is replaced and the link stays a link.
    testing::writeFile(dir.file("a.dbf"), t.build());
    ASSERT_EQ(run(dir.file("link.dbf"), dir.file("link.dbf")), recoveryFixed);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.dbf")));
    EXPECT_EQ(testing::readFile(dir.file("a.dbf")).size(), withRecords(people(), 3).build().size());
}
#endif

TEST_F(RecoveryTest, ReadOnlySourceStaysReadOnlyAndLendsItsAttributesToTheOutput) {
    testing::writeFile(dir.file("a.dbf"), withRecords(people(), 2).build());
    ::chmod(dir.file("a.dbf").c_str(), 0444);
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    struct stat st {};
    ::stat(dir.file("a.dbf").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    ::stat(dir.file("b.dbf").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(RecoveryTest, InPlaceResultKeepsTheSourcePermissions) {
    testing::writeFile(dir.file("a.dbf"), withRecords(people(), 2).recordCount(7).build());
    ::chmod(dir.file("a.dbf").c_str(), 0640);
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("a.dbf")), recoveryFixed);
    struct stat st {};
    ::stat(dir.file("a.dbf").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(testing::readFile(dir.file("a.dbf")), withRecords(people(), 2).build());
}
#endif

TEST_F(RecoveryTest, UnknownTableTypeIsUnusable) {
    TableBuilder t = withRecords(people(0x05), 2);
    testing::writeFile(dir.file("a.dbf"), t.build());
    RecordingWindow window;
    EXPECT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf"), &window, true), recoveryUnusable);
    EXPECT_EQ(context.messageText, "Analyzing file...\r\nUnrecoverable file");
    EXPECT_EQ(window.texts[IDC_LOG], context.messageText);
    EXPECT_FALSE(testing::fileExists(dir.file("b.dbf")));
}

// The window gives the run's words in its language; the command line keeps the defaults.
TEST_F(RecoveryTest, TheRunSpeaksTheCallersWords) {
    context.texts.analysing = "A\r\n";
    context.texts.tableFound = "T=%s F=%d";
    context.texts.unknownType = "U";
    struct Case {
        int type;
        int result;
        std::string shownFrom;
    };
    // A folder run's table leaves its last message in the log box.
    const Case cases[] = {{0x05, recoveryUnusable, "A\r\nU"}, {0x03, recoveryFixed, "A\r\nT="}};
    for (const Case &c : cases) {
        testing::writeFile(dir.file("a.dbf"), withRecords(people(c.type), 2).build());
        RecordingWindow window;
        EXPECT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf"), &window, true), c.result);
        std::string log = window.texts[IDC_LOG];
        EXPECT_EQ(log.rfind(c.shownFrom, 0), 0u) << log;
        if (c.result == recoveryFixed) {
            EXPECT_NE(log.find(" F="), std::string::npos) << log;
        }
    }
}

TEST_F(RecoveryTest, UnrecoverableFileProducesNothing) {
    testing::writeFile(dir.file("a.dbf"), Bytes(3000, 0x05));
    EXPECT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryNothingProduced);
    EXPECT_EQ(context.messageText, "Analyzing file...\r\nUnrecoverable file...\r\n");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.dbf"});
}

TEST_F(RecoveryTest, MissingOrEmptySource) {
    EXPECT_EQ(run(dir.file("none.dbf"), dir.file("b.dbf")), recoveryUnusable);
    EXPECT_EQ(context.lastError, platform::errorFileNotFound());
    EXPECT_EQ(run("", dir.file("b.dbf")), recoveryNothingProduced);
    EXPECT_TRUE(dir.names().empty());
}

TEST_F(RecoveryTest, OutputFolderThatDoesNotExistProducesNothing) {
    testing::writeFile(dir.file("a.dbf"), withRecords(people(), 2).build());
    EXPECT_EQ(run(dir.file("a.dbf"), dir.file("no/such/b.dbf")), recoveryNothingProduced);
    EXPECT_NE(context.lastError, 0);
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(RecoveryTest, OutputHeldByAnotherProgramIsNotTouched) {
    testing::writeFile(dir.file("a.dbf"), withRecords(people(), 2).build());
    testing::writeFile(dir.file("b.dbf"), testing::bytesOf("precious"));
    int other = ::open(dir.file("b.dbf").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryNothingProduced);
    ::close(other);
    EXPECT_EQ(testing::readFile(dir.file("b.dbf")), testing::bytesOf("precious"));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.dbf", "b.dbf"}));
}
#endif

TEST_F(RecoveryTest, SingleModeReadsThePathsFromTheWindowAndReportsThere) {
    TableBuilder t = people();
    t.record("live").record("gone", '*').record("live2");
    testing::writeFile(dir.file("a.dbf"), t.build());
    RecordingWindow window;
    window.texts[IDC_SOURCE] = dir.file("a.dbf");
    window.texts[IDC_OUTPUT] = dir.file("b.dbf");
    window.keepDeletedChecked = false;
    ASSERT_EQ(run("ignored", "ignored", &window), recoveryFixed);
    EXPECT_EQ(context.lastOutput, dir.file("b.dbf"));
    EXPECT_EQ(window.texts[IDC_LOG],
              "Analyzing file...\r\nProcess complete.\r\nRecoverable records: 2\r\n");
    EXPECT_EQ(window.texts[IDC_STATUS], "");
    TableBuilder expected = people();
    expected.record("live").record("live2");
    EXPECT_EQ(testing::readFile(dir.file("b.dbf")), expected.build());
}

TEST_F(RecoveryTest, SingleModeShowsSystemErrorsInAMessageBox) {
    RecordingWindow window;
    window.texts[IDC_SOURCE] = dir.file("missing.dbf");
    window.texts[IDC_OUTPUT] = dir.file("b.dbf");
    EXPECT_EQ(run("", "", &window), recoveryUnusable);
    ASSERT_EQ(window.messageBoxes.size(), 1u);
    EXPECT_EQ(window.messageBoxes[0],
              "Salvora: " + context.os.errorText(platform::errorFileNotFound()));
}

TEST_F(RecoveryTest, DeletedRecordsAreKeptWithoutAWindow) {
    TableBuilder t = people();
    t.record("live").record("gone", '*');
    testing::writeFile(dir.file("a.dbf"), t.build());
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(testing::readFile(dir.file("b.dbf")), t.build());
}

TEST_F(RecoveryTest, ConsoleEchoesTheHeaderAndTheResult) {
    CapturedText console;
    context.consoleOut = &console;
    testing::writeFile(dir.file("a.dbf"), withRecords(people(), 12).build());
    ASSERT_EQ(run(dir.file("a.dbf"), dir.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(console.text_,
              "Source file:" + dir.file("a.dbf") + "\r\nOutput file:" + dir.file("b.dbf") +
                  " Analyzing file...\r\nProcess complete.\r\nRecoverable records: 12\r\n");

    console.text_.clear();
    testing::writeFile(dir.file("c.dbf"), Bytes(100, 0x05));
    ASSERT_EQ(run(dir.file("c.dbf"), dir.file("d.dbf")), recoveryNothingProduced);
    EXPECT_EQ(console.text_,
              "Source file:" + dir.file("c.dbf") + "\r\nOutput file:" + dir.file("d.dbf") + " ");
}

} // namespace
} // namespace salvora
