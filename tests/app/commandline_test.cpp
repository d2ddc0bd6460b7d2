// Both command-line readers against one table of cases, then the cases where they part ways
// on purpose: the raw text's substring search, and the POSIX reader's whole-argument switches.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/commandline.h"

namespace salvora {
namespace {

struct Expected {
    std::vector<std::string> names;
    std::optional<std::string> output;
    std::string flags; // letters: c console, e delempty, d deldups, a logappend, l LOG, p pack,
                       // r recoverydeleted, g gui, R recurse, C clearhistory, h help, v version,
                       // K check, b backup
    std::optional<std::string> historyTo = std::nullopt;
    std::optional<std::string> report = std::nullopt;
    std::optional<std::string> jobs = std::nullopt;
    std::optional<std::string> tableTemplate = std::nullopt;
};

struct SharedCase {
    std::string raw;
    std::vector<std::string> arguments;
    Expected expected;
};

std::string flagsOf(const CommandLine &line) {
    std::string flags;
    auto add = [&](bool on, char letter) {
        if (on)
            flags += letter;
    };
    add(line.console, 'c');
    add(line.deleteEmpty, 'e');
    add(line.deleteDuplicates, 'd');
    add(line.logAppend, 'a');
    add(line.detailedLog, 'l');
    add(line.pack, 'p');
    add(line.recoverDeleted, 'r');
    add(line.gui, 'g');
    add(line.recurse, 'R');
    add(line.clearHistory, 'C');
    add(line.help, 'h');
    add(line.version, 'v');
    add(line.check, 'K');
    add(line.backup, 'b');
    return flags;
}

void expectParsed(const CommandLine &line, const Expected &expected, const std::string &what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(line.names, expected.names);
    EXPECT_EQ(line.output, expected.output);
    EXPECT_EQ(flagsOf(line), expected.flags);
    EXPECT_EQ(line.historyTo, expected.historyTo);
    EXPECT_EQ(line.report, expected.report);
    EXPECT_EQ(line.jobs, expected.jobs);
    EXPECT_EQ(line.tableTemplate, expected.tableTemplate);
    EXPECT_FALSE(line.uninstall);
}

const std::vector<SharedCase> sharedCases = {
    {"x.dbf", {"x.dbf"}, {{"x.dbf"}, std::nullopt, ""}},
    {"x.dbf /pack /delempty", {"x.dbf", "/pack", "/delempty"}, {{"x.dbf"}, std::nullopt, "ep"}},
    {"x.dbf /delempty /pack", {"x.dbf", "/delempty", "/pack"}, {{"x.dbf"}, std::nullopt, "ep"}},
    {"x.dbf /deldups", {"x.dbf", "/deldups"}, {{"x.dbf"}, std::nullopt, "d"}},
    {"x.dbf /delempty", {"x.dbf", "/delempty"}, {{"x.dbf"}, std::nullopt, "e"}},
    // "/LOG" is also found in "/logappend".
    {"x.dbf /LOGAPPEND", {"x.dbf", "/LOGAPPEND"}, {{"x.dbf"}, std::nullopt, "al"}},
    {"x.dbf /log", {"x.dbf", "/log"}, {{"x.dbf"}, std::nullopt, "l"}},
    {"X.DBF /PACK /RecoveryDeleted /CONSOLE /DelDups",
     {"X.DBF", "/PACK", "/RecoveryDeleted", "/CONSOLE", "/DelDups"},
     {{"X.DBF"}, std::nullopt, "cdpr"}},
    {"x.dbf /output:y.dbf", {"x.dbf", "/output:y.dbf"}, {{"x.dbf"}, "y.dbf", ""}},
    {"d/*.dbf /jobs:4 /recurse",
     {"d/*.dbf", "/jobs:4", "/recurse"},
     {{"d/*.dbf"}, std::nullopt, "R", std::nullopt, std::nullopt, "4"}},
    // The output's name ends where "/jobs:" begins.
    {"x.dbf /output:y.dbf /JOBS:2",
     {"x.dbf", "/output:y.dbf", "/JOBS:2"},
     {{"x.dbf"}, "y.dbf", "", std::nullopt, std::nullopt, "2"}},
    {"x.dbf /OUTPUT:y.dbf /pack", {"x.dbf", "/OUTPUT:y.dbf", "/pack"}, {{"x.dbf"}, "y.dbf", "p"}},
    // After a switch "/output:" still counts: the user asked to keep the source.
    {"x.dbf /pack /output:y.dbf", {"x.dbf", "/pack", "/output:y.dbf"}, {{"x.dbf"}, "y.dbf", "p"}},
    {"x.dbf /pack /output:y.dbf /deldups",
     {"x.dbf", "/pack", "/output:y.dbf", "/deldups"},
     {{"x.dbf"}, "y.dbf", "dp"}},
    {"/output:y.dbf", {"/output:y.dbf"}, {{}, "y.dbf", ""}},
    {"x.dbf /output:out_[date].dbf",
     {"x.dbf", "/output:out_[date].dbf"},
     {{"x.dbf"}, "out_[date].dbf", ""}},
    // Quotes around names and trailing blanks are not part of them.
    {"\"my data.dbf\" /output:\"fixed data.dbf\" /pack",
     {"\"my data.dbf\"", "/output:\"fixed data.dbf\"", "/pack"},
     {{"my data.dbf"}, "fixed data.dbf", "p"}},
    {"x.dbf   /pack", {"x.dbf  ", "/pack"}, {{"x.dbf"}, std::nullopt, "p"}},
    {"x.dbf /gui", {"x.dbf", "/gui"}, {{"x.dbf"}, std::nullopt, "g"}},
    // "/gui" matches in its own case only.
    {"x.dbf /GUI", {"x.dbf", "/GUI"}, {{"x.dbf /GUI"}, std::nullopt, ""}},
    {"data\\*.dbf /recurse /LOG",
     {"data\\*.dbf", "/recurse", "/LOG"},
     {{"data\\*.dbf"}, std::nullopt, "lR"}},
    {"data\\*.dbf /logappend",
     {"data\\*.dbf", "/logappend"},
     {{"data\\*.dbf"}, std::nullopt, "al"}},
    {"/historyto:h.txt", {"/historyto:h.txt"}, {{}, std::nullopt, "", "h.txt"}},
    {"/HISTORYTO:h.txt", {"/HISTORYTO:h.txt"}, {{}, std::nullopt, "", "h.txt"}},
    {"/clearhistory", {"/clearhistory"}, {{}, std::nullopt, "C"}},
    {"/ClearHistory x.dbf", {"/ClearHistory", "x.dbf"}, {{}, std::nullopt, "C"}},
    {"--help", {"--help"}, {{"--help"}, std::nullopt, "h"}},
    {"/?", {"/?"}, {{"/?"}, std::nullopt, "h"}},
    {"--version", {"--version"}, {{"--version"}, std::nullopt, "v"}},
    {"/UNINSTALL", {"/UNINSTALL"}, {{"/UNINSTALL"}, std::nullopt, ""}},
    {"folder", {"folder"}, {{"folder"}, std::nullopt, ""}},
    {"", {}, {{}, std::nullopt, ""}},
    {"x.dbf /check", {"x.dbf", "/check"}, {{"x.dbf"}, std::nullopt, "K"}},
    {"x.dbf /BACKUP /pack", {"x.dbf", "/BACKUP", "/pack"}, {{"x.dbf"}, std::nullopt, "pb"}},
    {"X.DBF /CHECK /pack", {"X.DBF", "/CHECK", "/pack"}, {{"X.DBF"}, std::nullopt, "pK"}},
    {"x.dbf /report:r.csv",
     {"x.dbf", "/report:r.csv"},
     {{"x.dbf"}, std::nullopt, "", std::nullopt, "r.csv"}},
    // The report's name ends at the next switch, "/output:" included, and ends the source.
    {"x.dbf /check /report:r.txt /pack",
     {"x.dbf", "/check", "/report:r.txt", "/pack"},
     {{"x.dbf"}, std::nullopt, "pK", std::nullopt, "r.txt"}},
    {"x.dbf /report:r.txt /output:y.dbf",
     {"x.dbf", "/report:r.txt", "/output:y.dbf"},
     {{"x.dbf"}, "y.dbf", "", std::nullopt, "r.txt"}},
    {"x.dbf /output:y.dbf /REPORT:\"my report.txt\"",
     {"x.dbf", "/output:y.dbf", "/REPORT:\"my report.txt\""},
     {{"x.dbf"}, "y.dbf", "", std::nullopt, "my report.txt"}},
    // The template's name ends at the next switch as the report's does.
    {"x.dbf /template:g.dbf /output:y.dbf /pack",
     {"x.dbf", "/template:g.dbf", "/output:y.dbf", "/pack"},
     {{"x.dbf"}, "y.dbf", "p", std::nullopt, std::nullopt, std::nullopt, "g.dbf"}},
};

TEST(CommandLineReaders, AgreeOnTheSharedCases) {
    for (const auto &c : sharedCases) {
        Expected raw = c.expected;
        Expected posix = c.expected;
        // Where the one text keeps words together, the argument vector has them apart.
        if (c.raw == "x.dbf /GUI")
            posix.names = {"x.dbf", "/GUI"};
        if (c.raw == "/ClearHistory x.dbf")
            posix.names = {"x.dbf"};
        if (c.raw == "--help" || c.raw == "/?" || c.raw == "--version") {
            raw.names = {c.raw};
            posix.names = {};
        }
        if (c.raw == "/UNINSTALL")
            posix.names = {"/UNINSTALL"};
        // The shell took the user's quotes already: what reaches the program is the name.
        if (!c.arguments.empty() && c.arguments.front() == "\"my data.dbf\"") {
            posix.names = {"\"my data.dbf\""};
            posix.output = "\"fixed data.dbf\"";
        }
        if (!c.arguments.empty() && c.arguments.front() == "x.dbf  ")
            posix.names = {"x.dbf  "};
        if (!c.arguments.empty() && c.arguments.back() == "/REPORT:\"my report.txt\"")
            posix.report = "\"my report.txt\"";
        expectParsed(readArgumentText(c.raw), raw, "raw: " + c.raw);
        expectParsed(readArguments(c.arguments), posix, "arguments: " + c.raw);
        EXPECT_EQ(readArgumentText(c.raw).empty, c.raw.empty());
        EXPECT_EQ(readArguments(c.arguments).empty, c.arguments.empty());
    }
}

TEST(CommandLineReaders, UninstallOnlyAsTheWholeTextInExactCase) {
    EXPECT_TRUE(readArgumentText("/uninstall").uninstall);
    EXPECT_TRUE(readArguments({"/uninstall"}).uninstall);
    EXPECT_TRUE(readArguments({"--uninstall"}).uninstall);
    for (const char *text : {"/UNINSTALL", "/uninstall x", " /uninstall", "/uninstall "})
        EXPECT_FALSE(readArgumentText(text).uninstall) << text;
    EXPECT_FALSE(readArguments({"/uninstall", "x"}).uninstall);
    EXPECT_FALSE(readArguments({"/Uninstall"}).uninstall);
}

TEST(RawTextReader, SwitchesAreSubstringsAndTheirTailIsNeverAName) {
    // Glued to the name, and a second name after the first switch is dropped.
    CommandLine glued = readArgumentText("x.dbf/pack");
    EXPECT_EQ(glued.names, std::vector<std::string>{"x.dbf"});
    EXPECT_TRUE(glued.pack);
    CommandLine tail = readArgumentText("x.dbf /pack y.dbf");
    EXPECT_EQ(tail.names, std::vector<std::string>{"x.dbf"});
    // A blank inside the one text belongs to the name.
    EXPECT_EQ(readArgumentText("C:\\my tables\\x.dbf").names,
              std::vector<std::string>{"C:\\my tables\\x.dbf"});
    // "/output:" glued to the source: no character of the source is lost.
    CommandLine output = readArgumentText("x.dbf/output:y.dbf");
    EXPECT_EQ(output.names, std::vector<std::string>{"x.dbf"});
    EXPECT_EQ(output.output, "y.dbf");
}

TEST(RawTextReader, HistoryFileIsTheTextAfterTheFirstColon) {
    EXPECT_EQ(readArgumentText("/historyto:C:\\h.txt").historyTo, "C:\\h.txt");
    EXPECT_EQ(readArgumentText("/historyto:\"C:\\my h.txt\" ").historyTo, "C:\\my h.txt");
}

TEST(RawTextReader, WindowArgumentsAreTheCutTextAndGuiCleansThem) {
    EXPECT_EQ(readArgumentText("folder /pack").windowArguments, "folder ");
    EXPECT_EQ(readArgumentText("/clearhistory x.dbf").wholeText, "/clearhistory x.dbf");
    EXPECT_EQ(readArgumentText("\"C:\\a b.dbf\" tail /gui").windowArguments, "C:\\a b.dbf");
    EXPECT_EQ(readArgumentText("x.dbf /output:y.dbf /gui").windowArguments, "x.dbf /output:y.dbf");
    // An output behind a switch is handed on too.
    EXPECT_EQ(readArgumentText("x.dbf /gui /output:y.dbf").windowArguments, "x.dbf /output:y.dbf");
}

TEST(RawTextReader, GuiCleaning) {
    EXPECT_EQ(cleanGuiText("x.dbf   "), "x.dbf");
    EXPECT_EQ(cleanGuiText("\"C:\\a b.dbf\" /output:y.dbf"), "C:\\a b.dbf");
    EXPECT_EQ(cleanGuiText("\"  x.dbf"), "x.dbf");
    EXPECT_EQ(cleanGuiText("x\"y"), "x");
    EXPECT_EQ(cleanGuiText(""), "");
}

TEST(ArgumentReader, SwitchLettersInsidePathsStayNames) {
    CommandLine line = readArguments({"/home/me/package/x.dbf", "/var/log/y.dbf",
                                      "/srv/console/gui/recurse.dbf", "/output:/tmp/pack/z.dbf"});
    EXPECT_EQ(line.names, (std::vector<std::string>{"/home/me/package/x.dbf", "/var/log/y.dbf",
                                                    "/srv/console/gui/recurse.dbf"}));
    EXPECT_EQ(line.output, "/tmp/pack/z.dbf");
    EXPECT_EQ(flagsOf(line), "");
}

TEST(ArgumentReader, LongFormsAndNamesInTheNextArgument) {
    CommandLine line = readArguments({"--pack", "x.dbf", "--output=y.dbf", "--LOG", "--deldups"});
    EXPECT_EQ(line.names, std::vector<std::string>{"x.dbf"});
    EXPECT_EQ(line.output, "y.dbf");
    EXPECT_EQ(flagsOf(line), "dlp");
    EXPECT_EQ(readArguments({"x.dbf", "--output", "y.dbf"}).output, "y.dbf");
    EXPECT_EQ(readArguments({"x.dbf", "/output:", "y.dbf"}).output, "y.dbf");
    EXPECT_EQ(readArguments({"--historyto", "h.txt"}).historyTo, "h.txt");
    EXPECT_EQ(readArguments({"--historyto=h.txt"}).historyTo, "h.txt");
    EXPECT_EQ(readArguments({"x.dbf", "--report=r.csv"}).report, "r.csv");
    EXPECT_EQ(readArguments({"x.dbf", "--report", "r.csv"}).report, "r.csv");
    EXPECT_EQ(readArguments({"x.dbf", "--template=g.dbf"}).tableTemplate, "g.dbf");
    EXPECT_TRUE(readArguments({"x.dbf", "--check"}).check);
    EXPECT_EQ(readArguments({"x.dbf", "--check"}).names, std::vector<std::string>{"x.dbf"});
    EXPECT_FALSE(readArguments({"x.dbf", "--GUI"}).gui);
    EXPECT_TRUE(readArguments({"x.dbf", "--gui"}).gui);
}

TEST(ArgumentReader, EveryNameIsKept) {
    CommandLine line = readArguments({"a.dbf", "/pack", "b.dbf", "c.DBF"});
    EXPECT_EQ(line.names, (std::vector<std::string>{"a.dbf", "b.dbf", "c.DBF"}));
    EXPECT_EQ(readArguments({"a b.dbf", "/output:c d.dbf"}).windowArguments,
              "\"a b.dbf\" /output:\"c d.dbf\"");
}

} // namespace
} // namespace salvora
