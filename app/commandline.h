// The command line, read either from the raw argument text a windowed Windows program gets or
// from the argument vector of a POSIX program. Both readers fill the same record; everything
// after reading (dispatch, modes, runs, logs) works on that record alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace salvora {

enum class SwitchId {
    Uninstall,
    HistoryTo,
    ClearHistory,
    Console,
    DeleteEmpty,
    DeleteDuplicates,
    LogAppend,
    Log,
    Pack,
    RecoverDeleted,
    Backup,
    Gui,
    Recurse,
    Check,
    Jobs,
    Report,
    Template,
    Output,
};

struct SwitchSpec {
    SwitchId id;
    const char *text;           // as typed on a Windows command line
    bool exactCase;             // otherwise ASCII letters match in any case
    bool endsNames;             // the raw text is cut where the leftmost of these begins
    bool takesName;             // followed by a file name
    const char *usage;          // one line for the help text
    const char *value = "FILE"; // what a switch that takes a value is followed by
};

// Every switch, in the order the usage text lists them.
const std::vector<SwitchSpec> &switchTable();

struct CommandLine {
    bool empty = true; // no argument at all
    bool uninstall = false;
    bool help = false;
    bool version = false;
    std::optional<std::string> historyTo;
    bool clearHistory = false;

    bool console = false;
    bool deleteEmpty = false;
    bool deleteDuplicates = false;
    bool logAppend = false;
    bool detailedLog = false;
    bool pack = false;
    bool recoverDeleted = false;
    // Keep the replaced table and memo under backup names.
    bool backup = false;
    bool gui = false;
    bool recurse = false;
    // Analyse and check only; nothing is written.
    bool check = false;

    std::optional<std::string> output;
    std::optional<std::string> report;
    // The text after "/jobs:", read as a number by the batches.
    std::optional<std::string> jobs;
    // A sound table of the same structure whose header and descriptors the repair takes.
    std::optional<std::string> tableTemplate;
    // Tables or wildcard patterns to work on; the raw text yields at most one.
    std::vector<std::string> names;
    // What the main window receives when the dispatch ends in window mode.
    std::string windowArguments;
    // The same for "/clearhistory", which hands on the whole text.
    std::string wholeText;

    bool operator==(const CommandLine &) const = default;
};

// The Windows reader: every switch is a substring search in the one text.
CommandLine readArgumentText(std::string_view text);

// The POSIX reader: an argument is a switch only when it is one as a whole (or in its
// "--name" form), so that switch letters inside paths such as "/var/log/x.dbf" stay names.
CommandLine readArguments(const std::vector<std::string> &arguments);

// Blanks around a name and one pair of surrounding double quotes are not part of it.
std::string cleanName(std::string_view text);

// The "/gui" cleaning of the raw text: a quoted first name loses its quotes and whatever
// followed its closing quote.
std::string cleanGuiText(std::string text);

} // namespace salvora
