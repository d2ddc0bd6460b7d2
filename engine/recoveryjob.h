// Everything one recovery run knows about its table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/memofile.h"
#include "engine/tableformat.h"
#include "platform/platform.h"

namespace salvora {

struct RecoveryJob {
    std::string sourcePath;
    // The name the memo file's name is derived from.
    std::string memoName;
    std::uint32_t openFlags = 0;
    std::unique_ptr<platform::FileHandle> source;
    std::uint64_t sourceSize = 0;

    TableHeader header;
    std::vector<FieldDescriptor> fields;
    // Usually fields.size(); larger when a header is accepted with descriptors the walk did
    // not reach, never negative.
    std::int32_t fieldCount = 0;
    // Offset of record 0 when the header was rebuilt.
    std::uint64_t dataStart = 0;
    std::int32_t alignedRecordLength = 0;
    std::int32_t alignedRecordWords = 0;
    std::vector<std::uint8_t> recordBuffer;
    // The table's own memo file, when it has one.
    std::unique_ptr<MemoFile> sourceMemo;
};

} // namespace salvora
