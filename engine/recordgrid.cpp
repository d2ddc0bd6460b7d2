#include "engine/recordgrid.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "engine/bufferedio.h"
#include "engine/tableformat.h"

namespace salvora {

namespace {

constexpr std::size_t windowLimit = 1u << 20;
constexpr std::uint32_t longestRecord = 8192;
// Fewer records than this say nothing about a period.
constexpr std::uint64_t fewestRecords = 16;
// Periods that pass the flag test and are compared by how well their columns agree.
constexpr std::size_t comparedPeriods = 8;
constexpr std::uint64_t leadingRecords = 64;
// A column that misses this many flags among its leading records fails.
constexpr std::uint32_t earlyRecords = 3;
constexpr double multipleGain = 0.08;

bool isFlag(std::uint8_t b) {
    return b == ' ' || b == '*';
}

int byteClass(std::uint8_t b) {
    if (b == ' ')
        return 0;
    if (b >= '0' && b <= '9')
        return 1;
    if (b >= 'A' && b <= 'Z')
        return 2;
    if (b >= 'a' && b <= 'z')
        return 3;
    if (b == 0)
        return 4;
    if (b < 0x20 || b == 0x7F)
        return 5;
    if (b >= 0x80)
        return 6;
    return 7;
}

struct Column {
    std::uint32_t phase = 0;
    std::uint64_t stars = 0;
};

// Bit i of a flag map: whether byte i is a flag.
std::vector<std::uint64_t> flagMap(const std::vector<std::uint8_t> &bytes) {
    std::vector<std::uint64_t> map(bytes.size() / 64 + 2, 0);
    for (std::size_t at = 0; at < bytes.size(); ++at)
        map[at / 64] |= std::uint64_t{isFlag(bytes[at])} << (at % 64);
    return map;
}

// Sixty-four bits of the map from bit `at` on.
std::uint64_t bitsFrom(const std::vector<std::uint64_t> &map, std::uint64_t at) {
    const std::size_t word = static_cast<std::size_t>(at / 64);
    const unsigned shift = static_cast<unsigned>(at % 64);
    if (shift == 0)
        return map[word];
    return (map[word] >> shift) | (map[word + 1] << (64 - shift));
}

class PeriodSearch {
  public:
    explicit PeriodSearch(const std::vector<std::uint8_t> &bytes)
        : bytes_(bytes), flags_(flagMap(bytes)) {}

    // Columns at `period` whose bytes are flags in nearly every record.
    std::vector<Column> flagColumns(std::uint32_t period) const {
        std::vector<Column> found;
        const std::uint64_t records = bytes_.size() / period;
        const std::uint64_t allowed = records / 32;
        for (std::uint32_t phase : phasesPastFirstRecords(period)) {
            std::uint64_t misses = 0, stars = 0;
            bool failed = false;
            // Most columns fail within their first records: settle those before counting on.
            for (std::uint64_t k = 0; k < records && !failed; ++k) {
                std::uint8_t b = bytes_[phase + k * period];
                misses += !isFlag(b);
                stars += b == '*';
                failed = misses > allowed || (k < leadingRecords && misses >= earlyRecords);
            }
            if (!failed)
                found.push_back({phase, stars});
        }
        return found;
    }

    // How far each column holds one kind of byte, averaged: a wrong period mixes columns.
    double agreement(std::uint32_t period) const {
        const std::uint64_t records = bytes_.size() / period;
        double sum = 0;
        for (std::uint32_t c = 0; c < period; ++c) {
            std::array<std::uint64_t, 8> counts{};
            for (std::uint64_t k = 0; k < records; ++k)
                ++counts[static_cast<std::size_t>(byteClass(bytes_[c + k * period]))];
            sum += static_cast<double>(*std::max_element(counts.begin(), counts.end())) /
                   static_cast<double>(records);
        }
        return sum / period;
    }

    // Lines of text end in the same control byte at the same place.
    bool hasLineEnds(std::uint32_t period) const {
        const std::uint64_t records = bytes_.size() / period;
        for (std::uint32_t c = 0; c < period; ++c) {
            std::uint64_t ends = 0;
            for (std::uint64_t k = 0; k < records; ++k)
                ends += bytes_[c + k * period] == '\n' || bytes_[c + k * period] == '\r';
            if (ends * 2 > records)
                return true;
        }
        return false;
    }

  private:
    static_assert(earlyRecords == 3 && leadingRecords >= 5);
    // A column that misses a flag in three of its first five records fails there (there are
    // at least `fewestRecords`): the others, in order, found sixty-four columns at a time.
    std::vector<std::uint32_t> phasesPastFirstRecords(std::uint32_t period) const {
        std::vector<std::uint32_t> phases;
        for (std::uint32_t from = 0; from < period; from += 64) {
            std::uint64_t r[5];
            for (std::uint32_t k = 0; k < 5; ++k)
                r[k] = bitsFrom(flags_, std::uint64_t{k} * period + from);
            // Three flags of five: the carries and sums of a full adder and a half adder.
            const std::uint64_t sum1 = r[0] ^ r[1] ^ r[2];
            const std::uint64_t carry1 = (r[0] & r[1]) | (r[2] & (r[0] ^ r[1]));
            const std::uint64_t sum2 = r[3] ^ r[4];
            const std::uint64_t carry2 = r[3] & r[4];
            std::uint64_t passing = (carry1 & carry2) | ((carry1 | carry2) & (sum1 | sum2));
            if (period - from < 64)
                passing &= (std::uint64_t{1} << (period - from)) - 1;
            for (; passing != 0; passing &= passing - 1)
                phases.push_back(from + static_cast<std::uint32_t>(std::countr_zero(passing)));
        }
        return phases;
    }

    const std::vector<std::uint8_t> &bytes_;
    std::vector<std::uint64_t> flags_;
};

} // namespace

std::optional<RecordGrid> findRecordGrid(WindowReader &reader) {
    std::uint64_t end = reader.fileSize();
    if (end > 0 && reader.view(end - 1, 1)[0] == endOfFileMarker)
        --end;
    // The tail of the file: a lost header lies at the front, and with it whatever was zeroed.
    std::uint64_t start = end > windowLimit ? end - windowLimit : 0;
    while (start < end && reader.view(start, 1)[0] == 0)
        ++start;
    if (end - start < fewestRecords * 2)
        return std::nullopt;
    const std::uint8_t *tail = reader.view(start, end - start);
    const std::vector<std::uint8_t> bytes(tail, tail + (end - start));
    PeriodSearch search(bytes);
    const auto limit = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(longestRecord, bytes.size() / fewestRecords));

    struct Candidate {
        std::uint32_t period;
        std::vector<Column> columns;
        double agreement;
    };
    std::vector<Candidate> candidates;
    double best = 0;
    for (std::uint32_t period = 2; period <= limit && candidates.size() < comparedPeriods;
         ++period) {
        std::vector<Column> columns = search.flagColumns(period);
        if (columns.empty())
            continue;
        double agreement = search.agreement(period);
        best = std::max(best, agreement);
        candidates.push_back({period, std::move(columns), agreement});
    }
    // A multiple of the true period agrees a little better where the data repeats itself
    // (every third record with a memo); a divisor that happens to meet two blank columns mixes
    // unlike columns and agrees much worse.
    const Candidate *chosen = nullptr;
    for (const Candidate &candidate : candidates)
        if (candidate.agreement >= best - multipleGain) {
            chosen = &candidate;
            break;
        }
    if (!chosen || search.hasLineEnds(chosen->period))
        return std::nullopt;
    const std::uint32_t period = chosen->period;

    // The flag column among blank padding columns: the one that holds a '*', else the one at
    // which the records end where the file does, else the only one.
    std::vector<Column> columns = chosen->columns;
    std::uint64_t mostStars = 0;
    for (const Column &column : columns)
        mostStars = std::max(mostStars, column.stars);
    if (mostStars > 0)
        std::erase_if(columns, [&](const Column &c) { return c.stars != mostStars; });
    if (columns.size() > 1) {
        std::vector<Column> anchored;
        for (const Column &column : columns)
            if ((bytes.size() - column.phase) % period == 0)
                anchored.push_back(column);
        if (!anchored.empty())
            columns = anchored;
    }
    if (columns.size() != 1)
        return std::nullopt;

    // The first record whose flag and the next three flags are sound.
    std::uint64_t first = (start + columns.front().phase) % period;
    auto soundFrom = [&](std::uint64_t at) {
        for (std::uint64_t k = 0; k < 4 && at + (k + 1) * period <= end; ++k)
            if (!isFlag(reader.view(at + k * period, 1)[0]))
                return false;
        return true;
    };
    while (first + period <= end && !soundFrom(first))
        first += period;
    if (first + period * fewestRecords > end)
        return std::nullopt;
    RecordGrid grid;
    grid.recordLength = period;
    grid.firstRecord = first;
    grid.end = first + (end - first) / period * period;
    return grid;
}

} // namespace salvora
