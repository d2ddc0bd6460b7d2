// Builds memo files byte by byte: FoxPro (.fpt), dBASE III and IV (.dbt) and SMT.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/tablebuilder.h"

namespace salvora::testing {

struct BuiltMemo {
    Bytes file;
    std::vector<std::uint32_t> blocks; // block number of each memo, in order
};

struct FoxProMemo {
    std::uint32_t type = 1; // 1 text, 0 picture
    Bytes data;
};

BuiltMemo foxProMemoFile(std::uint16_t blockSize, const std::vector<FoxProMemo> &memos);
BuiltMemo dBase3MemoFile(const std::vector<std::string> &texts);
BuiltMemo dBase4MemoFile(const std::string &tableName, std::uint16_t blockSize,
                         const std::vector<std::string> &texts);
BuiltMemo smtMemoFile(std::uint16_t blockSize, const std::vector<std::string> &texts);

// A 10-character memo reference as dBASE writes it.
std::string memoReference(std::uint32_t block);

} // namespace salvora::testing
