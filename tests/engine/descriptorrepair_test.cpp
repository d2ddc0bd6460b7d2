// A sound header with one lost field descriptor: the header is kept, the lost field comes back
// at its place and width under the name FIELDn with the type its bytes show, and every record
// is written as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/recovery.h"
#include "tests/support/enginerun.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::TableBuilder;
using testing::TempDir;

struct Column {
    const char *name;
    char type;
    std::uint16_t length;
    std::uint8_t decimals;
};

TEST(DescriptorRepair, EachLostDescriptorComesBackAtItsPlace) {
    const std::vector<Column> columns = {{"ID", 'N', 6, 0},    {"NAME", 'C', 12, 0},
                                         {"DUE", 'D', 8, 0},   {"OK", 'L', 1, 0},
                                         {"PRICE", 'N', 8, 2}, {"CODE", 'C', 3, 0}};
    for (std::uint8_t type : {std::uint8_t{0x03}, std::uint8_t{0x30}}) {
        TableBuilder t(type);
        for (const Column &c : columns)
            t.field(c.name, c.type, c.length, c.decimals);
        for (int i = 0; i < 60; ++i) {
            char values[64];
            std::snprintf(values, sizeof values, "%6d%-12s2024%02d%02d%c%8.2f%-3s", i + 1,
                          i % 2 ? "Ada Lind" : "Bo Chen", 1 + i % 12, 1 + i % 28, "TF"[i % 2],
                          i * 1.25, "x7");
            t.record(values, i % 9 == 0 ? '*' : ' ');
        }
        const Bytes sound = t.build();
        const std::size_t headerLength = t.computedHeaderLength();
        for (std::size_t lost = 0; lost < columns.size(); ++lost) {
            for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0x07}}) {
                SCOPED_TRACE("type " + std::to_string(type) + ", descriptor " +
                             std::to_string(lost + 1) + ", filled with " + std::to_string(fill));
                Bytes damaged = sound;
                std::fill(damaged.begin() + 32 + 32 * static_cast<std::ptrdiff_t>(lost),
                          damaged.begin() + 64 + 32 * static_cast<std::ptrdiff_t>(lost), fill);
                TempDir dir;
                testing::EngineRun context{platform::nativePlatform()};
                testing::writeFile(dir.file("a.dbf"), damaged);
                ASSERT_EQ(context.run(nullptr, dir.file("a.dbf"), dir.file("b.dbf"), false),
                          recoveryFixed);
                Bytes out = testing::readFile(dir.file("b.dbf"));
                ASSERT_EQ(out.size(), sound.size());
                // Header bytes 1-3 carry the date of the repair; the records are the source's.
                EXPECT_TRUE(std::equal(sound.begin() + 4, sound.begin() + 32, out.begin() + 4));
                EXPECT_TRUE(std::equal(sound.begin() + static_cast<std::ptrdiff_t>(headerLength),
                                       sound.end(),
                                       out.begin() + static_cast<std::ptrdiff_t>(headerLength)));
                const std::uint8_t *d = &out[32 + 32 * lost];
                EXPECT_EQ(std::string(reinterpret_cast<const char *>(d)),
                          "FIELD" + std::to_string(lost + 1));
                EXPECT_EQ(static_cast<char>(d[11]), columns[lost].type);
                EXPECT_EQ(d[16], columns[lost].length);
                EXPECT_EQ(d[17], columns[lost].decimals);
                for (std::size_t other = 0; other < columns.size(); ++other) {
                    if (other == lost)
                        continue;
                    EXPECT_TRUE(std::equal(sound.begin() + 32 + 32 * other,
                                           sound.begin() + 64 + 32 * other,
                                           out.begin() + 32 + 32 * other));
                }
            }
        }
    }
}

} // namespace
} // namespace salvora
