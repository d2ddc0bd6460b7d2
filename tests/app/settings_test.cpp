// The settings store's read and write rules, and the settings file: its format, damaged
// files, atomic replacement and where it lives.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/settingsfile.h"
#include "tests/support/fakeappsystem.h"
#include "tests/support/faultplatform.h"
#include "tests/support/memorysettings.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

struct MemoryStore {
    MemorySettings *backend;
    SettingsStore store;
    MemoryStore() : MemoryStore(std::make_unique<MemorySettings>()) {}
    explicit MemoryStore(std::unique_ptr<MemorySettings> owned)
        : backend(owned.get()), store(std::move(owned), settingsCreatedNew) {}
};

TEST(SettingsStore, TextsLongerThanTheBufferAreNotRead) {
    MemoryStore m;
    m.store.writeText("PATH", std::string(253, 'p'));
    EXPECT_EQ(m.store.readText("PATH", 254), std::string(253, 'p'));
    m.store.writeText("PATH", std::string(254, 'p')); // 255 bytes with its terminator
    EXPECT_EQ(m.store.readText("PATH", 254), std::nullopt);
    EXPECT_EQ(m.store.readText("MISSING", 254), std::nullopt);
    EXPECT_EQ(m.backend->values->at("PATH").type, ValueType::Text);
}

TEST(SettingsStore, AMissingNumberTakesItsDefaultAndWritesItAtOnce) {
    MemoryStore m;
    EXPECT_EQ(m.store.readNumber("LANG", -1), -1);
    EXPECT_EQ(m.backend->values->at("LANG"),
              (SettingsValue{ValueType::Number, "\xff\xff\xff\xff"}));
    m.store.writeNumber("LANG", 3);
    EXPECT_EQ(m.store.readNumber("LANG", -1), 3);
    m.store.writeBytes("LANG", "12345"); // no 4-byte value
    EXPECT_EQ(m.store.readNumber("LANG", 0), 0);
}

TEST(SettingsStore, WithoutAKeyReadsFindNothingAndWritesFail) {
    SettingsStore store(nullptr, settingsOpenFailed);
    EXPECT_EQ(store.readNumber("LANG", -1), -1);
    EXPECT_NE(store.writeText("PATH", "x"), 0);
}

TEST(SettingsFile, FormatIsOneTypedValuePerLine) {
    std::map<std::string, SettingsValue> values = {
        {"PATH", {ValueType::Text, std::string("/a b\\c\nd") + '\0'}},
        {"RECENTS", {ValueType::Binary, std::string("\x02\x00\x00\x00", 4)}},
        {"LANG", {ValueType::Number, "\xff\xff\xff\xff"}},
    };
    std::string text = formatSettingsFile(values);
    EXPECT_EQ(text, "# Salvora settings: NAME TYPE DATA, TYPE text, number or bytes.\n"
                    "LANG number -1\n"
                    "PATH text /a b\\\\c\\nd\n"
                    "RECENTS bytes 02000000\n");
    EXPECT_EQ(parseSettingsFile(text), values);
}

TEST(SettingsFile, DamagedLinesAreMissingValuesAndTheRestSurvives) {
    std::string text = "SRC0 text good\n"
                       "garbage\n"
                       "SRC1 text bad\\q\n"
                       "RECENTS bytes 0g000000\n"
                       "RECENTS2 bytes 020\n"
                       "LANG number 99999999999\n"
                       "LANG2 number 2x\n"
                       "BAD-NAME text x\n"
                       "DST0 blob 00\n"
                       "DST1 text crlf\r\n"
                       "\x01\x02\xff";
    auto values = parseSettingsFile(text);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values.at("SRC0").data, std::string("good") + '\0');
    EXPECT_EQ(values.at("DST1").data, std::string("crlf") + '\0');
}

TEST(SettingsFile, WritesAreReadBackByTheNextRunAndLeaveNoTemporaryFile) {
    TempDir dir;
    std::string path = dir.file("settings");
    {
        FileSettingsBackend first(platform::nativePlatform(), path);
        EXPECT_FALSE(first.existed());
        EXPECT_EQ(first.write("SRC0", {ValueType::Text, std::string("x.dbf") + '\0'}), 0);
        EXPECT_EQ(first.write("LANG", {ValueType::Number, std::string("\x02\0\0\0", 4)}), 0);
    }
    FileSettingsBackend second(platform::nativePlatform(), path);
    EXPECT_TRUE(second.existed());
    EXPECT_EQ(second.read("SRC0")->data, std::string("x.dbf") + '\0');
    EXPECT_EQ(second.read("LANG")->data, std::string("\x02\0\0\0", 4));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"settings"});
}

TEST(SettingsFile, AFailedReplacementKeepsTheOldFileWhole) {
    TempDir dir;
    std::string path = dir.file("settings");
    FaultPlatform os;
    FileSettingsBackend backend(os, path);
    ASSERT_EQ(backend.write("PATH", {ValueType::Text, std::string("old") + '\0'}), 0);
    Bytes before = readFile(path);

    os.failOperation(Operation::Rename, anyPath(), ioError());
    EXPECT_NE(backend.write("PATH", {ValueType::Text, std::string("new") + '\0'}), 0);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(backend.read("PATH")->data, std::string("old") + '\0');
    EXPECT_EQ(dir.names(), std::vector<std::string>{"settings"});

    // A crash at any step of a write leaves the old or the new file, never a mixture.
    os.clearFaults();
    for (std::uint64_t step = 0; step < 6; ++step) {
        os.clearFaults();
        os.crashAfter(step);
        backend.write("PATH", {ValueType::Text, std::string("crash") + '\0'});
        os.clearFaults();
        auto values = parseSettingsFile(textOf(readFile(path)));
        ASSERT_EQ(values.count("PATH"), 1u) << step;
    }
}

TEST(SettingsFile, UnreadableOrHugeFilesCountAsEmpty) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("settings")); // a folder in its place
    FileSettingsBackend folder(platform::nativePlatform(), dir.file("settings"));
    EXPECT_EQ(folder.read("LANG"), std::nullopt);

    writeFile(dir.file("huge"), Bytes(2 << 20, 'A'));
    FileSettingsBackend huge(platform::nativePlatform(), dir.file("huge"));
    EXPECT_EQ(huge.read("LANG"), std::nullopt);
}

TEST(SettingsFile, LivesUnderXdgConfigHomeOrTheHomeConfigFolder) {
    FakeAppSystem system;
    EXPECT_EQ(settingsFilePath(system), "");
    system.env["HOME"] = "/home/me";
    EXPECT_EQ(settingsFilePath(system), "/home/me/.config/salvora/settings");
    system.env["XDG_CONFIG_HOME"] = "relative/path";
    EXPECT_EQ(settingsFilePath(system), "/home/me/.config/salvora/settings");
    system.env["XDG_CONFIG_HOME"] = "/xdg";
    EXPECT_EQ(settingsFilePath(system), "/xdg/salvora/settings");
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST(SettingsFile, OpeningCreatesTheFolderAndTellsNewFromExisting) {
    TempDir dir;
    FakeAppSystem system;
    system.env["XDG_CONFIG_HOME"] = dir.file("config");
    SettingsStore first = openNativeSettings(platform::nativePlatform(), system);
    EXPECT_EQ(first.disposition(), settingsCreatedNew);
    EXPECT_EQ(first.writeNumber("LANG", 0), 0);
    EXPECT_TRUE(fileExists(dir.file("config/salvora/settings")));
    SettingsStore second = openNativeSettings(platform::nativePlatform(), system);
    EXPECT_EQ(second.disposition(), settingsOpenedExisting);
    EXPECT_EQ(second.readNumber("LANG", -1), 0);
}
#endif

} // namespace
} // namespace salvora::testing
