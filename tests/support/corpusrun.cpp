#include "tests/support/corpusrun.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "engine/analysis.h"
#include "engine/memotransfer.h"
#include "engine/recordchecks.h"
#include "engine/recovery.h"

namespace salvora::testing {

namespace {

std::optional<Bytes> readIfExists(const std::string &path) {
    if (!fileExists(path))
        return std::nullopt;
    return readFile(path);
}

std::vector<std::string> folderNames(const std::string &folder) {
    std::vector<std::string> names;
    for (auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

CorpusOutcome repair(const CorpusCase &c, platform::Platform &os, const std::string &folder,
                     const std::string &source, const std::string &output,
                     const std::string &memoExtension) {
    WorkingFolder cwd(folder);
    EngineContext context(os);
    std::string sourcePath = folder + "/" + source;
    std::string outputPath = folder + "/" + output;
    RecoveryRequest request;
    request.source = sourcePath;
    request.output = outputPath;
    request.options = c.options;
    request.keepDeleted = !c.dropDeleted;
    RunObserver quiet;
    RecoveryOutcome run = runRecovery(context, request, quiet);
    CorpusOutcome outcome;
    outcome.result = run.result;
    outcome.message = run.message;
    outcome.table = readIfExists(outputPath);
    std::string base = output.substr(0, output.rfind('.'));
    if (!memoExtension.empty())
        outcome.memo = readIfExists(folder + "/" + base + "." + memoExtension);
    outcome.source = readFile(sourcePath);
    std::string sourceBase = source.substr(0, source.rfind('.'));
    if (!memoExtension.empty())
        outcome.sourceMemo = readIfExists(folder + "/" + sourceBase + "." + memoExtension);
    outcome.names = folderNames(folder);
    return outcome;
}

struct Analysed {
    RecoveryJob job;
    AnalysisResult analysis;
    Bytes file;
};

bool analyse(platform::Platform &os, const std::string &table, Analysed &out) {
    EngineContext context(os);
    out.job.sourcePath = table;
    out.job.memoName = table;
    out.analysis = analyseStructure(context, out.job);
    if (!out.analysis.opened || out.analysis.abort)
        return false;
    const TableHeader &h = out.job.header;
    if (tableHasMemo(h.type(), h.tableFlags()))
        out.job.sourceMemo = openMemo(os, table, h.type(), false, false,
                                      MemoTableInfo{h.type(), h.tableFlags(), table});
    out.file = readFile(table);
    return true;
}

// Record i of an analysed table, zero-filled past the end of the file as the run reads it.
Bytes recordAt(const Analysed &a, std::uint32_t i) {
    const TableHeader &h = a.job.header;
    std::uint64_t base =
        a.analysis.relocated ? a.job.dataStart : a.analysis.headerOffset + h.headerLength();
    std::uint64_t at = base + std::uint64_t{i} * h.recordLength();
    Bytes record(h.recordLength(), 0);
    for (std::size_t k = 0; k < record.size() && at + k < a.file.size(); ++k)
        record[k] = a.file[static_cast<std::size_t>(at + k)];
    return record;
}

std::uint32_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return static_cast<std::uint32_t>((a + b - 1) / b);
}

// Block numbers at which the memos of a memo file start, found by walking it from its first
// block: the block headers' lengths, or the terminators of text memos.
std::set<std::uint32_t> memoStarts(const Bytes &file, const MemoFile &memo, bool foxPro,
                                   bool dBase4, bool smt) {
    std::set<std::uint32_t> starts;
    const std::uint64_t size = file.size();
    const auto blockSize = static_cast<std::uint64_t>(memo.blockSize);
    std::uint32_t block = ceilDiv(512, blockSize);
    while (block * blockSize < size) {
        std::uint64_t at = block * blockSize;
        starts.insert(block);
        std::uint64_t span = 0;
        if (foxPro || dBase4) {
            if (at + 8 > size)
                break;
            const std::uint8_t *p = file.data() + at;
            span = foxPro ? readBe32(p + 4) + 8u : readLe32(p + 4);
        } else {
            std::uint8_t end = smt ? 0x00 : 0x1A;
            auto stop = std::find(file.begin() + static_cast<long>(at), file.end(), end);
            span = static_cast<std::uint64_t>(stop - file.begin()) - at + 1;
        }
        block += std::max<std::uint32_t>(1, ceilDiv(span, blockSize));
    }
    return starts;
}

} // namespace

CorpusOutcome runCorpusCase(const CorpusCase &c, platform::Platform &os,
                            const std::string &folder) {
    writeFile(folder + "/t.dbf", c.table);
    if (c.memo)
        writeFile(folder + "/" + c.memoName, *c.memo);
    return repair(c, os, folder, "t.dbf", c.inPlace ? "t.dbf" : "out.dbf", c.memoExtension);
}

CorpusOutcome repairAgain(const CorpusCase &c, platform::Platform &os, const std::string &folder,
                          const std::string &source, const std::string &output) {
    return repair(c, os, folder, source, output, c.memoExtension);
}

std::vector<std::string> expectedNames(const CorpusCase &c) {
    std::vector<std::string> names = {"t.dbf"};
    if (c.memo)
        names.push_back(c.memoName);
    if (!c.inPlace && c.expectedTable)
        names.push_back("out.dbf");
    if (!c.inPlace && c.expectedMemo)
        names.push_back("out." + c.memoExtension);
    if (c.inPlace && c.expectedMemo && !c.memo)
        names.push_back(c.memoName);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string firstDifference(const Bytes &actual, const Bytes &expected) {
    if (actual == expected)
        return "";
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    std::ostringstream text;
    text << "sizes " << actual.size() << " and " << expected.size() << ", first difference at "
         << at << ":";
    for (const Bytes *b : {&actual, &expected}) {
        text << (b == &actual ? "\n  actual  " : "\n  expected");
        for (std::size_t k = at; k < std::min(b->size(), at + 16); ++k) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", (*b)[k]);
            text << hex;
        }
    }
    return text.str();
}

std::string recordsFailingChecks(platform::Platform &os, const std::string &table) {
    Analysed a;
    if (!analyse(os, table, a))
        return "the output cannot be analysed";
    std::ostringstream failures;
    DuplicateTable duplicates;
    for (std::uint32_t i = 0; i < a.job.header.recordCount(); ++i) {
        Bytes record = recordAt(a, i);
        Bytes checked = record;
        RecordVerdict verdict = checkRecord(checked, i, RecoveryOptions{}, a.job, duplicates);
        if (verdict != RecordVerdict::Keep)
            failures << "record " << i << " is not kept\n";
        else if (checked != record)
            failures << "record " << i << " is changed: " << firstDifference(checked, record)
                     << "\n";
    }
    return failures.str();
}

std::string danglingMemoReferences(platform::Platform &os, const std::string &table) {
    Analysed a;
    if (!analyse(os, table, a))
        return "the output cannot be analysed";
    const TableHeader &h = a.job.header;
    if (!tableHasMemo(h.type(), h.tableFlags()))
        return "";
    std::set<std::uint32_t> starts;
    bool haveMemo = a.job.sourceMemo && a.job.sourceMemo->isOpen();
    // A level 7 memo file is copied as it was, damaged memos and all, so a walk from block to
    // block may stop early; there a reference only has to lead to a sound block.
    bool copied = h.type() == 0x8C;
    if (haveMemo && !copied) {
        const MemoFile &memo = *a.job.sourceMemo;
        bool foxPro = usesFoxProMemo(h.type(), h.tableFlags());
        bool dBase4 = !foxPro && (memo.kind == 0x8B || isLevel7Type(memo.kind));
        starts = memoStarts(readFile(memo.path), memo, foxPro, dBase4, h.type() == 0xE5);
    }
    std::ostringstream dangling;
    for (std::uint32_t i = 0; i < h.recordCount(); ++i) {
        Bytes record = recordAt(a, i);
        for (const FieldDescriptor &field : a.job.fields) {
            if (!isMemoBearingField(field.type()))
                continue;
            std::uint32_t block = getMemoBlockNumber(record, field);
            bool sound = copied ? haveMemo && memoBlockLength(*a.job.sourceMemo, block) != 0
                                : starts.count(block) != 0;
            if (block != 0 && !sound)
                dangling << "record " << i << " field " << field.name() << " names block " << block
                         << (haveMemo ? "" : " without a memo file") << "\n";
        }
    }
    return dangling.str();
}

} // namespace salvora::testing
