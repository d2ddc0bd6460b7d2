// A FoxPro memo file whose header was zeroed: its block size is read off the blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/memoblocksize.h"
#include "tests/support/memobuilder.h"

namespace salvora {
namespace {

using testing::Bytes;

TEST(MemoBlockSize, ZeroedHeaderIsToldByItsBlocks) {
    for (std::uint16_t size : {16, 32, 64, 100, 128, 512, 1024}) {
        std::vector<testing::FoxProMemo> memos;
        for (int i = 0; i < 40; ++i)
            memos.push_back({1, testing::bytesOf(std::string(
                                    static_cast<std::size_t>(7 + i * 13 % 90), 'a' + i % 26))});
        memos.push_back({0, Bytes(300, 0x42)}); // a picture among the texts
        Bytes file = testing::foxProMemoFile(size, memos).file;
        std::fill(file.begin(), file.begin() + 512, 0);
        auto read = [&file](std::uint64_t offset, std::uint8_t *buffer, std::size_t n) {
            if (offset + n > file.size())
                return false;
            std::memcpy(buffer, file.data() + offset, n);
            return true;
        };
        std::int32_t expected = size == 100 ? 0 : size; // not a size the search tries: none
        EXPECT_EQ(inferFoxProBlockSize(file.size(), read), expected) << "block size " << size;
    }
    // Nothing but zeros behind the header: no size leads anywhere.
    Bytes empty(2048, 0);
    EXPECT_EQ(inferFoxProBlockSize(empty.size(),
                                   [&](std::uint64_t o, std::uint8_t *b, std::size_t n) {
                                       std::memcpy(b, empty.data() + o, n);
                                       return true;
                                   }),
              0);
}

} // namespace
} // namespace salvora
