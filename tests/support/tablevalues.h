// Reads the records of a table file and the memos they refer to, written apart from the
// engine so that a repair can be compared with the table it came from: records as stored,
// memo references replaced by the memos they name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/support/tablebuilder.h"

namespace salvora::testing {

struct TableValues {
    struct Field {
        std::string name;
        char type = 0;
        std::size_t length = 0;
        bool memo = false; // M, G, P, W: the value is the memo, not the reference
    };
    std::vector<Field> fields;
    // Per record: the deletion flag, then one value per field.
    std::vector<std::vector<Bytes>> records;
    bool memoMissing = false; // a reference named a block the memo file does not have
};

// `memoPath` empty: memo fields read as empty. Nothing when the header makes no sense.
std::optional<TableValues> readTableValues(const std::string &tablePath,
                                           const std::string &memoPath);

// The memo file beside a table, in any of the known extensions and letter cases; "" if none.
std::string memoBeside(const std::string &tablePath);

// "" when equal, else the first difference in words.
std::string compareValues(const TableValues &actual, const TableValues &expected);

} // namespace salvora::testing
