#include "tests/support/tablevalues.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace salvora::testing {

namespace {

std::uint32_t le16(const Bytes &b, std::size_t at) {
    return at + 2 <= b.size() ? b[at] | b[at + 1] << 8 : 0;
}
std::uint32_t le32(const Bytes &b, std::size_t at) {
    return at + 4 <= b.size() ? le16(b, at) | le16(b, at + 2) << 16 : 0;
}
std::uint32_t be32(const Bytes &b, std::size_t at) {
    return at + 4 <= b.size()
               ? std::uint32_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]
               : 0;
}

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Memo {
    Bytes file;
    bool foxPro = false;
    std::uint32_t blockSize = 512;

    // The memo at `block`; nothing when the block lies outside the file.
    std::optional<Bytes> at(std::uint32_t block) const {
        std::uint64_t offset = std::uint64_t{block} * blockSize;
        if (block == 0 || offset >= file.size())
            return std::nullopt;
        auto from = file.begin() + static_cast<std::ptrdiff_t>(offset);
        std::size_t rest = file.size() - static_cast<std::size_t>(offset);
        if (foxPro) {
            std::size_t length = std::min<std::size_t>(be32(file, offset + 4), rest - 8);
            return Bytes(from + 8, from + 8 + static_cast<std::ptrdiff_t>(length));
        }
        if (le32(file, offset) == 0x0008FFFF) {
            std::size_t length = le32(file, offset + 4);
            length = std::min<std::size_t>(length < 8 ? 0 : length - 8, rest - 8);
            return Bytes(from + 8, from + 8 + static_cast<std::ptrdiff_t>(length));
        }
        auto end = std::find(from, file.end(), std::uint8_t{0x1A});
        return Bytes(from, end);
    }
};

std::uint32_t referenceOf(const Bytes &value) {
    if (value.size() == 4)
        return le32(value, 0);
    std::size_t k = 0;
    while (k < value.size() && (value[k] == ' ' || value[k] == 0))
        ++k;
    std::uint64_t n = 0;
    for (; k < value.size() && std::isdigit(value[k]); ++k)
        n = n * 10 + (value[k] - '0');
    return static_cast<std::uint32_t>(n);
}

} // namespace

std::string memoBeside(const std::string &tablePath) {
    std::filesystem::path table(tablePath);
    std::string stem = lower(table.stem().string());
    for (const auto &entry : std::filesystem::directory_iterator(table.parent_path())) {
        std::filesystem::path p = entry.path();
        std::string extension = lower(p.extension().string());
        if (lower(p.stem().string()) == stem &&
            (extension == ".dbt" || extension == ".fpt" || extension == ".smt"))
            return p.string();
    }
    return "";
}

std::optional<TableValues> readTableValues(const std::string &tablePath,
                                           const std::string &memoPath) {
    Bytes b = readFile(tablePath);
    if (b.size() < 32)
        return std::nullopt;
    TableValues values;
    std::uint8_t type = b[0];
    std::size_t headerLength = le16(b, 8);
    std::size_t recordLength = le16(b, 10);
    bool level7 = (type & 7) == 4;
    std::size_t step = level7 ? 48 : 32;
    std::size_t sum = 1;
    for (std::size_t at = level7 ? 68 : 32; at + step <= headerLength && b[at] != 0x0D;
         at += step) {
        TableValues::Field field;
        std::size_t nameLength = level7 ? 32 : 11;
        field.name.assign(b.begin() + static_cast<std::ptrdiff_t>(at),
                          b.begin() + static_cast<std::ptrdiff_t>(at + nameLength));
        field.name = field.name.substr(0, field.name.find('\0'));
        field.type = static_cast<char>(b[at + (level7 ? 32 : 11)]);
        field.length = level7 ? b[at + 33] : b[at + 16];
        if (field.type == 'C')
            field.length += (level7 ? b[at + 34] : b[at + 17]) * 256u;
        field.memo = std::string("MGPW").find(field.type) != std::string::npos;
        if (level7 && field.length == 0)
            continue;
        sum += field.length;
        values.fields.push_back(field);
    }
    if (recordLength == 0 || sum != recordLength || headerLength > b.size())
        return std::nullopt;

    std::optional<Memo> memo;
    if (!memoPath.empty()) {
        memo.emplace();
        memo->file = readFile(memoPath);
        memo->foxPro = lower(std::filesystem::path(memoPath).extension().string()) == ".fpt";
        if (memo->foxPro) {
            memo->blockSize = be32(memo->file, 4) & 0xFFFF;
        } else {
            std::uint32_t size = le16(memo->file, 20);
            memo->blockSize = size != 0 ? size : 512;
        }
        if (memo->blockSize == 0)
            memo->blockSize = 64;
    }

    std::size_t count = (b.size() - headerLength) / recordLength;
    for (std::size_t r = 0; r < count; ++r) {
        std::size_t at = headerLength + r * recordLength;
        // The repair writes any flag but '*' as a blank.
        std::vector<Bytes> record{{b[at] == '*' ? std::uint8_t{'*'} : std::uint8_t{' '}}};
        std::size_t offset = at + 1;
        for (const TableValues::Field &field : values.fields) {
            Bytes value(b.begin() + static_cast<std::ptrdiff_t>(offset),
                        b.begin() + static_cast<std::ptrdiff_t>(offset + field.length));
            offset += field.length;
            if (field.memo) {
                std::uint32_t block = referenceOf(value);
                value.clear();
                if (block != 0 && memo) {
                    std::optional<Bytes> text = memo->at(block);
                    if (text)
                        value = *text;
                    else
                        values.memoMissing = true;
                } else if (block != 0) {
                    values.memoMissing = true;
                }
            }
            record.push_back(std::move(value));
        }
        values.records.push_back(std::move(record));
    }
    return values;
}

std::string compareValues(const TableValues &actual, const TableValues &expected) {
    std::ostringstream why;
    if (actual.fields.size() != expected.fields.size()) {
        why << actual.fields.size() << " fields instead of " << expected.fields.size();
        return why.str();
    }
    for (std::size_t f = 0; f < actual.fields.size(); ++f) {
        if (actual.fields[f].type != expected.fields[f].type ||
            actual.fields[f].length != expected.fields[f].length) {
            why << "field " << expected.fields[f].name << " changed its type or length";
            return why.str();
        }
    }
    if (actual.records.size() != expected.records.size()) {
        why << actual.records.size() << " records instead of " << expected.records.size();
        return why.str();
    }
    for (std::size_t r = 0; r < actual.records.size(); ++r) {
        for (std::size_t f = 0; f < actual.records[r].size(); ++f) {
            if (actual.records[r][f] == expected.records[r][f])
                continue;
            const Bytes &a = actual.records[r][f];
            const Bytes &e = expected.records[r][f];
            why << "record " << r + 1 << ": "
                << (f == 0 ? std::string("deletion flag") : expected.fields[f - 1].name) << " is "
                << a.size() << " bytes \""
                << std::string(a.begin(), a.begin() + std::min<std::ptrdiff_t>(a.size(), 24))
                << "\" instead of " << e.size() << " bytes \""
                << std::string(e.begin(), e.begin() + std::min<std::ptrdiff_t>(e.size(), 24))
                << "\"";
            return why.str();
        }
    }
    return "";
}

} // namespace salvora::testing
