// Finds a table header that can be trusted, or rebuilds one from the field descriptors found
// in the file, and fixes the field list and the record geometry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/bufferedio.h"
#include "engine/enginecontext.h"
#include "engine/recoveryjob.h"

namespace salvora {

struct AnalysisResult {
    // False only when the source could not be opened; `openError` then says why.
    bool opened = false;
    platform::ErrorCode openError = 0;
    // Where the accepted header starts, or the offset of the terminator after a rebuild.
    std::uint64_t headerOffset = 0;
    // Neither a header nor a terminated descriptor list was found.
    bool abort = false;
    // Header and descriptors were rebuilt; records start at the job's data start.
    bool relocated = false;
    // With `relocated`: nothing of the header was left, and the layout was read off the records.
    bool inferred = false;
    // A rebuilt header found no code page mark of the old one to keep.
    bool codePageLost = false;
    // Descriptors of the accepted header that were lost and rebuilt (their indexes).
    std::vector<std::uint32_t> repairedDescriptors;
    // The record count the accepted header held before it was set from the file's size.
    std::uint32_t storedRecordCount = 0;
    // Header and descriptors taken from a template: its header area, written as it is.
    std::vector<std::uint8_t> templateArea;
    // Why the template does not fit the source; the run stops then.
    std::string templateMisfit;
    // Bytes up to the first record (anywhere, when nothing was found) that could not be read:
    // the header found, rebuilt or missed there cannot be trusted.
    UnreadableRanges unreadableHeader;
};

// A sound table of the same structure whose header and descriptors stand in for the source's.
struct TableTemplate {
    std::string path;
    TableHeader header;
    std::vector<FieldDescriptor> fields;
    std::int32_t fieldCount = 0;
    std::vector<std::uint8_t> headerArea;
};

enum class SourceAccess {
    // Exclusive read-write first, then shared, then shared read-only; remembered process-wide.
    Repair,
    // Read-only and shared from the start, leaving the process-wide open flags alone.
    ReadOnly,
    // Held by us alone, read-write unless the file is read-only, or not at all: for a run
    // that replaces the source. Never shared, whatever earlier sources needed.
    Exclusive,
};

// Opens `job.sourcePath` and fills the job. Reads the source only.
// With `tableTemplate` the source is not searched: the template's layout must fit its records.
AnalysisResult analyseStructure(EngineContext &context, RecoveryJob &job,
                                SourceAccess access = SourceAccess::Repair,
                                const TableTemplate *tableTemplate = nullptr);

// Converts the 48-byte descriptors of a level 7 table, read from `offset` (just after the
// 32-byte header). Empty when a descriptor is not acceptable.
std::vector<FieldDescriptor> convertLevel7Descriptors(WindowReader &reader, std::uint64_t offset,
                                                      std::uint16_t headerLength);

void closeSource(RecoveryJob &job);

} // namespace salvora
