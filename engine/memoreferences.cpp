#include "engine/memoreferences.h"

#include <algorithm>

#include "engine/bufferedio.h"
#include "engine/memotransfer.h"
#include "engine/tableformat.h"

namespace salvora {

namespace {

void gatherReferences(RecoveryJob &job, const RecordArea &area) {
    MemoFile *memo = job.sourceMemo.get();
    std::vector<const FieldDescriptor *> memoFields;
    for (const FieldDescriptor &field : job.fields)
        if (isMemoBearingField(field.type()))
            memoFields.push_back(&field);
    if (memoFields.empty())
        return;
    WindowReader reader(*job.source, job.sourceSize);
    std::vector<std::uint32_t> &blocks = memo->referencedBlocks;
    blocks.clear();
    for (std::uint32_t i = 0; i < area.records; ++i) {
        std::uint64_t at = area.base + static_cast<std::uint64_t>(i) * area.recordLength;
        if (at >= job.sourceSize)
            break;
        std::span<const std::uint8_t> record(reader.view(at, area.recordLength), area.recordLength);
        for (const FieldDescriptor *field : memoFields)
            if (std::uint32_t block = getMemoBlockNumber(record, *field); block != 0)
                blocks.push_back(block);
    }
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
}

} // namespace

void collectMemoReferences(RecoveryJob &job, const RecordArea &area) {
    MemoFile *memo = job.sourceMemo.get();
    if (!memo || !memo->isOpen() || !job.source || area.recordLength == 0 || memo->kind == 0xE5)
        return;
    if (isFoxProMemoKind(memo->table) || memo->kind == 0x8B || isLevel7Type(memo->kind)) {
        // Only a memo found away from its block needs them: a sound file pays nothing.
        memo->collectReferences = [&job, area] { gatherReferences(job, area); };
        return;
    }
    gatherReferences(job, area);
}

} // namespace salvora
