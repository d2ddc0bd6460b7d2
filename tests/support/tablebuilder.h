// Builds table files byte by byte, so that every test states its input exactly.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace salvora::testing {

using Bytes = std::vector<std::uint8_t>;

struct FieldSpec {
    std::string name;
    char type = 'C';
    std::uint16_t length = 10; // for C the high byte goes to the decimal byte
    std::uint8_t decimals = 0;
    std::uint8_t flags = 0;
};

class TableBuilder {
  public:
    explicit TableBuilder(std::uint8_t type = 0x03) : type_(type) {}

    TableBuilder &field(const std::string &name, char type, std::uint16_t length,
                        std::uint8_t decimals = 0, std::uint8_t flags = 0);
    // `values` fills the record after the deletion flag, blank-padded or cut to fit.
    TableBuilder &record(const std::string &values, char deletionFlag = ' ');
    TableBuilder &rawRecord(const Bytes &bytes); // whole record, flag included
    TableBuilder &date(int yearsSince1900, int month, int day);
    TableBuilder &tableFlags(std::uint8_t flags);
    TableBuilder &recordCount(std::uint32_t count); // stored count, default the true one
    TableBuilder &headerLength(std::uint16_t length);
    TableBuilder &recordLength(std::uint16_t length);
    TableBuilder &backlink(const std::string &text); // Visual FoxPro types only
    TableBuilder &endMarker(bool present);

    std::uint16_t computedRecordLength() const;
    std::uint16_t computedHeaderLength() const;
    Bytes header() const; // header, descriptors, terminator and backlink
    Bytes build() const;

  private:
    std::uint8_t type_;
    std::vector<FieldSpec> fields_;
    std::vector<Bytes> records_;
    std::uint8_t year_ = 124, month_ = 5, day_ = 7;
    std::uint8_t flags_ = 0;
    std::optional<std::uint32_t> recordCount_;
    std::optional<std::uint16_t> headerLength_;
    std::optional<std::uint16_t> recordLength_;
    std::string backlink_;
    bool endMarker_ = true;
};

Bytes concat(const Bytes &a, const Bytes &b);
Bytes bytesOf(const std::string &text);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    std::vector<std::string> names() const; // sorted

  private:
    std::string path_;
};

// Makes a folder the working folder for as long as it lives.
class WorkingFolder {
  public:
    explicit WorkingFolder(const std::string &folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(previous_); }
    WorkingFolder(const WorkingFolder &) = delete;
    WorkingFolder &operator=(const WorkingFolder &) = delete;

  private:
    std::filesystem::path previous_;
};

void writeFile(const std::string &path, const Bytes &bytes);
Bytes readFile(const std::string &path);
bool fileExists(const std::string &path);

} // namespace salvora::testing
