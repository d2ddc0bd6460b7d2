#include "app/commandlinetext.h"

#include "app/windowtask.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

std::string quotedIfBlank(std::string_view name) {
    if (name.find(' ') == std::string_view::npos)
        return std::string(name);
    return '"' + std::string(name) + '"';
}

bool endsWithSeparator(std::string_view name) {
    return !name.empty() && (name.back() == '\\' || name.back() == '/');
}

std::string batchPattern(std::string_view source) {
    std::string pattern(source);
    if (findNoCase(pattern, ".dbf") == std::string::npos) {
        if (!endsWithSeparator(pattern))
            pattern += '\\';
        pattern += "*.dbf";
    }
    return pattern;
}

} // namespace

std::optional<std::string> buildCommandLineText(std::string_view programFolder,
                                                std::string_view source, std::string_view output,
                                                const RecoveryOptions &options,
                                                const CommandLineRun &run) {
    std::string text = '"' + std::string(programFolder) + "salvora.exe\"";
    bool folder = isFolderSource(source);
    if (folder) {
        text += ' ' + quotedIfBlank(batchPattern(source));
    } else {
        text += ' ' + quotedIfBlank(source);
        if (!run.checkOnly)
            text += " /output:" + quotedIfBlank(output);
    }
    if (run.checkOnly)
        text += " /check";
    if (!folder && !run.report.empty())
        text += " /report:" + quotedIfBlank(run.report);
    if (options.deleteEmpty != 0)
        text += " /delempty";
    if (options.deleteDuplicates != 0)
        text += " /deldups";
    if (options.pack != 0)
        text += " /pack";
    if (options.recoverDeleted != 0)
        text += " /recoverydeleted";
    if (options.keepOriginal != 0)
        text += " /backup";
    if (text.size() >= commandLineCapacity)
        return std::nullopt;
    return text;
}

std::string batchFileName(std::string_view chosen) {
    constexpr std::string_view extension = ".bat";
    std::string name(chosen);
    bool hasExtension =
        name.size() >= extension.size() &&
        findNoCase(name, extension, name.size() - extension.size()) != std::string::npos;
    if (!hasExtension)
        name += extension;
    return name;
}

} // namespace salvora
