#include "engine/memotransfer.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace salvora {

bool isMemoBearingField(char type) {
    // Binary memos (W) point into the same file as the others and must travel with them.
    return type == 'M' || type == 'G' || type == 'P' || type == 'W';
}

void writeMemoReference(std::span<std::uint8_t> record, const FieldDescriptor &field,
                        std::uint32_t block) {
    std::size_t offset = field.displacement();
    if (offset >= record.size())
        return;
    std::size_t length = std::min<std::size_t>(fieldLength(field), record.size() - offset);
    std::uint8_t *p = record.data() + offset;
    if (fieldLength(field) == 4) {
        if (length == 4)
            writeLe32(p, block);
        return;
    }
    // Right-aligned digits after blanks, as dBASE and FoxPro write them: other readers reject
    // digits followed by NUL bytes. Blanks alone mean "no memo".
    std::size_t width = std::min<std::size_t>(length, 10);
    std::memset(p, ' ', width);
    if (block == 0)
        return;
    std::string digits = std::to_string(block);
    if (digits.size() > width)
        digits.erase(0, digits.size() - width);
    std::memcpy(p + width - digits.size(), digits.data(), digits.size());
}

namespace {

// Visits the record's memo references: `carry` gets each sound one with its length, type
// word and whether it lacks its end marker, `clear` each that leads nowhere or cannot be read,
// with the finding that says which.
template <typename Carry, typename Clear>
void forEachMemo(std::span<const std::uint8_t> record, const RecoveryJob &job, MemoFile &source,
                 Carry carry, Clear clear) {
    for (const FieldDescriptor &field : job.fields) {
        if (!isMemoBearingField(field.type()))
            continue;
        std::uint32_t block = getMemoBlockNumber(record, field);
        if (block == 0)
            continue;
        std::uint32_t typeWord = foxProTextBlock;
        bool unterminated = false;
        std::uint32_t length = memoBlockLength(source, block, &typeWord, &unterminated);
        if (memoUnreadable(source, block, length))
            clear(field, block, Finding::UnreadableMemoCleared);
        else if (length == 0)
            clear(field, block, Finding::InvalidMemoCleared);
        else
            carry(field, block, length, typeWord, unterminated);
    }
}

} // namespace

std::uint32_t transferMemos(std::span<std::uint8_t> record, const RecoveryJob &job,
                            MemoFile &source, MemoFile &target, FindingSink *why,
                            std::uint32_t index) {
    std::uint32_t unreadable = 0;
    auto clear = [&](const FieldDescriptor &field, std::uint32_t block, Finding finding) {
        unreadable += finding == Finding::UnreadableMemoCleared ? 1 : 0;
        // A reference that leads nowhere must not survive into the new memo file.
        writeMemoReference(record, field, 0);
        if (why)
            why->found(index, &field, finding, {}, block);
    };
    forEachMemo(
        record, job, source,
        [&](const FieldDescriptor &field, std::uint32_t block, std::uint32_t length,
            std::uint32_t typeWord, bool unterminated) {
            // Memos that begin with a NUL byte (binary data often does) are carried like any
            // other.
            bool lost = false;
            std::uint32_t newBlock = copyMemo(source, block, length, target, typeWord, &lost);
            if (lost) {
                clear(field, block, Finding::UnreadableMemoCleared);
                return;
            }
            writeMemoReference(record, field, newBlock);
            if (!why)
                return;
            why->memoCarried();
            if (unterminated)
                why->found(index, &field, Finding::UnterminatedMemo, {}, block);
        },
        clear);
    return unreadable;
}

void inspectMemos(std::span<const std::uint8_t> record, const RecoveryJob &job, MemoFile &source,
                  FindingSink &why, std::uint32_t index) {
    forEachMemo(
        record, job, source,
        [&](const FieldDescriptor &field, std::uint32_t block, std::uint32_t, std::uint32_t,
            bool unterminated) {
            why.memoCarried();
            if (unterminated)
                why.found(index, &field, Finding::UnterminatedMemo, {}, block);
        },
        [&](const FieldDescriptor &field, std::uint32_t block, Finding finding) {
            why.found(index, &field, finding, {}, block);
        });
}

} // namespace salvora
