// The engine log "recovery.log": what a run leaves in it, where it lies, and what it never
// overwrites.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/enginelog.h"
#include "engine/recovery.h"
#include "tests/support/enginerun.h"
#include "tests/support/forwardingplatform.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::CapturedText;
using testing::TableBuilder;
using testing::TempDir;

// Counts the writes that reach "recovery.log", so that a test can tell two writes from many.
class LogWriteCounter final : public testing::ForwardingPlatform {
  public:
    int logWrites = 0;

    platform::OpenResult openFile(const std::string &path,
                                  const platform::OpenRequest &request) override {
        platform::OpenResult opened = inner().openFile(path, request);
        if (opened && path == engineLogName)
            opened.file = std::make_unique<CountingFile>(std::move(opened.file), logWrites);
        return opened;
    }

  private:
    class CountingFile final : public platform::FileHandle {
      public:
        CountingFile(std::unique_ptr<platform::FileHandle> inner, int &writes)
            : inner_(std::move(inner)), writes_(writes) {}
        platform::IoResult read(void *buffer, std::size_t size) override {
            return inner_->read(buffer, size);
        }
        platform::IoResult write(const void *data, std::size_t size) override {
            ++writes_;
            return inner_->write(data, size);
        }
        platform::ErrorCode seek(std::uint64_t offset) override { return inner_->seek(offset); }
        std::optional<std::uint64_t> size(platform::ErrorCode *error) override {
            return inner_->size(error);
        }
        platform::ErrorCode setEnd() override { return inner_->setEnd(); }
        platform::ErrorCode flush() override { return inner_->flush(); }
        platform::ErrorCode getTimes(platform::FileTimes &times) override {
            return inner_->getTimes(times);
        }
        platform::ErrorCode setTimes(const platform::FileTimes &times) override {
            return inner_->setTimes(times);
        }

      private:
        std::unique_ptr<platform::FileHandle> inner_;
        int &writes_;
    };
};

using testing::WorkingFolder;

class EngineLogTest : public ::testing::Test {
  protected:
    EngineLogTest() { context.options.detailedLog = 1; }

    static Bytes table(int records, std::uint8_t type = 0x03) {
        TableBuilder t(type);
        t.field("NAME", 'C', 10).field("AGE", 'N', 3);
        for (int i = 0; i < records; ++i)
            t.record("name" + std::to_string(i));
        return t.build();
    }
    std::string source(const std::string &name, const Bytes &bytes) {
        std::string path = tables.file(name);
        testing::writeFile(path, bytes);
        return path;
    }
    int run(const std::string &from, const std::string &to, RunWindow *window = nullptr,
            bool folderMode = false) {
        return context.run(window, from, to, folderMode);
    }
    std::string log() const {
        Bytes bytes = testing::readFile(work.file(engineLogName));
        return std::string(bytes.begin(), bytes.end());
    }
    // Nothing of a finished run may still hold the log.
    static bool logReleased() {
        return static_cast<bool>(platform::nativePlatform().openFile(
            engineLogName, {platform::Access::ReadWrite, platform::Share::None,
                            platform::Disposition::OpenExisting, false}));
    }
    static std::string header(const std::string &from, const std::string &to) {
        return "Source file:" + from + "\r\nOutput file:" + to + " ";
    }
    static std::string result(int kept) {
        return "Analyzing file...\r\nProcess complete.\r\nRecoverable records: " +
               std::to_string(kept) + "\r\n";
    }

    TempDir work;
    TempDir tables;
    WorkingFolder inWork{work.path()};
    LogWriteCounter os;
    testing::EngineRun context{os};
};

TEST_F(EngineLogTest, CompletedRunLeavesTheHeaderAndTheResultInTwoWrites) {
    std::string from = source("a.dbf", table(12));
    std::string to = tables.file("b.dbf");
    ASSERT_EQ(run(from, to), recoveryFixed);
    EXPECT_EQ(log(), header(from, to) + result(12));
    EXPECT_EQ(os.logWrites, 2);
    EXPECT_TRUE(logReleased());
    // The log lies in the working folder, not beside the tables.
    EXPECT_EQ(tables.names(), (std::vector<std::string>{"a.dbf", "b.dbf"}));
    EXPECT_EQ(work.names(), std::vector<std::string>{engineLogName});
}

TEST_F(EngineLogTest, TextIsExactlyTheExampleOfTheLogFormat) {
    // Relative names, as a command line gives them, are written as given.
    testing::writeFile(work.file("a.dbf"), table(12));
    ASSERT_EQ(run("a.dbf", "b.dbf"), recoveryFixed);
    EXPECT_EQ(log(), "Source file:a.dbf\r\nOutput file:b.dbf Analyzing file...\r\n"
                     "Process complete.\r\nRecoverable records: 12\r\n");
}

TEST_F(EngineLogTest, ResultComesFromTheInterfaceLanguage) {
    context.texts.recoverableRecords = "Wiederherstellbar: %d\r\n";
    std::string from = source("a.dbf", table(3));
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(log(), header(from, tables.file("b.dbf")) + "Wiederherstellbar: 3\r\n");
}

TEST_F(EngineLogTest, ExistingLogIsReplaced) {
    testing::writeFile(work.file(engineLogName), Bytes(5000, 'x'));
    std::string from = source("a.dbf", table(1));
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(log(), header(from, tables.file("b.dbf")) + result(1));
}

TEST_F(EngineLogTest, SeriesOfRunsLeavesOnlyTheLastOne) {
    std::string first = source("a.dbf", table(40));
    std::string second = source("c.dbf", table(2));
    ASSERT_EQ(run(first, first), recoveryFixed);
    ASSERT_EQ(run(second, second), recoveryFixed);
    EXPECT_EQ(log(), header(second, second) + result(2));
}

TEST_F(EngineLogTest, WithoutTheOptionNoLogIsMadeAndAnOldOneIsLeftAlone) {
    context.options.detailedLog = 0;
    std::string from = source("a.dbf", table(2));
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryFixed);
    EXPECT_TRUE(work.names().empty());

    testing::writeFile(work.file(engineLogName), bytesOf("earlier"));
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(log(), "earlier");
    EXPECT_EQ(os.logWrites, 0);
}

TEST_F(EngineLogTest, UnrecoverableFileLeavesOnlyTheHeader) {
    std::string from = source("a.dbf", Bytes(3000, 0x05));
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryNothingProduced);
    EXPECT_EQ(log(), header(from, tables.file("b.dbf")));
    EXPECT_EQ(os.logWrites, 1);
    EXPECT_TRUE(logReleased());
}

TEST_F(EngineLogTest, UnknownTableTypeLeavesOnlyTheHeader) {
    std::string from = source("a.dbf", table(2, 0x05));
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryUnusable);
    EXPECT_EQ(context.messageText, "Analyzing file...\r\nUnrecoverable file");
    EXPECT_EQ(log(), header(from, tables.file("b.dbf")));
}

TEST_F(EngineLogTest, MissingSourceLeavesOnlyTheHeader) {
    std::string from = tables.file("none.dbf");
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryUnusable);
    EXPECT_EQ(log(), header(from, tables.file("b.dbf")));
}

TEST_F(EngineLogTest, EmptySourcePathLeavesAHeaderWithAnEmptyName) {
    ASSERT_EQ(run("", tables.file("b.dbf")), recoveryNothingProduced);
    EXPECT_EQ(log(), header("", tables.file("b.dbf")));
    EXPECT_EQ(log(), "Source file:\r\nOutput file:" + tables.file("b.dbf") + " ");
}

TEST_F(EngineLogTest, SingleModeLogsThePathsOfTheWindow) {
    std::string from = source("a.dbf", table(4));
    testing::RecordingWindow window;
    window.texts[IDC_SOURCE] = from;
    window.texts[IDC_OUTPUT] = tables.file("b.dbf");
    ASSERT_EQ(run("ignored", "ignored", &window), recoveryFixed);
    EXPECT_EQ(log(), header(from, tables.file("b.dbf")) + result(4));
}

TEST_F(EngineLogTest, ConsoleGetsTheSameTextsAsTheLog) {
    CapturedText console;
    context.consoleOut = &console;
    std::string from = source("a.dbf", table(7));
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(console.text_, header(from, tables.file("b.dbf")) + result(7));
    EXPECT_EQ(console.text_, log());

    console.text_.clear();
    std::string bad = source("c.dbf", Bytes(3000, 0x05));
    ASSERT_EQ(run(bad, tables.file("d.dbf")), recoveryNothingProduced);
    EXPECT_EQ(console.text_, header(bad, tables.file("d.dbf")));
    EXPECT_EQ(console.text_, log());
}

TEST_F(EngineLogTest, ConsoleIsEchoedWithoutALog) {
    context.options.detailedLog = 0;
    CapturedText console;
    context.consoleOut = &console;
    std::string from = source("a.dbf", table(2));
    ASSERT_EQ(run(from, tables.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(console.text_, header(from, tables.file("b.dbf")) + result(2));
    EXPECT_TRUE(work.names().empty());
}

#ifndef _WIN32
TEST_F(EngineLogTest, LogHeldOpenWithoutSharingIsNeverClobbered) {
    // A batch log of the same name, held by this very process.
    platform::OpenResult held = platform::nativePlatform().openFile(
        engineLogName, {platform::Access::ReadWrite, platform::Share::None,
                        platform::Disposition::CreateAlways, false});
    ASSERT_TRUE(held) << held.error;
    const std::string banner = "Salvora v1.0\r\nfirst.dbf: OK\r\n";
    ASSERT_TRUE(held.file->write(banner.data(), banner.size()).ok());

    CapturedText console;
    context.consoleOut = &console;
    std::string from = source("a.dbf", table(5));
    EXPECT_EQ(run(from, tables.file("b.dbf")), recoveryFixed);
    EXPECT_EQ(log(), banner);
    EXPECT_EQ(os.logWrites, 0);
    // The run itself and its console echo go on as if there were no log.
    EXPECT_EQ(console.text_, header(from, tables.file("b.dbf")) + result(5));
    EXPECT_EQ(testing::readFile(tables.file("b.dbf")), table(5));

    // The holder still writes where it left off.
    const std::string line = "a.dbf: OK\r\n";
    ASSERT_TRUE(held.file->write(line.data(), line.size()).ok());
    held.file.reset();
    EXPECT_EQ(log(), banner + line);
}
#endif

// --- The log object on its own --------------------------------------------------------------

TEST_F(EngineLogTest, WritesGoNowhereWhenTheLogIsNotOpen) {
    EngineLog engineLog;
    EXPECT_FALSE(engineLog.isOpen());
    engineLog.write("lost");
    EXPECT_TRUE(work.names().empty());
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(EngineLogTest, OpenEmptiesAndCloseReleases) {
    testing::writeFile(work.file(engineLogName), bytesOf("old text"));
    EngineLog engineLog;
    engineLog.open(os);
    ASSERT_TRUE(engineLog.isOpen());
    EXPECT_EQ(log(), "");
    engineLog.write("one ");
    engineLog.write("two");
    engineLog.close();
    EXPECT_FALSE(engineLog.isOpen());
    engineLog.write(" three");
    EXPECT_EQ(log(), "one two");
    // Closed, so nothing holds it any more.
    EXPECT_TRUE(platform::nativePlatform().openFile(
        engineLogName, {platform::Access::ReadWrite, platform::Share::None,
                        platform::Disposition::OpenExisting, false}));
}
#endif

TEST_F(EngineLogTest, UnwritableFolderIsSilent) {
    std::filesystem::create_directory(work.file(engineLogName));
    EngineLog engineLog;
    engineLog.open(os);
    EXPECT_FALSE(engineLog.isOpen());
    engineLog.write("lost");
    EXPECT_TRUE(std::filesystem::is_directory(work.file(engineLogName)));
}

} // namespace
} // namespace salvora
