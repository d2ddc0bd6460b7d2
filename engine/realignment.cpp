#include "engine/realignment.h"

#include <algorithm>

#include "engine/fieldchecks.h"
#include "engine/tableformat.h"

namespace salvora {

namespace {

// One bit per kind of byte; a column's mask holds the kinds its sound records showed.
std::uint8_t kindOf(std::uint8_t b) {
    if (b == 0)
        return 1u << 0;
    if (b == ' ')
        return 1u << 1;
    if (b >= '0' && b <= '9')
        return 1u << 2;
    if (b >= 'A' && b <= 'Z')
        return 1u << 3;
    if (b >= 'a' && b <= 'z')
        return 1u << 4;
    if (b > ' ' && b < 0x7F)
        return 1u << 5;
    if (b < ' ')
        return 1u << 6;
    return 1u << 7;
}

bool isDigit(std::uint8_t b) {
    return b >= '0' && b <= '9';
}

bool isNumberByte(std::uint8_t b) {
    return isDigit(b) || b == ' ' || b == '.' || b == '-' || b == '+';
}

bool isDateValue(const std::uint8_t *at) {
    if (std::all_of(at, at + 8, [](std::uint8_t b) { return b == ' '; }))
        return true;
    return isDigit(at[0]) && isDigit(at[1]) && isDigit(at[2]) && isDigit(at[3]) &&
           (at[4] == '0' || at[4] == '1') && isDigit(at[5]) && at[6] >= '0' && at[6] <= '3' &&
           isDigit(at[7]);
}

constexpr std::uint8_t blankKind = 1u << 1;
constexpr std::uint8_t digitKind = 1u << 2;
constexpr std::uint8_t letterKinds = (1u << 3) | (1u << 4);

// Kept records need enough learned ones before their columns say anything.
constexpr std::size_t learnedEnough = 8;
constexpr std::size_t learnLimit = 64;

} // namespace

RecordLikeness::RecordLikeness(const RecoveryJob &job, std::uint32_t recordLength)
    : recordLength_(recordLength), columnKinds_(recordLength, 0) {
    if (recordLength_ > 0)
        columnKinds_[0] = 0;
    for (const FieldDescriptor &field : job.fields) {
        std::uint32_t offset = field.displacement();
        std::uint32_t length = fieldLength(field);
        if (offset == 0 || offset >= recordLength_ || length == 0)
            continue;
        length = std::min(length, recordLength_ - offset);
        bool textual = true;
        switch (field.type()) {
        case 'N':
        case 'F':
            rules_.push_back({Rule::Number, offset, length});
            break;
        case 'D':
            if (length == 8)
                rules_.push_back({Rule::Date, offset, length});
            break;
        case 'L':
            rules_.push_back({Rule::Logical, offset, length});
            break;
        case 'C':
            rules_.push_back({Rule::Text, offset, length});
            break;
        case 'M':
        case 'G':
        case 'P':
            if (length == 10)
                rules_.push_back({Rule::MemoDigits, offset, length});
            else
                textual = false;
            break;
        default:
            textual = false;
        }
        // Binary values take every kind of byte sooner or later: their columns say nothing.
        if (!textual)
            std::fill(columnKinds_.begin() + offset, columnKinds_.begin() + offset + length,
                      std::uint8_t{0xFF});
    }
}

// Numbers grow into the blanks on their left as a table grows, and names come in either case:
// a column that held one of these holds the other too.
void RecordLikeness::widenKinds() {
    for (const FieldRule &rule : rules_) {
        std::uint8_t widened = rule.rule == Rule::Text ? letterKinds : blankKind | digitKind;
        for (std::uint32_t c = rule.offset; c < rule.offset + rule.length; ++c)
            if (columnKinds_[c] & widened)
                columnKinds_[c] |= widened;
    }
}

bool RecordLikeness::passesRules(const std::uint8_t *record, bool strictFlag) const {
    if (strictFlag && record[0] != ' ' && record[0] != '*')
        return false;
    for (const FieldRule &rule : rules_) {
        const std::uint8_t *at = record + rule.offset;
        const std::uint8_t *end = at + rule.length;
        switch (rule.rule) {
        case Rule::Number:
            if (!std::all_of(at, end, isNumberByte))
                return false;
            break;
        case Rule::Date:
            if (!isDateValue(at))
                return false;
            break;
        case Rule::Logical:
            if (!isLogicalValue(*at))
                return false;
            break;
        case Rule::Text:
            if (std::any_of(at, end, [](std::uint8_t b) { return b != 0 && b < ' '; }))
                return false;
            break;
        case Rule::MemoDigits: {
            const std::uint8_t *digits =
                std::find_if(at, end, [](std::uint8_t b) { return b != ' '; });
            if (!std::all_of(digits, end, isDigit))
                return false;
            break;
        }
        }
    }
    return true;
}

void RecordLikeness::learn(const std::uint8_t *records, std::size_t count) {
    for (std::size_t r = 0; r < count && learned_ < learnLimit; ++r) {
        const std::uint8_t *record = records + r * recordLength_;
        if (!passesRules(record, true))
            continue;
        for (std::uint32_t c = 0; c < recordLength_; ++c)
            columnKinds_[c] |= kindOf(record[c]);
        ++learned_;
    }
    widenKinds();
}

bool RecordLikeness::learned() const {
    return learned_ >= learnedEnough;
}

bool RecordLikeness::looksSound(const std::uint8_t *record, bool strictFlag) const {
    if (!passesRules(record, strictFlag))
        return false;
    if (!learned())
        return true;
    for (std::uint32_t c = strictFlag ? 0 : 1; c < recordLength_; ++c)
        if ((kindOf(record[c]) & columnKinds_[c]) == 0)
            return false;
    return true;
}

GridSearch::GridSearch(platform::FileHandle &file, std::uint64_t fileSize, const RecoveryJob &job,
                       std::uint64_t base, std::uint32_t recordLength)
    : reader_(file, fileSize, std::max<std::size_t>(std::size_t{recordLength} * 256, 1u << 16)),
      likeness_(job, recordLength), base_(base), fileSize_(fileSize), recordLength_(recordLength) {}

std::uint32_t GridSearch::soundRecords(std::uint64_t offset, std::uint32_t count,
                                       bool strictFlags) {
    const std::uint8_t *records = reader_.view(offset, std::size_t{count} * recordLength_);
    std::uint32_t sound = 0;
    for (std::uint32_t r = 0; r < count; ++r) {
        if (likeness_.looksSound(records + std::size_t{r} * recordLength_, strictFlags))
            ++sound;
        else if (strictFlags)
            break;
    }
    return sound;
}

bool GridSearch::gridHolds(std::uint64_t offset) {
    learn(offset);
    if (recordLength_ == 0 || offset + recordLength_ > fileSize_)
        return false;
    std::uint32_t count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>((fileSize_ - offset) / recordLength_, gridHoldRecords));
    return soundRecords(offset, count, false) * 2 >= count;
}

void GridSearch::learnBefore(std::uint64_t offset) {
    if (offset <= base_ || recordLength_ == 0)
        return;
    std::uint64_t before = std::min<std::uint64_t>((offset - base_) / recordLength_, learnLimit);
    std::uint64_t start = offset - before * recordLength_;
    likeness_.learn(reader_.view(start, static_cast<std::size_t>(before) * recordLength_),
                    static_cast<std::size_t>(before));
}

// The records at the end of the file stand on the grid they were written on whatever happened
// in the middle: a break near the start leaves few records before it to learn from.
void GridSearch::learnFromEnd() {
    if (fileSize_ <= base_ || recordLength_ == 0)
        return;
    std::uint64_t end = fileSize_;
    if (reader_.view(end - 1, 1)[0] == 0x1A)
        --end;
    std::uint64_t count = std::min<std::uint64_t>((end - base_) / recordLength_, learnLimit);
    likeness_.learn(
        reader_.view(end - count * recordLength_, static_cast<std::size_t>(count) * recordLength_),
        static_cast<std::size_t>(count));
}

// Once: a table whose records never pass must not pay for learning at every bad one.
void GridSearch::learn(std::uint64_t before) {
    if (learnTried_)
        return;
    learnTried_ = true;
    learnBefore(before);
    if (!likeness_.learned())
        learnFromEnd();
}

std::optional<std::uint64_t> GridSearch::resumeAfter(std::uint64_t from) {
    learn(from);
    // Without sound records to learn from, only a longer run of records is evidence enough.
    const std::uint32_t need = likeness_.learned() ? gridResumeRecords : 4 * gridResumeRecords;
    std::uint64_t end = fileSize_;
    if (end > base_ && reader_.view(end - 1, 1)[0] == 0x1A)
        --end;
    for (std::uint64_t offset = from + 1; offset + recordLength_ <= fileSize_; ++offset) {
        // Most offsets fail on their flag byte: look at it before the records.
        std::uint8_t flag = reader_.view(offset, 1)[0];
        if (flag != ' ' && flag != '*')
            continue;
        // Near the end, fewer records do when they end exactly where the records end.
        std::uint64_t whole = (fileSize_ - offset) / recordLength_;
        std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(whole, need));
        if (count < need && (offset > end || (end - offset) % recordLength_ != 0))
            continue;
        if (soundRecords(offset, count, true) == count)
            return offset;
    }
    return std::nullopt;
}

} // namespace salvora
