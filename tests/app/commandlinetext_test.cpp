#include <gtest/gtest.h>

#include <string>

#include "app/batchfile.h"
#include "app/commandlinetext.h"
#include "app/linktext.h"
#include "tests/support/faultplatform.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

constexpr char folder[] = "C:\\Program Files\\Salvora\\";
constexpr char program[] = "\"C:\\Program Files\\Salvora\\salvora.exe\"";

std::string build(std::string_view source, std::string_view output,
                  const RecoveryOptions &options = {}) {
    return buildCommandLineText(folder, source, output, options).value_or("<too long>");
}

TEST(CommandLineText, SingleTableNamesItsOutput) {
    EXPECT_EQ(build("C:\\data\\x.dbf", "C:\\out\\x.dbf"),
              std::string(program) + " C:\\data\\x.dbf /output:C:\\out\\x.dbf");
    // The program's own file name never matters, only its folder.
    EXPECT_EQ(buildCommandLineText("D:\\", "x.dbf", "y.dbf", {}).value(),
              "\"D:\\salvora.exe\" x.dbf /output:y.dbf");
}

TEST(CommandLineText, NamesWithBlanksAreQuoted) {
    EXPECT_EQ(build("C:\\My Data\\x.dbf", "C:\\My Out\\y.dbf"),
              std::string(program) + " \"C:\\My Data\\x.dbf\" /output:\"C:\\My Out\\y.dbf\"");
    EXPECT_EQ(build("C:\\data\\x.dbf", "C:\\My Out\\y.dbf"),
              std::string(program) + " C:\\data\\x.dbf /output:\"C:\\My Out\\y.dbf\"");
}

TEST(CommandLineText, FoldersBecomeInPlaceBatchesOfTables) {
    EXPECT_EQ(build("C:\\data", "C:\\fixed"), std::string(program) + " C:\\data\\*.dbf");
    EXPECT_EQ(build("C:\\data\\", "C:\\data\\"), std::string(program) + " C:\\data\\*.dbf");
    EXPECT_EQ(build("C:\\My Data", "C:\\My Data"),
              std::string(program) + " \"C:\\My Data\\*.dbf\"");
    // A pattern that already names tables is kept as typed.
    EXPECT_EQ(build("C:\\data\\a*.DBF", ""), std::string(program) + " C:\\data\\a*.DBF");
    EXPECT_EQ(build("C:\\data\\x?.dbf", "C:\\out"), std::string(program) + " C:\\data\\x?.dbf");
}

TEST(CommandLineText, OptionsFollowInTheirFixedOrder) {
    RecoveryOptions options;
    options.pack = 1;
    options.deleteEmpty = 1;
    EXPECT_EQ(build("x.dbf", "y.dbf", options),
              std::string(program) + " x.dbf /output:y.dbf /delempty /pack");
    options = {};
    options.recoverDeleted = 1;
    options.deleteDuplicates = 1;
    options.deleteEmpty = 1;
    options.deleteInvalidMemo = 1; // has no switch
    options.detailedLog = 1;
    options.keepOriginal = 1;
    EXPECT_EQ(build("C:\\data", "C:\\data", options),
              std::string(program) +
                  " C:\\data\\*.dbf /delempty /deldups /recoverydeleted /backup");
}

TEST(CommandLineText, CheckOnlyAndReportFollowTheOptions) {
    RecoveryOptions options;
    options.pack = 1;
    struct Case {
        const char *source;
        bool checkOnly;
        const char *report;
        const char *expected;
    };
    const Case cases[] = {
        {"x.dbf", true, "", " x.dbf /check /pack"},
        {"x.dbf", false, "C:\\My Reports\\x.csv",
         " x.dbf /output:y.dbf /report:\"C:\\My Reports\\x.csv\" /pack"},
        {"x.dbf", true, "r.json", " x.dbf /check /report:r.json /pack"},
        // A batch is refused with /check rather than repaired; it takes no report.
        {"C:\\data", true, "r.txt", " C:\\data\\*.dbf /check /pack"},
        {"C:\\data", false, "r.txt", " C:\\data\\*.dbf /pack"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(buildCommandLineText(folder, c.source, "y.dbf", options, {c.checkOnly, c.report})
                      .value_or("?"),
                  std::string(program) + c.expected)
            << c.source;
}

TEST(CommandLineText, TextThatWouldOverflowTheBufferIsRefusedWhole) {
    std::string prefix = std::string(program) + " ";
    std::string suffix = " /output:y.dbf";
    std::string fits(commandLineCapacity - 1 - prefix.size() - suffix.size() - 4, 'a');
    auto text = buildCommandLineText(folder, fits + ".dbf", "y.dbf", {});
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), commandLineCapacity - 1);
    EXPECT_FALSE(buildCommandLineText(folder, fits + "a.dbf", "y.dbf", {}));
}

TEST(CommandLineText, BatchNamesEndInBat) {
    EXPECT_EQ(batchFileName("C:\\run"), "C:\\run.bat");
    EXPECT_EQ(batchFileName("C:\\run.BAT"), "C:\\run.BAT");
    EXPECT_EQ(batchFileName("run.bat"), "run.bat");
    // A ".bat" elsewhere in the name does not make it a batch file.
    EXPECT_EQ(batchFileName("C:\\my.batches\\run"), "C:\\my.batches\\run.bat");
    EXPECT_EQ(batchFileName("run.bat.txt"), "run.bat.txt.bat");
}

TEST(BatchFile, HoldsExactlyTheTextWithoutALineEnding) {
    testing::TempDir dir;
    std::string name = dir.file("run.bat");
    testing::writeFile(name, testing::Bytes(5000, 'x'));
    ASSERT_EQ(saveBatchFile(platform::nativePlatform(), name, "\"salvora.exe\" x.dbf"), 0);
    EXPECT_EQ(testing::readFile(name), testing::bytesOf("\"salvora.exe\" x.dbf"));
}

TEST(BatchFile, FailureLeavesNothingBehind) {
    testing::TempDir dir;
    testing::FaultPlatform os;
    os.failWritesAfter(3);
    std::string name = dir.file("run.bat");
    EXPECT_EQ(saveBatchFile(os, name, "\"salvora.exe\" x.dbf"), platform::errorDiskFull());
    EXPECT_FALSE(testing::fileExists(name));

    os.clearFaults();
    EXPECT_NE(saveBatchFile(os, dir.file("missing/run.bat"), "x"), 0);
}

TEST(LinkText, HashSplitsLabelAndTargetAndWinsOverMail) {
    EXPECT_EQ(linkLabel("Our web site#https://salvora.example/"), "Our web site");
    EXPECT_EQ(linkTarget("Our web site#https://salvora.example/"), "https://salvora.example/");
    EXPECT_EQ(linkLabel("Write to us#support@salvora.example"), "Write to us");
    EXPECT_EQ(linkTarget("Write to us#support@salvora.example"), "support@salvora.example");
    EXPECT_EQ(linkTarget("a#b#c"), "b#c");
    EXPECT_EQ(linkTarget("label#"), "");
}

TEST(LinkText, MailAddressesOpenAsMailAndOtherTextAsItStands) {
    EXPECT_EQ(linkLabel("support@salvora.example"), "support@salvora.example");
    EXPECT_EQ(linkTarget("support@salvora.example"), "mailto:support@salvora.example");
    EXPECT_EQ(linkLabel("https://salvora.example/"), "https://salvora.example/");
    EXPECT_EQ(linkTarget("https://salvora.example/"), "https://salvora.example/");
    EXPECT_EQ(linkTarget(""), "");
}

} // namespace
} // namespace salvora
