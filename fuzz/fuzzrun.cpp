#include "fuzz/fuzzrun.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "engine/analysis.h"
#include "engine/recordchecks.h"
#include "engine/recovery.h"
#include "engine/tableformat.h"
#include "fuzz/fuzzinput.h"

namespace salvora::fuzz {

namespace {

namespace fs = std::filesystem;

const char *const memoNames[] = {"t.dbt", "t.fpt", "t.smt"};

// A folder of the process's own, in memory where the system offers it: every run ends with a
// durable flush, which costs nothing there.
class Workspace {
  public:
    Workspace() {
        std::error_code error;
        // The folder a fuzz script chose, so that it can clear away what a crash leaves.
        fs::path base = std::getenv("TMPDIR")                 ? fs::temp_directory_path()
                        : fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm")
                                                              : fs::temp_directory_path();
        std::random_device entropy;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            fs::path candidate = base / ("salvora-fuzz-" + std::to_string(entropy()));
            if (fs::create_directory(candidate, error))
                path_ = candidate;
        }
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    const fs::path &path() const { return path_; }
    std::string file(const char *name) const { return (path_ / name).string(); }
    void clear() const {
        std::error_code ignored;
        for (auto &entry : fs::directory_iterator(path_, ignored))
            fs::remove_all(entry.path(), ignored);
    }

  private:
    fs::path path_;
};

Workspace &workspace() {
    static Workspace instance;
    return instance;
}

// Makes the workspace the working folder for one run: the temporary memo is made there.
class InWorkspace {
  public:
    InWorkspace() : previous_(fs::current_path()) { fs::current_path(workspace().path()); }
    ~InWorkspace() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
    }
    InWorkspace(const InWorkspace &) = delete;
    InWorkspace &operator=(const InWorkspace &) = delete;

  private:
    fs::path previous_;
};

void write(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::optional<Bytes> read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

RecoveryOptions optionsOf(std::uint8_t control) {
    RecoveryOptions options;
    options.pack = (control & controlPack) != 0;
    options.recoverDeleted = (control & controlRecoverDeleted) != 0;
    options.deleteEmpty = (control & controlDeleteEmpty) != 0;
    options.deleteDuplicates = (control & controlDeleteDuplicates) != 0;
    options.deleteInvalidMemo = (control & controlDeleteInvalidMemo) != 0;
    return options;
}

// The output holds its header area, the kept records and, after them, the end marker.
std::string checkOutputShape(const Bytes &table, const std::string &message) {
    if (table.size() < tableHeaderSize)
        return "output shorter than a table header";
    std::uint64_t kept = readLe32(&table[4]);
    std::uint64_t headerLength = readLe16(&table[8]);
    std::uint64_t recordLength = readLe16(&table[10]);
    std::uint64_t size = headerLength + kept * recordLength + (kept != 0 ? 1 : 0);
    size = std::max<std::uint64_t>(size, tableHeaderSize);
    if (table.size() != size)
        return "output of " + std::to_string(table.size()) + " bytes, its header calls for " +
               std::to_string(size);
    if (kept != 0 && table.back() != endOfFileMarker)
        return "no end marker after the last record";
    if (message.find("Recoverable records: " + std::to_string(kept) + "\r\n") == std::string::npos)
        return "result text disagrees with the header's count: " + message;
    return "";
}

} // namespace

std::string runRecoveryInput(const std::uint8_t *data, std::size_t size) {
    FuzzCase input = decodeFuzzInput(data, size);
    Workspace &ws = workspace();
    if (ws.path().empty())
        return "no workspace";
    ws.clear();
    InWorkspace cwd;
    write(ws.file("t.dbf"), input.table);
    if (input.memo)
        for (const char *name : memoNames)
            write(ws.file(name), *input.memo);

    EngineContext context(platform::nativePlatform());
    bool inPlace = (input.control & controlInPlace) != 0;
    RecoveryRequest request;
    request.source = ws.file("t.dbf");
    request.output = ws.file(inPlace ? "t.dbf" : "out.dbf");
    request.options = optionsOf(input.control);
    request.keepDeleted = (input.control & controlDropDeleted) == 0;
    RunObserver quiet;
    RecoveryOutcome outcome = runRecovery(context, request, quiet);
    const std::string &output = request.output;
    int result = outcome.result;

    if (result != recoveryFixed && result != recoveryNothingProduced && result != recoveryUnusable)
        return "result " + std::to_string(result);
    std::set<std::string> allowed = {"t.dbf", "out.dbf"};
    for (const char *name : memoNames) {
        allowed.insert(name);
        allowed.insert(std::string("out") + (name + 1));
    }
    std::error_code ignored;
    for (auto &entry : fs::directory_iterator(ws.path(), ignored))
        if (!allowed.count(entry.path().filename().string()))
            return "left behind: " + entry.path().filename().string();
    if (!inPlace) {
        if (read(ws.file("t.dbf")) != input.table)
            return "source table changed";
        if (input.memo)
            for (const char *name : memoNames)
                if (read(ws.file(name)) != input.memo)
                    return std::string("source memo changed: ") + name;
    }
    std::optional<Bytes> table = read(output);
    if (result == recoveryFixed) {
        if (!table)
            return "result 1 without an output";
        return checkOutputShape(*table, outcome.message);
    }
    if (!inPlace && table)
        return "an output without result 1";
    if (inPlace && table != input.table)
        return "source replaced by a run that failed";
    if (inPlace && input.memo)
        for (const char *name : memoNames)
            if (read(ws.file(name)) != input.memo)
                return std::string("source memo replaced by a run that failed: ") + name;
    return "";
}

std::string runAnalysisInput(const std::uint8_t *data, std::size_t size) {
    FuzzCase input = decodeFuzzInput(data, size);
    Workspace &ws = workspace();
    if (ws.path().empty())
        return "no workspace";
    ws.clear();
    write(ws.file("t.dbf"), input.table);

    EngineContext context(platform::nativePlatform());
    RecoveryJob job;
    job.sourcePath = ws.file("t.dbf");
    job.memoName = job.sourcePath;
    AnalysisResult analysis = analyseStructure(context, job);
    if (!analysis.opened)
        return "the table could not be opened";
    if (analysis.abort)
        return "";
    std::uint32_t recordLength = job.header.recordLength();
    if (recordLength == 0)
        return "record length 0";
    if (job.recordBuffer.size() < recordLength || job.alignedRecordLength % 4 != 0)
        return "record buffer does not fit the record";

    // The checks on the first records, with every filter, against whatever the analysis made
    // of the descriptors.
    RecoveryOptions options = optionsOf(input.control);
    DuplicateTable duplicates;
    std::uint64_t base =
        analysis.relocated ? job.dataStart : analysis.headerOffset + job.header.headerLength();
    for (std::uint32_t i = 0; i < 64 && i < job.header.recordCount(); ++i) {
        std::uint64_t at = base + std::uint64_t{i} * recordLength;
        for (std::uint32_t k = 0; k < recordLength; ++k)
            job.recordBuffer[k] = at + k < input.table.size() ? input.table[at + k] : 0;
        checkRecord(std::span<std::uint8_t>(job.recordBuffer.data(), recordLength), i, options, job,
                    duplicates);
    }
    closeSource(job);
    return "";
}

} // namespace salvora::fuzz
