#include "engine/fieldchecks.h"

#include <algorithm>

namespace salvora {

namespace {

// The part of [offset, offset + length) that lies inside the record.
template <typename Byte>
std::span<Byte> inside(std::span<Byte> record, std::size_t offset, std::size_t length) {
    if (offset >= record.size())
        return {};
    return record.subspan(offset, std::min(length, record.size() - offset));
}

bool isDigit(std::uint8_t b) {
    return b >= '0' && b <= '9';
}

constexpr bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr std::int64_t daysOfYears(int from, int to) {
    std::int64_t days = 0;
    for (int year = from; year < to; ++year)
        days += isLeapYear(year) ? 366 : 365;
    return days;
}

// The test counts whole years off the day number while more than 365 days are left, and asks
// in which year it stops; that year is in range exactly when the day number lies between the
// days of the years it must and may pass.
constexpr std::int64_t julianDayOf1900 = 2415021;
constexpr std::int64_t latestFrom1900 = 365 + daysOfYears(1900, 3000);
constexpr std::int64_t earliestFrom1713 = 365 + daysOfYears(1713, 1899) + 1;
constexpr std::int64_t latestFrom1713 = 365 + daysOfYears(1713, 3000);

} // namespace

void repairLogical(std::span<std::uint8_t> record, std::size_t offset) {
    for (std::uint8_t &b : inside(record, offset, 1))
        if (!isLogicalValue(b))
            b = ' ';
}

bool isValidDate(std::span<const std::uint8_t> record, std::size_t offset) {
    std::span<const std::uint8_t> date = inside(record, offset, 8);
    if (std::all_of(date.begin(), date.end(), [](std::uint8_t b) { return b == ' '; }) ||
        std::all_of(date.begin(), date.end(), [](std::uint8_t b) { return b == 0; }))
        return true;
    static constexpr char highest[8] = {'9', '9', '9', '9', '1', '9', '3', '9'};
    for (std::size_t k = 0; k < date.size(); ++k)
        if (date[k] < '0' || date[k] > highest[k])
            return false;
    // No writer stores month 13-19 or day 32-39: such a date is a misread record. Zero month
    // and day stay, as some writers store them for unknown parts.
    if (date.size() == 8 &&
        ((date[4] == '1' && date[5] > '2') || (date[6] == '3' && date[7] > '1')))
        return false;
    return true;
}

bool dayNumberInRange(std::int32_t dayNumber, std::uint8_t tableType) {
    // Wide arithmetic: no day number wraps around into range or out of it.
    if (isLevel7Type(tableType))
        return dayNumber >= earliestFrom1713 && dayNumber <= latestFrom1713;
    return std::int64_t{dayNumber} - julianDayOf1900 <= latestFrom1900;
}

bool isValidDayWord(std::uint32_t stored, std::uint8_t tableType) {
    constexpr std::uint32_t fourBlanks = 0x20202020;
    return stored == fourBlanks || dayNumberInRange(static_cast<std::int32_t>(stored), tableType);
}

bool isValidDateTime(std::span<const std::uint8_t> record, std::size_t offset,
                     std::uint8_t tableType) {
    std::span<const std::uint8_t> day = inside(record, offset, 4);
    if (day.size() < 4)
        return true;
    return isValidDayWord(readLe32(day.data()), tableType);
}

bool isValidNumber(std::span<const std::uint8_t> record, std::size_t offset, std::size_t length) {
    std::span<const std::uint8_t> number = inside(record, offset, length);
    for (std::size_t k = 0; k < number.size(); ++k) {
        std::uint8_t b = number[k];
        if (b == ' ' || b == '.' || isDigit(b))
            continue;
        if (b == '-' && (k == 0 || !isDigit(number[k - 1])))
            continue;
        return false;
    }
    return true;
}

bool isWriterNumber(std::span<const std::uint8_t> record, std::size_t offset, std::size_t length) {
    std::span<const std::uint8_t> number = inside(record, offset, length);
    auto padding = [](std::uint8_t b) { return b == ' ' || b == 0; };
    auto first = std::find_if_not(number.begin(), number.end(), padding);
    auto last = std::find_if_not(number.rbegin(), number.rend(), padding).base();
    if (first >= last)
        return true;
    std::span<const std::uint8_t> core(first, last);
    if (std::find(core.begin(), core.end(), std::uint8_t{0}) != core.end())
        return false;
    if (std::all_of(core.begin(), core.end(), [](std::uint8_t b) { return b == '*'; }))
        return true;
    auto e =
        std::find_if(core.begin(), core.end(), [](std::uint8_t b) { return (b | 0x20) == 'e'; });
    if (e == core.end())
        return isValidNumber(core, 0, core.size());
    // A mantissa that ends in a digit or a point, then an exponent of digits after its sign.
    std::span<const std::uint8_t> mantissa(core.begin(), e);
    std::span<const std::uint8_t> exponent(e + 1, core.end());
    if (mantissa.empty() || !std::any_of(mantissa.begin(), mantissa.end(), isDigit) ||
        !(isDigit(mantissa.back()) || mantissa.back() == '.') ||
        !isValidNumber(mantissa, 0, mantissa.size()))
        return false;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-'))
        exponent = exponent.subspan(1);
    return !exponent.empty() && std::all_of(exponent.begin(), exponent.end(), isDigit);
}

bool clearInvalidMemoReference(std::span<std::uint8_t> record, const FieldDescriptor &field,
                               MemoFile &memo, std::uint8_t tableType) {
    std::uint32_t block = getMemoBlockNumber(record, field);
    if (block == 0)
        return false;
    // Only FoxPro memo files report a block type; the others are not held to one.
    std::uint32_t typeWord = foxProTextBlock;
    std::uint32_t length = memoBlockLength(memo, block, &typeWord);
    // A memo that could not be read is no invalid reference: the transfer clears it alone.
    if (memoUnreadable(memo, block, length))
        return false;
    std::uint32_t fieldBytes = fieldLength(field);
    bool typed = fieldBytes == 4 || tableType == 0xF5;
    if (length != 0 && !(typed && typeWord != foxProTextBlock))
        return false;
    if (fieldBytes == 10)
        std::ranges::fill(inside(record, field.displacement(), 10), ' ');
    else
        std::ranges::fill(inside(record, field.displacement(), 4), 0);
    return true;
}

} // namespace salvora
