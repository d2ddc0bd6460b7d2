// Which tables of a batch may touch each other's files, and so never run at once.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/sharedfiles.h"
#include "engine/listingcache.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

TEST(TableFiles, TablesOverlapWhereTheirMemoWorkFilesOrRealFileCouldMeet) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("A"));
    std::filesystem::create_directories(dir.file("B"));
    for (const char *name : {"A/x.dbf", "A/X.FPT", "A/x.dbf.bak", "A/.x.dbf.salvora-abcdef",
                             "A/.anything", "A/y.dbf", "A/xy.dbf", "B/x.dbf"})
        writeFile(dir.file(name), Bytes{});
    bool links = true;
    std::error_code failed;
    std::filesystem::create_symlink(dir.file("A/x.dbf"), dir.file("B/link.dbf"), failed);
    if (!failed)
        std::filesystem::create_directory_symlink(dir.file("A"), dir.file("L"), failed);
    if (failed)
        links = false; // a Windows account without the right to make links
    struct Case {
        const char *first;
        const char *second;
        bool overlap;
    };
    const Case cases[] = {
        {"A/x.dbf", "A/x.dbf", true},
        {"A/x.dbf", "A/X.FPT", true},     // the memo of one is the other
        {"A/x.dbf", "A/x.dbf.bak", true}, // whose memo is x.dbf.fpt
        {"A/x.dbf", "A/.x.dbf.salvora-abcdef", true},
        {"A/x.dbf", "A/.anything", true}, // a short work-file name could be anyone's
        {"A/x.dbf", "A/y.dbf", false},
        {"A/x.dbf", "A/xy.dbf", false},
        {"A/x.dbf", "B/x.dbf", false},
        {"A/x.dbf", "B/link.dbf", true}, // links lead to the real table
        {"A/x.dbf", "L/X.FPT", true},    // and so do linked folders
        {"A/x.dbf", "L/y.dbf", false},
    };
    platform::Platform &os = platform::nativePlatform();
    ListingCache listings(os);
    for (const Case &c : cases) {
        if (!links && (std::string(c.second) == "B/link.dbf" || c.second[0] == 'L'))
            continue;
        SCOPED_TRACE(std::string(c.first) + " " + c.second);
        TableFiles first(os, dir.file(c.first));
        TableFiles second(os, dir.file(c.second));
        EXPECT_EQ(first.overlaps(second), c.overlap);
        EXPECT_EQ(second.overlaps(first), c.overlap);
        // A name a listing showed as a file needs only its folder resolved.
        if (std::string(c.second) != "B/link.dbf") {
            TableFiles listed =
                TableFiles::ofRealPath(listings.resolvedFilePath(dir.file(c.second)));
            EXPECT_EQ(first.overlaps(listed), c.overlap);
        }
        // The batch's index of the tables under way answers as the pairs do.
        FilesInUse inUse;
        inUse.add(first);
        EXPECT_EQ(inUse.overlaps(second), c.overlap);
        inUse.add(second);
        inUse.remove(first);
        EXPECT_EQ(inUse.overlaps(first), c.overlap);
        inUse.remove(second);
        EXPECT_FALSE(inUse.overlaps(first));
    }
}

} // namespace
} // namespace salvora::testing
