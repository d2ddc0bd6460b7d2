#include "engine/layoutinference.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/bufferedio.h"

namespace salvora {

namespace {

// Runs of records spread over the file, each read at once.
constexpr std::uint64_t sampleRuns = 16;
constexpr std::uint64_t runRecords = 256;
constexpr std::uint64_t sampleBytesLimit = 8u << 20;
constexpr std::uint32_t widestNumber = 20;
constexpr std::uint32_t widestText = 254;
constexpr std::uint32_t dateWidth = 8;
constexpr std::uint32_t textMemoWidth = 10;
constexpr std::uint32_t binaryMemoWidth = 4;

enum class Kind { Blank, Numeric, Logical, Text, Binary };

bool isDigit(std::uint8_t b) {
    return b >= '0' && b <= '9';
}

bool isLogicalLetter(std::uint8_t b) {
    return b != 0 && std::strchr("TFYNtfyn?", b) != nullptr;
}

struct Sample {
    std::uint32_t length = 0;
    std::vector<std::uint8_t> bytes;

    std::size_t count() const { return length ? bytes.size() / length : 0; }
    const std::uint8_t *record(std::size_t i) const { return bytes.data() + i * length; }
};

Sample sampleRecords(WindowReader &reader, const RecordGrid &grid) {
    Sample sample;
    const std::uint32_t length = grid.recordLength;
    sample.length = length;
    const std::uint64_t records = (grid.end - grid.firstRecord) / length;
    const std::uint64_t perRun =
        std::max<std::uint64_t>(1, std::min(runRecords, sampleBytesLimit / (sampleRuns * length)));
    const std::uint64_t runs = records <= perRun * sampleRuns ? 1 : sampleRuns;
    const std::uint64_t inRun = runs == 1 ? records : perRun;
    for (std::uint64_t r = 0; r < runs; ++r) {
        std::uint64_t first = runs == 1 ? 0 : r * (records - perRun) / (runs - 1);
        const std::uint8_t *run =
            reader.view(grid.firstRecord + first * length, std::size_t(inRun * length));
        for (std::uint64_t k = 0; k < inRun; ++k) {
            const std::uint8_t *record = run + k * length;
            if (record[0] == ' ' || record[0] == '*')
                sample.bytes.insert(sample.bytes.end(), record, record + length);
        }
    }
    return sample;
}

struct Segment {
    std::uint32_t start = 0;
    std::uint32_t width = 0;
    char type = 'C';
    std::uint8_t decimals = 0;
    Kind kind = Kind::Text; // of a printable part before it is typed

    std::uint32_t end() const { return start + width; }
};

class Inference {
  public:
    Inference(const Sample &sample, const MemoTarget &memoTarget)
        : sample_(sample), memoTarget_(memoTarget), kinds_(sample.length, Kind::Blank),
          filled_(sample.length, 0) {
        classify();
    }

    InferredFields run() {
        const std::uint32_t length = sample_.length;
        std::vector<char> special(length, 0);
        markDates(special);
        markLogicals(special);
        std::vector<Segment> segments;
        for (std::uint32_t c = 1; c < length;) {
            if (special[c] == 'D') {
                segments.push_back({c, dateWidth, 'D'});
                c += dateWidth;
                continue;
            }
            if (special[c] == 'L') {
                segments.push_back({c, 1, 'L'});
                ++c;
                continue;
            }
            std::uint32_t e = c;
            bool binary = kinds_[c] == Kind::Binary;
            while (e < length && special[e] == 0 && (kinds_[e] == Kind::Binary) == binary)
                ++e;
            if (binary)
                splitBinary(c, e, segments);
            else
                splitPrintable(c, e, segments);
            c = e;
        }
        carveTextMemos(segments);
        return describe(segments);
    }

  private:
    std::size_t count() const { return sample_.count(); }
    std::uint8_t at(std::size_t record, std::uint32_t column) const {
        return sample_.record(record)[column];
    }

    void classify() {
        for (std::uint32_t c = 1; c < sample_.length; ++c) {
            bool binary = false, text = false, logicalOnly = true, anyLetter = false, blank = true;
            for (std::size_t r = 0; r < count(); ++r) {
                std::uint8_t b = at(r, c);
                if (b != ' ') {
                    blank = false;
                    ++filled_[c];
                }
                if (b < 0x20 || b == 0x7F)
                    binary = true;
                else if (!isDigit(b) && b != ' ' && b != '.' && b != '-' && b != '+')
                    text = true;
                if (b != ' ' && !isLogicalLetter(b))
                    logicalOnly = false;
                anyLetter |= isLogicalLetter(b);
            }
            if (binary)
                kinds_[c] = Kind::Binary;
            else if (blank)
                kinds_[c] = Kind::Blank;
            else if (logicalOnly && anyLetter)
                kinds_[c] = Kind::Logical;
            else if (text)
                kinds_[c] = Kind::Text;
            else
                kinds_[c] = Kind::Numeric;
        }
    }

    bool isDateValue(const std::uint8_t *v) const {
        if (std::all_of(v, v + dateWidth, [](std::uint8_t b) { return b == ' '; }))
            return true;
        if (!std::all_of(v, v + dateWidth, isDigit))
            return false;
        int year = (v[0] - '0') * 1000 + (v[1] - '0') * 100 + (v[2] - '0') * 10 + (v[3] - '0');
        int month = (v[4] - '0') * 10 + (v[5] - '0');
        int day = (v[6] - '0') * 10 + (v[7] - '0');
        return year >= 1700 && year <= 2199 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
    }

    void markDates(std::vector<char> &special) const {
        for (std::uint32_t c = 1; c + dateWidth <= sample_.length;) {
            bool digitsOnly = true, anyDate = false;
            for (std::uint32_t k = c; k < c + dateWidth; ++k)
                digitsOnly &= kinds_[k] == Kind::Numeric || kinds_[k] == Kind::Blank;
            for (std::size_t r = 0; digitsOnly && r < count(); ++r) {
                const std::uint8_t *v = sample_.record(r) + c;
                digitsOnly = isDateValue(v);
                anyDate |= v[0] != ' ';
            }
            if (digitsOnly && anyDate) {
                special[c] = 'D';
                for (std::uint32_t k = c + 1; k < c + dateWidth; ++k)
                    special[k] = 'd';
                c += dateWidth;
            } else {
                ++c;
            }
        }
    }

    // A single T/F column between fields that are not text (where it would be a letter of a word).
    void markLogicals(std::vector<char> &special) const {
        for (std::uint32_t c = 1; c < sample_.length; ++c) {
            if (special[c] != 0 || kinds_[c] != Kind::Logical)
                continue;
            bool leftText = c > 1 && special[c - 1] == 0 && kinds_[c - 1] == Kind::Text;
            bool rightText =
                c + 1 < sample_.length && special[c + 1] == 0 && kinds_[c + 1] == Kind::Text;
            if (!leftText && !rightText)
                special[c] = 'L';
        }
    }

    // Memo references of 4 bytes where the memo file has blocks for them; the rest stays text.
    void splitBinary(std::uint32_t from, std::uint32_t to, std::vector<Segment> &segments) {
        std::uint32_t rest = from;
        for (std::uint32_t c = from; c < to;) {
            if (memoTarget_ && c + binaryMemoWidth <= to && binaryMemoAt(c)) {
                addText(rest, c, segments);
                segments.push_back({c, binaryMemoWidth, 'M'});
                binaryMemo_ = true;
                c += binaryMemoWidth;
                rest = c;
            } else {
                ++c;
            }
        }
        addText(rest, to, segments);
    }

    // Most references lead to a memo, and no two records share one.
    bool referencesHold(std::vector<std::uint32_t> &blocks, std::size_t invalid) const {
        if (blocks.empty())
            return false;
        std::sort(blocks.begin(), blocks.end());
        std::size_t repeated =
            blocks.size() -
            static_cast<std::size_t>(std::unique(blocks.begin(), blocks.end()) - blocks.begin());
        std::size_t nonzero = blocks.size() + invalid;
        return (invalid + repeated) * 20 <= nonzero;
    }

    bool binaryMemoAt(std::uint32_t c) const {
        std::vector<std::uint32_t> blocks;
        std::size_t invalid = 0;
        for (std::size_t r = 0; r < count(); ++r) {
            std::uint32_t block = readLe32(sample_.record(r) + c);
            if (block == 0)
                continue;
            if (memoTarget_(block))
                blocks.push_back(block);
            else
                ++invalid;
        }
        return referencesHold(blocks, invalid);
    }

    void addText(std::uint32_t from, std::uint32_t to, std::vector<Segment> &segments) const {
        for (std::uint32_t c = from; c < to; c += widestText)
            segments.push_back({c, std::min(widestText, to - c), 'C'});
    }

    bool digitThenSpace(std::uint32_t c) const {
        for (std::size_t r = 0; r < count(); ++r)
            if (isDigit(at(r, c)) && at(r, c + 1) == ' ')
                return true;
        return false;
    }

    // Where a left-aligned text starts: filled in nearly every record, after a column that
    // mostly is not.
    bool textStarts(std::uint32_t c) const {
        return filled_[c] * 50 >= count() * 49 && filled_[c - 1] * 2 <= count();
    }

    void splitPrintable(std::uint32_t from, std::uint32_t to, std::vector<Segment> &segments) {
        std::vector<Segment> parts;
        for (std::uint32_t c = from; c < to; ++c) {
            Kind kind = kinds_[c] == Kind::Blank     ? Kind::Blank
                        : kinds_[c] == Kind::Numeric ? Kind::Numeric
                                                     : Kind::Text;
            if (!parts.empty()) {
                Segment &last = parts.back();
                bool join = false;
                if (kind == Kind::Blank)
                    join = last.kind == Kind::Blank;
                else if (last.kind == Kind::Numeric && kind == Kind::Numeric)
                    join = !digitThenSpace(c - 1);
                else if (last.kind == Kind::Text && kind == Kind::Numeric)
                    join = true; // codes such as "AB12"
                else if (last.kind == Kind::Text && kind == Kind::Text)
                    join = !textStarts(c);
                if (join) {
                    ++last.width;
                    continue;
                }
            }
            parts.push_back({c, 1, 'C', 0, kind});
        }
        // Padding belongs to the text before it, else to the value after it.
        std::vector<Segment> merged;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            Segment part = parts[i];
            if (part.kind == Kind::Blank) {
                if (!merged.empty() && merged.back().kind == Kind::Text) {
                    merged.back().width += part.width;
                    continue;
                }
                if (i + 1 < parts.size()) {
                    parts[i + 1].start = part.start;
                    parts[i + 1].width += part.width;
                    continue;
                }
                part.kind = Kind::Text;
            }
            merged.push_back(part);
        }
        for (const Segment &part : merged) {
            Segment typed = part;
            if (part.kind == Kind::Numeric && numberType(typed)) {
                segments.push_back(typed);
                continue;
            }
            addText(part.start, part.end(), segments);
        }
    }

    // Right-aligned numbers with the point at one place in every sampled record.
    bool numberType(Segment &segment) const {
        if (segment.width > widestNumber)
            return false;
        int point = -1;
        for (std::size_t r = 0; r < count(); ++r) {
            const std::uint8_t *v = sample_.record(r) + segment.start;
            std::uint32_t i = 0;
            while (i < segment.width && v[i] == ' ')
                ++i;
            if (i == segment.width)
                continue;
            if (v[i] == '-')
                ++i;
            bool digits = false;
            for (; i < segment.width; ++i) {
                if (isDigit(v[i])) {
                    digits = true;
                } else if (v[i] == '.') {
                    if (point >= 0 && point != static_cast<int>(i))
                        return false;
                    point = static_cast<int>(i);
                } else {
                    return false;
                }
            }
            if (!digits)
                return false;
        }
        segment.type = 'N';
        segment.decimals =
            point < 0
                ? 0
                : static_cast<std::uint8_t>(segment.width - 1 - static_cast<std::uint32_t>(point));
        return true;
    }

    // A 10-digit number whose values lead to memos is a memo reference; the padding it needs
    // on its left is taken from the text before it.
    void carveTextMemos(std::vector<Segment> &segments) {
        if (!memoTarget_)
            return;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            Segment &s = segments[i];
            if (s.type != 'N' || s.decimals != 0 || s.end() < 1 + textMemoWidth)
                continue;
            const std::uint32_t start = s.end() - textMemoWidth;
            Segment *before = i > 0 ? &segments[i - 1] : nullptr;
            bool padded = true;
            if (s.width < textMemoWidth)
                padded = before && before->type == 'C' && before->start <= start;
            for (std::uint32_t c = std::min(start, s.start); padded && c < std::max(start, s.start);
                 ++c)
                padded = kinds_[c] == Kind::Blank;
            if (!padded || !textMemoAt(start))
                continue;
            textMemo_ = true;
            const Segment memo{start, textMemoWidth, 'M'};
            if (s.width > textMemoWidth) {
                s.type = 'C';
                s.width -= textMemoWidth;
                segments.insert(segments.begin() + static_cast<std::ptrdiff_t>(i) + 1, memo);
                ++i;
            } else {
                if (s.width < textMemoWidth)
                    before->width = start - before->start; // left at 0 width: not described
                s = memo;
            }
        }
    }

    bool textMemoAt(std::uint32_t c) const {
        std::vector<std::uint32_t> blocks;
        std::size_t invalid = 0;
        for (std::size_t r = 0; r < count(); ++r) {
            const std::uint8_t *v = sample_.record(r) + c;
            std::uint32_t i = 0;
            while (i < textMemoWidth && v[i] == ' ')
                ++i;
            if (i == textMemoWidth)
                continue;
            std::uint64_t block = 0;
            for (; i < textMemoWidth && isDigit(v[i]); ++i)
                block = block * 10 + (v[i] - '0');
            if (i != textMemoWidth || block > 0xFFFFFFFF)
                return false;
            if (block == 0)
                continue;
            if (memoTarget_(static_cast<std::uint32_t>(block)))
                blocks.push_back(static_cast<std::uint32_t>(block));
            else
                ++invalid;
        }
        return referencesHold(blocks, invalid);
    }

    InferredFields describe(const std::vector<Segment> &segments) const {
        InferredFields result;
        result.textMemoReferences = textMemo_;
        result.binaryMemoReferences = binaryMemo_;
        std::uint32_t displacement = 1;
        for (const Segment &s : segments) {
            if (s.width == 0)
                continue;
            FieldDescriptor field;
            std::string name = "FIELD" + std::to_string(result.fields.size() + 1);
            std::memcpy(field.bytes.data(), name.data(), std::min<std::size_t>(name.size(), 10));
            field.bytes[11] = static_cast<std::uint8_t>(s.type);
            field.bytes[16] = static_cast<std::uint8_t>(s.width);
            field.bytes[17] = s.decimals;
            field.setDisplacement(static_cast<std::uint16_t>(displacement));
            displacement += s.width;
            result.fields.push_back(field);
        }
        if (displacement != sample_.length)
            result.fields.clear();
        return result;
    }

    const Sample &sample_;
    const MemoTarget &memoTarget_;
    std::vector<Kind> kinds_;
    std::vector<std::size_t> filled_;
    bool textMemo_ = false;
    bool binaryMemo_ = false;
};

} // namespace

InferredFields inferFields(WindowReader &reader, const RecordGrid &grid,
                           const MemoTarget &memoTarget) {
    Sample sample = sampleRecords(reader, grid);
    if (sample.count() == 0 || grid.recordLength < 2)
        return {};
    return Inference(sample, memoTarget).run();
}

} // namespace salvora
