// Writes large inputs for the benchmark:
//   salvora_make_table PATH [MIB] [table|noheader]
// "table" (the default) is a sound dBASE III table of about MIB MiB with 100-byte records;
// "noheader" is exactly MIB MiB of 0x05 bytes, in which no header can be found anywhere, so
// a repair has to search every offset.
// The output depends only on the arguments, so runs on different machines time the same bytes.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t chunkSize = 8u << 20;

struct Field {
    const char *name;
    char type;
    std::uint8_t length;
    std::uint8_t decimals;
};

constexpr std::array<Field, 7> fields{{
    {"CUSTOMER", 'C', 40, 0},
    {"STREET", 'C', 30, 0},
    {"AMOUNT", 'N', 10, 2},
    {"ORDERED", 'D', 8, 0},
    {"PAID", 'L', 1, 0},
    {"QUANTITY", 'N', 8, 0},
    {"REGION", 'C', 2, 0},
}};

constexpr std::size_t recordLength = 100;
constexpr std::size_t headerLength = 32 * fields.size() + 33;

constexpr const char *firstNames[] = {
    "Alice", "Bruno",  "Chen",   "Dmitri",  "Elena", "Farah",  "Giulia", "Hiro",
    "Ines",  "Jonas",  "Kwame",  "Lena",    "Marco", "Nadia",  "Oskar",  "Priya",
    "Quinn", "Rafael", "Sofia",  "Tomasz",  "Uma",   "Viktor", "Wendy",  "Xavier",
    "Yara",  "Zoltan", "Amelie", "Bartosz", "Carla", "Dario",  "Emeka",  "Freya",
};
constexpr const char *lastNames[] = {
    "Abernathy", "Bergstrom",    "Castellano", "Dubois",     "Eriksen",   "Fitzgerald", "Goldberg",
    "Hernandez", "Ivanova",      "Jorgensen",  "Kowalczyk",  "Lindqvist", "Moreau",     "Nakamura",
    "Okonkwo",   "Papadopoulos", "Quintero",   "Rasmussen",  "Schneider", "Takahashi",  "Underwood",
    "Vasquez",   "Whitfield",    "Yamamoto",   "Zimmermann", "O'Brien",   "van Dijk",   "Novak",
};
constexpr const char *companySuffixes[] = {
    "", " Ltd", " & Co", " GmbH", " Trading", " Logistics", " Holdings", " Bakery",
};
constexpr const char *streets[] = {
    "Main Street",    "Oak Avenue",    "Harbour Road",  "Kings Lane",
    "Station Road",   "Mill Lane",     "Church Street", "Victoria Parade",
    "Elm Grove",      "Market Square", "Bridge Street", "Park Crescent",
    "Rue de la Paix", "Hauptstrasse",  "Via Roma",      "Calle Mayor",
};
constexpr const char *regions[] = {"NE", "NW", "SE", "SW", "CN", "EU", "AS", "AF"};

template <typename T, std::size_t N> constexpr std::size_t countOf(const T (&)[N]) {
    return N;
}

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }

  private:
    std::uint64_t state_;
};

// Copies `text` to `p`; returns the position after it.
char *append(char *p, const char *text) {
    std::size_t n = std::strlen(text);
    std::memcpy(p, text, n);
    return p + n;
}

char *appendNumber(char *p, std::uint32_t value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

// Fills a cell from `end` to `start + width` with spaces; returns the cell's end.
char *pad(char *start, char *end, std::size_t width) {
    std::memset(end, ' ', width - static_cast<std::size_t>(end - start));
    return start + width;
}

// Left-aligned text padded with spaces; returns the next free position.
char *putText(char *p, std::size_t width, const char *text) {
    std::size_t n = std::strlen(text);
    if (n > width)
        n = width;
    std::memcpy(p, text, n);
    std::memset(p + n, ' ', width - n);
    return p + width;
}

// Right-aligned unsigned number with `decimals` digits after a point; `negative` puts a
// minus sign in front.
char *putNumber(char *p, std::size_t width, std::uint64_t value, int decimals, bool negative) {
    char *end = p + width;
    char *q = end;
    int digits = 0;
    do {
        if (decimals > 0 && digits == decimals)
            *--q = '.';
        *--q = static_cast<char>('0' + value % 10);
        value /= 10;
        ++digits;
    } while ((value != 0 || digits <= decimals) && q > p);
    if (negative && q > p)
        *--q = '-';
    std::memset(p, ' ', static_cast<std::size_t>(q - p));
    return end;
}

void putLe16(std::uint8_t *p, std::size_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void putLe32(std::uint8_t *p, std::uint64_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void makeRecord(char *r, std::uint64_t index, Random &random) {
    // A small share of deleted records, as any table that has been in use carries.
    *r++ = random.below(50) == 0 ? '*' : ' ';

    // Built by hand rather than with snprintf: formatting is most of the generator's time.
    char *start = r;
    char *p = append(r, firstNames[random.below(countOf(firstNames))]);
    *p++ = ' ';
    p = append(p, lastNames[random.below(countOf(lastNames))]);
    p = append(p, companySuffixes[random.below(countOf(companySuffixes))]);
    r = pad(start, p, 40);

    start = r;
    p = appendNumber(r, 1 + random.below(999));
    *p++ = ' ';
    p = append(p, streets[random.below(countOf(streets))]);
    r = pad(start, p, 30);

    std::uint64_t cents = random.below(100000000);
    r = putNumber(r, 10, cents, 2, random.below(20) == 0);

    unsigned year = 1990 + random.below(35);
    unsigned month = 1 + random.below(12);
    unsigned day = 1 + random.below(28);
    r = putNumber(r, 4, year, 0, false);
    r = putNumber(r, 2, month, 0, false);
    r = putNumber(r, 2, day, 0, false);
    // putNumber pads with spaces; dates want leading zeros.
    for (char *d = r - 4; d < r; ++d)
        if (*d == ' ')
            *d = '0';

    constexpr char logical[] = "TFTFTF?";
    *r++ = logical[random.below(sizeof logical - 1)];

    r = putNumber(r, 8, index % 1000 == 0 ? 0 : random.below(5000000), 0, false);
    putText(r, 2, regions[random.below(countOf(regions))]);
}

bool writeAll(std::FILE *out, const void *data, std::size_t length) {
    return std::fwrite(data, 1, length, out) == length;
}

bool writeTable(std::FILE *out, std::uint64_t bytes) {
    if (bytes < headerLength + 1 + recordLength) {
        std::fprintf(stderr, "size too small for a single record\n");
        return false;
    }
    std::uint64_t records = (bytes - headerLength - 1) / recordLength;
    if (records > 0xFFFFFFFFu) {
        std::fprintf(stderr, "too many records for a 32-bit record count\n");
        return false;
    }

    std::vector<std::uint8_t> header(headerLength, 0);
    header[0] = 0x03;
    header[1] = 124; // 2024-06-01: fixed, so the bytes never depend on the clock
    header[2] = 6;
    header[3] = 1;
    putLe32(&header[4], records);
    putLe16(&header[8], headerLength);
    putLe16(&header[10], recordLength);
    std::size_t recordSum = 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::uint8_t *d = &header[32 + 32 * i];
        std::memcpy(d, fields[i].name, std::strlen(fields[i].name));
        d[11] = static_cast<std::uint8_t>(fields[i].type);
        d[16] = fields[i].length;
        d[17] = fields[i].decimals;
        recordSum += fields[i].length;
    }
    if (recordSum != recordLength) {
        std::fprintf(stderr, "internal error: fields do not add up to the record length\n");
        return false;
    }
    header[headerLength - 1] = 0x0D;
    if (!writeAll(out, header.data(), header.size()))
        return false;

    Random random(0x5A17F00DCAFEull);
    std::vector<char> chunk(chunkSize / recordLength * recordLength);
    std::size_t used = 0;
    for (std::uint64_t i = 0; i < records; ++i) {
        if (used == chunk.size()) {
            if (!writeAll(out, chunk.data(), used))
                return false;
            used = 0;
        }
        makeRecord(chunk.data() + used, i, random);
        used += recordLength;
    }
    chunk[used++] = 0x1A;
    return writeAll(out, chunk.data(), used);
}

bool writeNoHeader(std::FILE *out, std::uint64_t bytes) {
    std::vector<char> chunk(chunkSize, 0x05);
    while (bytes > 0) {
        std::size_t n = bytes < chunk.size() ? static_cast<std::size_t>(bytes) : chunk.size();
        if (!writeAll(out, chunk.data(), n))
            return false;
        bytes -= n;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s PATH [MIB=1024] [table|noheader]\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    std::uint64_t mebibytes = 1024;
    if (argc >= 3) {
        char *end = nullptr;
        mebibytes = std::strtoull(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' || mebibytes == 0) {
            std::fprintf(stderr, "size must be a positive number of MiB\n");
            return 2;
        }
    }
    const std::string mode = argc >= 4 ? argv[3] : "table";
    if (mode != "table" && mode != "noheader") {
        std::fprintf(stderr, "unknown mode '%s' (table or noheader)\n", mode.c_str());
        return 2;
    }

    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (!out) {
        std::perror(path.c_str());
        return 1;
    }
    // Our chunks are already large; stdio's own buffer would only add a copy.
    std::setvbuf(out, nullptr, _IONBF, 0);
    const std::uint64_t bytes = mebibytes << 20;
    bool ok = mode == "table" ? writeTable(out, bytes) : writeNoHeader(out, bytes);
    if (std::fclose(out) != 0)
        ok = false;
    if (!ok) {
        std::perror(path.c_str());
        return 1;
    }
    return 0;
}
