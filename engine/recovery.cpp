#include "engine/recovery.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "engine/analysis.h"
#include "engine/bufferedio.h"
#include "engine/duplicatecandidates.h"
#include "engine/enginelog.h"
#include "engine/installation.h"
#include "engine/memotransfer.h"
#include "engine/recordchecks.h"
#include "engine/recoverymemos.h"
#include "engine/runreport.h"
#include "engine/textformat.h"
#include "engine/worknames.h"
#include "platform/largememory.h"

namespace salvora {

namespace {

constexpr const char *messageCaption = "Salvora";
constexpr std::uint64_t tableSizeLimit = 0x7FFFFFFF;
constexpr std::size_t recordBatchBytes = 1u << 20;

// The source's attributes, read once: an in-place result takes them over. The source's own
// are never changed, so that a run that is killed leaves it as it was.
class SourceAttributes {
  public:
    SourceAttributes(platform::Platform &os, const std::string &path)
        : original_(os.getAttributes(path)) {}

    bool wasReadOnly() const { return original_ && original_->readOnly; }
    const std::optional<platform::FileAttributes> &original() const { return original_; }

  private:
    std::optional<platform::FileAttributes> original_;
};

// Removes the work file unless it was put in place.
class WorkFile {
  public:
    explicit WorkFile(platform::Platform &os) : os_(os) {}
    ~WorkFile() {
        file.reset();
        if (!path.empty() && !installed)
            os_.removeFile(path);
    }
    WorkFile(const WorkFile &) = delete;
    WorkFile &operator=(const WorkFile &) = delete;

    std::string path;
    std::unique_ptr<platform::FileHandle> file;
    bool installed = false;

  private:
    platform::Platform &os_;
};

// Kept records that follow each other in the read window go out in one write; the window's
// bytes must stay put until the run is written, which the destructor does at the latest.
class KeptRun {
  public:
    explicit KeptRun(BufferedWriter &out) : out_(out) {}
    ~KeptRun() { flush(); }
    KeptRun(const KeptRun &) = delete;
    KeptRun &operator=(const KeptRun &) = delete;

    void add(const std::uint8_t *record, std::size_t length) {
        if (record != start_ + length_)
            flush();
        if (length_ == 0)
            start_ = record;
        length_ += length;
    }
    void flush() {
        if (length_ != 0)
            out_.write(start_, length_);
        length_ = 0;
    }

  private:
    BufferedWriter &out_;
    const std::uint8_t *start_ = nullptr;
    std::size_t length_ = 0;
};

// Which records can be duplicates, or be repeated by one, worked out in a first pass over the
// table that hashes every key. Nothing when the memory for it is not to be had.
std::optional<DuplicateCandidates> findDuplicateCandidates(WindowReader &reader, std::uint64_t base,
                                                           std::uint32_t records,
                                                           std::uint32_t recordLength,
                                                           std::size_t batchRecords) {
    std::size_t bytes = std::size_t{records} * sizeof(std::uint32_t);
    platform::LargeMemory memory(bytes, bytes >= (2u << 20));
    if (!memory)
        return std::nullopt;
    auto *hashes = reinterpret_cast<std::uint32_t *>(memory.data());
    for (std::uint32_t first = 0; first < records;) {
        const std::uint32_t count =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(batchRecords, records - first));
        const std::uint8_t *batch = reader.view(base + std::uint64_t{first} * recordLength,
                                                std::size_t{count} * recordLength);
        DuplicateTable::hashEach(batch + 1, recordLength, recordLength - std::size_t{1},
                                 {hashes + first, count});
        first += count;
    }
    return DuplicateCandidates::of({hashes, records});
}

// Walks the duplicate candidates alongside the records. The duplicate table's memory is the
// slow part of that filter: what a candidate some places ahead needs is on its way while the
// current record is checked.
class CandidateWalk {
  public:
    CandidateWalk(std::span<const DuplicateCandidates::Candidate> candidates,
                  const DuplicateTable &duplicates)
        : candidates_(candidates), duplicates_(duplicates) {
        for (std::size_t c = 0; c < candidates_.size() && c < slotLookAhead; ++c)
            duplicates_.prefetch(candidates_[c].hash);
    }

    // What is known of the key of `record`, the next record in order.
    RecordChecks::KeyAhead keyOf(std::uint32_t record) {
        if (next_ >= candidates_.size() || candidates_[next_].record != record)
            return {0, true};
        if (next_ + slotLookAhead < candidates_.size())
            duplicates_.prefetch(candidates_[next_ + slotLookAhead].hash);
        if (next_ + keyLookAhead < candidates_.size())
            duplicates_.prefetchKey(candidates_[next_ + keyLookAhead].hash);
        return {candidates_[next_++].hash, false};
    }

  private:
    // Candidates ahead at which the index slot, and then the key it leads to, is fetched.
    static constexpr std::size_t slotLookAhead = 8;
    static constexpr std::size_t keyLookAhead = 3;

    std::span<const DuplicateCandidates::Candidate> candidates_;
    const DuplicateTable &duplicates_;
    std::size_t next_ = 0;
};

bool hasMemoBearingField(const RecoveryJob &job) {
    for (const FieldDescriptor &field : job.fields)
        if (isMemoBearingField(field.type()))
            return true;
    return false;
}

class Run {
  public:
    Run(EngineContext &context, RecoveryWindow *window, bool folderMode)
        : context_(context), os_(context.os), window_(window),
          single_(window != nullptr && !folderMode) {}

    int execute(std::string source, std::string output);

  private:
    void showMessage(bool repaint) {
        window_->setControlText(control::logBox, context_.messageText);
        if (repaint)
            window_->repaintControl(control::logBox);
    }
    void echo(const std::string &text) {
        log_.write(text);
        if (context_.consoleOut)
            context_.consoleOut->write(text);
    }
    void reportSystemError(platform::ErrorCode error) {
        context_.lastError = error;
        context_.messageText = os_.errorText(error);
        context_.failure = context_.messageText;
        if (single_)
            window_->messageBox(context_.messageText, messageCaption, MessageIcon::None);
    }
    void reportWriteError(platform::ErrorCode error) {
        context_.lastError = error;
        context_.messageText = "Cannot write the repaired table: " + os_.errorText(error);
        context_.failure = context_.messageText;
        if (context_.consoleOut)
            context_.consoleOut->write(context_.messageText + "\r\n");
        if (single_)
            window_->messageBox(context_.messageText, messageCaption, MessageIcon::None);
    }
    int refuse(const std::string &why) {
        context_.messageText = why;
        context_.failure = why;
        if (context_.consoleOut)
            context_.consoleOut->write(why + "\r\n");
        if (single_)
            window_->messageBox(why, messageCaption, MessageIcon::None);
        return recoveryNothingProduced;
    }
    bool writeHeaderArea(RecoveryJob &job, const AnalysisResult &analysis, BufferedWriter &out);
    void showProgressRange(std::uint32_t records);

    EngineContext &context_;
    platform::Platform &os_;
    RecoveryWindow *window_;
    bool single_;
    EngineLog log_;
};

bool Run::writeHeaderArea(RecoveryJob &job, const AnalysisResult &analysis, BufferedWriter &out) {
    const TableHeader &header = job.header;
    if (!analysis.relocated) {
        // Descriptors, terminator and backlink reach the output exactly as the source has them.
        WindowReader reader(*job.source, job.sourceSize,
                            std::max<std::size_t>(header.headerLength(), 1));
        out.write(reader.view(analysis.headerOffset, header.headerLength()), header.headerLength());
        return true;
    }
    out.write(header.bytes.data(), header.bytes.size());
    for (const FieldDescriptor &field : job.fields)
        out.write(field.bytes.data(), field.bytes.size());
    out.write(&headerTerminator, 1);
    if (isVisualFoxProType(header.type())) {
        std::vector<std::uint8_t> backlink(backlinkSize, 0);
        out.write(backlink.data(), backlink.size());
    }
    return true;
}

void Run::showProgressRange(std::uint32_t records) {
    if (!window_)
        return;
    window_->progressSetRange(control::progressBar, 0, records <= 100 ? records : records / 100);
    window_->progressSetStep(control::progressBar, records >= 100 ? 1 : records / 2);
}

int Run::execute(std::string source, std::string output) {
    DuplicateTable duplicates;
    if (context_.options.detailedLog && log_.open(os_) == platform::errorLinkRefused() &&
        context_.consoleOut)
        context_.consoleOut->write(std::string(engineLogName) + ": " +
                                   os_.errorText(platform::errorLinkRefused()) + "\r\n");
    context_.lastError = 0;
    context_.failure.clear();

    if (single_) {
        source = window_->controlText(control::sourceBox, 255);
        output = window_->controlText(control::outputBox, 255);
        context_.lastOutput = output;
    }
    echo("Source file:" + source + "\r\nOutput file:" + output + " ");
    if (source.empty())
        return recoveryNothingProduced;

    bool keepDeleted = window_ ? window_->isChecked(control::keepDeletedCheck) : true;
    context_.messageText = "Analyzing file...\r\n";
    if (single_)
        showMessage(true);

    // Two spellings of one file are an in-place repair too: the source must never be
    // truncated before its records have been read.
    bool inPlace = source == output || os_.sameFile(source, output).value_or(false);
    // Links resolved: the memo, the work files and the result belong beside the real table,
    // and what a link names is replaced, not the link.
    std::string realSource = os_.resolvedPath(source);
    std::string target = os_.resolvedPath(output);

    SourceAttributes attributes(os_, realSource);

    RecoveryJob job;
    job.sourcePath = realSource;
    job.memoName = realSource;
    // An in-place repair holds the table to itself until the result is installed.
    AnalysisResult analysis =
        analyseStructure(context_, job, inPlace ? SourceAccess::Exclusive : SourceAccess::Repair);
    if (analysis.abort) {
        context_.messageText += context_.loadString(stringUnrecoverableFile);
        if (single_) {
            showMessage(false);
            window_->setControlText(control::statusBar, "");
        }
        return recoveryNothingProduced;
    }
    if (!analysis.opened) {
        reportSystemError(analysis.openError);
        return recoveryUnusable;
    }

    TableHeader &header = job.header;
    const char *typeName = tableTypeName(header.type());
    if (!typeName) {
        context_.messageText += "Unrecoverable file";
        if (window_)
            showMessage(true);
        return recoveryUnusable;
    }
    context_.messageText += formatText("File type: %s\r\nFields: %d", typeName, job.fieldCount);
    if (context_.report)
        context_.report->table(job, analysis, typeName);
    if (window_)
        showMessage(true);

    // The result is built beside the output and renamed over it only when it is complete, so
    // that neither the output nor, in an in-place repair, the source is ever half-written.
    // The work file lives in the same folder so that the final rename is atomic.
    WorkFile work(os_);
    std::unique_ptr<platform::FileHandle> outputLock;
    if (!inPlace) {
        platform::OpenResult held =
            os_.openFile(output, {platform::Access::Read, platform::Share::None,
                                  platform::Disposition::OpenExisting, false});
        if (!held && held.error != platform::errorFileNotFound()) {
            reportSystemError(held.error);
            return recoveryNothingProduced;
        }
        outputLock = std::move(held.file);
    }
    removeStaleWorkFiles(os_, target);
    platform::OpenResult created =
        os_.createWorkFile(platform::folderOf(target), workFilePrefix(target), work.path);
    work.file = std::move(created.file);
    if (!work.file) {
        reportSystemError(created.error);
        return recoveryNothingProduced;
    }

    // A Visual FoxPro table with memo fields has a memo file even when a damaged (or careless)
    // header forgot to say so; without the flag the memos would be left behind.
    if (isVisualFoxProType(header.type()) && hasMemoBearingField(job))
        header.setTableFlags(header.tableFlags() | tableFlagHasMemo);

    if (analysis.relocated || header.year() == 0 || header.month() == 0 || header.day() == 0) {
        platform::LocalTime today = os_.localTime();
        header.setDate(today.year, today.month, today.day);
    }

    BufferedWriter out(*work.file, recordBatchBytes);
    writeHeaderArea(job, analysis, out);

    const std::uint32_t records = header.recordCount();
    const std::uint32_t recordLength = header.recordLength();
    const std::uint32_t headerLength = header.headerLength();
    showProgressRange(records);

    RecoveryMemos memos(os_);
    if (platform::ErrorCode error = memos.open(job, target, target == realSource); error != 0) {
        if (!memos.refusal().empty())
            return refuse(memos.refusal());
        reportWriteError(error);
        return recoveryNothingProduced;
    }

    out.seek(headerLength);
    std::uint64_t base = analysis.relocated ? job.dataStart : analysis.headerOffset + headerLength;
    // Records are checked and repaired where they were read, and kept ones go out from there.
    // Windows of a megabyte cost the fewest system calls without losing the cache.
    const std::size_t batchRecords =
        std::max<std::size_t>(1, recordBatchBytes / std::max<std::uint32_t>(recordLength, 1));
    WindowReader reader(*job.source, job.sourceSize,
                        std::max<std::size_t>(batchRecords * recordLength, 1));
    RecordChecks checks(job, context_.options, duplicates, context_.report, recordLength);
    // Only candidates can be duplicates or be repeated by one; the others' keys are unique.
    // Keys shorter than a few hashes are cheaper to look up than to hash twice.
    std::optional<DuplicateCandidates> candidates;
    if (context_.options.deleteDuplicates != 0 && recordLength > 8 && records > 0)
        candidates = findDuplicateCandidates(reader, base, records, recordLength, batchRecords);
    std::optional<CandidateWalk> walk;
    if (candidates)
        walk.emplace(candidates->all(), duplicates);
    std::uint64_t kept = 0;
    for (std::uint32_t first = 0; first < records;) {
        const std::uint32_t count =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(batchRecords, records - first));
        std::uint8_t *batch = reader.mutableView(base + std::uint64_t{first} * recordLength,
                                                 std::size_t{count} * recordLength);
        KeptRun run(out);
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint32_t i = first + k;
            std::span<std::uint8_t> record(batch + std::size_t{k} * recordLength, recordLength);
            RecordVerdict verdict =
                walk ? checks.check(record, i, walk->keyOf(i)) : checks.check(record, i);
            if (verdict == RecordVerdict::DroppedByFilter) {
                if (context_.report)
                    context_.report->recordDone(i, verdict, false);
                continue;
            }
            bool written = verdict == RecordVerdict::Keep && (keepDeleted || record[0] != '*');
            if (written) {
                memos.carry(record, job, context_.report, i);
                run.add(record.data(), recordLength);
                ++kept;
            }
            if (context_.report)
                context_.report->recordDone(i, verdict, written);
            if (window_ && i % 100 == 0)
                window_->progressStepIt(control::progressBar);
            if (context_.progress && (i & 0xFFF) == 0)
                context_.progress->recordsDone(i, records);
        }
        first += count;
    }
    if (context_.progress)
        context_.progress->recordsDone(records, records);
    if (window_)
        window_->progressSetPos(control::progressBar, records);

    // The formats cannot address records past 2 GiB.
    if (job.sourceSize > tableSizeLimit && headerLength < tableSizeLimit)
        kept = std::min<std::uint64_t>(kept, (tableSizeLimit - 1 - headerLength) / recordLength);
    if (context_.report)
        context_.report->finish(kept);
    if (kept != records)
        out.seek(headerLength + kept * recordLength);
    if (kept != 0)
        out.write(&endOfFileMarker, 1);
    if (kept != records)
        out.setEnd();

    header.setRecordCount(static_cast<std::uint32_t>(kept));
    if (!inPlace)
        header.setTableFlags(header.tableFlags() & ~tableFlagStructuralIndex);
    out.seek(0);
    out.write(header.bytes.data(), header.bytes.size());
    // Detached from its database container; only a header with room for the backlink has one.
    if (!inPlace && isVisualFoxProType(header.type()) &&
        headerLength >= tableHeaderSize + 1 + backlinkSize) {
        std::vector<std::uint8_t> zeros(backlinkSize, 0);
        out.seek(headerLength - backlinkSize);
        out.write(zeros.data(), zeros.size());
    }
    out.flush(true);
    platform::ErrorCode writeError = out.error() != 0 ? out.error() : memos.writeError();
    if (writeError != 0) {
        reportWriteError(writeError);
        return recoveryNothingProduced;
    }

    platform::FileTimes workTimes;
    work.file->getTimes(workTimes);
    // Mode and owner of the file it replaces in place (where the system lets us), else those
    // of a new file, read-only when the source is.
    platform::FileAttributes newFile = os_.newFileAttributes();
    if (attributes.wasReadOnly())
        newFile.native &= ~0222u;
    const platform::FileAttributes &finalAttributes =
        inPlace && attributes.original() ? *attributes.original() : newFile;
    if (platform::ErrorCode error = work.file->applyAttributes(finalAttributes); error != 0) {
        reportWriteError(error);
        return recoveryNothingProduced;
    }
    work.file.reset();

    std::optional<InstallItem> memoItem;
    if (platform::ErrorCode error = memos.prepareOutput(workTimes.lastWrite, newFile, memoItem);
        error != 0) {
        reportWriteError(error);
        return recoveryNothingProduced;
    }
    // The source and its memo stay held until the result has replaced them, where the system
    // can replace a file that is held.
    if (!os_.replacesOpenFiles()) {
        outputLock.reset();
        memos.closeSource(job);
        closeSource(job);
    }
    platform::ErrorCode renameError = installFiles(os_, {work.path, target}, memoItem);
    outputLock.reset();
    memos.closeSource(job);
    closeSource(job);
    if (renameError != 0) {
        context_.lastError = renameError;
        std::string text = os_.errorText(renameError);
        context_.failure = text;
        if (context_.ownerlessMessage)
            context_.ownerlessMessage(text, messageCaption);
        context_.messageText = text;
        return recoveryUnusable;
    }
    work.installed = true;
    memos.markInstalled();
    // Where files carry no owner and mode the attributes go by name (Windows).
    if (attributes.original() && (inPlace || attributes.wasReadOnly()))
        os_.setAttributes(target, *attributes.original());

    std::string result = formatText(context_.loadString(stringRecoverableRecords).c_str(),
                                    static_cast<std::int64_t>(kept));
    context_.messageText = result;
    echo(result);
    if (single_) {
        showMessage(false);
        window_->setControlText(control::statusBar, "");
    }
    log_.close();
    return recoveryFixed;
}

} // namespace

int runRecovery(EngineContext &context, RecoveryWindow *window, const std::string &sourcePath,
                const std::string &outputPath, bool folderMode) {
    Run run(context, window, folderMode);
    return run.execute(sourcePath, outputPath);
}

} // namespace salvora
