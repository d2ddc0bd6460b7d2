#include "engine/recovery.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/descriptorrepair.h"
#include "engine/enginelog.h"
#include "engine/memoreferences.h"
#include "engine/pairjournal.h"
#include "engine/putinplace.h"
#include "engine/recoverymemos.h"
#include "engine/runstages.h"
#include "engine/tabletemplate.h"
#include "engine/textformat.h"
#include "engine/worknames.h"

namespace salvora {

namespace {

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

// Kept records that follow each other in the batch just read go out in one write; the batch's
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

// Where the result is built: beside the output, renamed over it only when it is complete,
// so that neither the output nor, in an in-place repair, the source is ever half-written.
struct OutputPlan {
    OutputPlan(platform::Platform &os, bool inPlaceRepair, std::string realSource,
               std::string finalTarget)
        : inPlace(inPlaceRepair), source(std::move(realSource)), target(std::move(finalTarget)),
          work(os) {}

    bool inPlace;
    // Links resolved: the memo, the work files and the result belong beside the real table,
    // and what a link names is replaced, not the link.
    std::string source;
    std::string target;
    WorkFile work;
    std::unique_ptr<platform::FileHandle> outputLock;
};

// The kept records go to the work file, their memos to the new memo file.
class RecordWriter {
  public:
    RecordWriter(BufferedWriter &out, RecoveryMemos &memos, const RecoveryJob &job,
                 RunReport *report, std::uint32_t recordLength)
        : run_(out), memos_(memos), job_(job), report_(report), recordLength_(recordLength) {}

    void keep(std::span<std::uint8_t> record, std::uint32_t index) {
        memos_.carry(record, job_, report_, index);
        run_.add(record.data(), recordLength_);
    }
    void endBatch() { run_.flush(); }

  private:
    KeptRun run_;
    RecoveryMemos &memos_;
    const RecoveryJob &job_;
    RunReport *report_;
    std::uint32_t recordLength_;
};

class Run {
  public:
    Run(EngineContext &context, const RecoveryRequest &request, RunObserver &observer)
        : context_(context), os_(context.os), request_(request), observer_(observer) {}

    RecoveryOutcome execute();

  private:
    bool settleEarlierRuns(const OutputPlan &plan);
    bool analyse(RecoveryJob &job, AnalysedTable &table, const OutputPlan &plan);
    bool planOutput(OutputPlan &plan);
    bool writeHeaderArea(RecoveryJob &job, const AnalysisResult &analysis, BufferedWriter &out,
                         const OutputPlan &plan);
    bool refuseUnreadableHeader(const std::string &file, const UnreadableRanges &ranges);
    bool startWalk(RecoveryJob &job, const RecordArea &area, const OutputPlan &plan,
                   RecoveryMemos &memos);
    std::uint64_t walkRecords(RecoveryJob &job, const RecordArea &area, BufferedWriter &out,
                              RecoveryMemos &memos, const OutputPlan &plan);
    void noteUnreadable(const std::string &file, const UnreadableRanges &ranges);
    bool finishTable(RecoveryJob &job, const RecordArea &area, bool inPlace, std::uint64_t kept,
                     BufferedWriter &out, RecoveryMemos &memos);
    int install(RecoveryJob &job, OutputPlan &plan, const SourceAttributes &attributes,
                RecoveryMemos &memos);
    void reportResult();

    void say(RunMessage kind, std::string text) {
        outcome_.message = std::move(text);
        observer_.message(kind, outcome_.message);
    }
    void account(const std::string &text) {
        log_.write(text);
        observer_.account(text);
    }
    RecoveryOutcome ended(int result) {
        outcome_.result = result;
        return std::move(outcome_);
    }
    void reportSystemError(platform::ErrorCode error) {
        outcome_.systemError = error;
        outcome_.failure = os_.errorText(error);
        say(RunMessage::CannotOpen, outcome_.failure);
    }
    void reportWriteError(platform::ErrorCode error) {
        outcome_.systemError = error;
        outcome_.failure = "Cannot write the repaired table: " + os_.errorText(error);
        say(RunMessage::CannotWrite, outcome_.failure);
    }
    bool refuse(const std::string &why) {
        outcome_.failure = why;
        say(RunMessage::Refused, why);
        return false;
    }

    EngineContext &context_;
    platform::Platform &os_;
    const RecoveryRequest &request_;
    RunObserver &observer_;
    RecoveryOutcome outcome_;
    EngineLog log_;
    std::uint64_t unreadableBytes_ = 0;
    std::string unreadableFiles_;
    std::string unreadableText_;
};

RecoveryOutcome Run::execute() {
    if (request_.options.detailedLog && log_.open(os_) == platform::errorLinkRefused())
        observer_.message(RunMessage::LogRefused, std::string(engineLogName) + ": " +
                                                      os_.errorText(platform::errorLinkRefused()));
    const std::string &source = request_.source;
    const std::string &output = request_.output;
    account("Source file:" + source + "\r\nOutput file:" + output + " ");
    if (source.empty())
        return ended(recoveryNothingProduced);
    say(RunMessage::Analysing, request_.texts.analysing);

    // Two spellings of one file are an in-place repair too: the source must never be
    // truncated before its records have been read.
    bool inPlace = source == output || os_.sameFile(source, output).value_or(false);
    const std::string resolvedSource = os_.resolvedPath(source);
    OutputPlan plan(os_, inPlace, resolvedSource,
                    output == source ? resolvedSource : os_.resolvedPath(output));
    SourceAttributes attributes(os_, plan.source);

    if (!settleEarlierRuns(plan))
        return ended(recoveryNothingProduced);
    RecoveryJob job;
    AnalysedTable table;
    if (!analyse(job, table, plan))
        return ended(outcome_.result);
    if (!planOutput(plan))
        return ended(recoveryNothingProduced);

    BufferedWriter out(*plan.work.file, recordBatchBytes);
    if (!writeHeaderArea(job, table.analysis, out, plan))
        return ended(recoveryUnusable);
    const RecordArea area = recordAreaOf(job, table.analysis);
    RecoveryMemos memos(os_, context_.workFileListings);
    if (!startWalk(job, area, plan, memos))
        return ended(recoveryNothingProduced);
    std::uint64_t kept = walkRecords(job, area, out, memos, plan);
    if (observer_.cancelled()) {
        outcome_.cancelled = true;
        account("Cancelled\r\n");
        return ended(recoveryNothingProduced);
    }
    if (unreadableBytes_ != 0 && plan.inPlace) {
        // What could not be read is not damage a repair mends: the source stays.
        outcome_.failure = formatText(
            "read errors in %s (%d bytes unreadable); repair to another disk with /output:",
            unreadableFiles_, unreadableBytes_);
        say(RunMessage::Refused, outcome_.failure + unreadableText_);
        return ended(recoveryUnusable);
    }
    if (!finishTable(job, area, plan.inPlace, kept, out, memos))
        return ended(recoveryNothingProduced);
    if (int result = install(job, plan, attributes, memos); result != recoveryFixed)
        return ended(result);
    reportResult();
    if (unreadableBytes_ != 0) {
        outcome_.failure =
            formatText("read errors in %s (%d bytes unreadable); the readable records were written",
                       unreadableFiles_, unreadableBytes_);
        say(RunMessage::Refused, outcome_.failure + unreadableText_);
        account(outcome_.failure + unreadableText_);
        return ended(recoveryNothingProduced);
    }
    return ended(recoveryFixed);
}

// A replacement of the source's or the output's pair that a crash interrupted is finished or
// undone before anything is read; a journal that cannot be trusted stops the run.
bool Run::settleEarlierRuns(const OutputPlan &plan) {
    for (const std::string *table : {&plan.source, &plan.target}) {
        if (table == &plan.target && plan.target == plan.source)
            break;
        JournalOutcome settled = settleJournal(os_, *table);
        if (settled.blocks())
            return refuse(settled.line);
        if (settled.state == JournalState::Settled)
            observer_.message(RunMessage::JournalSettled, settled.line);
    }
    return true;
}

// Opens the source and finds its structure; false with the result set when the run ends. An
// in-place repair holds the table to itself until the result is installed.
bool Run::analyse(RecoveryJob &job, AnalysedTable &table, const OutputPlan &plan) {
    std::optional<TableTemplate> tableTemplate;
    if (!request_.tableTemplate.empty()) {
        LoadedTemplate loaded = loadTemplate(context_, request_.tableTemplate);
        if (!loaded.table)
            return refuse(loaded.problem);
        tableTemplate = std::move(loaded.table);
    }
    table = analyseTable(context_, job, plan.source,
                         plan.inPlace ? SourceAccess::Exclusive : SourceAccess::Repair,
                         tableTemplate ? &*tableTemplate : nullptr);
    const AnalysisResult &analysis = table.analysis;
    // Bytes read as zeros would give a header rebuilt from nothing, or none at all.
    if (!analysis.unreadableHeader.empty()) {
        outcome_.result = recoveryUnusable;
        return refuseUnreadableHeader(plan.source, analysis.unreadableHeader);
    }
    if (analysis.abort) {
        say(RunMessage::NoTableFound, outcome_.message + request_.texts.unrecoverableFile);
        outcome_.result = recoveryNothingProduced;
        return false;
    }
    if (!analysis.opened) {
        reportSystemError(analysis.openError);
        outcome_.result = recoveryUnusable;
        return false;
    }
    if (!analysis.templateMisfit.empty())
        return refuse(analysis.templateMisfit);
    if (!table.typeName) {
        say(RunMessage::UnknownType, outcome_.message + request_.texts.unknownType);
        outcome_.result = recoveryUnusable;
        return false;
    }
    outcome_.message += formatText(request_.texts.tableFound, table.typeName, job.fieldCount);
    if (request_.report)
        request_.report->table(job, analysis, table.typeName);
    observer_.message(RunMessage::TableFound, outcome_.message);
    return true;
}

bool Run::refuseUnreadableHeader(const std::string &file, const UnreadableRanges &ranges) {
    outcome_.failure = formatText(
        "read errors in %s (%d bytes unreadable): its header cannot be read", file, ranges.bytes());
    noteUnreadable(file, ranges);
    say(RunMessage::Refused, outcome_.failure + unreadableText_);
    return false;
}

// Holds an existing output against other programs and creates the work file beside the
// target, so that the final rename is atomic.
bool Run::planOutput(OutputPlan &plan) {
    const std::string &output = request_.output;
    if (!plan.inPlace) {
        platform::OpenResult held =
            os_.openFile(output, {platform::Access::Read, platform::Share::None,
                                  platform::Disposition::OpenExisting, false});
        if (!held && held.error != platform::errorFileNotFound()) {
            reportSystemError(held.error);
            return false;
        }
        plan.outputLock = std::move(held.file);
    }
    platform::OpenResult created =
        createWorkFileFor(os_, plan.target, plan.work.path, context_.workFileListings);
    plan.work.file = std::move(created.file);
    if (!plan.work.file) {
        reportSystemError(created.error);
        return false;
    }
    return true;
}

// The header area as the source has it, or as the analysis rebuilt it, with the memo flag
// the table needs and a usable date. False when the header failed to read this time.
bool Run::writeHeaderArea(RecoveryJob &job, const AnalysisResult &analysis, BufferedWriter &out,
                          const OutputPlan &plan) {
    TableHeader &header = job.header;
    header.setTableFlags(tableFlagsWithMemo(job));
    if (analysis.relocated || header.year() == 0 || header.month() == 0 || header.day() == 0) {
        platform::LocalTime today = os_.localTime();
        header.setDate(today.year, today.month, today.day);
    }
    if (!analysis.templateArea.empty()) {
        out.write(analysis.templateArea.data(), analysis.templateArea.size());
        return true;
    }
    if (!analysis.relocated) {
        // Descriptors, terminator and backlink reach the output exactly as the source has them.
        WindowReader reader(*job.source, job.sourceSize,
                            std::max<std::size_t>(header.headerLength(), 1));
        out.write(reader.view(analysis.headerOffset, header.headerLength()), header.headerLength());
        if (!reader.unreadable().empty())
            return refuseUnreadableHeader(plan.source, reader.unreadableRanges());
        for (std::uint32_t i : analysis.repairedDescriptors) {
            FieldDescriptor written = descriptorAsWritten(job.fields[i], header.type());
            out.seek(tableHeaderSize + std::uint64_t{i} * fieldDescriptorSize);
            out.write(written.bytes.data(), written.bytes.size());
        }
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

// Opens the memo side; false after an error that must stop the run before anything is
// replaced.
bool Run::startWalk(RecoveryJob &job, const RecordArea &area, const OutputPlan &plan,
                    RecoveryMemos &memos) {
    outcome_.records = area.records;
    observer_.walkStarted(area.records);
    if (platform::ErrorCode error = memos.open(job, plan.target, plan.target == plan.source);
        error != 0) {
        if (!memos.refusal().empty())
            return refuse(memos.refusal());
        reportWriteError(error);
        return false;
    }
    collectMemoReferences(job, area);
    return true;
}

std::uint64_t Run::walkRecords(RecoveryJob &job, const RecordArea &area, BufferedWriter &out,
                               RecoveryMemos &memos, const OutputPlan &plan) {
    out.seek(area.headerLength);
    RecordWalk walk(job, area, request_, observer_);
    RecordWriter writer(out, memos, job, request_.report, area.recordLength);
    std::uint64_t kept = walk.run(writer);
    noteUnreadable(plan.source, walk.reader().unreadableRanges());
    if (job.sourceMemo)
        noteUnreadable(job.sourceMemo->path, job.sourceMemo->unreadable);
    if (walk.unreadableRecords() != 0)
        unreadableText_ += formatText("\r\n%d records unreadable", walk.unreadableRecords());
    if (memos.unreadableMemos() != 0)
        unreadableText_ +=
            formatText("\r\n%d memo references unreadable, cleared", memos.unreadableMemos());
    return kept;
}

// What could not be read is listed for the run's message, its log and its report.
void Run::noteUnreadable(const std::string &file, const UnreadableRanges &ranges) {
    if (ranges.empty())
        return;
    unreadableBytes_ += ranges.bytes();
    unreadableFiles_ += (unreadableFiles_.empty() ? "" : " and ") + file;
    for (const UnreadableRanges::Range &range : ranges.ranges()) {
        unreadableText_ +=
            formatText("\r\nunreadable: bytes %d to %d in %s", range.start, range.end - 1, file);
        if (request_.report)
            request_.report->unreadableBytes(file, range.start, range.end);
    }
}

// The end marker and the final header with the kept count; the result detached from its
// index and database container unless it replaces its source. False after a write error.
bool Run::finishTable(RecoveryJob &job, const RecordArea &area, bool inPlace, std::uint64_t kept,
                      BufferedWriter &out, RecoveryMemos &memos) {
    const std::uint32_t headerLength = area.headerLength;
    kept = keptWithinSizeLimit(job, area, kept);
    outcome_.kept = kept;
    if (request_.report)
        request_.report->finish(kept);
    if (kept != area.records)
        out.seek(headerLength + kept * area.recordLength);
    if (kept != 0)
        out.write(&endOfFileMarker, 1);
    if (kept != area.records)
        out.setEnd();

    TableHeader &header = job.header;
    header.setRecordCount(static_cast<std::uint32_t>(kept));
    if (!inPlace)
        header.setTableFlags(header.tableFlags() & ~tableFlagStructuralIndex);
    out.seek(0);
    out.write(header.bytes.data(), header.bytes.size());
    // Only a header with room for the backlink has one.
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
        return false;
    }
    return true;
}

// Puts the work file and the new memo file in place; returns the run's result.
int Run::install(RecoveryJob &job, OutputPlan &plan, const SourceAttributes &attributes,
                 RecoveryMemos &memos) {
    platform::FileTimes workTimes;
    plan.work.file->getTimes(workTimes);
    // Mode and owner of the file it replaces in place (where the system lets us), else those
    // of a new file, read-only when the source is.
    platform::FileAttributes newFile = os_.newFileAttributes();
    if (attributes.wasReadOnly())
        newFile.native &= ~0222u;
    const platform::FileAttributes &finalAttributes =
        plan.inPlace && attributes.original() ? *attributes.original() : newFile;
    if (platform::ErrorCode error = plan.work.file->applyAttributes(finalAttributes); error != 0) {
        reportWriteError(error);
        return recoveryNothingProduced;
    }
    plan.work.file.reset();

    std::optional<FinishedFile> memoItem;
    const bool keep = request_.options.keepOriginal != 0;
    if (platform::ErrorCode error =
            memos.prepareOutput(workTimes.lastWrite, newFile, memoItem, keep);
        error != 0) {
        reportWriteError(error);
        return recoveryNothingProduced;
    }
    // The source and its memo stay held until the result has replaced them, where the system
    // can replace a file that is held.
    auto letGo = [&] {
        plan.outputLock.reset();
        memos.closeSource(job);
        closeSource(job);
    };
    if (!os_.replacesOpenFiles())
        letGo();
    KeptNames kept;
    Placement placed =
        putInPlace(os_, {plan.work.path, plan.target}, memoItem, keep ? &kept : nullptr);
    letGo();
    if (placed.error != 0) {
        outcome_.systemError = placed.error;
        outcome_.failure = os_.errorText(placed.error);
        if (placed.leftToNextRun) {
            // Removing the finished files would let the journal complete a torn pair.
            plan.work.installed = true;
            memos.markInstalled();
            outcome_.failure +=
                "; the next repair of " + plan.target + " completes the replacement";
        }
        say(RunMessage::CannotInstall, outcome_.failure);
        return recoveryUnusable;
    }
    plan.work.installed = true;
    memos.markInstalled();
    outcome_.keptTable = kept.table;
    // Where files carry no owner and mode the attributes go by name (Windows). In place, the
    // work file took the source's own where its handle could give them all.
    if (attributes.original() && (plan.inPlace || attributes.wasReadOnly()) &&
        !(plan.inPlace && os_.attributesGoWithHandle()))
        os_.setAttributes(plan.target, *attributes.original());
    return recoveryFixed;
}

void Run::reportResult() {
    outcome_.message = formatText(request_.texts.recoverableRecords.c_str(),
                                  static_cast<std::int64_t>(outcome_.kept));
    if (!outcome_.keptTable.empty())
        outcome_.message += formatText(request_.texts.keptOriginal.c_str(), outcome_.keptTable);
    account(outcome_.message);
    observer_.message(RunMessage::Finished, outcome_.message);
    log_.close();
}

} // namespace

RecoveryOutcome runRecovery(EngineContext &context, const RecoveryRequest &request,
                            RunObserver &observer) {
    Run run(context, request, observer);
    return run.execute();
}

} // namespace salvora
