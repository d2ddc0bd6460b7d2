#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <string>

#include "engine/bufferedio.h"
#include "engine/recordgrid.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;

// Records of 23 bytes, the flag column the only one with blanks: a column that misses its flag
// in up to two of its first five records is still the flag column.
TEST(RecordGrid, AFlagColumnMayMissTwoOfItsFirstFlags) {
    constexpr std::size_t length = 23;
    std::mt19937 random(9);
    for (unsigned misses = 0; misses < 32; ++misses) {
        if (std::popcount(misses) > 2)
            continue;
        Bytes file;
        for (std::size_t record = 0; record < 400; ++record) {
            file.push_back(record < 5 && (misses >> record & 1) ? 'X' : ' ');
            for (std::size_t column = 1; column < length; ++column)
                file.push_back(static_cast<std::uint8_t>("ABC0123456789XYZ"[random() % 16]));
        }
        testing::TempDir dir;
        const std::string path = dir.file("t.dbf");
        testing::writeFile(path, file);
        platform::OpenResult opened = platform::nativePlatform().openFile(
            path, platform::OpenRequest{platform::Access::Read, platform::Share::Read,
                                        platform::Disposition::OpenExisting});
        ASSERT_TRUE(opened);
        WindowReader reader(*opened.file, file.size());
        const std::optional<RecordGrid> grid = findRecordGrid(reader);
        ASSERT_TRUE(grid) << "misses " << misses;
        EXPECT_EQ(grid->recordLength, length) << "misses " << misses;
    }
}

} // namespace
} // namespace salvora
