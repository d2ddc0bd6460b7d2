#include "tests/support/corpusmodel.h"

#include <algorithm>
#include <stdexcept>

#include "tests/support/memobuilder.h"

namespace salvora::testing {

namespace {

bool isVisualFoxPro(std::uint8_t type) {
    return type == 0x30 || type == 0x31 || type == 0x32;
}

bool isLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::int32_t daysBefore(int fromYear, int year, int month, int day) {
    static constexpr int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::int32_t days = 0;
    for (int y = fromYear; y < year; ++y)
        days += isLeap(y) ? 366 : 365;
    for (int m = 1; m < month; ++m)
        days += monthDays[m - 1] + (m == 2 && isLeap(year) ? 1 : 0);
    return days + day - 1;
}

// Level 7 tables: 68-byte header and 48-byte descriptors.
Bytes level7Header(const TableModel &model) {
    Bytes bytes(68, 0);
    bytes[0] = model.type;
    bytes[1] = model.year;
    bytes[2] = model.month;
    bytes[3] = model.day;
    std::uint32_t count = model.storedCount.value_or(static_cast<std::uint32_t>(model.rows.size()));
    for (int i = 0; i < 4; ++i)
        bytes[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (8 * i));
    std::uint16_t headerLength = model.headerLength();
    bytes[8] = static_cast<std::uint8_t>(headerLength);
    bytes[9] = static_cast<std::uint8_t>(headerLength >> 8);
    std::uint16_t recordLength = model.recordLength();
    bytes[10] = static_cast<std::uint8_t>(recordLength);
    bytes[11] = static_cast<std::uint8_t>(recordLength >> 8);
    bytes[28] = model.flags;
    for (const FieldSpec &f : model.fields) {
        Bytes d(48, 0);
        std::copy_n(f.name.begin(), std::min<std::size_t>(f.name.size(), 32), d.begin());
        d[32] = static_cast<std::uint8_t>(f.type);
        d[33] = static_cast<std::uint8_t>(f.length);
        d[34] = f.decimals;
        bytes.insert(bytes.end(), d.begin(), d.end());
    }
    bytes.push_back(0x0D);
    return bytes;
}

BuiltMemo buildMemo(const TableModel &model) {
    std::vector<std::string> texts;
    for (const ModelMemo &m : model.memos)
        texts.emplace_back(m.data.begin(), m.data.end());
    switch (model.memo) {
    case MemoLayout::FoxPro: {
        std::vector<FoxProMemo> memos;
        for (const ModelMemo &m : model.memos)
            memos.push_back({m.type, m.data});
        return foxProMemoFile(model.memoBlockSize, memos);
    }
    case MemoLayout::DBase3:
        return dBase3MemoFile(texts);
    case MemoLayout::DBase4:
        return dBase4MemoFile("t", model.memoBlockSize, texts);
    case MemoLayout::Smt:
        return smtMemoFile(model.memoBlockSize, texts);
    case MemoLayout::None:
        break;
    }
    return {};
}

} // namespace

std::uint16_t TableModel::recordLength() const {
    std::uint32_t length = 1;
    for (const FieldSpec &f : fields)
        length += f.length;
    return static_cast<std::uint16_t>(length);
}

std::uint16_t TableModel::headerLength() const {
    if (level7())
        return static_cast<std::uint16_t>(68 + 48 * fields.size() + 1);
    return static_cast<std::uint16_t>(32 * fields.size() + (isVisualFoxPro(type) ? 296 : 33));
}

Bytes le32Bytes(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

Bytes memoReferenceBytes(std::uint32_t block, std::uint16_t length) {
    if (length == 4)
        return le32Bytes(block);
    Bytes text = block == 0 ? Bytes(10, ' ') : bytesOf(memoReference(block));
    text.resize(length, ' ');
    return text;
}

Bytes recordBytes(const TableModel &model, const ModelRow &row,
                  const std::vector<std::uint32_t> &blocks) {
    if (row.cells.size() != model.fields.size())
        throw std::logic_error("a row needs one cell per field");
    Bytes bytes{row.flag};
    for (std::size_t i = 0; i < row.cells.size(); ++i) {
        const ModelCell &cell = row.cells[i];
        std::uint16_t length = model.fields[i].length;
        Bytes value =
            cell.memo >= 0
                ? memoReferenceBytes(blocks.at(static_cast<std::size_t>(cell.memo)), length)
                : cell.raw;
        if (value.size() != length)
            throw std::logic_error("cell of field " + model.fields[i].name + " has wrong length");
        bytes.insert(bytes.end(), value.begin(), value.end());
    }
    return bytes;
}

BuiltModel buildModel(const TableModel &model) {
    BuiltModel built;
    BuiltMemo memo = buildMemo(model);
    built.memo = memo.file;
    built.blocks = memo.blocks;

    Bytes records;
    for (const ModelRow &row : model.rows) {
        Bytes r = recordBytes(model, row, built.blocks);
        records.insert(records.end(), r.begin(), r.end());
    }
    if (model.level7()) {
        built.table = level7Header(model);
    } else {
        TableBuilder t(model.type);
        for (const FieldSpec &f : model.fields)
            t.field(f.name, f.type, f.length, f.decimals, f.flags);
        t.date(model.year, model.month, model.day).tableFlags(model.flags);
        t.recordCount(model.storedCount.value_or(static_cast<std::uint32_t>(model.rows.size())));
        if (isVisualFoxPro(model.type))
            t.backlink(model.backlink);
        built.table = t.header();
    }
    built.table.insert(built.table.end(), records.begin(), records.end());
    if (model.endMarker)
        built.table.push_back(0x1A);
    return built;
}

std::int32_t julianDay(int year, int month, int day) {
    // 1 January 1900 is day 2415021.
    return 2415021 + daysBefore(1900, year, month, day);
}

std::int32_t level7Day(int year, int month, int day) {
    return daysBefore(1713, year, month, day);
}

} // namespace salvora::testing
