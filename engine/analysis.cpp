#include "engine/analysis.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <optional>

#include "engine/bufferedio.h"
#include "engine/descriptorchains.h"
#include "engine/descriptorrepair.h"
#include "engine/headerscan.h"
#include "engine/inferredtable.h"
#include "engine/memofile.h"
#include "engine/recordsample.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

// A header length is 16 bits wide, so no sound table has more descriptors than this.
constexpr std::size_t rebuiltFieldLimit = (0xFFFF - 33) / 32;
// How far behind the terminator of a rebuilt list the records may start.
constexpr std::uint64_t terminatorGapLimit = 8;

void inferTypeOnRebuildPath(const std::uint8_t *d, std::uint8_t &inferred) {
    char letter = static_cast<char>(d[11]);
    if (letter == 'Y' || letter == 'T' || letter == 'G')
        inferred = 0x30;
    if (inferred == 0x30 && d[18] == 0x0C)
        inferred = 0x31;
    if (letter == 'Q' || letter == 'V')
        inferred = 0x32;
}

bool containsNoCase(const char *text, const char *needle) {
    std::size_t n = std::strlen(needle);
    for (const char *p = text; *p; ++p) {
        std::size_t i = 0;
        while (i < n && p[i] && (p[i] | 0x20) == needle[i])
            ++i;
        if (i == n)
            return true;
    }
    return false;
}

void prepareRecordBuffer(RecoveryJob &job) {
    job.alignedRecordLength = (job.header.recordLength() + 3) & ~3;
    job.alignedRecordWords = job.alignedRecordLength / 4;
    job.recordBuffer.assign(static_cast<std::size_t>(job.alignedRecordLength), 0);
}

std::uint32_t clampCount(std::int64_t n) {
    if (n < 0)
        return 0;
    return static_cast<std::uint32_t>(std::min<std::int64_t>(n, 0xFFFFFFFF));
}

struct Search {
    Search(platform::Platform &o, RecoveryJob &j, WindowReader &r, AnalysisResult &a)
        : os(&o), job(j), reader(r), result(a), chains(r), level7Chains(r),
          sampler(*j.source, r.fileSize(), 4096) {}

    platform::Platform *os;

    RecoveryJob &job;
    WindowReader &reader;
    AnalysisResult &result;
    std::uint8_t inferredType = 0x03;
    bool acceptance = true;

    std::uint64_t fileSize() const { return reader.fileSize(); }

    // One candidate of the byte-by-byte header search. True when it was accepted; the job
    // then holds its header and descriptors.
    bool tryCandidate(std::uint64_t k) {
        // Most offsets fail on the first test: look at them in place before copying anything.
        const std::uint8_t *raw = reader.view(k, tableHeaderSize);
        std::uint32_t headerLength = readLe16(raw + 8);
        std::uint32_t recordLength = readLe16(raw + 10);
        auto fieldCount = static_cast<std::int32_t>((headerLength - 32u) / 32u);
        // A header shorter than itself would have its records written over by it; records of
        // a flag alone hold no field.
        if (recordLength < 2 || headerLength > fileSize() || fieldCount < 1 ||
            headerLength < tableHeaderSize) {
            acceptance = false;
            return false;
        }
        TableHeader header;
        std::memcpy(header.bytes.data(), raw, tableHeaderSize);
        std::uint8_t type = header.type();
        if (isVisualFoxProType(type))
            fieldCount = (static_cast<std::int32_t>(headerLength) - 296) / 32;
        if (fieldCount >= fieldCountLimit)
            acceptance = false;

        // Descriptors are examined in place and copied only for the accepted candidate.
        bool inPlaceDescriptors = false;
        level7Fields.clear();
        std::uint64_t runningLength = 1;
        std::int32_t walked = 0;
        bool level7 = isLevel7Type(type);
        if (level7) {
            std::uint32_t maximum = (headerLength - level7HeaderSize) / level7DescriptorSize;
            Level7Walk walk = level7Chains.walk(k + level7HeaderSize, maximum, inferredType);
            fieldCount = walk.cut ? walk.walked : walk.converted;
            walked = walk.walked;
            runningLength += walk.lengthSum;
        } else if (fieldCount >= 1 && fieldCount <= fieldCountLimit) {
            inPlaceDescriptors = true;
            // Most offsets of a damaged file stop at their first descriptor: settle those here.
            const std::uint8_t *first = reader.view(k + tableHeaderSize, fieldDescriptorSize);
            if (first[0] == headerTerminator || first[0] == endOfFileMarker) {
                fieldCount = 0;
            } else if (!isAcceptedFieldType(first)) {
                acceptance = false;
            } else {
                DescriptorWalk walk = chains.walk(k + tableHeaderSize, fieldCount, inferredType);
                walked = walk.walked;
                runningLength += walk.lengthSum;
                if (walk.terminated)
                    fieldCount = walk.walked;
                if (walk.unacceptable)
                    acceptance = false;
            }
        }
        if (recordLength == runningLength && fieldCount < fieldCountLimit)
            acceptance = true;
        if (!acceptance)
            return false;
        // A header is one only when it describes records: a field at least, a record length
        // that its fields make up, and deletion flags where its records would start. At offset 0
        // a header is the table's own: one of either test is enough there.
        bool lengthsAgree = recordLength == runningLength;
        if (fieldCount < 1 || (k != 0 && !lengthsAgree) ||
            (!(k == 0 && lengthsAgree) &&
             !sampleFlags(sampler, k + headerLength, recordLength).passes()))
            return false;
        if (level7)
            level7Fields = convertLevel7Descriptors(reader, k + tableHeaderSize,
                                                    static_cast<std::uint16_t>(headerLength));
        bool haveArray = inPlaceDescriptors || !level7Fields.empty();

        job.header = header;
        job.fieldCount = std::max(fieldCount, 0);
        job.fields.clear();
        if (haveArray) {
            const std::uint8_t *descriptors =
                inPlaceDescriptors
                    ? reader.view(k + tableHeaderSize,
                                  static_cast<std::size_t>(job.fieldCount) * fieldDescriptorSize)
                    : nullptr;
            auto descriptorAt = [&](std::int32_t i) -> const std::uint8_t * {
                return descriptors ? descriptors + static_cast<std::size_t>(i) * fieldDescriptorSize
                                   : level7Fields[static_cast<std::size_t>(i)].bytes.data();
            };
            job.fields.resize(static_cast<std::size_t>(job.fieldCount));
            std::uint32_t displacement = 1;
            for (std::int32_t i = 0; i < job.fieldCount; ++i) {
                FieldDescriptor &field = job.fields[static_cast<std::size_t>(i)];
                std::memcpy(field.bytes.data(), descriptorAt(i), fieldDescriptorSize);
                if (i >= walked)
                    continue; // beyond an unacceptable descriptor: left as found
                field.setDisplacement(static_cast<std::uint16_t>(displacement));
                if (type == 0xF5)
                    std::fill(field.bytes.begin() + 24, field.bytes.end(), 0);
                displacement += fieldLength(field);
            }
        }
        return true;
    }

    // The header at offset 0 is sound but one of its descriptors is lost.
    bool repairDescriptor() {
        TableHeader header;
        std::memcpy(header.bytes.data(), reader.view(0, tableHeaderSize), tableHeaderSize);
        RepairedDescriptors repaired = repairLostDescriptor(sampler, header);
        if (repaired.fields.empty())
            return false;
        job.header = header;
        job.fields = std::move(repaired.fields);
        job.fieldCount = static_cast<std::int32_t>(job.fields.size());
        result.repairedDescriptors = std::move(repaired.repaired);
        return true;
    }

    // The first 32 bytes are damaged but the descriptors seem to follow them.
    bool descriptorsBehindDamagedHeader() {
        const std::uint8_t *d = reader.view(tableHeaderSize, fieldDescriptorSize);
        return isAcceptedFieldType(d) && d[16] != 0;
    }

    // Rebuilds header and field list from the descriptors found anywhere in the file. True
    // when the list ends at a terminator and describes the records after it; the job then
    // holds it.
    bool rebuild() {
        std::vector<FieldDescriptor> candidates;
        std::size_t candidateCount = 0;
        bool terminated = false;
        std::uint64_t offset = 0;
        for (; offset < fileSize(); offset += fieldDescriptorSize) {
            const std::uint8_t *block = reader.view(offset, fieldDescriptorSize);
            // Names in a national code page (UTF-8, cp1251) start with bytes above 0x7F.
            if (block[0] > 0x20 && isAcceptedFieldType(block)) {
                // A list too long for the 16-bit header fields cannot be written back
                // faithfully, whatever follows it.
                if (++candidateCount > rebuiltFieldLimit)
                    return false;
                FieldDescriptor field;
                std::memcpy(field.bytes.data(), block, fieldDescriptorSize);
                candidates.push_back(field);
            } else if (block[0] == headerTerminator && candidateCount > 0) {
                terminated = true;
                break;
            }
        }
        if (!terminated)
            return false;
        std::uint8_t inferred = 0x03;
        std::uint32_t recordLength = 1;
        for (FieldDescriptor &field : candidates) {
            inferTypeOnRebuildPath(field.bytes.data(), inferred);
            field.setDisplacement(static_cast<std::uint16_t>(recordLength));
            recordLength += fieldLength(field);
        }
        if (recordLength > 0xFFFF)
            return false;
        if (inferred == 0x03)
            inferred = memoTableType(candidates);
        bool visualFoxPro = isVisualFoxProType(inferred);
        std::uint64_t dataStart = offset + 1;
        std::uint64_t afterBacklink = offset + 1 + backlinkSize;
        if (visualFoxPro) {
            if (hasBacklink(offset + 1))
                dataStart = afterBacklink;
        } else if (inferred == 0x03 && afterBacklink <= fileSize() && hasBacklink(offset + 1)) {
            // Fields that only dBASE has too: the backlink area tells a Visual FoxPro table,
            // and its records must start behind it.
            FlagSample behind = sampleFlags(sampler, afterBacklink, recordLength);
            FlagSample plain = sampleFlags(sampler, offset + 1, recordLength);
            if (behind.passes() && (!plain.passes() || behind.good >= plain.good)) {
                inferred = 0x30;
                visualFoxPro = true;
                dataStart = afterBacklink;
            }
        }
        // Some writers leave a byte or a few between the terminator and the first record: take
        // the start whose flags look best. Misplaced by one byte, the flags read the last byte
        // of each record, often a blank too, so the first good start is not enough.
        std::optional<std::uint64_t> shift;
        int best = 0;
        for (std::uint64_t gap = 0; gap <= (visualFoxPro ? 0 : terminatorGapLimit); ++gap) {
            FlagSample sample = sampleFlags(sampler, dataStart + gap, recordLength);
            int score = sample.good - 3 * sample.bad;
            if (sample.passes() && (!shift || score > best)) {
                shift = gap;
                best = score;
            }
        }
        if (!shift)
            return false;
        std::uint64_t headerLength =
            32 * static_cast<std::uint64_t>(candidateCount) + (visualFoxPro ? 296 : 33);
        if (headerLength > 0xFFFF)
            return false;

        result.relocated = true;
        result.headerOffset = offset;
        inferredType = inferred;
        job.header = TableHeader{};
        job.fields = std::move(candidates);
        job.fieldCount = static_cast<std::int32_t>(job.fields.size());
        job.header.setRecordLength(static_cast<std::uint16_t>(recordLength));
        job.header.setHeaderLength(static_cast<std::uint16_t>(headerLength));
        auto available = static_cast<std::int64_t>(fileSize()) - static_cast<std::int64_t>(offset) -
                         (visualFoxPro ? 264 : 1) - static_cast<std::int64_t>(*shift);
        job.header.setRecordCount(clampCount(available / recordLength));
        job.dataStart = dataStart + *shift;
        job.header.setType(inferred);
        keepCodePage(offset - 32 * static_cast<std::uint64_t>(candidateCount));
        return true;
    }

    // Readers need the code page mark for text beyond ASCII: keep the old header's when it
    // survived in front of the descriptors.
    void keepCodePage(std::uint64_t descriptorsStart) {
        std::uint8_t mark = 0;
        if (descriptorsStart >= tableHeaderSize && descriptorsStart <= fileSize())
            mark = reader.view(descriptorsStart - tableHeaderSize, tableHeaderSize)[29];
        job.header.setCodePage(mark);
        result.codePageLost = mark == 0;
    }

    // The field types alone call a table with memo fields dBASE III without a memo file, which
    // would leave its memos behind, and miss Visual FoxPro tables that have only memo fields
    // besides their character ones. Look at the memo fields and at the memo file beside it.
    std::uint8_t memoTableType(const std::vector<FieldDescriptor> &fields) {
        bool memoFields = false;
        for (const FieldDescriptor &field : fields) {
            char type = field.type();
            bool memoField = type == 'M' || type == 'G' || type == 'P' || type == 'W';
            bool nullFlags =
                field.name().size() == 10 && findNoCase(field.name(), "_NULLFLAGS") == 0;
            if ((memoField && fieldLength(field) == 4) || nullFlags)
                return 0x30;
            memoFields |= memoField;
        }
        if (!memoFields)
            return 0x03;
        auto memoBeside = [this](std::uint8_t type) {
            std::string path = memoPathFor(job.sourcePath, {type, 0, job.sourcePath}, type);
            return os->getAttributes(findBesideNoCase(*os, path)).has_value();
        };
        if (memoBeside(0x83)) {
            // A dBASE IV memo file names its table in its header.
            MemoTableInfo table{0x83, 0, job.sourcePath};
            auto memo = openMemo(*os, job.sourcePath, 0x83, false, false, table);
            return memo->kind == 0x8B ? 0x8B : 0x83;
        }
        for (std::uint8_t type : {0xF5, 0xE5})
            if (memoBeside(type))
                return type;
        return 0x83;
    }

    bool hasBacklink(std::uint64_t offset) {
        std::array<char, backlinkSize> text{};
        std::memcpy(text.data(), reader.view(offset, backlinkSize), backlinkSize);
        text.back() = '\0';
        int sum = 0;
        for (char c : text)
            sum += static_cast<signed char>(c);
        return containsNoCase(text.data(), ".dbc") || sum == 0;
    }

    void finish() {
        TableHeader &header = job.header;
        if (header.type() == 0)
            header.setType(inferredType);
        auto size = static_cast<std::int64_t>(fileSize());
        auto offset = static_cast<std::int64_t>(result.headerOffset);
        std::int64_t records = (size - offset - header.headerLength()) / header.recordLength();
        result.storedRecordCount = header.recordCount();
        if (!result.relocated)
            header.setRecordCount(clampCount(records));
        // A rebuilt header keeps the length of the rebuilt list: that is what the run writes,
        // and a length taken from the file size would not describe the output.
        // The header then ends where the end marker stands. A file that ends without one keeps
        // its header whole: taking one byte off would cut the terminator, one more at each repair.
        if (header.recordCount() == 0 && !result.relocated) {
            std::int64_t rest = size - offset - 1;
            if (size > 0 &&
                reader.view(static_cast<std::uint64_t>(size - 1), 1)[0] != endOfFileMarker)
                rest = std::min<std::int64_t>(header.headerLength(), size - offset);
            header.setHeaderLength(static_cast<std::uint16_t>(rest & 0xFFFF));
        }
        prepareRecordBuffer(job);
    }

    std::vector<FieldDescriptor> level7Fields;
    DescriptorChains chains;
    Level7Chains level7Chains;
    // Record samples lie anywhere in the file: a reader of their own keeps the search's view.
    WindowReader sampler;
};

} // namespace

std::vector<FieldDescriptor> convertLevel7Descriptors(WindowReader &reader, std::uint64_t offset,
                                                      std::uint16_t headerLength) {
    std::uint32_t maximum = (static_cast<std::uint32_t>(headerLength) - level7HeaderSize) /
                            static_cast<std::uint32_t>(level7DescriptorSize);
    std::uint64_t position = offset + (level7HeaderSize - tableHeaderSize);
    std::vector<FieldDescriptor> fields;
    // Descriptors of length 0 do not count towards the limits; cap the reads as well, so that
    // a hostile run of them cannot make every candidate scan the rest of the file.
    for (std::size_t reads = 0; reads < level7ReadLimit; ++reads) {
        const std::uint8_t *d = reader.view(position, level7DescriptorSize);
        position += level7DescriptorSize;
        if (d[0] == headerTerminator)
            break;
        std::array<std::uint8_t, fieldDescriptorSize> probe{};
        std::memcpy(probe.data(), d, 11);
        probe[11] = d[32];
        if (!isAcceptedFieldType(probe.data()))
            return {};
        if (d[33] != 0) {
            FieldDescriptor field;
            std::memcpy(field.bytes.data(), d, 10);
            field.bytes[11] = d[32];
            field.bytes[16] = d[33];
            field.bytes[17] = d[34];
            fields.push_back(field);
        }
        if (fields.size() >= level7ReadLimit || fields.size() >= maximum)
            break;
    }
    return fields;
}

namespace {

// The template's records must lie where its header says, with deletion flags at its period.
AnalysisResult fitTemplate(RecoveryJob &job, AnalysisResult &result,
                           const TableTemplate &tableTemplate) {
    result.opened = true;
    platform::ErrorCode sizeError = 0;
    job.sourceSize = job.source->size(&sizeError).value_or(0);
    const std::uint64_t headerLength = tableTemplate.header.headerLength();
    const std::uint32_t recordLength = tableTemplate.header.recordLength();
    WindowReader sampler(*job.source, job.sourceSize, 4096);
    if (job.sourceSize < headerLength + recordLength) {
        result.templateMisfit =
            formatText("the template does not fit: %s holds no record of %d bytes after byte %d",
                       job.sourcePath, static_cast<std::int64_t>(recordLength),
                       static_cast<std::int64_t>(headerLength));
        return result;
    }
    if (!sampleFlags(sampler, headerLength, recordLength).passes()) {
        result.templateMisfit = formatText(
            "the template does not fit: records of %d bytes from byte %d of %s do not start "
            "with deletion flags",
            static_cast<std::int64_t>(recordLength), static_cast<std::int64_t>(headerLength),
            job.sourcePath);
        return result;
    }
    job.header = tableTemplate.header;
    job.fields = tableTemplate.fields;
    job.fieldCount = tableTemplate.fieldCount;
    // Records zeroed along with the header hold no data: the walk starts behind them.
    std::uint64_t start = headerLength;
    auto zeroed = [&](std::uint64_t at) {
        const std::uint8_t *record = sampler.view(at, recordLength);
        return std::all_of(record, record + recordLength, [](std::uint8_t b) { return b == 0; });
    };
    while (start + recordLength <= job.sourceSize && zeroed(start))
        start += recordLength;
    if (start != headerLength) {
        result.relocated = true;
        job.dataStart = start;
    }
    const auto records =
        std::min<std::uint64_t>((job.sourceSize - start) / recordLength, 0xFFFFFFFF);
    job.header.setRecordCount(static_cast<std::uint32_t>(records));
    result.storedRecordCount = job.header.recordCount();
    result.headerOffset = 0;
    result.templateArea = tableTemplate.headerArea;
    prepareRecordBuffer(job);
    return result;
}

// A check must neither lock the table nor leave a trace in the open flags of later runs.
bool openReadOnly(platform::Platform &os, RecoveryJob &job, AnalysisResult &result) {
    platform::OpenResult opened =
        os.openFile(job.sourcePath, {platform::Access::Read, platform::Share::ReadWrite,
                                     platform::Disposition::OpenExisting, true});
    result.openError = opened.error;
    job.source = std::move(opened.file);
    return job.source != nullptr;
}

// What the analysis could not read before `headerEnd`, where the header was looked for.
void noteUnreadableHeader(AnalysisResult &result,
                          std::initializer_list<const WindowReader *> readers,
                          std::uint64_t headerEnd) {
    for (const WindowReader *reader : readers)
        for (const UnreadableRanges::Range &range : reader->unreadable())
            if (range.start < headerEnd)
                result.unreadableHeader.add(range.start, range.end);
}

// Finds or rebuilds the structure of the opened source, or takes the template's.
AnalysisResult searchStructure(platform::Platform &os, RecoveryJob &job, AnalysisResult &result,
                               const TableTemplate *tableTemplate) {
    if (tableTemplate)
        return fitTemplate(job, result, *tableTemplate);
    result.opened = true;
    result.openError = 0;

    platform::ErrorCode sizeError = 0;
    job.sourceSize = job.source->size(&sizeError).value_or(0);
    // The descriptor chains look up to one list length behind the furthest offset read, the
    // scan much further.
    WindowReader reader(*job.source, job.sourceSize, 4u << 20, headerScanLookBack);
    Search search(os, job, reader, result);

    bool found = false;
    bool rebuildFailed = false;
    // One candidate after the other from `from` on, each as the byte-by-byte search takes it.
    auto searchFrom = [&](std::uint64_t from) {
        for (std::uint64_t k = from; k < job.sourceSize; ++k) {
            if (search.tryCandidate(k)) {
                result.headerOffset = k;
                return true;
            }
        }
        return false;
    };
    if (search.tryCandidate(0)) {
        found = true;
    } else if (search.repairDescriptor()) {
        found = true;
    } else if (search.descriptorsBehindDamagedHeader()) {
        // Descriptors in place behind a damaged header; a list that describes no records
        // leaves the search to go on.
        found = search.rebuild();
        rebuildFailed = !found;
    }
    if (!found && job.sourceSize > 1) {
        std::optional<HeaderScanHit> hit =
            scanForHeader(reader, search.sampler, 1, search.acceptance);
        if (hit && reader.view(hit->offset, 1)[0] == 0) {
            // The header leaves its type to be inferred from the descriptors of every
            // candidate on the way: those walks are taken again.
            found = searchFrom(1);
        } else if (hit) {
            search.acceptance = hit->acceptanceBefore;
            found = searchFrom(hit->offset);
        }
    }
    if (!found && (rebuildFailed || !search.rebuild()) && !inferTable(os, job, reader, result)) {
        result.abort = true;
        noteUnreadableHeader(result, {&reader, &search.sampler}, UINT64_MAX);
        return result;
    }
    noteUnreadableHeader(result, {&reader, &search.sampler},
                         result.relocated ? job.dataStart
                                          : result.headerOffset + job.header.headerLength());
    search.finish();
    return result;
}

} // namespace

AnalysisResult analyseStructure(EngineContext &context, RecoveryJob &job, SourceAccess mode,
                                const TableTemplate *tableTemplate) {
    AnalysisResult result;
    platform::Platform &os = context.os;
    if (mode == SourceAccess::ReadOnly) {
        if (!openReadOnly(os, job, result))
            return result;
        return searchStructure(os, job, result, tableTemplate);
    }

    std::uint32_t savedFlags = context.globalFlags;
    auto attributes = os.getAttributes(job.sourcePath);
    // A file whose attributes cannot be read is treated as read-only, as Windows does.
    bool readOnly = !attributes || attributes->readOnly;
    if (mode == SourceAccess::Exclusive) {
        if (readOnly)
            context.globalFlags |= globalFlagReadOnlySeen;
        job.openFlags = context.globalFlags & ~globalFlagOpenShared;
        platform::OpenResult opened = os.openFile(
            job.sourcePath, {readOnly ? platform::Access::Read : platform::Access::ReadWrite,
                             platform::Share::None, platform::Disposition::OpenExisting, true});
        if (!opened) {
            context.globalFlags = savedFlags;
            result.openError = opened.error;
            return result;
        }
        job.source = std::move(opened.file);
        return searchStructure(os, job, result, tableTemplate);
    }
    platform::Access access = platform::Access::ReadWrite;
    if (readOnly) {
        access = platform::Access::Read;
        context.globalFlags |= globalFlagReadOnlySeen;
    }
    platform::ErrorCode lastError = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        platform::Share share = (context.globalFlags & globalFlagOpenShared)
                                    ? platform::Share::ReadWrite
                                    : platform::Share::None;
        job.openFlags = context.globalFlags;
        platform::OpenResult opened =
            os.openFile(job.sourcePath, {access, share, platform::Disposition::OpenExisting, true});
        if (!opened) {
            context.globalFlags |= globalFlagOpenShared;
            lastError = opened.error;
        }
        if (attempt == 2) {
            context.globalFlags |= globalFlagReadOnlySeen;
            access = platform::Access::Read;
        }
        if (opened) {
            job.source = std::move(opened.file);
            break;
        }
    }
    if (!job.source) {
        context.globalFlags = savedFlags;
        result.openError = lastError;
        return result;
    }
    return searchStructure(os, job, result, tableTemplate);
}

void closeSource(RecoveryJob &job) {
    job.source.reset();
}

} // namespace salvora
