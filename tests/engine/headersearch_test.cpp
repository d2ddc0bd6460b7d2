#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "engine/analysis.h"
#include "engine/scanclasses.h"
#include "engine/tableformat.h"
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

// A sound table (header, descriptors, terminator, records) of `type`, to plant behind junk.
Bytes soundTable(std::uint8_t type, int records) {
    const char types[] = "CNDLM";
    std::uint16_t length = 1;
    Bytes fields;
    for (int i = 0; i < 5; ++i) {
        std::uint8_t size = static_cast<std::uint8_t>(types[i] == 'D'   ? 8
                                                      : types[i] == 'L' ? 1
                                                                        : 10);
        Bytes d = descriptor(types[i], size, 0, static_cast<char>('A' + i));
        fields.insert(fields.end(), d.begin(), d.end());
        length = static_cast<std::uint16_t>(length + size);
    }
    Bytes table = header(type, 5, length);
    table.insert(table.end(), fields.begin(), fields.end());
    table.push_back(0x0D);
    for (int r = 0; r < records; ++r) {
        table.push_back(r % 5 == 0 ? '*' : ' ');
        table.insert(table.end(), length - 1u, static_cast<std::uint8_t>('0' + r % 10));
    }
    table.push_back(0x1A);
    return table;
}

// The content the benchmark's header search patterns have, at a size the slow search copes with.
Bytes pattern(const std::string &name, std::size_t size) {
    Bytes file;
    if (name == "plus")
        file.assign(64, 0);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    const std::uint8_t block[32] = {'N', 'A', 'M', 'E', 0, 0, 0, 0, 0, 0, 0, 'C', 0, 0, 0, 0, 10};
    for (std::size_t at = 0; at < size; ++at) {
        std::uint8_t byte = 0x05;
        if (name == "plus") {
            byte = '+';
        } else if (name == "cdn") {
            byte = static_cast<std::uint8_t>("CDN"[at * 3 / size]);
        } else if (name == "descriptors") {
            byte = block[at % 32];
        } else if (name == "random") {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<std::uint8_t>(state >> 32);
        }
        file.push_back(byte);
    }
    return file;
}

TEST(ScanClasses, EveryByteGetsTheClassOfItsValue) {
    Bytes bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    for (std::size_t start : {0, 1, 15}) {
        for (std::size_t count : {0, 5, 16, 17, 600, 985}) {
            Bytes classes(count);
            classifyForScan(bytes.data() + start, count, classes.data());
            for (std::size_t k = 0; k < count; ++k)
                ASSERT_EQ(classes[k], scanClassOf(bytes[start + k]))
                    << "byte " << int(bytes[start + k]) << " at " << start + k;
        }
    }
}

TEST_F(HeaderSearchTest, PathologicalPatternsMatchTheSlowSearch) {
    // Long enough for the walks' bookkeeping to wrap around; with a table behind the junk, the
    // search must reach it in the same state, whose type it may have to infer (type byte 0).
    for (const char *name : {"ff05", "plus", "cdn", "descriptors", "random"}) {
        std::size_t size = std::string(name) == "cdn" ? 30000 : 40000;
        Bytes junk = pattern(name, size);
        expectSameAsReference(junk, name);
        for (std::uint8_t type : {std::uint8_t{0x03}, std::uint8_t{0x00}}) {
            Bytes file = junk;
            Bytes table = soundTable(type, 40);
            file.insert(file.end(), table.begin(), table.end());
            expectSameAsReference(file, std::string(name) + " then a table of type " +
                                            std::to_string(type));
        }
    }
}

TEST_F(HeaderSearchTest, LongRepetitionsMatchTheSlowSearch) {
    // Junk that repeats lets the search jump to where a decision would reach the end of the
    // repetition (for a level 7 walk, about 197 KB ahead): the jump must land on the offset the
    // byte-by-byte search would accept, in the same state.
    auto repeated = [](const Bytes &unit, std::size_t size) {
        Bytes file(size);
        for (std::size_t i = 0; i < size; ++i)
            file[i] = unit[i % unit.size()];
        return file;
    };
    std::mt19937 random(31);
    auto randomUnit = [&random](std::size_t size, bool fewBytes) {
        const std::uint8_t alphabet[] = {0x00, 0x01, 0x0D, 0x20, 0x2A, 0x30,
                                         0x43, 0x44, 0x4E, 0x5F, 0x2B, 0x8C};
        Bytes unit(size);
        for (auto &b : unit)
            b = fewBytes ? alphabet[random() % sizeof alphabet]
                         : static_cast<std::uint8_t>(random());
        return unit;
    };
    Bytes level7Block(48, 'A');
    level7Block[32] = 'N';
    level7Block[33] = 10;
    level7Block[36] = 0x44; // a level 7 type byte, with a header length behind it
    level7Block[37] = 0x60;
    Bytes broken = repeated(pattern("descriptors", 32), 260000);
    broken[130000] ^= 0x40;
    const std::vector<std::pair<std::string, Bytes>> junks = {
        {"a level 7 type byte", repeated({'D'}, 40000)},
        {"'+' just longer than its walks", repeated({'+'}, 11200)},
        {"level 7 blocks", repeated(level7Block, 80000)},
        {"descriptor blocks broken by one byte", broken},
        {"96 random bytes", repeated(randomUnit(96, false), 215000)},
        {"96 bytes of few kinds", repeated(randomUnit(96, true), 215000)},
        {"32 bytes of few kinds", repeated(randomUnit(32, true), 100000)},
    };
    // Blocks that are headers of 499 descriptors whose lengths do not add up, but do for the
    // one whose walk meets the terminator behind the repetition; its walk reaches as far as
    // any can, and no block holds a level 7 type byte.
    Bytes block(32, 0);
    std::memcpy(block.data(), "NAMEXYZ", 7);
    block[8] = 0x80; // 32 * 500
    block[9] = 0x3E;
    block[10] = 0x33; // with the '@' behind it, 1 + 498 * 33
    block[11] = '@';
    block[16] = 33;
    Bytes lateHeader(100, 0x05);
    Bytes blocks = repeated(block, 32 * 4000);
    lateHeader.insert(lateHeader.end(), blocks.begin(), blocks.end());
    const std::size_t accepted = lateHeader.size() - 32 * 499;
    lateHeader.push_back(0x0D);
    lateHeader.resize(lateHeader.size() + 31 + 8 * (1 + 498 * 33), ' ');
    expectSameAsReference(lateHeader, "a header the repetition's end makes");
    std::optional<testing::ReferenceHeader> found = testing::referenceHeaderSearch(lateHeader);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->offset, accepted);

    // The same for level 7: a header every 96 bytes (its descriptors 15 and 9 bytes long, by
    // turns) whose 400 descriptors do not add up, but 399 do, before the terminator behind.
    Bytes unit(96, 0);
    unit[0] = 0x8C;
    unit[4] = 'N'; // the type letter and length of the descriptors that start at 68
    unit[5] = 15;
    unit[8] = 0x45; // 68 + 48 * 400 + 1
    unit[9] = 0x4B;
    unit[10] = 0xB8; // 1 + 200 * 15 + 199 * 9
    unit[11] = 0x12;
    unit[20] = 'B'; // the descriptors that start at 20
    unit[52] = 'N';
    unit[53] = 9;
    unit[68] = 'A';
    Bytes late7(100, 0x05);
    Bytes units = repeated(unit, 96 * 400 + 20);
    late7.insert(late7.end(), units.begin(), units.end());
    const std::size_t accepted7 = late7.size() - (68 + 48 * 399);
    late7.push_back(0x0D);
    late7.resize(late7.size() + 48 + 8 * 4792, ' ');
    expectSameAsReference(late7, "a level 7 header the repetition's end makes");
    found = testing::referenceHeaderSearch(late7);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->offset, accepted7);

    for (const auto &[name, junk] : junks) {
        expectSameAsReference(junk, name);
        for (std::uint8_t type : {std::uint8_t{0x03}, std::uint8_t{0x30}}) {
            Bytes file = junk;
            Bytes table = soundTable(type, 40);
            file.insert(file.end(), table.begin(), table.end());
            expectSameAsReference(file, name + " then a table of type " + std::to_string(type));
        }
    }
}

// Junk made of the pieces that keep the search busy: runs of type letters, runs of acceptable
// 32- and 48-byte descriptors (some ending in a terminator, an end-of-file marker or a bad
// block), header lengths that make long walks, and sound tables.
Bytes randomMix(std::mt19937 &random, std::size_t size, bool wholeTables) {
    auto pick = [&random](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    const char letters[] = "CNDLFMTIYB+PGO@QVWZ0";
    Bytes file;
    while (file.size() < size) {
        switch (pick(7)) {
        case 0: // random bytes
            for (std::uint32_t n = 1 + pick(200); n > 0; --n)
                file.push_back(static_cast<std::uint8_t>(random()));
            break;
        case 1: // a run of one letter
            file.insert(file.end(), 1 + pick(3000), static_cast<std::uint8_t>(letters[pick(20)]));
            break;
        case 2:
        case 3: { // 32-byte descriptors, the bytes that would be a header's length words varied
            std::uint32_t count = 1 + pick(300);
            for (std::uint32_t i = 0; i < count; ++i) {
                Bytes d = descriptor(
                    letters[pick(18)], static_cast<std::uint8_t>(pick(4) ? pick(30) : 0),
                    pick(5) ? 0 : 0x0C,
                    static_cast<char>(pick(8) ? 'A' + pick(26) : "\x03\x30\x31\x00"[pick(4)]));
                if (pick(3) == 0) {
                    d[8] = static_cast<std::uint8_t>(pick(256));
                    d[9] = static_cast<std::uint8_t>(pick(0x40));
                    d[10] = static_cast<std::uint8_t>(pick(256));
                }
                if (d[11] == 'C')
                    d[17] = static_cast<std::uint8_t>(pick(3));
                if (pick(40) == 0)
                    d[0] = static_cast<std::uint8_t>("\x0d\x1a_"[pick(3)]);
                if (d[0] == '_')
                    std::memcpy(d.data(), pick(2) ? "_NULLFLAGS" : "_nullflags", 11);
                file.insert(file.end(), d.begin(), d.end());
            }
            break;
        }
        case 4: { // 48-byte descriptors with a level 7 header word at every 28th byte
            std::uint32_t count = 1 + pick(600);
            for (std::uint32_t i = 0; i < count; ++i) {
                Bytes d(48, 0);
                d[0] = static_cast<std::uint8_t>(pick(30) ? 'A' + pick(26) : "\x0d\x1a_"[pick(3)]);
                d[28] = static_cast<std::uint8_t>("\x04\x8c\x44\x54"[pick(4)]);
                d[32] = static_cast<std::uint8_t>(letters[pick(20)]);
                d[33] = static_cast<std::uint8_t>(pick(4) ? pick(40) : 0);
                d[34] = static_cast<std::uint8_t>(pick(2));
                std::uint32_t headerLength = pick(8) ? 68 + 48 * pick(700) + pick(3) : 64 + pick(8);
                d[36] = static_cast<std::uint8_t>(headerLength);
                d[37] = static_cast<std::uint8_t>(headerLength >> 8);
                d[38] = static_cast<std::uint8_t>(pick(256));
                d[39] = static_cast<std::uint8_t>(pick(4));
                file.insert(file.end(), d.begin(), d.end());
            }
            break;
        }
        case 5: { // a sound table, whole or cut
            Bytes table = soundTable(static_cast<std::uint8_t>("\x03\x00\x30\xf5\x83"[pick(5)]),
                                     static_cast<int>(pick(30)));
            if (!wholeTables || pick(4) != 0)
                table.resize(pick(32 * 6)); // cut inside its descriptors
            file.insert(file.end(), table.begin(), table.end());
            break;
        }
        default: // terminators and markers
            file.push_back(static_cast<std::uint8_t>("\x0d\x1a\x00 "[pick(4)]));
            break;
        }
    }
    return file;
}

TEST_F(HeaderSearchTest, RandomMixesMatchTheSlowSearch) {
    std::mt19937 random(23);
    int found = 0;
    int searchedThrough = 0;
    for (int round = 0; round < 80; ++round) {
        Bytes file =
            randomMix(random, round % 10 == 0 ? 60000 : 3000 + random() % 9000, round % 2 == 0);
        if (round % 3 != 0)
            std::fill(file.begin(), file.begin() + std::min<std::size_t>(64, file.size()), 0);
        expectSameAsReference(file, "mix " + std::to_string(round));
        if (HasFailure())
            return;
        std::optional<testing::ReferenceHeader> header = testing::referenceHeaderSearch(file);
        found += header.has_value();
        searchedThrough += !header || header->offset > file.size() / 2;
    }
    EXPECT_GT(found, 5); // records of a flag alone found no header any more
    EXPECT_GT(searchedThrough, 15);
}

// The sum of the lengths a walk from `start` adds up, as the search takes it.
std::uint32_t walkLengthSum(const Bytes &file, std::size_t start, std::uint32_t limit,
                            bool level7) {
    std::uint32_t sum = 0;
    if (!level7) {
        for (std::uint32_t i = 0; i < limit; ++i) {
            const std::uint8_t *d = file.data() + start + 32 * i;
            if (start + 32 * i + 32 > file.size() || d[0] == 0x0D || d[0] == 0x1A ||
                !isAcceptedFieldType(d))
                break;
            sum += d[11] == 'C' ? d[17] * 256u + d[16] : d[16];
        }
        return sum;
    }
    std::uint32_t collected = 0;
    for (std::uint32_t reads = 0; reads < 4096; ++reads) {
        const std::uint8_t *d = file.data() + start + 48 * reads;
        if (start + 48 * reads + 48 > file.size() || d[0] == 0x0D)
            break;
        std::uint8_t probe[32] = {};
        std::memcpy(probe, d, 11);
        probe[11] = d[32];
        if (!isAcceptedFieldType(probe))
            return 0u;
        if (d[33] != 0) {
            if (d[0] == 0x1A)
                break; // the walk over the collected list ends here
            sum += d[32] == 'C' ? d[34] * 256u + d[33] : d[33];
            ++collected;
        }
        if (collected >= limit)
            break;
    }
    return sum;
}

// Descriptors whose bytes are blanks and zeros but for their name's first letter, type and
// length: read as deletion flags, they pass, so a candidate among them is accepted exactly
// when its record length is the one its walk adds up. Candidates are planted with that length
// or one off it, from the last to the first (a header overwrites what earlier walks read).
Bytes descriptorRunWithCandidates(std::mt19937 &random, bool level7) {
    auto pick = [&random](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    const std::size_t stride = level7 ? 48 : 32;
    const std::size_t blocks = 100 + pick(900);
    // Level 7 blocks of length 0 are skipped, not walked: rare in some runs, common in others.
    const std::uint32_t skipRate = level7 && pick(2) ? 5 : 300;
    Bytes file(64, 0);
    for (std::size_t i = 0; i < blocks; ++i) {
        Bytes d(stride, 0);
        std::fill(d.begin() + 1, d.begin() + 11, ' ');
        d[0] = static_cast<std::uint8_t>(pick(300) ? 'A' + pick(26) : "\x0d\x1a_"[pick(3)]);
        std::size_t type = level7 ? 32 : 11;
        d[type] = static_cast<std::uint8_t>("CNDLM+TQZ"[pick(100) ? pick(8) : 8]);
        std::size_t length = level7 ? 33 : 16;
        // Never 1: a record length of 1 would let junk pass as a header of no length.
        d[length] = static_cast<std::uint8_t>(pick(skipRate) ? 2 + pick(40) : 0);
        if (d[type] == 'C')
            d[length + 1] = static_cast<std::uint8_t>(2 * pick(2));
        if (!level7 && pick(6) == 0)
            d[18] = 0x0C;
        if (d[0] == '_')
            std::memcpy(d.data(), "_NULLFLAGS", 11);
        file.insert(file.end(), d.begin(), d.end());
    }
    auto lengthSum = [&](std::size_t start, std::uint32_t limit) {
        return walkLengthSum(file, start, limit, level7);
    };
    std::vector<std::size_t> slots;
    for (std::uint32_t n = 3 + pick(12); n > 0; --n)
        slots.push_back(2 + pick(static_cast<std::uint32_t>(blocks - 2)));
    std::sort(slots.rbegin(), slots.rend());
    for (std::size_t slot : slots) {
        std::size_t blockStart = 64 + slot * stride;
        std::size_t at = level7 ? blockStart - 68 : blockStart - 32;
        std::uint32_t count = pick(4) ? 5 + pick(120) : 5 + pick(495);
        std::uint8_t type = level7 ? static_cast<std::uint8_t>(pick(2) ? 0x04 : 0x8C)
                                   : static_cast<std::uint8_t>("\x03\x00\x30\xf5\x83"[pick(5)]);
        std::uint32_t headerLength = level7         ? 68 + 48 * count + pick(48)
                                     : type == 0x30 ? 296 + 32 * count
                                                    : 32 + 32 * count + pick(32);
        std::uint32_t limit = level7 ? std::min<std::uint32_t>(count, 4096) : count;
        std::int64_t recordLength =
            1 + static_cast<std::int64_t>(lengthSum(level7 ? at + 68 : at + 32, limit)) +
            static_cast<std::int64_t>(pick(3)) - 1;
        if (recordLength < 1 || recordLength > 0xFFFF)
            recordLength = 2 + pick(50);
        std::uint8_t header[32] = {type};
        header[8] = static_cast<std::uint8_t>(headerLength);
        header[9] = static_cast<std::uint8_t>(headerLength >> 8);
        header[10] = static_cast<std::uint8_t>(recordLength);
        header[11] = static_cast<std::uint8_t>(recordLength >> 8);
        std::memcpy(file.data() + at, header, level7 ? 20 : 32); // level 7: keep the block behind
    }
    return file;
}

TEST_F(HeaderSearchTest, CandidatesWhoseLengthsAgreeAfterLongWalksMatchTheSlowSearch) {
    std::mt19937 random(29);
    int foundLate = 0;
    for (int round = 0; round < 40; ++round) {
        bool level7 = round % 2 == 1;
        Bytes file = descriptorRunWithCandidates(random, level7);
        expectSameAsReference(file, std::string(level7 ? "level 7 " : "") + "run " +
                                        std::to_string(round));
        if (HasFailure())
            return;
        std::optional<testing::ReferenceHeader> found = testing::referenceHeaderSearch(file);
        foundLate += found && found->offset > 64;
    }
    EXPECT_GT(foundLate, 12);
}

// Runs of one type byte, in blocks some of which have a name starting with an end-of-file
// marker or a terminator, a length of 0 or no type, and a few other bytes anywhere: every
// offset walks hundreds of blocks. Behind the run, blank blocks of one field each, which read
// as deletion flags. A few offsets in the run have a header whose walk reaches the blank
// blocks and whose record length is the one the walk adds up, or one off. Some rounds hold
// only names that start with a marker (`only` 1), some only lengths of 0 (2).
Bytes denseWalks(std::mt19937 &random, bool level7, int only) {
    const std::size_t stride = level7 ? 48 : 32;
    const std::size_t letterAt = level7 ? 32 : 11;
    const std::size_t lengthAt = level7 ? 33 : 16;
    const std::size_t runBlocks = 300 + random() % 400;
    Bytes file(64, 0);
    file.resize(64 + stride * runBlocks, level7 ? 'D' : '+');
    for (std::size_t block = 64; block < file.size(); block += stride) {
        if (only != 2 && random() % 80 == 0)
            file[block] = static_cast<std::uint8_t>(only == 1 || random() % 8 ? 0x1A : 0x0D);
        if (only != 1 && random() % 80 == 0)
            file[block + lengthAt] = 0;
        if (only == 0 && random() % 800 == 0)
            file[block + letterAt] = 'x';
    }
    for (std::size_t i = 64; i < file.size() && only == 0; ++i)
        if (random() % 3000 == 0)
            file[i] = static_cast<std::uint8_t>("\x1a\x0d\x00x"[random() % 4]);
    Bytes blank(stride, ' ');
    blank[letterAt] = 'N';
    for (int i = 0; i < 400; ++i)
        file.insert(file.end(), blank.begin(), blank.end());
    std::vector<std::size_t> blocks;
    for (int n = 0; n < 6; ++n)
        blocks.push_back(runBlocks - 1 - random() % std::min<std::size_t>(runBlocks - 2, 250));
    std::sort(blocks.rbegin(), blocks.rend());
    for (std::size_t block : blocks) {
        const std::size_t at = 64 + stride * block - (level7 ? 68 : 32);
        const auto count = static_cast<std::uint32_t>(runBlocks - block + 1 + random() % 100);
        const std::uint32_t headerLength =
            level7 ? 68 + 48 * count + random() % 48 : 32 + 32 * count + random() % 32;
        const std::uint32_t recordLength =
            walkLengthSum(file, at + (level7 ? 68 : 32), count, level7) + random() % 3;
        file[at + 8] = static_cast<std::uint8_t>(headerLength);
        file[at + 9] = static_cast<std::uint8_t>(headerLength >> 8);
        file[at + 10] = static_cast<std::uint8_t>(recordLength);
        file[at + 11] = static_cast<std::uint8_t>(recordLength >> 8);
    }
    return file;
}

// A run of one type byte long enough for many offsets in a row to make the same header: 362
// level 7 blocks of 'D', or 344 descriptors of '+'. Behind it, type letters whose lengths add up
// to about as much. Two walks from deep inside the run are made to agree, by other letters
// where they are, with records of blank flags behind them. With `ends` (always for
// descriptors, whose letters add up to more), they agree up to a marked name or a stop.
Bytes alikeRun(std::mt19937 &random, bool level7, bool ends) {
    const std::size_t stride = level7 ? 48 : 32;
    const std::size_t headerSize = level7 ? 68 : 32;
    const std::size_t lengthAt = level7 ? 33 : 16;
    const std::uint32_t length = (level7 ? 'D' : '+') * 257u;
    const auto limit = static_cast<std::uint32_t>((length - headerSize) / stride);
    const std::size_t run = 300 + random() % 500;
    Bytes file(64, 0);
    file.resize(64 + run, level7 ? 'D' : '+');
    while (file.size() < 64 + run + 3 * length)
        file.push_back(static_cast<std::uint8_t>("+++++++DN"[random() % (level7 ? 9 : 7)]));
    const std::string letters = "+@BDFGILMNOPQTVWY";
    for (int n = 0; n < 2; ++n) {
        const std::size_t at = 64 + 200 + random() % (run - 212);
        const std::size_t walk = at + headerSize;
        file[at + length] = file[at + 2 * length] = ' ';
        std::size_t counted = limit;
        if (ends || !level7) {
            counted = level7 ? limit - 1 - random() % 40 : 200 + random() % 40;
            if (level7 || random() % 2)
                file[walk + stride * counted] = level7 && random() % 2 ? 0x1A : 0x0D;
            else
                file[walk + stride * counted + 11] = 'x';
        }
        auto missing = static_cast<int>(length - 1 - walkLengthSum(file, walk, limit, level7));
        for (std::size_t block = counted; block-- > 0 && missing != 0;) {
            std::uint8_t &letter = file[walk + stride * block + lengthAt];
            const int wanted = letter + missing;
            const char closest =
                *std::min_element(letters.begin(), letters.end(), [&](char a, char b) {
                    return std::abs(a - wanted) < std::abs(b - wanted);
                });
            missing -= closest - letter;
            letter = static_cast<std::uint8_t>(closest);
        }
    }
    return file;
}

TEST_F(HeaderSearchTest, DenseWalksMatchTheSlowSearch) {
    std::mt19937 random(41);
    for (int round = 0; round < 18 && !HasFailure(); ++round)
        expectSameAsReference(denseWalks(random, round % 2 == 1, round / 2 % 3),
                              "dense " + std::to_string(round));
    for (int round = 0; round < 9 && !HasFailure(); ++round)
        expectSameAsReference(alikeRun(random, round % 3 != 2, round % 3 == 1),
                              "alike " + std::to_string(round));
}

// Text (capitals, digits, blanks, now and then an underscore), in which most offsets walk a
// block or two, around tables whose field lists are long, at level 7 or not: some with a
// record length one off, some whose list ends in a name of an underscore and no type. With
// `acrossChunks`, a table's list runs over the end of the search's first 32 KiB.
Bytes textAroundTables(std::mt19937 &random, bool acrossChunks) {
    auto pick = [&random](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    auto text = [&](std::size_t size) {
        Bytes bytes(size);
        for (auto &b : bytes)
            b = static_cast<std::uint8_t>("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789    _"[pick(41)]);
        return bytes;
    };
    Bytes file = text(acrossChunks ? 33000 : 2000 + pick(3000));
    if (pick(2) == 0)
        std::fill(file.begin(), file.begin() + 64, 0);
    for (int plant = 0, plants = 1 + static_cast<int>(pick(2)); plant < plants; ++plant) {
        const bool level7 = pick(2) == 0;
        const std::size_t stride = level7 ? 48 : 32;
        const std::size_t headerSize = level7 ? 68 : 32;
        const std::uint32_t fields = (acrossChunks ? 30 : 1) + pick(level7 ? 40 : 90);
        Bytes table(headerSize, 0);
        table[0] = level7 ? 0x04 : 0x03;
        std::uint32_t recordLength = 1;
        for (std::uint32_t i = 0; i < fields; ++i) {
            Bytes d(stride, 0);
            d[0] = static_cast<std::uint8_t>('A' + i % 26);
            const std::uint8_t length = static_cast<std::uint8_t>(1 + pick(20));
            d[level7 ? 32 : 11] = static_cast<std::uint8_t>("CNDL"[pick(4)]);
            d[level7 ? 33 : 16] = length;
            recordLength += length;
            table.insert(table.end(), d.begin(), d.end());
        }
        Bytes end(stride, 0);
        end[0] = 0x0D;
        if (pick(3) == 0) {
            // A name of an underscore and no type stops a walk as a bad block does, whatever
            // its length; the header claims a blank block behind it.
            std::memcpy(end.data(), "_X", 2);
            end[level7 ? 33 : 16] = 5;
            end.resize(2 * stride, ' ');
        }
        table.insert(table.end(), end.begin(), end.end());
        const std::uint32_t headerLength = static_cast<std::uint32_t>(table.size());
        recordLength += pick(4) == 0 ? 1 : 0;
        table[8] = static_cast<std::uint8_t>(headerLength);
        table[9] = static_cast<std::uint8_t>(headerLength >> 8);
        table[10] = static_cast<std::uint8_t>(recordLength);
        table[11] = static_cast<std::uint8_t>(recordLength >> 8);
        for (std::uint32_t r = 0; r < 20; ++r) {
            Bytes record = text(recordLength);
            record[0] = ' ';
            table.insert(table.end(), record.begin(), record.end());
        }
        const std::size_t at = acrossChunks
                                   ? 32768 - pick(600)
                                   : 64 + pick(static_cast<std::uint32_t>(file.size() - 64));
        file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), table.begin(), table.end());
    }
    Bytes tail = text(pick(3000));
    file.insert(file.end(), tail.begin(), tail.end());
    return file;
}

TEST_F(HeaderSearchTest, TextAroundLongFieldListsMatchesTheSlowSearch) {
    std::mt19937 random(47);
    for (int round = 0; round < 40 && !HasFailure(); ++round)
        expectSameAsReference(textAroundTables(random, round % 4 == 3),
                              "text " + std::to_string(round));
}

TEST_F(HeaderSearchTest, WithoutWideVectorsTheSearchFindsTheSame) {
    // The block-by-block classification the search falls back on, over the walks that are
    // settled many at a time where it can.
    struct WithoutWideVectors {
        WithoutWideVectors() { allowWideVectors(false); }
        ~WithoutWideVectors() { allowWideVectors(true); }
    } narrow;
    std::mt19937 random(43);
    for (int round = 0; round < 12 && !HasFailure(); ++round)
        expectSameAsReference(denseWalks(random, round % 2 == 1, round / 2 % 3),
                              "dense " + std::to_string(round));
    for (int round = 0; round < 8 && !HasFailure(); ++round)
        expectSameAsReference(randomMix(random, 20000, round % 2 == 0),
                              "mix " + std::to_string(round));
    for (int round = 0; round < 12 && !HasFailure(); ++round)
        expectSameAsReference(descriptorRunWithCandidates(random, round % 2 == 1),
                              "run " + std::to_string(round));
}

TEST_F(HeaderSearchTest, ShuffledBytesMatchTheSlowSearch) {
    // Few distinct bytes, so that lengths agree, walks run and stop in every way by chance.
    std::mt19937 random(5);
    const std::uint8_t alphabet[] = {0x00, 0x01, 0x02, 0x04, 0x0C, 0x0D, 0x1A, 0x20, 0x2A,
                                     0x30, 0x31, 0x40, 0x43, 0x44, 0x4E, 0x5F, 0x2B, 0x8C};
    for (int round = 0; round < 300; ++round) {
        Bytes file(64 + random() % 4000);
        std::size_t used = 2 + random() % (sizeof alphabet - 1);
        for (auto &b : file)
            b = alphabet[random() % used];
        if (round % 2 == 0)
            std::fill(file.begin(), file.begin() + 64, 0);
        expectSameAsReference(file, "shuffled " + std::to_string(round));
        if (HasFailure())
            return;
    }
}

} // namespace
} // namespace salvora
