// The first name of each table a batch takes up, however many tables it holds.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/seentables.h"
#include "tests/support/forwardingplatform.h"

namespace salvora::testing {
namespace {

// Identities by name, as a test sets them.
class IdentityPlatform final : public ForwardingPlatform {
  public:
    IdentityPlatform() : ForwardingPlatform(platform::nativePlatform()) {}
    std::optional<platform::FileIdentity> identity(const std::string &path,
                                                   platform::ErrorCode * = nullptr) override {
        auto found = files.find(path);
        if (found == files.end())
            return std::nullopt;
        return found->second;
    }
    std::map<std::string, platform::FileIdentity> files;
};

TEST(SeenTables, GivesTheFirstNameOfEveryFileAcrossThousandsOfTables) {
    IdentityPlatform os;
    SeenTables seen(os);
    // Two names for each of 3,000 files (a link each), on two volumes, the numbers alike.
    constexpr int files = 3000;
    for (int i = 0; i < files; ++i) {
        platform::FileIdentity id{static_cast<std::uint64_t>(i % 2),
                                  static_cast<std::uint64_t>(i / 2)};
        os.files["t" + std::to_string(i) + ".dbf"] = id;
        os.files["link" + std::to_string(i) + ".dbf"] = id;
    }
    for (int i = 0; i < files; ++i)
        EXPECT_FALSE(seen.firstNameOf("t" + std::to_string(i) + ".dbf")) << i;
    EXPECT_FALSE(seen.firstNameOf("unreadable.dbf"));
    EXPECT_FALSE(seen.firstNameOf("unreadable.dbf")); // never remembered: it has no identity
    for (int i = 0; i < files; ++i)
        EXPECT_EQ(seen.firstNameOf("link" + std::to_string(i) + ".dbf"),
                  "t" + std::to_string(i) + ".dbf")
            << i;

    // A repair makes a new file; a later file may take the number the old one freed.
    os.files["t0.dbf"] = {0, 90000};
    seen.repaired("t0.dbf");
    EXPECT_EQ(seen.firstNameOf("t0.dbf"), "t0.dbf");
    os.files["new.dbf"] = {1, 0}; // t1's old number, t1 repaired under a new one
    os.files["t1.dbf"] = {1, 90001};
    seen.repaired("t1.dbf");
    seen.repaired("new.dbf");
    EXPECT_EQ(seen.firstNameOf("t1.dbf"), "t1.dbf");
    EXPECT_EQ(seen.firstNameOf("new.dbf"), "new.dbf");
}

} // namespace
} // namespace salvora::testing
