// Writes a folder tree of small varied tables for timing batches, some of them damaged.
//   salvora_make_tree FOLDER COUNT
// Folders of 1 to 300 tables, and one folder holding a fifth of them; dBASE III, dBASE IV,
// FoxPro 2 and Visual FoxPro tables of 1 to 200 records, a tenth with a dBASE III memo file.
// One table in five is damaged: a wrong record count, a cut last record, stray bytes in front
// of the header, a header overwritten with zeros, or (one in twenty-five) no table at all.
// The same COUNT always gives the same tree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "benchbytes.h"

namespace {

using bench::le16;
using bench::le32;

using Bytes = std::vector<std::uint8_t>;

std::uint64_t state = 0x2545F4914F6CDD1Dull;
std::uint32_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::uint32_t>(state >> 11);
}
std::uint32_t below(std::uint32_t n) {
    return next() % n;
}

struct Field {
    char name[11];
    char type;
    std::uint8_t width;
    std::uint8_t decimals;
};

void putValue(std::uint8_t *at, const Field &field, std::uint32_t record, std::uint32_t &block) {
    char text[320];
    switch (field.type) {
    case 'N':
        std::snprintf(text, sizeof text, "%*u", field.width, below(10000) % 100000u);
        break;
    case 'D':
        std::snprintf(text, sizeof text, "%04u%02u%02u", 1990 + below(35), 1 + below(12),
                      1 + below(28));
        break;
    case 'L':
        std::snprintf(text, sizeof text, "%c", "TFYN?"[below(5)]);
        break;
    case 'M':
        std::snprintf(text, sizeof text, "%*u", field.width, block++);
        break;
    default:
        std::snprintf(text, sizeof text, "R%u-%u", record, below(100000));
        break;
    }
    std::size_t length = std::min<std::size_t>(std::strlen(text), field.width);
    std::memcpy(at, text, length);
}

// A sound table and, when it has a memo field, its memo file.
void makeTable(Bytes &table, Bytes &memo) {
    static const std::uint8_t types[] = {0x03, 0x03, 0x8B, 0xF5, 0x30};
    bool withMemo = below(10) == 0;
    std::uint8_t type = withMemo ? 0x83 : types[below(5)];
    std::vector<Field> fields;
    std::uint32_t fieldCount = 1 + below(8);
    for (std::uint32_t i = 0; i < fieldCount; ++i) {
        Field field{};
        const std::string name = "F" + std::to_string(i); // at most 8 fields
        std::memcpy(field.name, name.data(), name.size());
        field.type = "CCNDL"[below(5)];
        field.width = field.type == 'C'   ? static_cast<std::uint8_t>(1 + below(40))
                      : field.type == 'N' ? static_cast<std::uint8_t>(5 + below(10))
                      : field.type == 'D' ? 8
                                          : 1;
        fields.push_back(field);
    }
    if (withMemo) {
        Field notes{};
        std::snprintf(notes.name, sizeof notes.name, "NOTES");
        notes.type = 'M';
        notes.width = 10;
        fields.push_back(notes);
    }
    bool vfp = type == 0x30;
    std::uint32_t headerLength =
        32 + 32 * static_cast<std::uint32_t>(fields.size()) + 1 + (vfp ? 263 : 0);
    std::uint32_t recordLength = 1;
    for (const Field &field : fields)
        recordLength += field.width;
    std::uint32_t records = 1 + below(200);

    table.assign(headerLength, 0);
    table[0] = type;
    table[1] = 124;
    table[2] = 1 + below(12);
    table[3] = 1 + below(28);
    le32(&table[4], records);
    le16(&table[8], headerLength);
    le16(&table[10], recordLength);
    std::uint32_t offset = 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::uint8_t *descriptor = &table[32 + 32 * i];
        std::memcpy(descriptor, fields[i].name, std::strlen(fields[i].name));
        descriptor[11] = static_cast<std::uint8_t>(fields[i].type);
        if (vfp)
            le32(descriptor + 12, offset);
        descriptor[16] = fields[i].width;
        offset += fields[i].width;
    }
    table[32 + 32 * fields.size()] = 0x0D;

    std::uint32_t block = 1;
    std::vector<std::uint8_t> record(recordLength);
    for (std::uint32_t r = 0; r < records; ++r) {
        std::memset(record.data(), ' ', record.size());
        if (below(20) == 0)
            record[0] = '*';
        std::uint32_t at = 1;
        for (const Field &field : fields) {
            putValue(&record[at], field, r, block);
            at += field.width;
        }
        table.insert(table.end(), record.begin(), record.end());
    }
    table.push_back(0x1A);

    memo.clear();
    if (!withMemo)
        return;
    memo.assign(512, 0);
    le32(memo.data(), block);
    memo[16] = 0x03;
    for (std::uint32_t b = 1; b < block; ++b) {
        Bytes text(512, 0);
        std::snprintf(reinterpret_cast<char *>(text.data()), 500, "memo %u of %u", b, block - 1);
        text[std::strlen(reinterpret_cast<char *>(text.data()))] = 0x1A;
        memo.insert(memo.end(), text.begin(), text.end());
    }
}

void damage(Bytes &table) {
    switch (below(5)) {
    case 0: // a record count the file does not hold
        le32(&table[4], 100000 + below(1000));
        break;
    case 1: // the last record cut
        if (table.size() > 40)
            table.resize(table.size() - 5);
        break;
    case 2: { // stray bytes before the header
        Bytes stray(1 + below(100), 0x20);
        table.insert(table.begin(), stray.begin(), stray.end());
        break;
    }
    case 3: // the header's first 32 bytes lost
        std::memset(table.data(), 0, 32);
        break;
    default: // nothing of a table left
        for (std::uint8_t &byte : table)
            byte = static_cast<std::uint8_t>('a' + below(26));
        break;
    }
}

void write(const std::string &path, const Bytes &bytes) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3 || std::atol(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: %s FOLDER COUNT\n", argv[0]);
        return 2;
    }
    std::string root = argv[1];
    std::uint32_t count = static_cast<std::uint32_t>(std::atol(argv[2]));
    std::uint32_t large = count / 5;
    std::uint32_t made = 0;
    std::uint32_t damaged = 0;
    std::uint32_t folder = 0;
    Bytes table;
    Bytes memo;
    while (made < count) {
        std::uint32_t size = folder == 0 ? std::max<std::uint32_t>(large, 1) : 1 + below(300);
        std::string path =
            root + "/d" + std::to_string(folder % 10) + "/f" + std::to_string(folder);
        std::filesystem::create_directories(path);
        for (std::uint32_t i = 0; i < size && made < count; ++i, ++made) {
            std::string name = path + "/t" + std::to_string(made);
            makeTable(table, memo);
            if (below(5) == 0) {
                damage(table);
                ++damaged;
            }
            write(name + ".dbf", table);
            if (!memo.empty())
                write(name + ".dbt", memo);
        }
        ++folder;
    }
    std::printf("%u tables in %u folders, %u damaged\n", count, folder, damaged);
    return 0;
}
