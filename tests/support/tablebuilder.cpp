#include "tests/support/tablebuilder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace salvora::testing {

namespace {

void putLe16(Bytes &b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void putLe32(Bytes &b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool isVisualFoxPro(std::uint8_t type) {
    return type == 0x30 || type == 0x31 || type == 0x32;
}

} // namespace

TableBuilder &TableBuilder::field(const std::string &name, char type, std::uint16_t length,
                                  std::uint8_t decimals, std::uint8_t flags) {
    fields_.push_back({name, type, length, decimals, flags});
    return *this;
}

TableBuilder &TableBuilder::record(const std::string &values, char deletionFlag) {
    Bytes bytes(computedRecordLength(), ' ');
    bytes[0] = static_cast<std::uint8_t>(deletionFlag);
    std::copy_n(values.begin(), std::min<std::size_t>(values.size(), bytes.size() - 1),
                bytes.begin() + 1);
    records_.push_back(std::move(bytes));
    return *this;
}

TableBuilder &TableBuilder::rawRecord(const Bytes &bytes) {
    records_.push_back(bytes);
    return *this;
}

TableBuilder &TableBuilder::date(int yearsSince1900, int month, int day) {
    year_ = static_cast<std::uint8_t>(yearsSince1900);
    month_ = static_cast<std::uint8_t>(month);
    day_ = static_cast<std::uint8_t>(day);
    return *this;
}

TableBuilder &TableBuilder::tableFlags(std::uint8_t flags) {
    flags_ = flags;
    return *this;
}

TableBuilder &TableBuilder::recordCount(std::uint32_t count) {
    recordCount_ = count;
    return *this;
}

TableBuilder &TableBuilder::headerLength(std::uint16_t length) {
    headerLength_ = length;
    return *this;
}

TableBuilder &TableBuilder::recordLength(std::uint16_t length) {
    recordLength_ = length;
    return *this;
}

TableBuilder &TableBuilder::backlink(const std::string &text) {
    backlink_ = text;
    return *this;
}

TableBuilder &TableBuilder::endMarker(bool present) {
    endMarker_ = present;
    return *this;
}

std::uint16_t TableBuilder::computedRecordLength() const {
    std::uint32_t length = 1;
    for (const FieldSpec &f : fields_)
        length += f.length;
    return static_cast<std::uint16_t>(length);
}

std::uint16_t TableBuilder::computedHeaderLength() const {
    return static_cast<std::uint16_t>(32 * fields_.size() + (isVisualFoxPro(type_) ? 296 : 33));
}

Bytes TableBuilder::header() const {
    Bytes bytes(32, 0);
    bytes[0] = type_;
    bytes[1] = year_;
    bytes[2] = month_;
    bytes[3] = day_;
    putLe32(bytes, 4, recordCount_.value_or(static_cast<std::uint32_t>(records_.size())));
    putLe16(bytes, 8, headerLength_.value_or(computedHeaderLength()));
    putLe16(bytes, 10, recordLength_.value_or(computedRecordLength()));
    bytes[28] = flags_;
    std::uint32_t displacement = 1;
    for (const FieldSpec &f : fields_) {
        Bytes d(32, 0);
        std::copy_n(f.name.begin(), std::min<std::size_t>(f.name.size(), 11), d.begin());
        d[11] = static_cast<std::uint8_t>(f.type);
        putLe32(d, 12, displacement);
        d[16] = static_cast<std::uint8_t>(f.length);
        d[17] = f.type == 'C' ? static_cast<std::uint8_t>(f.length >> 8) : f.decimals;
        d[18] = f.flags;
        displacement += f.length;
        bytes.insert(bytes.end(), d.begin(), d.end());
    }
    bytes.push_back(0x0D);
    if (isVisualFoxPro(type_)) {
        Bytes link(263, 0);
        std::copy_n(backlink_.begin(), std::min<std::size_t>(backlink_.size(), 263), link.begin());
        bytes.insert(bytes.end(), link.begin(), link.end());
    }
    return bytes;
}

Bytes TableBuilder::build() const {
    Bytes bytes = header();
    for (const Bytes &r : records_)
        bytes.insert(bytes.end(), r.begin(), r.end());
    if (endMarker_)
        bytes.push_back(0x1A);
    return bytes;
}

Bytes concat(const Bytes &a, const Bytes &b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes bytesOf(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

TempDir::TempDir() {
    std::random_device entropy;
    auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("salvora-test-" + std::to_string(entropy()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Give back write permission first, so that read-only leftovers can be removed.
    for (auto &entry : std::filesystem::recursive_directory_iterator(path_, ignored))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::names() const {
    std::vector<std::string> names;
    for (auto &entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeFile(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string &path) {
    return std::filesystem::exists(path);
}

} // namespace salvora::testing
