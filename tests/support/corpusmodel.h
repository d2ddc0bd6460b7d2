// A table with its memo file described as values (fields, rows, memos) rather than bytes, so
// that a damaged input and the repair expected of it can both be built from one description.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/tablebuilder.h"

namespace salvora::testing {

enum class MemoLayout { None, DBase3, DBase4, FoxPro, Smt };

struct ModelMemo {
    std::uint32_t type = 1; // FoxPro block type: 1 text, 0 picture
    Bytes data;
};

// One field value. With `memo` >= 0 the value is a reference to that memo, written when the
// table is built; otherwise `raw` is the field's bytes.
struct ModelCell {
    Bytes raw;
    int memo = -1;
};

struct ModelRow {
    std::uint8_t flag = ' ';
    std::vector<ModelCell> cells;
};

struct TableModel {
    std::uint8_t type = 0x03;
    std::vector<FieldSpec> fields;
    std::uint8_t flags = 0;
    std::uint8_t year = 124, month = 5, day = 7;
    std::string backlink;
    std::vector<ModelRow> rows;
    MemoLayout memo = MemoLayout::None;
    std::uint16_t memoBlockSize = 512;
    std::vector<ModelMemo> memos;
    std::optional<std::uint32_t> storedCount;
    bool endMarker = true;

    bool level7() const { return (type & 7) == 4; }
    std::uint16_t recordLength() const;
    std::uint16_t headerLength() const;
};

struct BuiltModel {
    Bytes table;
    Bytes memo; // empty when the model has no memo layout
    std::vector<std::uint32_t> blocks;
};

BuiltModel buildModel(const TableModel &model);

// The bytes of one record as `buildModel` writes it, with memo references from `blocks`.
Bytes recordBytes(const TableModel &model, const ModelRow &row,
                  const std::vector<std::uint32_t> &blocks);

// The reference bytes for `block` in a memo field of `length` bytes.
Bytes memoReferenceBytes(std::uint32_t block, std::uint16_t length);

// Day numbers that the date-time test of a table accepts, counted the way the table counts.
std::int32_t julianDay(int year, int month, int day);
std::int32_t level7Day(int year, int month, int day);

Bytes le32Bytes(std::uint32_t v);

} // namespace salvora::testing
