// Writes a sound table with a memo file, both together about MIB MiB, for timing memo repairs.
//   salvora_make_memo_table PATH MIB fox2|vfp|db3|db4
// Each record holds a 10-character name and one memo of 100 to 2000 bytes of text; the memo
// file goes beside PATH with the extension its kind takes (.fpt or .dbt).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchbytes.h"

namespace {

using bench::be32;
using bench::le16;
using bench::le32;

struct Kind {
    const char *name;
    std::uint8_t type;
    std::uint8_t tableFlags;
    const char *extension;
    std::uint32_t blockSize;
    bool foxPro;
    bool dBase4;
};

constexpr Kind kinds[] = {
    {"fox2", 0xF5, 0x00, "fpt", 64, true, false},
    {"vfp", 0x30, 0x02, "fpt", 64, true, false},
    {"db3", 0x83, 0x00, "dbt", 512, false, false},
    {"db4", 0x8B, 0x00, "dbt", 512, false, true},
};

std::uint64_t state = 0x9E3779B97F4A7C15ull;
std::uint32_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::uint32_t>(state >> 11);
}

// Writes through a large buffer so that the generator itself is not the slow part.
struct Out {
    std::FILE *file;
    std::vector<std::uint8_t> pending;
    void put(const void *data, std::size_t length) {
        auto *bytes = static_cast<const std::uint8_t *>(data);
        pending.insert(pending.end(), bytes, bytes + length);
        if (pending.size() >= (8u << 20))
            drain();
    }
    void drain() {
        if (!pending.empty() &&
            std::fwrite(pending.data(), 1, pending.size(), file) != pending.size()) {
            std::perror("write");
            std::exit(1);
        }
        pending.clear();
    }
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PATH MIB fox2|vfp|db3|db4\n", argv[0]);
        return 2;
    }
    std::string path = argv[1];
    std::uint64_t total = std::strtoull(argv[2], nullptr, 10) << 20;
    const Kind *kind = nullptr;
    for (const Kind &k : kinds)
        if (std::strcmp(k.name, argv[3]) == 0)
            kind = &k;
    if (!kind || total == 0) {
        std::fprintf(stderr, "usage: %s PATH MIB fox2|vfp|db3|db4\n", argv[0]);
        return 2;
    }
    std::string memoPath = path.substr(0, path.rfind('.')) + "." + kind->extension;

    bool vfp = kind->type == 0x30;
    std::uint32_t memoWidth = vfp ? 4 : 10;
    std::uint32_t recordLength = 1 + 10 + memoWidth;
    std::uint32_t fieldCount = 2;
    std::uint32_t headerLength = 32 + 32 * fieldCount + 1 + (vfp ? 263 : 0);

    std::FILE *tableFile = std::fopen(path.c_str(), "wb");
    std::FILE *memoFile = std::fopen(memoPath.c_str(), "wb");
    if (!tableFile || !memoFile) {
        std::perror("open");
        return 1;
    }
    Out table{tableFile, {}};
    Out memo{memoFile, {}};

    std::vector<std::uint8_t> header(headerLength, 0);
    table.put(header.data(), header.size()); // rewritten at the end with the record count
    std::vector<std::uint8_t> memoHeader(512, 0);
    memo.put(memoHeader.data(), memoHeader.size());

    std::uint64_t written = headerLength + 512;
    std::uint32_t block = 512 / kind->blockSize;
    std::uint32_t records = 0;
    std::vector<std::uint8_t> text;
    std::uint8_t record[32];
    while (written < total) {
        std::uint32_t length = 100 + next() % 1901;
        text.resize(length);
        for (std::uint32_t i = 0; i < length; ++i)
            text[i] = static_cast<std::uint8_t>(i % 61 == 60 ? ' ' : 'a' + next() % 26);
        std::vector<std::uint8_t> bytes;
        if (kind->foxPro) {
            bytes.resize(8);
            be32(bytes.data(), 1);
            be32(bytes.data() + 4, length);
            bytes.insert(bytes.end(), text.begin(), text.end());
        } else if (kind->dBase4) {
            bytes.resize(8);
            le32(bytes.data(), 0x0008FFFF);
            le32(bytes.data() + 4, length + 8);
            bytes.insert(bytes.end(), text.begin(), text.end());
        } else {
            bytes = text;
            bytes.push_back(0x1A);
            bytes.push_back(0x1A);
        }
        std::uint32_t blocks =
            static_cast<std::uint32_t>((bytes.size() + kind->blockSize - 1) / kind->blockSize);
        bytes.resize(static_cast<std::size_t>(blocks) * kind->blockSize, 0);
        memo.put(bytes.data(), bytes.size());

        std::memset(record, ' ', sizeof record);
        char name[16];
        std::snprintf(name, sizeof name, "N%09u", records);
        std::memcpy(record + 1, name, 10);
        if (vfp) {
            le32(record + 11, block);
        } else {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%10u", block);
            std::memcpy(record + 11, digits, 10);
        }
        table.put(record, recordLength);
        block += blocks;
        ++records;
        written += recordLength + bytes.size();
    }
    std::uint8_t end = 0x1A;
    table.put(&end, 1);
    table.drain();
    memo.drain();

    header[0] = kind->type;
    header[1] = 126;
    header[2] = 1;
    header[3] = 1;
    le32(header.data() + 4, records);
    le16(header.data() + 8, headerLength);
    le16(header.data() + 10, recordLength);
    header[28] = kind->tableFlags;
    std::uint8_t *field = header.data() + 32;
    std::memcpy(field, "NAME", 4);
    field[11] = 'C';
    le32(field + 12, 1);
    field[16] = 10;
    field += 32;
    std::memcpy(field, "NOTES", 5);
    field[11] = 'M';
    le32(field + 12, 11);
    field[16] = static_cast<std::uint8_t>(memoWidth);
    header[32 + 32 * fieldCount] = 0x0D;
    std::fseek(tableFile, 0, SEEK_SET);
    std::fwrite(header.data(), 1, header.size(), tableFile);

    if (kind->foxPro) {
        be32(memoHeader.data(), block);
        memoHeader[6] = static_cast<std::uint8_t>(kind->blockSize >> 8);
        memoHeader[7] = static_cast<std::uint8_t>(kind->blockSize);
    } else {
        le32(memoHeader.data(), block);
        if (kind->dBase4) {
            std::string base = path.substr(path.find_last_of('/') + 1);
            base = base.substr(0, base.find('.'));
            std::memcpy(memoHeader.data() + 8, base.data(), std::min<std::size_t>(base.size(), 8));
            memoHeader[18] = 0x02;
            le16(memoHeader.data() + 20, 512);
        } else {
            memoHeader[16] = 0x03;
        }
    }
    std::fseek(memoFile, 0, SEEK_SET);
    std::fwrite(memoHeader.data(), 1, memoHeader.size(), memoFile);
    std::fclose(tableFile);
    std::fclose(memoFile);
    std::printf("%u records, %u memo blocks of %u bytes\n", records, block, kind->blockSize);
    return 0;
}
