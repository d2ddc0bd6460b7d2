#include "app/batch.h"

#include <vector>

#include "app/batchfilelist.h"
#include "app/batchlog.h"
#include "app/driver.h"
#include "app/folderwalk.h"
#include "engine/pathpattern.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

int nothingToDo(AppContext &app, const std::string &pattern, const char *why) {
    app.standardError.write(formatText("%s: %s\r\n", pattern, why));
    return exitNothingToDo;
}

} // namespace

int runWildcardBatch(AppContext &app, const std::string &pattern, bool append) {
    EngineContext &engine = app.engine;
    PathPattern split = splitPattern(pattern);
    std::vector<platform::DirectoryEntry> entries;
    engine.os.listDirectory(listingFolder(split.folderPart), split.mask, entries);
    if (entries.empty())
        return nothingToDo(app, pattern, "no matching file");

    app.options.detailedLog = 0;
    BatchLog log(app, split.folderPart, append);
    // Folders that match are passed on like files; the run calls them unrecoverable.
    BatchFileList files;
    for (const platform::DirectoryEntry &entry : entries)
        files.append(split.folderPart + entry.name, !entry.isSymlink && !entry.isDirectory);
    recoverItems(app, log, files);
    return log.exitCode();
}

int runRecursiveBatch(AppContext &app, const std::string &argumentText) {
    // '?' makes a mask as well as '*' does.
    std::size_t wildcard = argumentText.find_first_of("*?");
    if (wildcard == std::string::npos)
        return nothingToDo(app, argumentText, "no wildcard to look for in the folder tree");
    std::string folderPart =
        argumentText.substr(0, platform::fileNameStart(argumentText.substr(0, wildcard)));
    std::string mask = argumentText.substr(folderPart.size());

    // `detailedLog` stays as the switches set it: with "/LOG" every run writes its own log
    // in the working folder. Where that is the batch folder, the batch log held here keeps
    // the run from opening it, so neither log clobbers the other.
    BatchLog log(app, folderPart, false);
    BatchFileList files;
    collectFiles(app.engine.os, folderPart, mask, files);
    recoverItems(app, log, files);
    return log.exitCode();
}

} // namespace salvora
