#include "engine/inferredtable.h"

#include <algorithm>
#include <memory>

#include "engine/bufferedio.h"
#include "engine/layoutinference.h"
#include "engine/memofile.h"
#include "engine/recordgrid.h"

namespace salvora {

namespace {

constexpr std::size_t fieldLimit = (0xFFFF - 33 - backlinkSize) / fieldDescriptorSize;

// The memo file beside the table, read as the kind its name says.
std::unique_ptr<MemoFile> memoBeside(platform::Platform &os, const std::string &table,
                                     std::uint8_t type) {
    MemoTableInfo info{type, 0, table};
    if (!os.getAttributes(findBesideNoCase(os, memoPathFor(table, info, type))).has_value())
        return nullptr;
    std::unique_ptr<MemoFile> memo = openMemo(os, table, type, false, false, info);
    return memo->isOpen() ? std::move(memo) : nullptr;
}

} // namespace

bool inferTable(platform::Platform &os, RecoveryJob &job, WindowReader &reader,
                AnalysisResult &result) {
    std::optional<RecordGrid> grid = findRecordGrid(reader);
    if (!grid)
        return false;
    std::unique_ptr<MemoFile> foxPro = memoBeside(os, job.sourcePath, 0xF5);
    std::unique_ptr<MemoFile> dBase = foxPro ? nullptr : memoBeside(os, job.sourcePath, 0x83);
    MemoFile *memo = foxPro ? foxPro.get() : dBase.get();
    MemoTarget target;
    if (memo)
        target = [memo](std::uint32_t block) { return memoBlockLength(*memo, block) != 0; };
    InferredFields inferred = inferFields(reader, *grid, target);
    if (inferred.fields.empty() || inferred.fields.size() > fieldLimit)
        return false;

    std::uint8_t type = 0x03;
    if (inferred.binaryMemoReferences)
        type = 0x30;
    else if (inferred.textMemoReferences)
        type = foxPro ? 0xF5 : (dBase->kind == 0x8B ? 0x8B : 0x83);
    const std::size_t headerLength = tableHeaderSize +
                                     inferred.fields.size() * fieldDescriptorSize + 1 +
                                     (isVisualFoxProType(type) ? backlinkSize : 0);
    job.header = TableHeader{};
    job.header.setType(type);
    job.header.setHeaderLength(static_cast<std::uint16_t>(headerLength));
    job.header.setRecordLength(static_cast<std::uint16_t>(grid->recordLength));
    job.header.setRecordCount(static_cast<std::uint32_t>(
        std::min<std::uint64_t>((grid->end - grid->firstRecord) / grid->recordLength, 0xFFFFFFFF)));
    job.fields = std::move(inferred.fields);
    job.fieldCount = static_cast<std::int32_t>(job.fields.size());
    job.dataStart = grid->firstRecord;
    result.relocated = true;
    result.inferred = true;
    result.codePageLost = true;
    result.headerOffset = 0;
    return true;
}

} // namespace salvora
