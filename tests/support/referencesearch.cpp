#include "tests/support/referencesearch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace salvora::testing {

namespace {

using Block = std::array<std::uint8_t, 48>;

// Bytes past the end of the file read as zero.
Block blockAt(const Bytes &file, std::uint64_t offset) {
    Block out{};
    if (offset < file.size())
        std::memcpy(out.data(), file.data() + offset,
                    std::min<std::uint64_t>(out.size(), file.size() - offset));
    return out;
}

using Descriptor = std::array<std::uint8_t, 32>;

Descriptor descriptorAt(const Bytes &file, std::uint64_t offset) {
    Block block = blockAt(file, offset);
    Descriptor out{};
    std::memcpy(out.data(), block.data(), out.size());
    return out;
}

Bytes readAt(const Bytes &file, std::uint64_t offset, std::size_t length) {
    Block block = blockAt(file, offset);
    return Bytes(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length));
}

std::uint32_t le16(const Bytes &b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}

bool accepted(const std::uint8_t *d) {
    static const std::string letters = "CNDLFMTIYB+PGO@QVW";
    if (d[11] != 0 && letters.find(static_cast<char>(d[11])) != std::string::npos)
        return true;
    const char *name = "_NULLFLAGS";
    for (int i = 0; i < 11; ++i) {
        int have = d[i];
        if (have >= 'a' && have <= 'z')
            have -= 32;
        if (have != (i < 10 ? name[i] : 0))
            return false;
    }
    return true;
}

std::uint32_t lengthOf(const std::uint8_t *d) {
    return d[11] == 'C' ? d[17] * 256u + d[16] : d[16];
}

void infer(const std::uint8_t *d, std::uint8_t &t) {
    char c = static_cast<char>(d[11]);
    if (c == '+' || c == 'Y' || c == 'T' || c == 'G')
        t = 0x30;
    if (c == 'M' && d[16] == 10)
        t = 0x83;
    if (c == 'Q' || c == 'V')
        t = 0x32;
    if (t == 0x30 && d[18] == 0x0C)
        t = 0x31;
}

std::vector<Descriptor> level7(const Bytes &file, std::uint64_t at, std::uint32_t headerLength) {
    std::uint32_t maximum = (headerLength - 68u) / 48u;
    std::vector<Descriptor> list;
    std::uint64_t position = at + 36;
    for (int reads = 0; reads < 4096; ++reads) {
        Block d = blockAt(file, position);
        position += 48;
        if (d[0] == 0x0D)
            break;
        std::array<std::uint8_t, 32> probe{};
        std::memcpy(probe.data(), d.data(), 11);
        probe[11] = d[32];
        if (!accepted(probe.data()))
            return {};
        if (d[33] != 0) {
            Descriptor c{};
            std::memcpy(c.data(), d.data(), 10);
            c[11] = d[32];
            c[16] = d[33];
            c[17] = d[34];
            list.push_back(c);
        }
        if (list.size() >= 4096 || list.size() >= maximum)
            break;
    }
    return list;
}

// Most of the deletion flags where the records would start are ' ', '*' or NUL: of the
// first eight records and eight more spread over the rest.
bool describesRecords(const Bytes &file, std::uint64_t start, std::uint32_t recordLength) {
    if (start >= file.size())
        return true;
    std::uint64_t records = (file.size() - start) / recordLength;
    std::vector<std::uint64_t> picked;
    for (std::uint64_t i = 0; i < records && i < 8; ++i)
        picked.push_back(i);
    for (std::uint64_t j = 1; records > 8 && j <= 8; ++j)
        picked.push_back(8 + (records - 9) * j / 8);
    std::size_t bad = 0;
    for (std::uint64_t i : picked) {
        std::uint8_t flag = file[start + i * recordLength];
        bad += flag != ' ' && flag != '*' && flag != 0;
    }
    return bad * 3 <= picked.size();
}

} // namespace

std::optional<ReferenceHeader> referenceHeaderSearch(const Bytes &file, bool pastRebuild) {
    std::uint8_t inferred = 0x03;
    bool acceptance = true;
    for (std::uint64_t k = 0;; ++k) {
        Bytes header = readAt(file, k, 32);
        std::uint32_t headerLength = le16(header, 8);
        std::uint32_t recordLength = le16(header, 10);
        auto count = static_cast<std::int32_t>((headerLength - 32u) / 32u);
        bool rejected = recordLength < 2 || headerLength > file.size() || count < 1;
        if (rejected) {
            acceptance = false;
        } else {
            std::uint8_t type = header[0];
            if (type == 0x30 || type == 0x31 || type == 0x32)
                count = (static_cast<std::int32_t>(headerLength) - 296) / 32;
            if (count >= 500)
                acceptance = false;
            std::vector<Descriptor> fields;
            if ((type & 7) == 4) {
                fields = level7(file, k + 32, headerLength);
                count = static_cast<std::int32_t>(fields.size());
            } else if (count >= 1 && count <= 500) {
                for (std::int32_t i = 0; i < count; ++i)
                    fields.push_back(
                        descriptorAt(file, k + 32 + 32 * static_cast<std::uint64_t>(i)));
            }
            std::uint32_t running = 1;
            for (std::int32_t i = 0; i < count && !fields.empty(); ++i) {
                Descriptor &d = fields[static_cast<std::size_t>(i)];
                if (d[0] == 0x0D || d[0] == 0x1A) {
                    count = i;
                    break;
                }
                if (!accepted(d.data())) {
                    acceptance = false;
                    break;
                }
                d[12] = static_cast<std::uint8_t>(running);
                d[13] = static_cast<std::uint8_t>(running >> 8);
                if (type == 0xF5)
                    std::memset(d.data() + 24, 0, 8);
                infer(d.data(), inferred);
                running += lengthOf(d.data());
            }
            if (recordLength == running && count < 500)
                acceptance = true;
            bool describes =
                count >= 1 &&
                (recordLength == running
                     ? k == 0 || describesRecords(file, k + headerLength, recordLength)
                     : k == 0 && describesRecords(file, k + headerLength, recordLength));
            if (acceptance && describes) {
                if (count > 0 && static_cast<std::size_t>(count) < fields.size())
                    fields.resize(static_cast<std::size_t>(count));
                if (count <= 0)
                    fields.clear();
                std::vector<Bytes> found;
                for (const Descriptor &d : fields)
                    found.emplace_back(d.begin(), d.end());
                return ReferenceHeader{k, header, count, inferred, found};
            }
        }
        if (k == 0 && !pastRebuild) {
            Bytes d = readAt(file, 32, 32);
            if (accepted(d.data()) && d[16] != 0)
                return std::nullopt;
        }
        if (k + 1 >= file.size())
            return std::nullopt;
    }
}

} // namespace salvora::testing
