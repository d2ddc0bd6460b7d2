// The main window's run of one table: the names it takes from its boxes and what it shows.
#include <gtest/gtest.h>

#include "app/windowrun.h"
#include "resources/resource.h"
#include "tests/support/enginerun.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

// A name as long as the box gives (255 characters) inside `dir`, ending in `suffix`.
std::string fullLengthName(const TempDir &dir, const std::string &suffix) {
    std::string start = dir.file("");
    return start + std::string(nameBoxLimit - 1 - start.size() - suffix.size(), 'n') + suffix;
}

TEST(WindowRun, NameOfTheFullLengthOfTheBoxIsRunAsTheBoxHoldsIt) {
    TempDir dir;
    Bytes table = TableBuilder().field("NAME", 'C', 10).record("Alice").build();
    std::string source = fullLengthName(dir, "a.dbf");
    std::string output = fullLengthName(dir, "b.dbf");
    ASSERT_EQ(source.size(), 255u);
    writeFile(source, table);
    RecordingWindow window;
    window.texts[IDC_SOURCE] = source;
    window.texts[IDC_OUTPUT] = output;

    WindowNames names = boxNames(window);
    EXPECT_EQ(names.source, source);
    EXPECT_EQ(names.output, output);
    EngineRun run{platform::nativePlatform()};
    ASSERT_EQ(run.run(&window, "", "", false), recoveryFixed) << run.messageText;
    EXPECT_EQ(readFile(output), table);
    EXPECT_EQ(run.lastOutput, output);
}

} // namespace
} // namespace salvora::testing
