#include "app/commandline.h"

#include <algorithm>

#include "engine/textformat.h"

namespace salvora {

namespace {

constexpr std::size_t none = std::string_view::npos;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && findNoCase(a, b) == 0;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

const SwitchSpec &specOf(SwitchId id) {
    for (const auto &entry : switchTable())
        if (entry.id == id)
            return entry;
    return switchTable().front();
}

void setFlag(CommandLine &line, SwitchId id) {
    switch (id) {
    case SwitchId::ClearHistory:
        line.clearHistory = true;
        break;
    case SwitchId::Console:
        line.console = true;
        break;
    case SwitchId::DeleteEmpty:
        line.deleteEmpty = true;
        break;
    case SwitchId::DeleteDuplicates:
        line.deleteDuplicates = true;
        break;
    case SwitchId::LogAppend:
        // "/LOG" is a substring of it on a Windows command line; both readers agree on that.
        line.logAppend = true;
        line.detailedLog = true;
        break;
    case SwitchId::Log:
        line.detailedLog = true;
        break;
    case SwitchId::Pack:
        line.pack = true;
        break;
    case SwitchId::RecoverDeleted:
        line.recoverDeleted = true;
        break;
    case SwitchId::Backup:
        line.backup = true;
        break;
    case SwitchId::Gui:
        line.gui = true;
        break;
    case SwitchId::Recurse:
        line.recurse = true;
        break;
    case SwitchId::Check:
        line.check = true;
        break;
    case SwitchId::Uninstall:
    case SwitchId::Jobs:
    case SwitchId::HistoryTo:
    case SwitchId::Report:
    case SwitchId::Template:
    case SwitchId::Output:
        break;
    }
}

std::optional<std::string> &nameOf(CommandLine &line, SwitchId id) {
    switch (id) {
    case SwitchId::Output:
        return line.output;
    case SwitchId::Report:
        return line.report;
    case SwitchId::Jobs:
        return line.jobs;
    case SwitchId::Template:
        return line.tableTemplate;
    default:
        return line.historyTo;
    }
}

std::size_t findSwitch(std::string_view text, const SwitchSpec &entry, std::size_t from = 0) {
    if (entry.exactCase)
        return text.find(entry.text, from);
    return findNoCase(text, entry.text, from);
}

bool isHelp(std::string_view word) {
    return word == "/?" || word == "-h" || word == "--help";
}

// Where the first name-ending switch at or after `from` begins; the text's end when none.
std::size_t nextSwitchEnd(std::string_view text, std::size_t from) {
    std::size_t end = text.size();
    for (const auto &entry : switchTable())
        if (entry.endsNames)
            end = std::min(end, findSwitch(text, entry, from));
    return end;
}

std::string quoteIfBlank(const std::string &name) {
    return name.find(' ') == std::string::npos ? name : "\"" + name + "\"";
}

} // namespace

const std::vector<SwitchSpec> &switchTable() {
    static const std::vector<SwitchSpec> table = {
        {SwitchId::Uninstall, "/uninstall", true, false, false,
         "open the uninstall page (only as the whole command line)"},
        {SwitchId::HistoryTo, "/historyto:", false, false, true,
         "write the history of source and output names to FILE"},
        {SwitchId::ClearHistory, "/clearhistory", false, false, false, "empty the history"},
        {SwitchId::Console, "/console", false, true, false,
         "show the recovery's own messages on standard output"},
        {SwitchId::DeleteEmpty, "/delempty", false, true, false, "drop empty records"},
        {SwitchId::DeleteDuplicates, "/deldups", false, true, false, "drop duplicate records"},
        {SwitchId::LogAppend, "/logappend", false, true, false,
         "add to an existing batch log instead of replacing it"},
        {SwitchId::Log, "/LOG", false, true, false,
         "detailed recovery.log for each table of a /recurse batch"},
        {SwitchId::Pack, "/pack", false, true, false, "drop records marked as deleted"},
        {SwitchId::RecoverDeleted, "/recoverydeleted", false, true, false,
         "keep records marked as deleted, unmarked"},
        {SwitchId::Backup, "/backup", false, true, false,
         "keep the replaced table and memo as NAME.bak.dbf (then NAME.bak2.dbf, ...)"},
        {SwitchId::Gui, "/gui", true, true, false, "start the repair in the main window"},
        {SwitchId::Recurse, "/recurse", false, true, false,
         "apply the wildcard in the folder and all its subfolders"},
        {SwitchId::Check, "/check", false, true, false,
         "check one table without writing anything; exit 0 sound, 1 needs repair, 2 unreadable"},
        {SwitchId::Jobs, "/jobs:", false, true, true,
         "repair up to N tables of a batch at once (default: one per processor)", "N"},
        {SwitchId::Report, "/report:", false, true, true,
         "write every finding and a summary to FILE (CSV or JSON for .csv or .json)"},
        {SwitchId::Template, "/template:", false, true, true,
         "take header and field descriptors from FILE, a sound table of the same structure"},
        {SwitchId::Output, "/output:", false, false, true,
         "write the fixed table to FILE instead of repairing in place"},
    };
    return table;
}

std::string cleanName(std::string_view text) {
    text = trimBlanks(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = trimBlanks(text.substr(1, text.size() - 2));
    return std::string(text);
}

std::string cleanGuiText(std::string text) {
    while (!text.empty() && isBlank(text.back()))
        text.pop_back();
    std::size_t quote = text.find('"', 1);
    if (quote != std::string::npos)
        text.resize(quote);
    if (!text.empty() && text.front() == '"') {
        text.front() = ' ';
        text.erase(0, text.find_first_not_of(" \t") == std::string::npos
                          ? text.size()
                          : text.find_first_not_of(" \t"));
    }
    return text;
}

CommandLine readArgumentText(std::string_view text) {
    CommandLine line;
    line.empty = text.empty();
    line.wholeText = std::string(text);
    if (text == specOf(SwitchId::Uninstall).text) {
        line.uninstall = true;
        return line;
    }

    for (std::size_t at = 0; at < text.size();) {
        std::size_t start = text.find_first_not_of(" \t", at);
        if (start == none)
            break;
        std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
        std::string_view word = text.substr(start, end - start);
        line.help = line.help || isHelp(word);
        line.version = line.version || word == "--version";
        at = end;
    }

    if (findSwitch(text, specOf(SwitchId::HistoryTo)) != none)
        line.historyTo = cleanName(text.substr(text.find(':') + 1));

    std::size_t cut = text.size();
    for (const auto &entry : switchTable()) {
        if (entry.id == SwitchId::Uninstall)
            continue;
        std::size_t at = findSwitch(text, entry);
        if (at == none)
            continue;
        if (!entry.takesName)
            setFlag(line, entry.id);
        if (entry.endsNames)
            cut = std::min(cut, at);
    }
    // The report's and the template's names run to the next switch, "/output:" included.
    for (SwitchId id : {SwitchId::Report, SwitchId::Template}) {
        std::size_t at = findSwitch(text, specOf(id));
        if (at == none)
            continue;
        std::size_t start = at + std::string_view(specOf(id).text).size();
        std::size_t end =
            std::min(nextSwitchEnd(text, start), findSwitch(text, specOf(SwitchId::Output), start));
        nameOf(line, id) = cleanName(text.substr(start, end - start));
    }

    if (std::size_t at = findSwitch(text, specOf(SwitchId::Jobs)); at != none) {
        std::size_t start = at + std::string_view(specOf(SwitchId::Jobs).text).size();
        line.jobs = std::string(text.substr(start, text.find_first_of(" \t", start) - start));
    }

    std::string windowText(text.substr(0, cut));
    std::size_t outputAt = findSwitch(text, specOf(SwitchId::Output));
    std::size_t sourceEnd = cut;
    if (outputAt != none) {
        // The name runs to the next switch, so "/output:" counts wherever it stands.
        std::size_t start = outputAt + std::string_view(specOf(SwitchId::Output).text).size();
        std::string_view name = text.substr(start, nextSwitchEnd(text, start) - start);
        line.output = cleanName(name);
        sourceEnd = std::min(cut, outputAt);
        if (outputAt > cut)
            windowText =
                std::string(trimBlanks(windowText)) + " /output:" + std::string(trimBlanks(name));
    }
    // The history switches lead to modes of their own; they are never part of a name either.
    for (SwitchId id : {SwitchId::HistoryTo, SwitchId::ClearHistory})
        sourceEnd = std::min(sourceEnd, findSwitch(text, specOf(id)));
    std::string source = cleanName(text.substr(0, sourceEnd));
    if (!source.empty())
        line.names.push_back(source);
    line.windowArguments = line.gui ? cleanGuiText(windowText) : windowText;
    return line;
}

CommandLine readArguments(const std::vector<std::string> &arguments) {
    CommandLine line;
    line.empty = arguments.empty();
    for (const auto &argument : arguments)
        line.wholeText += (line.wholeText.empty() ? "" : " ") + argument;
    if (arguments.size() == 1 && (arguments[0] == "/uninstall" || arguments[0] == "--uninstall")) {
        line.uninstall = true;
        return line;
    }

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (isHelp(argument)) {
            line.help = true;
            continue;
        }
        if (argument == "--version") {
            line.version = true;
            continue;
        }

        bool matched = false;
        for (const auto &entry : switchTable()) {
            std::string_view slashForm = entry.text;
            std::string longForm = "--" + std::string(slashForm.substr(1));
            if (entry.takesName) {
                longForm.pop_back(); // "--output", without the colon
                std::optional<std::string> value;
                bool wantsNext = false;
                if (startsWithNoCase(argument, slashForm)) {
                    value = std::string(argument.substr(slashForm.size()));
                    wantsNext = value->empty();
                } else if (startsWithNoCase(argument, longForm + "=")) {
                    value = std::string(argument.substr(longForm.size() + 1));
                } else if (equalNoCase(argument, longForm)) {
                    value = std::string();
                    wantsNext = true;
                }
                if (!value)
                    continue;
                if (wantsNext && i + 1 < arguments.size())
                    value = arguments[++i];
                // The shell has already taken the user's quotes: a name stays as given.
                nameOf(line, entry.id) = *value;
                matched = true;
                break;
            }
            if (entry.id == SwitchId::Uninstall)
                continue;
            bool same = entry.exactCase
                            ? (argument == slashForm || argument == longForm)
                            : (equalNoCase(argument, slashForm) || equalNoCase(argument, longForm));
            if (same) {
                setFlag(line, entry.id);
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        std::string name(argument);
        if (!name.empty())
            line.names.push_back(name);
    }

    for (const auto &name : line.names)
        line.windowArguments += (line.windowArguments.empty() ? "" : " ") + quoteIfBlank(name);
    if (line.output)
        line.windowArguments += " /output:" + quoteIfBlank(*line.output);
    return line;
}

} // namespace salvora
