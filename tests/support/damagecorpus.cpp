#include "tests/support/damagecorpus.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>

namespace salvora::testing {

namespace {

constexpr int clockYear = 2031;
constexpr int clockMonth = 2;
constexpr int clockDay = 3;

bool isVisualFoxPro(std::uint8_t type) {
    return type == 0x30 || type == 0x31 || type == 0x32;
}

bool isMemoField(char type) {
    return type == 'M' || type == 'G' || type == 'P' || type == 'W';
}

// Which tables have a memo file, as the table format describes it.
bool hasMemoFile(std::uint8_t type, std::uint8_t flags) {
    if (isVisualFoxPro(type) && (flags & 0x02) != 0)
        return true;
    return type == 0x8C || type == 0xF5 || type == 0x8B || type == 0x83 || (type & 0x88) != 0;
}

struct Kind {
    std::string tag;
    TableModel sound;
    // Type of the header rebuilt from the descriptors; 0 when a zeroed header cannot be
    // rebuilt (level 7 descriptors are 48 bytes long and never line up as 32-byte ones).
    std::uint8_t rebuiltType = 0;
    std::string memoExtension;
};

const std::string rowNames[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot"};

std::string longText() {
    std::string text;
    while (text.size() < 700)
        text += "lorem ipsum dolor sit amet ";
    text.resize(700);
    return text;
}

std::string shortText(int row) {
    return "note for row " + std::to_string(row);
}

Bytes padded(std::string text, std::size_t length) {
    text.resize(length, ' ');
    return bytesOf(text);
}

Bytes rightAligned(const std::string &text, std::size_t length) {
    std::string out(length > text.size() ? length - text.size() : 0, ' ');
    out += text;
    out.resize(length, ' ');
    return bytesOf(out);
}

Bytes numberText(double value, int width, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%*.*f", width, decimals, value);
    return rightAligned(text, static_cast<std::size_t>(width));
}

Bytes le64Bytes(std::uint64_t v) {
    Bytes b(8);
    for (int i = 0; i < 8; ++i)
        b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
}

Bytes dateTimeValue(int row, bool level7) {
    std::int32_t day = level7 ? level7Day(2024, 5, 10 + row) : julianDay(2024, 5, 10 + row);
    Bytes b = le32Bytes(static_cast<std::uint32_t>(day));
    Bytes ms = le32Bytes(static_cast<std::uint32_t>(3600000 * (row + 1)));
    b.insert(b.end(), ms.begin(), ms.end());
    return b;
}

Bytes valueFor(const FieldSpec &f, int row, bool level7) {
    switch (f.type) {
    case 'C':
    case 'V':
        return padded(rowNames[row], f.length);
    case 'N':
    case 'F':
        return numberText(12.25 * (row + 1), f.length, f.decimals);
    case 'D':
        return bytesOf("202405" + std::to_string(10 + row));
    case 'L':
        return bytesOf(row % 2 ? "F" : "T");
    case 'T':
        return dateTimeValue(row, level7);
    case 'I':
        return le32Bytes(static_cast<std::uint32_t>(row + 1));
    case 'Y':
        return le64Bytes(static_cast<std::uint64_t>(row + 1) * 12345);
    default:
        return Bytes(f.length, 0);
    }
}

const Bytes pictureData = {0x00, 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x42};

// Four rows; rows 0 to 2 have their own memo in each M field (row 1 a long one), row 3 none;
// a G field has a picture in row 0 only.
TableModel soundModel(std::uint8_t type, std::vector<FieldSpec> fields, MemoLayout layout,
                      std::uint16_t blockSize, std::uint8_t flags) {
    TableModel m;
    m.type = type;
    m.fields = std::move(fields);
    m.memo = layout;
    m.memoBlockSize = blockSize;
    m.flags = flags;
    for (int r = 0; r < 4; ++r) {
        ModelRow row;
        for (const FieldSpec &f : m.fields) {
            ModelCell cell;
            if (isMemoField(f.type)) {
                cell.raw = memoReferenceBytes(0, f.length);
                bool picture = f.type == 'G';
                if ((picture && r == 0) || (!picture && r < 3)) {
                    Bytes data =
                        picture ? pictureData : bytesOf(r == 1 ? longText() : shortText(r));
                    m.memos.push_back({picture ? 0u : 1u, data});
                    cell.memo = static_cast<int>(m.memos.size() - 1);
                }
            } else {
                cell.raw = valueFor(f, r, m.level7());
            }
            row.cells.push_back(cell);
        }
        m.rows.push_back(row);
    }
    return m;
}

std::vector<Kind> tableKinds() {
    auto field = [](std::string name, char type, std::uint16_t length, std::uint8_t decimals = 0,
                    std::uint8_t flags = 0) {
        return FieldSpec{std::move(name), type, length, decimals, flags};
    };
    std::vector<Kind> kinds;
    auto add = [&](std::string tag, TableModel model, std::uint8_t rebuilt, std::string ext) {
        kinds.push_back({std::move(tag), std::move(model), rebuilt, std::move(ext)});
    };
    const std::vector<FieldSpec> plain = {field("NAME", 'C', 10), field("QTY", 'N', 6, 1),
                                          field("DUE", 'D', 8), field("OK", 'L', 1)};
    const std::vector<FieldSpec> withMemo = {field("NAME", 'C', 10), field("QTY", 'N', 6),
                                             field("DUE", 'D', 8), field("OK", 'L', 1),
                                             field("NOTES", 'M', 10)};

    add("t02", soundModel(0x02, plain, MemoLayout::None, 512, 0), 0x03, "");
    add("t03",
        soundModel(0x03,
                   {field("NAME", 'C', 10), field("QTY", 'N', 8, 2), field("DUE", 'D', 8),
                    field("OK", 'L', 1), field("RATE", 'F', 10, 3)},
                   MemoLayout::None, 512, 0),
        0x03, "");
    // A character field longer than 255 bytes keeps the high byte of its length in the
    // decimal count.
    add("t43",
        soundModel(0x43, {field("TEXT", 'C', 300), field("QTY", 'N', 6), field("DUE", 'D', 8)},
                   MemoLayout::None, 512, 0),
        0x03, "");
    add("t83", soundModel(0x83, withMemo, MemoLayout::DBase3, 512, 0), 0x83, "dbt");
    add("t8b", soundModel(0x8B, withMemo, MemoLayout::DBase4, 512, 0), 0x8B, "dbt");
    add("tf5", soundModel(0xF5, withMemo, MemoLayout::FoxPro, 64, 0), 0xF5, "fpt");
    TableModel vfp = soundModel(0x30,
                                {field("NAME", 'C', 10), field("PRICE", 'Y', 8),
                                 field("STAMP", 'T', 8), field("QTY", 'N', 6, 2),
                                 field("OK", 'L', 1), field("NOTES", 'M', 4), field("PIC", 'G', 4)},
                                MemoLayout::FoxPro, 32, 0x03);
    vfp.backlink = "..\\data\\shop.dbc";
    add("t30", vfp, 0x30, "fpt");
    add("t31",
        soundModel(0x31,
                   {field("STAMP", 'T', 8), field("ID", 'I', 4, 0, 0x0C), field("NAME", 'C', 10),
                    field("NOTES", 'M', 4)},
                   MemoLayout::FoxPro, 64, 0x02),
        0x31, "fpt");
    add("t32",
        soundModel(0x32,
                   {field("STAMP", 'T', 8), field("NAME", 'V', 10), field("NOTES", 'M', 4),
                    field("_NULLFLAGS", '0', 1, 0, 0x05)},
                   MemoLayout::FoxPro, 64, 0x02),
        0x32, "fpt");
    add("t04",
        soundModel(0x04,
                   {field("NAME", 'C', 10), field("QTY", 'N', 6), field("DUE", 'D', 8),
                    field("OK", 'L', 1), field("STAMP", 'T', 8)},
                   MemoLayout::None, 512, 0),
        0, "");
    add("t8c",
        soundModel(0x8C,
                   {field("NAME", 'C', 10), field("QTY", 'N', 6), field("DUE", 'D', 8),
                    field("NOTES", 'M', 10), field("STAMP", 'T', 8)},
                   MemoLayout::DBase4, 512, 0),
        0, "dbt");
    add("te5",
        soundModel(0xE5, {field("NAME", 'C', 10), field("QTY", 'N', 6), field("NOTES", 'M', 10)},
                   MemoLayout::Smt, 512, 0),
        0xE5, "smt");
    return kinds;
}

// What the repair should make of the source.
struct Repair {
    std::vector<ModelRow> rows;
    bool rebuilt = false;
    std::uint8_t rebuiltType = 0;
    // The source memo file is missing: every reference leads nowhere.
    bool memoUnreadable = false;
    // Memos the output carries that the source model does not list as such (a reference into
    // the middle of a memo, a memo cut short by the end of the file); cells refer to them by
    // index after the source's memos.
    std::vector<ModelMemo> extraMemos;
};

Repair keeping(std::vector<ModelRow> rows) {
    Repair repair;
    repair.rows = std::move(rows);
    return repair;
}

Repair rebuiltAs(std::vector<ModelRow> rows, std::uint8_t type) {
    Repair repair = keeping(std::move(rows));
    repair.rebuilt = true;
    repair.rebuiltType = type;
    return repair;
}

void clearReference(ModelCell &cell, std::uint16_t length) {
    cell.memo = -1;
    cell.raw = memoReferenceBytes(0, length);
}

// Turns references into the bytes they had in the source.
void freezeReferences(TableModel &model, const std::vector<std::uint32_t> &blocks) {
    for (ModelRow &row : model.rows)
        for (std::size_t i = 0; i < row.cells.size(); ++i)
            if (row.cells[i].memo >= 0) {
                row.cells[i].raw = memoReferenceBytes(
                    blocks.at(static_cast<std::size_t>(row.cells[i].memo)), model.fields[i].length);
                row.cells[i].memo = -1;
            }
    model.memo = MemoLayout::None;
    model.memos.clear();
}

class Generator {
  public:
    std::vector<CorpusCase> cases;

    CorpusCase start(const Kind &kind, const std::string &damage) const {
        CorpusCase c;
        c.name = kind.tag + "_" + damage;
        c.kindTag = kind.tag;
        c.kind = kind.sound.type;
        c.memoExtension = kind.memoExtension;
        c.memoName = kind.memoExtension.empty() ? "" : "t." + kind.memoExtension;
        return c;
    }

    static void input(CorpusCase &c, const TableModel &model) {
        BuiltModel built = buildModel(model);
        c.table = built.table;
        if (model.memo != MemoLayout::None)
            c.memo = built.memo;
    }

    static void expectNothing(CorpusCase &c) {
        c.result = 0;
        c.kept = 0;
        c.expectedTable.reset();
        c.expectedMemo.reset();
    }

    static void expect(CorpusCase &c, const TableModel &source, const Repair &repair) {
        TableModel out = source;
        out.rows = repair.rows;
        out.storedCount.reset();
        out.endMarker = !out.rows.empty();
        if (repair.rebuilt) {
            out.type = repair.rebuiltType;
            out.flags = 0;
            out.backlink.clear();
        }
        if (repair.rebuilt || out.year == 0 || out.month == 0 || out.day == 0) {
            out.year = static_cast<std::uint8_t>(clockYear - 1900);
            out.month = clockMonth;
            out.day = clockDay;
        }
        if (!c.inPlace) {
            out.flags &= static_cast<std::uint8_t>(~0x01);
            out.backlink.clear();
        }
        bool memoFields = std::any_of(out.fields.begin(), out.fields.end(),
                                      [](const FieldSpec &f) { return isMemoField(f.type); });
        if (isVisualFoxPro(out.type) && memoFields)
            out.flags |= 0x02;

        std::vector<ModelMemo> available = source.memos;
        available.insert(available.end(), repair.extraMemos.begin(), repair.extraMemos.end());
        std::vector<std::uint32_t> sourceBlocks = buildModel(source).blocks;

        bool copiedMemo = out.type == 0x8C;
        if (!hasMemoFile(out.type, out.flags) || (copiedMemo && repair.memoUnreadable)) {
            freezeReferences(out, sourceBlocks);
            c.expectedMemo.reset();
        } else if (!copiedMemo) {
            // The new memo file holds the kept records' memos, one copy per reference.
            out.memos.clear();
            for (ModelRow &row : out.rows)
                for (std::size_t i = 0; i < row.cells.size(); ++i) {
                    ModelCell &cell = row.cells[i];
                    if (cell.memo < 0)
                        continue;
                    if (repair.memoUnreadable) {
                        clearReference(cell, out.fields[i].length);
                        continue;
                    }
                    out.memos.push_back(available.at(static_cast<std::size_t>(cell.memo)));
                    cell.memo = static_cast<int>(out.memos.size() - 1);
                }
            if (out.memo == MemoLayout::FoxPro)
                out.memoBlockSize = 64;
            if (out.memo == MemoLayout::Smt)
                out.memoBlockSize = 512;
        }

        BuiltModel built = buildModel(out);
        c.expectedTable = built.table;
        c.result = 1;
        c.kept = static_cast<std::uint32_t>(out.rows.size());
        if (!hasMemoFile(out.type, out.flags) || (copiedMemo && repair.memoUnreadable))
            return;
        if (copiedMemo) {
            c.expectedMemo = c.memo;
            return;
        }
        Bytes memo = built.memo;
        if (out.memo == MemoLayout::Smt) {
            // A new SMT file gets the dBASE III header of this program.
            memo[16] = 0x03;
            Bytes next = le32Bytes(static_cast<std::uint32_t>(memo.size() / 512));
            std::copy(next.begin(), next.end(), memo.begin());
        }
        if (out.memo == MemoLayout::DBase4 && !repair.memoUnreadable && c.memo)
            std::copy(c.memo->begin() + 4, c.memo->begin() + 512, memo.begin() + 4);
        c.expectedMemo = memo;
    }

    void add(CorpusCase c) { cases.push_back(std::move(c)); }

    // A case whose input is `model` and whose repair keeps `rows`.
    void simple(const Kind &kind, const std::string &damage, const TableModel &model,
                std::vector<ModelRow> rows,
                const std::function<void(CorpusCase &)> &tweak = nullptr) {
        CorpusCase c = start(kind, damage);
        if (tweak)
            tweak(c);
        input(c, model);
        expect(c, model, keeping(std::move(rows)));
        add(std::move(c));
    }

    void generate(const Kind &kind);
    void memoDamage(const Kind &kind);
};

std::vector<ModelRow> without(std::vector<ModelRow> rows, std::initializer_list<std::size_t> drop) {
    std::vector<ModelRow> kept;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (std::find(drop.begin(), drop.end(), i) == drop.end())
            kept.push_back(rows[i]);
    return kept;
}

enum class Effect { Keep, Reject, Replace };

struct Garbage {
    Bytes bytes;
    Effect effect = Effect::Keep;
    Bytes replacement; // for Effect::Replace
};

Bytes pattern(std::size_t length) {
    static const std::uint8_t bytes[] = {0xFF, 0x00, 0x1A, 0x0D, '~', 0x80, '*', 0x7F};
    Bytes b(length);
    for (std::size_t i = 0; i < length; ++i)
        b[i] = bytes[i % sizeof bytes];
    return b;
}

// Garbage that each field type's test is meant to notice (or, for untested types, ignore).
Garbage garbageFor(const FieldSpec &f) {
    switch (f.type) {
    case 'N':
        return {rightAligned("12x4", f.length), Effect::Reject, {}};
    case 'F':
        return {rightAligned("1,5", f.length), Effect::Reject, {}};
    case 'D':
        return {bytesOf("2023 5 7"), Effect::Reject, {}};
    case 'L':
        return {bytesOf("x"), Effect::Replace, bytesOf(" ")};
    case 'T':
        // Day number 2^31 - 1: past the year 3000 whatever the table counts from.
        return {{0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}, Effect::Reject, {}};
    case 'M':
        if (f.length == 4)
            return {{0xDE, 0xAD, 0xBE, 0xEF}, Effect::Replace, Bytes(4, 0)};
        // No digits: no memo. The text stays as it is.
        return {padded("zz?!qwerty", f.length), Effect::Keep, {}};
    case 'G':
        return {Bytes(4, 0xFF), Effect::Replace, Bytes(4, 0)};
    default:
        return {pattern(f.length), Effect::Keep, {}};
    }
}

// How a field filled entirely with `fill` (blank or zero) fares in the checks and the memo
// transfer: nothing when the record is rejected, otherwise the bytes written.
std::optional<Bytes> uniformField(const FieldSpec &f, std::uint8_t fill, bool level7) {
    Bytes bytes(f.length, fill);
    switch (f.type) {
    case 'N':
    case 'F':
    case 'D':
        // NUL bytes are padding, as blanks are: writers store empty dates and numbers so.
        return bytes;
    case 'L':
        return bytesOf(" ");
    case 'T':
        // Blanks are an empty value; day 0 lies before 1900 for a table counting from 1713.
        if (fill != ' ' && level7)
            return std::nullopt;
        return bytes;
    case 'M':
    case 'G':
        // Four blanks are block 0x20202020, which no memo file holds.
        return f.length == 4 && fill == ' ' ? Bytes(4, 0) : bytes;
    default:
        return bytes;
    }
}

std::optional<ModelRow> uniformRowOutcome(const TableModel &model, std::uint8_t fill) {
    ModelRow row;
    for (const FieldSpec &f : model.fields) {
        std::optional<Bytes> value = uniformField(f, fill, model.level7());
        if (!value)
            return std::nullopt;
        row.cells.push_back({*value, -1});
    }
    return row;
}

ModelRow uniformRow(const TableModel &model, std::uint8_t fill) {
    ModelRow row;
    for (const FieldSpec &f : model.fields)
        row.cells.push_back({Bytes(f.length, fill), -1});
    return row;
}

std::size_t firstMemoField(const TableModel &model) {
    for (std::size_t i = 0; i < model.fields.size(); ++i)
        if (model.fields[i].type == 'M')
            return i;
    throw std::logic_error("no memo field");
}

void Generator::generate(const Kind &kind) {
    const TableModel &sound = kind.sound;
    const std::vector<ModelRow> &rows = sound.rows;
    BuiltModel soundBuilt = buildModel(sound);
    const std::size_t headerLength = sound.headerLength();
    const std::size_t recordLength = sound.recordLength();

    simple(kind, "sound", sound, rows);

    for (auto [damage, count] : {std::pair<const char *, std::uint32_t>{"count_high", 1000},
                                 {"count_low", 1},
                                 {"count_zero", 0},
                                 {"count_huge", 0xFFFFFFFF}}) {
        TableModel m = sound;
        m.storedCount = count;
        simple(kind, damage, m, rows);
    }
    {
        TableModel m = sound;
        m.day = 0;
        simple(kind, "zero_day", m, rows);
    }
    {
        TableModel m = sound;
        m.year = 0;
        m.month = 0;
        simple(kind, "zero_date", m, rows);
    }
    {
        CorpusCase c = start(kind, "zeroed_header");
        c.table = soundBuilt.table;
        std::fill(c.table.begin(), c.table.begin() + 32, 0);
        if (sound.memo != MemoLayout::None)
            c.memo = soundBuilt.memo;
        if (kind.rebuiltType == 0)
            expectNothing(c);
        else
            expect(c, sound, rebuiltAs(rows, kind.rebuiltType));
        add(std::move(c));
    }
    {
        CorpusCase c = start(kind, "stray_leading_bytes");
        input(c, sound);
        Bytes junk = {'J', 'U', 'N', 'K', 0xFF, 0x00, 0x13};
        c.table.insert(c.table.begin(), junk.begin(), junk.end());
        expect(c, sound, keeping(rows));
        add(std::move(c));
    }
    {
        CorpusCase c = start(kind, "truncated_in_record");
        input(c, sound);
        c.table.resize(headerLength + 2 * recordLength + recordLength / 2);
        expect(c, sound, keeping({rows[0], rows[1]}));
        add(std::move(c));
    }
    {
        CorpusCase c = start(kind, "truncated_at_record_end");
        input(c, sound);
        c.table.resize(headerLength + 3 * recordLength);
        expect(c, sound, keeping({rows[0], rows[1], rows[2]}));
        add(std::move(c));
    }
    {
        CorpusCase c = start(kind, "truncated_in_header");
        input(c, sound);
        c.table.resize(sound.level7() ? 68 + 48 + 10 : 32 + 32 + 10);
        expectNothing(c);
        add(std::move(c));
    }
    {
        TableModel m = sound;
        m.endMarker = false;
        simple(kind, "no_end_marker", m, rows);
    }
    {
        // Records and the end marker gone: the header alone is left.
        CorpusCase c = start(kind, "header_only");
        input(c, sound);
        c.table.resize(headerLength);
        c.table.push_back(0x1A);
        expect(c, sound, keeping({}));
        add(std::move(c));
    }
    {
        TableModel m = sound;
        m.rows[0].flag = 0x00;
        m.rows[1].flag = 'x';
        m.rows[2].flag = 0xFF;
        std::vector<ModelRow> fixed = m.rows;
        for (ModelRow &r : fixed)
            r.flag = ' ';
        simple(kind, "bad_deletion_flags", m, fixed);
    }

    for (std::size_t i = 0; i < sound.fields.size(); ++i) {
        const FieldSpec &f = sound.fields[i];
        Garbage g = garbageFor(f);
        TableModel m = sound;
        m.rows[1].cells[i] = {g.bytes, -1};
        std::vector<ModelRow> out = m.rows;
        if (g.effect == Effect::Reject)
            out = without(out, {1});
        else if (g.effect == Effect::Replace)
            out[1].cells[i] = {g.replacement, -1};
        std::string name = f.name;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char ch) { return ch == '_' ? 'x' : static_cast<char>(ch | 0x20); });
        simple(kind, "garbage_" + name, m, out);
    }
    // Every record rejected: the output is the header area alone.
    for (std::size_t i = 0; i < sound.fields.size(); ++i) {
        Garbage g = garbageFor(sound.fields[i]);
        if (g.effect != Effect::Reject)
            continue;
        TableModel m = sound;
        for (ModelRow &r : m.rows)
            r.cells[i] = {g.bytes, -1};
        simple(kind, "all_rejected", m, {});
        break;
    }

    TableModel deleted = sound;
    deleted.rows[1].flag = '*';
    simple(kind, "deleted_kept", deleted, deleted.rows);
    simple(kind, "deleted_pack", deleted, without(rows, {1}),
           [](CorpusCase &c) { c.options.pack = 1; });
    simple(kind, "deleted_undeleted", deleted, rows,
           [](CorpusCase &c) { c.options.recoverDeleted = 1; });
    simple(kind, "deleted_pack_and_undelete", deleted, without(rows, {1}), [](CorpusCase &c) {
        c.options.pack = 1;
        c.options.recoverDeleted = 1;
    });
    simple(kind, "deleted_left_out", deleted, without(rows, {1}),
           [](CorpusCase &c) { c.dropDeleted = true; });

    TableModel duplicated = sound;
    duplicated.rows[2].cells = duplicated.rows[0].cells;
    simple(kind, "duplicates_kept", duplicated, duplicated.rows);
    simple(kind, "duplicates_dropped", duplicated, without(duplicated.rows, {2}),
           [](CorpusCase &c) { c.options.deleteDuplicates = 1; });
    {
        // A deleted record is neither compared nor remembered.
        TableModel m = duplicated;
        m.rows[0].flag = '*';
        simple(kind, "duplicate_of_deleted_kept", m, m.rows,
               [](CorpusCase &c) { c.options.deleteDuplicates = 1; });
        std::vector<ModelRow> revived = without(m.rows, {2});
        revived[0].flag = ' ';
        simple(kind, "duplicate_of_undeleted_dropped", m, revived, [](CorpusCase &c) {
            c.options.deleteDuplicates = 1;
            c.options.recoverDeleted = 1;
        });
    }

    TableModel empties = sound;
    empties.rows.insert(empties.rows.begin() + 2,
                        {uniformRow(sound, ' '), uniformRow(sound, 0x00)});
    simple(kind, "empty_records_dropped", empties, rows,
           [](CorpusCase &c) { c.options.deleteEmpty = 1; });
    {
        std::vector<ModelRow> out = {rows[0], rows[1]};
        for (std::uint8_t fill : {std::uint8_t{' '}, std::uint8_t{0}})
            if (std::optional<ModelRow> r = uniformRowOutcome(sound, fill))
                out.push_back(*r);
        out.push_back(rows[2]);
        out.push_back(rows[3]);
        simple(kind, "empty_records_checked", empties, out);
    }

    {
        CorpusCase c = start(kind, "in_place_pack");
        c.inPlace = true;
        c.options.pack = 1;
        TableModel m = deleted;
        m.storedCount = 2;
        input(c, m);
        expect(c, m, keeping(without(rows, {1})));
        add(std::move(c));
    }

    if (sound.memo != MemoLayout::None)
        memoDamage(kind);
}

void Generator::memoDamage(const Kind &kind) {
    const TableModel &sound = kind.sound;
    const std::vector<ModelRow> &rows = sound.rows;
    const std::size_t mi = firstMemoField(sound);
    const std::uint16_t refLength = sound.fields[mi].length;
    const bool blockHeaders = sound.memo == MemoLayout::FoxPro || sound.memo == MemoLayout::DBase4;
    BuiltModel soundBuilt = buildModel(sound);
    const int longMemo = rows[1].cells[mi].memo;
    const int lastMemo = rows[2].cells[mi].memo;

    auto cleared = [&](TableModel m) {
        std::vector<ModelRow> out = m.rows;
        clearReference(out[1].cells[mi], refLength);
        return out;
    };

    {
        TableModel m = sound;
        m.rows[1].cells[mi] = {memoReferenceBytes(99999, refLength), -1};
        simple(kind, "memo_beyond_end", m, cleared(m));
        simple(kind, "memo_beyond_end_dropped", m, without(m.rows, {1}),
               [](CorpusCase &c) { c.options.deleteInvalidMemo = 1; });
    }
    if (refLength == 10) {
        TableModel m = sound;
        m.rows[1].cells[mi] = {rightAligned("-1", 10), -1};
        simple(kind, "memo_negative", m, cleared(m));
    }
    if (blockHeaders) {
        // Blocks smaller than the 512-byte header: block 3 lies inside it.
        TableModel m = sound;
        if (m.memo == MemoLayout::DBase4)
            m.memoBlockSize = 64;
        m.rows[1].cells[mi] = {memoReferenceBytes(3, refLength), -1};
        simple(kind, "memo_into_header", m, cleared(m));
    }
    {
        CorpusCase c = start(kind, "memo_wrong_type");
        TableModel m = sound;
        Repair repair;
        if (m.memo == MemoLayout::FoxPro) {
            // A text field pointing at a picture block.
            m.memos.push_back({0, pictureData});
            m.rows[1].cells[mi].memo = static_cast<int>(m.memos.size() - 1);
            repair.rows = cleared(m);
        } else {
            // Into the second block of a long memo.
            std::uint32_t inside = soundBuilt.blocks[static_cast<std::size_t>(longMemo)] + 1;
            m.rows[1].cells[mi] = {memoReferenceBytes(inside, refLength), -1};
            if (blockHeaders) {
                repair.rows = cleared(m);
            } else {
                // Text memos have no block header: the rest of the text reads as a memo.
                repair.rows = m.rows;
                repair.extraMemos.push_back({1, bytesOf(longText().substr(512))});
                repair.rows[1].cells[mi].memo = static_cast<int>(m.memos.size());
            }
        }
        input(c, m);
        expect(c, m, repair);
        add(std::move(c));
    }
    if (blockHeaders) {
        std::size_t at = sound.memo == MemoLayout::FoxPro ? 6 : 18;
        for (auto [damage, high, low] : {std::tuple<const char *, std::uint8_t, std::uint8_t>{
                                             "memo_block_size_zero", 0x00, 0x00},
                                         {"memo_block_size_negative", 0xFF, 0x00},
                                         {"memo_block_size_odd", 0x02, 0x01}}) {
            if (sound.memo == MemoLayout::FoxPro && low == 0x01)
                continue;
            CorpusCase c = start(kind, damage);
            TableModel m = sound;
            // The blocks lie where the usual block size puts them.
            m.memoBlockSize = sound.memo == MemoLayout::FoxPro ? 64 : 512;
            input(c, m);
            (*c.memo)[at] = high;
            (*c.memo)[at + 1] = low;
            expect(c, m, keeping(m.rows));
            add(std::move(c));
        }
    } else {
        // Nothing in a dBASE III or SMT header is read: a damaged one changes nothing.
        CorpusCase c = start(kind, "memo_header_garbage");
        input(c, sound);
        Bytes junk = pattern(512);
        std::copy(junk.begin(), junk.end(), c.memo->begin());
        expect(c, sound, keeping(rows));
        add(std::move(c));
    }
    {
        CorpusCase c = start(kind, "memo_missing");
        input(c, sound);
        c.memo.reset();
        Repair repair = keeping(rows);
        repair.memoUnreadable = true;
        if (sound.type == 0x8C) {
            // The table keeps its memo file, so the checks judge the references: without the
            // file every one leads nowhere and is cleared.
            for (ModelRow &row : repair.rows)
                for (std::size_t i = 0; i < row.cells.size(); ++i)
                    if (row.cells[i].memo >= 0)
                        clearReference(row.cells[i], sound.fields[i].length);
            expect(c, sound, repair);
        } else {
            // No memo file to judge references by: the transfer clears them.
            expect(c, sound, repair);
        }
        add(std::move(c));
    }
    if (blockHeaders) {
        CorpusCase c = start(kind, "memo_length_overrun");
        input(c, sound);
        std::size_t at = soundBuilt.blocks[static_cast<std::size_t>(longMemo)] *
                             static_cast<std::size_t>(sound.memoBlockSize) +
                         4;
        Bytes huge = sound.memo == MemoLayout::FoxPro ? Bytes{0x7F, 0xFF, 0xFF, 0xFF}
                                                      : Bytes{0xFF, 0xFF, 0xFF, 0x7F};
        std::copy(huge.begin(), huge.end(), c.memo->begin() + static_cast<long>(at));
        expect(c, sound, keeping(cleared(sound)));
        add(std::move(c));
    }
    {
        // The memo file ends five bytes into the data of its last memo.
        CorpusCase c = start(kind, "memo_file_truncated");
        input(c, sound);
        std::size_t cut = soundBuilt.blocks[static_cast<std::size_t>(lastMemo)] *
                              static_cast<std::size_t>(sound.memoBlockSize) +
                          (blockHeaders ? 8 : 0) + 5;
        c.memo->resize(cut);
        Repair repair = keeping(rows);
        repair.extraMemos.push_back({1, bytesOf(shortText(2).substr(0, 5))});
        if (sound.type != 0x8C)
            repair.rows[2].cells[mi].memo = static_cast<int>(sound.memos.size());
        expect(c, sound, repair);
        add(std::move(c));
    }
    for (std::size_t gi = 0; gi < sound.fields.size(); ++gi) {
        if (sound.fields[gi].type != 'G')
            continue;
        // General fields are not checked, but a reference that leads nowhere is not carried.
        TableModel m = sound;
        m.rows[0].cells[gi] = {le32Bytes(99999), -1};
        std::vector<ModelRow> out = m.rows;
        clearReference(out[0].cells[gi], 4);
        simple(kind, "general_beyond_end", m, out);
    }
    {
        CorpusCase c = start(kind, "memo_in_place_missing_reference");
        c.inPlace = true;
        TableModel m = sound;
        m.rows[1].cells[mi] = {memoReferenceBytes(99999, refLength), -1};
        input(c, m);
        expect(c, m, keeping(cleared(m)));
        add(std::move(c));
    }
}

} // namespace

platform::LocalTime corpusClock() {
    return {clockYear, clockMonth, clockDay, 10, 20, 30};
}

std::vector<CorpusCase> damageCorpus() {
    Generator generator;
    for (const Kind &kind : tableKinds())
        generator.generate(kind);
    return std::move(generator.cases);
}

std::vector<std::string> corpusKindTags() {
    std::vector<std::string> tags;
    for (const Kind &kind : tableKinds())
        tags.push_back(kind.tag);
    return tags;
}

std::vector<CorpusCase> damageCorpus(const std::string &kindTag) {
    Generator generator;
    for (const Kind &kind : tableKinds())
        if (kind.tag == kindTag)
            generator.generate(kind);
    return std::move(generator.cases);
}

} // namespace salvora::testing
