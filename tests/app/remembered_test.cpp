// What the program remembers across runs: the history through start-up and the end of
// window mode, the language chosen on the first run, and the language switch.
#include <gtest/gtest.h>

#include "app/driver.h"
#include "app/language.h"
#include "app/persistence.h"
#include "app/strings.h"
#include "engine/recovery.h"
#include "resources/resource.h"
#include "tests/support/fakeappsystem.h"
#include "tests/support/memorysettings.h"

namespace salvora::testing {
namespace {

using Values = std::map<std::string, SettingsValue>;

SettingsValue text(const std::string &t) {
    return {ValueType::Text, t + '\0'};
}
SettingsValue count(std::uint32_t n) {
    return {ValueType::Binary, std::string{static_cast<char>(n), 0, 0, 0}};
}
SettingsValue number(std::int32_t n) {
    auto u = static_cast<std::uint32_t>(n);
    return {ValueType::Number, std::string{static_cast<char>(u), static_cast<char>(u >> 8),
                                           static_cast<char>(u >> 16), static_cast<char>(u >> 24)}};
}

// One run of the program over stored values that outlive it.
struct ProgramSession {
    FakeAppSystem system;
    EngineContext engine{platform::nativePlatform()};
    AppContext app{engine, system};

    explicit ProgramSession(const std::shared_ptr<Values> &values) {
        auto backend = std::make_unique<MemorySettings>();
        backend->values = values;
        app.settings = std::make_unique<SettingsStore>(std::move(backend), settingsOpenedExisting);
    }
    // Window mode where the user repairs one table.
    int windowRecovery(const std::string &source, const std::string &output,
                       std::vector<std::string> arguments = {}) {
        app.mainWindow = [=](AppContext &context) {
            context.lastSource = source;
            context.lastOutput = output;
            return 0;
        };
        return runProgram(app, readArguments(arguments));
    }
};

TEST(RememberedHistory, TwentyOneRecoveriesKeepTheTwentyMostRecent) {
    auto values = std::make_shared<Values>();
    for (int i = 0; i < 21; ++i)
        ProgramSession(values).windowRecovery("s" + std::to_string(i), "d" + std::to_string(i));
    EXPECT_EQ(values->at("RECENTS"), count(20));
    EXPECT_EQ(values->at("SRC0"), text("s20"));
    EXPECT_EQ(values->at("DST19"), text("d1"));
    ProgramSession next(values);
    next.windowRecovery("", "");
    EXPECT_EQ(next.app.history.size(), 20u);
}

TEST(RememberedHistory, TheSameRecoveryTwiceIsRememberedOnce) {
    auto values = std::make_shared<Values>();
    ProgramSession(values).windowRecovery("a.dbf", "b.dbf");
    ProgramSession(values).windowRecovery("a.dbf", "b.dbf");
    EXPECT_EQ(values->at("RECENTS"), count(1));
    EXPECT_EQ(values->count("SRC1"), 0u);
}

TEST(RememberedHistory, CleanHistoryThenExitEmptiesEveryStoredPair) {
    auto values = std::make_shared<Values>(Values{{"RECENTS", count(2)},
                                                  {"SRC0", text("a")},
                                                  {"DST0", text("b")},
                                                  {"SRC1", text("c")},
                                                  {"DST1", text("d")}});
    ProgramSession run(values);
    run.windowRecovery("", "", {"/clearhistory"});
    EXPECT_EQ(values->at("RECENTS"), count(0));
    for (const char *name : {"SRC0", "DST0", "SRC1", "DST1"})
        EXPECT_EQ(values->at(name), text("")) << name;
}

TEST(RememberedHistory, LoadsInStoredOrderAndCapsAnEditedCount) {
    auto values = std::make_shared<Values>(Values{{"RECENTS", count(25)},
                                                  {"SRC0", text("newest")},
                                                  {"DST1", text("older")},
                                                  {"PATH", text("/tables")},
                                                  {"SRC24", text("beyond")}});
    ProgramSession run(values);
    loadRemembered(run.app);
    EXPECT_EQ(run.app.history.size(), 20u);
    EXPECT_EQ(run.app.history.source(0), "newest");
    EXPECT_EQ(run.app.history.output(1), "older");
    EXPECT_EQ(run.app.history.source(1), "") << "a missing value leaves the entry empty";
    EXPECT_EQ(run.app.lastFolder, "/tables");
    EXPECT_FALSE(run.app.history.loading());
}

TEST(RememberedHistory, CommandLineRunsLeaveFolderAndHistoryAlone) {
    auto values = std::make_shared<Values>();
    ProgramSession run(values);
    runProgram(run.app, readArguments({"/historyto:/nonexistent/folder/h.txt"}));
    EXPECT_EQ(values->count("RECENTS"), 0u);
    EXPECT_EQ(values->count("PATH"), 0u);
    EXPECT_EQ(values->at("LANG"), number(-1)) << "only the missing language is written at once";
}

TEST(RememberedHistory, WindowModeExitCodeIsTheLastWriteStatus) {
    auto values = std::make_shared<Values>();
    ProgramSession run(values);
    auto backend = std::make_unique<MemorySettings>();
    backend->writeStatus = 5;
    run.app.settings = std::make_unique<SettingsStore>(std::move(backend), settingsCreatedNew);
    EXPECT_EQ(run.windowRecovery("a", "b"), 5);
}

TEST(RememberedHistory, CheckOnlyAndTheReportFileOutliveTheWindow) {
    auto values = std::make_shared<Values>();
    ProgramSession first(values);
    first.app.mainWindow = [](AppContext &context) {
        EXPECT_FALSE(context.windowCheckOnly);
        EXPECT_EQ(context.windowReport, "");
        context.windowCheckOnly = true;
        context.windowReport = "/tables/why.csv";
        return 0;
    };
    runProgram(first.app, readArguments({}));
    EXPECT_EQ(values->at("CHECKONLY"), number(1));
    EXPECT_EQ(values->at("REPORT"), text("/tables/why.csv"));

    ProgramSession second(values);
    second.app.mainWindow = [](AppContext &context) {
        EXPECT_TRUE(context.windowCheckOnly);
        EXPECT_EQ(context.windowReport, "/tables/why.csv");
        context.windowCheckOnly = false;
        context.windowReport.clear();
        return 0;
    };
    runProgram(second.app, readArguments({}));
    EXPECT_EQ(values->at("CHECKONLY"), number(0));
    EXPECT_EQ(values->at("REPORT"), text(""));
}

TEST(LanguageChoice, FirstRunDerivesTheLanguageAndWritesItAtTheEnd) {
    auto values = std::make_shared<Values>();
    ProgramSession run(values);
    run.system.languageId = 0x0C07; // German, Austria
    run.system.libraries = {"de.dll"};
    run.app.mainWindow = [&](AppContext &context) {
        EXPECT_EQ(values->at("LANG"), number(-1));
        EXPECT_EQ(context.language, 1);
        EXPECT_EQ(context.resourceModule, context.system.loadLibrary("de.dll"));
        return 0;
    };
    runProgram(run.app, readArguments({}));
    EXPECT_EQ(values->at("LANG"), number(1));
}

TEST(LanguageChoice, OnlyTheListedIdsCount) {
    for (std::uint16_t id : {0x0407, 0x0807, 0x0C07, 0x1007, 0x1407})
        EXPECT_EQ(languageOfLanguageId(id), 1) << id;
    EXPECT_EQ(languageOfLanguageId(0x0410), 2);
    EXPECT_EQ(languageOfLanguageId(0x0810), 2);
    for (std::uint16_t id = 0x040A; id <= 0x500A; id += 0x400)
        EXPECT_EQ(languageOfLanguageId(id), 3) << id;
    EXPECT_EQ(languageOfLanguageId(0x540A), 0);
    EXPECT_EQ(languageOfLanguageId(0x040C), 4);
    EXPECT_EQ(languageOfLanguageId(0x080C), 0) << "French outside France gets English";
    EXPECT_EQ(languageOfLanguageId(0x1807), 0);
    EXPECT_EQ(languageOfLanguageId(0x0409), 0);
}

TEST(LanguageChoice, AMissingLibraryKeepsTheLanguageButEnglishStrings) {
    auto values = std::make_shared<Values>(Values{{"LANG", number(2)}});
    ProgramSession run(values);
    chooseLanguage(run.app);
    EXPECT_EQ(run.app.language, 2);
    EXPECT_EQ(run.app.resourceModule, 0u);
    EXPECT_EQ(loadString(run.app, 230), "Select corrupted DBF file");
}

TEST(LanguageChoice, ValuesOutsideTheTableCountAsEnglish) {
    for (int stored : {5, -2, 1000}) {
        auto values = std::make_shared<Values>(Values{{"LANG", number(stored)}});
        ProgramSession run(values);
        run.system.languageId = 0x0407;
        chooseLanguage(run.app);
        EXPECT_EQ(run.app.language, 0) << stored;
        EXPECT_EQ(run.app.resourceModule, run.system.ownModule());
    }
}

TEST(LanguageChoice, StringsComeFromTheLibraryThenTheProgramThenTheBuiltInTable) {
    auto values = std::make_shared<Values>(Values{{"LANG", number(4)}});
    ProgramSession run(values);
    run.system.libraries = {"fr.dll"};
    platform::ModuleHandle french = run.system.loadLibrary("fr.dll");
    run.system.strings[{french, 170}] = "Lancer la récupération";
    run.system.strings[{run.system.ownModule(), 220}] = "Quit (own)";
    chooseLanguage(run.app);
    EXPECT_EQ(loadString(run.app, 170), "Lancer la récupération");
    EXPECT_EQ(loadString(run.app, 220), "Quit (own)");
    EXPECT_EQ(loadString(run.app, IDS_LANGUAGE_NAMES + 3), "Spanish");
    EXPECT_EQ(RunTexts().recoverableRecords, builtInString(IDS_RECOVERABLE_RECORDS))
        << "not hooked before start-up";
}

TEST(LanguageSwitch, ChangesOnlyWhenTheLibraryLoads) {
    auto values = std::make_shared<Values>(Values{{"LANG", number(0)}});
    ProgramSession run(values);
    run.system.libraries = {"de.dll"};
    chooseLanguage(run.app);

    EXPECT_FALSE(switchLanguage(run.app, 1300)) << "it.dll is missing";
    EXPECT_EQ(run.app.language, 0);
    EXPECT_FALSE(run.app.restartMainWindow);

    EXPECT_TRUE(switchLanguage(run.app, 1200));
    EXPECT_EQ(run.app.language, 1);
    EXPECT_EQ(run.app.resourceModule, run.system.loadLibrary("de.dll"));
    EXPECT_TRUE(run.app.restartMainWindow);

    run.app.restartMainWindow = false;
    EXPECT_TRUE(switchLanguage(run.app, IDM_ENGLISH));
    EXPECT_EQ(run.app.language, 0);
    EXPECT_EQ(run.app.resourceModule, run.system.ownModule());
    EXPECT_FALSE(switchLanguage(run.app, IDM_ENGLISH));
}

// "Keep the original" is on in the window until the user turns it off, and stays as left.
TEST(RememberedOptions, KeepTheOriginalIsOnByDefaultAndRemembered) {
    auto values = std::make_shared<Values>();
    std::vector<std::uint32_t> seen;
    auto session = [&](bool toggle) {
        ProgramSession program(values);
        program.app.mainWindow = [&](AppContext &context) {
            seen.push_back(context.options.keepOriginal);
            if (toggle)
                context.options.keepOriginal ^= 1;
            return 0;
        };
        runProgram(program.app, readArguments({}));
    };
    session(true);
    EXPECT_EQ(values->at("KEEPORIGINAL"), number(0));
    session(false);
    session(true);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 0, 0}));
    EXPECT_EQ(values->at("KEEPORIGINAL"), number(1));
}

} // namespace
} // namespace salvora::testing
