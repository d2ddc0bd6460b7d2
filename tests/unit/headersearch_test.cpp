#include <gtest/gtest.h>

#include <random>

#include "engine/analysis.h"
#include "tests/support/referencesearch.h"

namespace salvora {
namespace {

using testing::Bytes;

class HeaderSearchTest : public ::testing::Test {
  protected:
    // Analyses `file` and checks the outcome against the slow search.
    void expectSameAsReference(const Bytes &file, const std::string &what) {
        std::string path = dir.file("t.dbf");
        testing::writeFile(path, file);
        RecoveryJob job;
        job.sourcePath = path;
        EngineContext context(platform::nativePlatform());
        AnalysisResult result = analyseStructure(context, job);
        ASSERT_TRUE(result.opened) << what;

        std::optional<testing::ReferenceHeader> expected = testing::referenceHeaderSearch(file);
        if (!expected && !result.relocated && !result.abort)
            expected = testing::referenceHeaderSearch(file, true); // no rebuild described records
        if (!expected) {
            EXPECT_TRUE(result.relocated || result.abort) << what;
            return;
        }
        ASSERT_FALSE(result.relocated) << what;
        EXPECT_EQ(result.headerOffset, expected->offset) << what;
        EXPECT_EQ(job.fieldCount, std::max(expected->fieldCount, 0)) << what;
        ASSERT_EQ(job.fields.size(), expected->fields.size()) << what;
        for (std::size_t i = 0; i < job.fields.size(); ++i)
            EXPECT_EQ(Bytes(job.fields[i].bytes.begin(), job.fields[i].bytes.end()),
                      expected->fields[i])
                << what << " field " << i;
        std::uint8_t type = expected->header[0] != 0 ? expected->header[0] : expected->inferredType;
        EXPECT_EQ(job.header.type(), type) << what;
        EXPECT_EQ(job.header.recordLength(), expected->header[10] | expected->header[11] << 8)
            << what;
    }

    testing::TempDir dir;
};

Bytes descriptor(char type, std::uint8_t length, std::uint8_t flags = 0, char first = 'F') {
    Bytes d(32, 0);
    d[0] = static_cast<std::uint8_t>(first);
    d[11] = static_cast<std::uint8_t>(type);
    d[16] = length;
    d[18] = flags;
    return d;
}

// A header that claims `fields` descriptors and a record of `recordLength` bytes.
Bytes header(std::uint8_t type, std::uint16_t fields, std::uint16_t recordLength) {
    Bytes h(32, 0);
    h[0] = type;
    h[1] = 120;
    h[2] = 3;
    h[3] = 4;
    std::uint16_t headerLength = static_cast<std::uint16_t>(32 * fields + 33);
    h[8] = static_cast<std::uint8_t>(headerLength);
    h[9] = static_cast<std::uint8_t>(headerLength >> 8);
    h[10] = static_cast<std::uint8_t>(recordLength);
    h[11] = static_cast<std::uint8_t>(recordLength >> 8);
    return h;
}

TEST_F(HeaderSearchTest, RandomFilesWithPlantedHeadersMatchTheSlowSearch) {
    std::mt19937 random(7);
    const char letters[] = "CNDLFMTIYB+PGQVXZ0";
    int searchedOn = 0;
    for (int round = 0; round < 150; ++round) {
        Bytes file(2000 + random() % 6000);
        for (auto &b : file)
            b = static_cast<std::uint8_t>(random() % 4 == 0 ? random()
                                                            : "+TCNM \x0d\x1a"[random() % 8]);
        // Plant a few headers, some sound, some with damaged descriptors or a zero type byte.
        for (int plant = 0; plant < 3; ++plant) {
            std::size_t at = random() % (file.size() / 2);
            std::uint16_t count = static_cast<std::uint16_t>(1 + random() % 6);
            std::uint16_t length = 1;
            Bytes table = header(static_cast<std::uint8_t>(random() % 3 == 0 ? 0 : 0x03), count, 0);
            for (int i = 0; i < count; ++i) {
                char type = letters[random() % (sizeof letters - 1)];
                std::uint8_t size = static_cast<std::uint8_t>(1 + random() % 12);
                Bytes d = descriptor(type, size, random() % 4 == 0 ? 0x0C : 0);
                table.insert(table.end(), d.begin(), d.end());
                length = static_cast<std::uint16_t>(length + size);
            }
            table[10] = static_cast<std::uint8_t>(length + (random() % 3 == 0 ? 1 : 0));
            table.push_back(0x0D);
            // Its records start with deletion flags, as a header's records must.
            for (std::size_t i = at + table.size(); i < file.size(); i += table[10])
                file[i] = random() % 2 ? ' ' : '*';
            for (std::size_t i = 0; i < table.size() && at + i < file.size(); ++i)
                file[at + i] = table[i];
        }
        // Most rounds must search past offset 0, where the first candidate is trusted.
        if (round % 4 != 0)
            std::fill(file.begin(), file.begin() + 64, 0);
        expectSameAsReference(file, "round " + std::to_string(round));
        if (HasFailure())
            return;
        std::optional<testing::ReferenceHeader> found = testing::referenceHeaderSearch(file);
        searchedOn += found && found->offset > 0;
    }
    EXPECT_GT(searchedOn, 50);
}

TEST_F(HeaderSearchTest, LongRunsOfAcceptableDescriptorsMatchTheSlowSearch) {
    // Every offset offers a header whose descriptor walk runs hundreds of descriptors long.
    for (std::uint8_t fill : {'+', 'T', 'M', 'C', 'D', 'L', 't', '4'}) {
        Bytes file(64, 0);
        file.resize(12000, fill);
        expectSameAsReference(file, std::string("fill ") + static_cast<char>(fill));
    }
    Bytes mixed(64, 0);
    for (int i = 0; i < 1200; ++i) {
        Bytes d =
            descriptor("+TYMQ"[i % 5], static_cast<std::uint8_t>(i % 7 + 1), i % 3 ? 0 : 0x0C, '+');
        d[8] = 0x2B;
        d[9] = 0x2B;
        d[10] = static_cast<std::uint8_t>(i % 11 == 0 ? 0x0D : 0x2B);
        mixed.insert(mixed.end(), d.begin(), d.end());
    }
    expectSameAsReference(mixed, "mixed");
}

TEST_F(HeaderSearchTest, Level7CandidatesMatchTheSlowSearch) {
    std::mt19937 random(11);
    int searchedOn = 0;
    for (int round = 0; round < 120; ++round) {
        Bytes file(64, 0);
        file.resize(3000 + random() % 5000);
        for (std::size_t i = 64; i < file.size(); ++i)
            file[i] = static_cast<std::uint8_t>(
                random() % 3 == 0 ? random() : "DT+C\x0d\x1a\x00N"[random() % 8]);
        for (int plant = 0; plant < 3; ++plant) {
            std::size_t count = 1 + random() % 8;
            Bytes table(68, 0);
            table[0] = random() % 2 ? 0x04 : 0x8C;
            std::uint16_t headerLength =
                static_cast<std::uint16_t>(68 + 48 * count + 1 + random() % 3 * 48);
            table[8] = static_cast<std::uint8_t>(headerLength);
            table[9] = static_cast<std::uint8_t>(headerLength >> 8);
            std::uint32_t recordLength = 1;
            bool cut = false; // a name starting with 0x1A ends the field list
            for (std::size_t i = 0; i < count; ++i) {
                Bytes d(48, 0);
                d[0] = static_cast<std::uint8_t>(random() % 6 == 0 ? 0x1A : 'A' + i);
                d[32] = static_cast<std::uint8_t>("CNDTMQX+"[random() % 8]);
                d[33] = static_cast<std::uint8_t>(random() % 5 == 0 ? 0 : 1 + random() % 20);
                d[34] = static_cast<std::uint8_t>(random() % 4 == 0 ? 1 : 0);
                cut |= d[0] == 0x1A && d[33] != 0;
                if (!cut)
                    recordLength += d[32] == 'C' ? d[34] * 256u + d[33] : d[33];
                table.insert(table.end(), d.begin(), d.end());
            }
            table.push_back(0x0D);
            table[10] = static_cast<std::uint8_t>(recordLength);
            table[11] = static_cast<std::uint8_t>(recordLength >> 8);
            std::size_t at = 64 + random() % (file.size() / 2);
            for (std::size_t i = at + headerLength; i < file.size(); i += recordLength)
                file[i] = ' ';
            for (std::size_t i = 0; i < table.size() && at + i < file.size(); ++i)
                file[at + i] = table[i];
        }
        expectSameAsReference(file, "level 7 round " + std::to_string(round));
        if (HasFailure())
            return;
        std::optional<testing::ReferenceHeader> found = testing::referenceHeaderSearch(file);
        searchedOn += found && found->offset > 0 && (found->header[0] & 7) == 4;
    }
    EXPECT_GT(searchedOn, 20);
}

} // namespace
} // namespace salvora
