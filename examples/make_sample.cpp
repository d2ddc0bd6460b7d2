// Writes the demo tables: customers.dbf, a small sound dBASE III table, and
// customers_damaged.dbf, the same bytes with the 32-byte header wiped out.
// Every byte is fixed (no clock, no randomness) so the bundled copies can be regenerated
// exactly.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Field {
    const char *name;
    char type;
    std::uint8_t length;
    std::uint8_t decimals;
};

constexpr std::array<Field, 6> fields{{
    {"ID", 'N', 6, 0},
    {"NAME", 'C', 20, 0},
    {"CITY", 'C', 15, 0},
    {"JOINED", 'D', 8, 0},
    {"ACTIVE", 'L', 1, 0},
    {"BALANCE", 'N', 10, 2},
}};

struct Customer {
    int id;
    const char *name;
    const char *city;
    const char *joined; // YYYYMMDD, or blank for a date never entered
    char active;
    long long balanceCents;
    bool deleted;
};

constexpr std::array<Customer, 25> customers{{
    {1001, "Anderson Hardware", "Springfield", "19980412", 'T', 1250075, false},
    {1002, "Baker & Sons", "Riverside", "19990107", 'T', 48210, false},
    {1003, "Clearwater Dental", "Fairview", "20010923", 'T', 0, false},
    {1004, "Delgado Imports", "Madison", "19971130", 'F', -15030, false},
    {1005, "Evergreen Florist", "Georgetown", "20030218", 'T', 9999, false},
    {1006, "Foster Auto Repair", "Salem", "20000615", 'T', 327540, false},
    {1007, "Greenfield Farms", "Franklin", "19960301", 'F', 0, false},
    {1008, "Harbor Marine Supply", "Clinton", "20020805", 'T', 1875000, true},
    {1009, "Ivy Lane Books", "Ashland", "20040129", 'T', 6420, false},
    {1010, "Jensen Plumbing", "Burlington", "19981022", 'T', 214399, false},
    {1011, "Kowalski Bakery", "Milton", "20050711", 'F', 150, false},
    {1012, "Lakeside Optical", "Oxford", "19990330", 'T', 58000, false},
    {1013, "Montoya Catering", "Dayton", "20010514", 'T', -220000, false},
    {1014, "Northwind Traders", "Kingston", "19970808", 'T', 9932150, false},
    {1015, "O'Malley Pub", "Dover", "20021201", ' ', 31275, false},
    {1016, "Pioneer Feed Store", "Lebanon", "19950617", 'F', 0, false},
    {1017, "Quarry Stoneworks", "Hudson", "20030909", 'T', 743005, false},
    {1018, "Riverbend Vet", "Marion", "", 'T', 12345, false},
    {1019, "Summit Outfitters", "Jackson", "20040420", 'T', 560000, true},
    {1020, "Tanaka Electronics", "Windsor", "20000102", 'T', 1999999, false},
    {1021, "Union Street Deli", "Newport", "20051115", 'F', -4599, false},
    {1022, "Valley Print Shop", "Bristol", "19990928", 'T', 88888, false},
    {1023, "Westbrook Pharmacy", "Chester", "20010306", 'T', 402150, false},
    {1024, "Yellowstone Tours", "Cody", "20021019", 'T', 25, false},
    {1025, "Zeller Tailoring", "Hamilton", "20030727", 'F', 7700, false},
}};

// The header's "last update" date, fixed so the output never depends on the clock.
constexpr int updatedYear = 2005, updatedMonth = 12, updatedDay = 30;

void putLe16(std::uint8_t *p, unsigned v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void putLe32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Character fields are padded on the right, numbers on the left, as dBASE stores them.
void putText(std::vector<std::uint8_t> &out, const std::string &text, std::size_t width) {
    std::string cell = text.substr(0, width);
    cell.resize(width, ' ');
    out.insert(out.end(), cell.begin(), cell.end());
}

void putNumber(std::vector<std::uint8_t> &out, const std::string &text, std::size_t width) {
    std::string cell =
        text.size() >= width ? text.substr(0, width) : std::string(width - text.size(), ' ') + text;
    out.insert(out.end(), cell.begin(), cell.end());
}

std::string formatCents(long long cents) {
    long long magnitude = cents < 0 ? -cents : cents;
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%02lld", cents < 0 ? "-" : "", magnitude / 100,
                  magnitude % 100);
    return text;
}

std::vector<std::uint8_t> buildTable() {
    unsigned recordLength = 1;
    for (const Field &field : fields)
        recordLength += field.length;
    const auto headerLength = static_cast<unsigned>(32 * fields.size() + 33);

    std::vector<std::uint8_t> table(32, 0);
    table[0] = 0x03;
    table[1] = static_cast<std::uint8_t>(updatedYear - 1900);
    table[2] = updatedMonth;
    table[3] = updatedDay;
    putLe32(&table[4], static_cast<std::uint32_t>(customers.size()));
    putLe16(&table[8], headerLength);
    putLe16(&table[10], recordLength);

    for (const Field &field : fields) {
        std::array<std::uint8_t, 32> descriptor{};
        std::memcpy(descriptor.data(), field.name, std::strlen(field.name));
        descriptor[11] = static_cast<std::uint8_t>(field.type);
        descriptor[16] = field.length;
        descriptor[17] = field.decimals;
        table.insert(table.end(), descriptor.begin(), descriptor.end());
    }
    table.push_back(0x0D);

    for (const Customer &c : customers) {
        table.push_back(c.deleted ? '*' : ' ');
        putNumber(table, std::to_string(c.id), 6);
        putText(table, c.name, 20);
        putText(table, c.city, 15);
        putText(table, c.joined, 8);
        table.push_back(static_cast<std::uint8_t>(c.active));
        putNumber(table, formatCents(c.balanceCents), 10);
    }
    table.push_back(0x1A);

    if (table.size() != headerLength + customers.size() * recordLength + 1) {
        std::fprintf(stderr, "internal error: table layout does not add up\n");
        return {};
    }
    return table;
}

bool writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    if (!folder.empty() && folder.back() != '/')
        folder += '/';

    std::vector<std::uint8_t> table = buildTable();
    if (table.empty())
        return 1;
    // The damage a crashed writer or a bad sector typically leaves: the header block zeroed,
    // the field descriptors and records untouched.
    std::vector<std::uint8_t> damaged = table;
    std::fill(damaged.begin(), damaged.begin() + 32, 0);

    if (!writeFile(folder + "customers.dbf", table) ||
        !writeFile(folder + "customers_damaged.dbf", damaged))
        return 1;
    std::printf("wrote %scustomers.dbf and %scustomers_damaged.dbf (%zu records, %zu bytes)\n",
                folder.c_str(), folder.c_str(), customers.size(), table.size());
    return 0;
}
