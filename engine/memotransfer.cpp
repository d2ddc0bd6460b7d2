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

// Visits the record's memo references: `carry` gets each sound one with its length and type
// word, `clear` each that leads nowhere.
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
        std::uint32_t length = memoBlockLength(source, block, &typeWord);
        if (length == 0)
            clear(field, block);
        else
            carry(field, block, length, typeWord);
    }
}

} // namespace

void transferMemos(std::span<std::uint8_t> record, const RecoveryJob &job, MemoFile &source,
                   MemoFile &target, FindingSink *why, std::uint32_t index) {
    forEachMemo(
        record, job, source,
        [&](const FieldDescriptor &field, std::uint32_t block, std::uint32_t length,
            std::uint32_t typeWord) {
            // Memos that begin with a NUL byte (binary data often does) are carried like any
            // other.
            std::uint32_t newBlock = copyMemo(source, block, length, target, typeWord);
            writeMemoReference(record, field, newBlock);
            if (why)
                why->memoCarried();
        },
        [&](const FieldDescriptor &field, std::uint32_t block) {
            // A reference that leads nowhere must not survive into the new memo file.
            writeMemoReference(record, field, 0);
            if (why)
                why->found(index, &field, Finding::InvalidMemoCleared, {}, block);
        });
}

void inspectMemos(std::span<const std::uint8_t> record, const RecoveryJob &job, MemoFile &source,
                  FindingSink &why, std::uint32_t index) {
    forEachMemo(
        record, job, source,
        [&](const FieldDescriptor &, std::uint32_t, std::uint32_t, std::uint32_t) {
            why.memoCarried();
        },
        [&](const FieldDescriptor &field, std::uint32_t block) {
            why.found(index, &field, Finding::InvalidMemoCleared, {}, block);
        });
}

} // namespace salvora
