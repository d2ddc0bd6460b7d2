#include "engine/memoblocksize.h"

#include "engine/memofile.h"

namespace salvora {

namespace {

// The header takes 512 bytes whatever the block size; sizes above it start their first block
// at their own size.
constexpr std::uint64_t memoHeaderBytes = 512;
// Blocks walked before a size counts as the file's.
constexpr int blocksToWalk = 64;

// How many blocks in a row the size leads through from the first one (up to the limit), or -1
// when it leads to something that is no block.
int blocksWalked(std::uint64_t fileSize, std::uint32_t size,
                 const std::function<bool(std::uint64_t, std::uint8_t *, std::size_t)> &read) {
    std::uint64_t offset = ((memoHeaderBytes + size - 1) / size) * size;
    int walked = 0;
    while (walked < blocksToWalk && offset + 8 <= fileSize) {
        std::uint8_t head[8];
        if (!read(offset, head, sizeof head))
            return -1;
        std::uint32_t type = readBe32(head);
        std::uint32_t length = readBe32(head + 4);
        // Zeros stand after the last block, and in blocks never used.
        if (type == 0 && length == 0)
            break;
        if (type > 2 || length == 0 || length > fileSize - offset - 8)
            return -1;
        ++walked;
        offset = ((offset + 8 + length + size - 1) / size) * size;
    }
    return walked;
}

} // namespace

std::int32_t
inferFoxProBlockSize(std::uint64_t fileSize,
                     const std::function<bool(std::uint64_t, std::uint8_t *, std::size_t)> &read) {
    // Larger sizes first: a smaller one may land on a block boundary by chance, never a larger.
    // A file of few blocks leaves several sizes walking as far: the file's length, a whole
    // number of blocks as every writer leaves it, decides between them.
    std::int32_t best = 0;
    int bestScore = 0;
    for (std::uint32_t size : {4096u, 2048u, 1024u, 512u, 256u, 128u, 64u, 32u, 16u}) {
        int walked = blocksWalked(fileSize, size, read);
        if (walked <= 0)
            continue;
        int score = walked * 2 + (fileSize % size == 0 ? 1 : 0);
        if (score > bestScore) {
            best = static_cast<std::int32_t>(size);
            bestScore = score;
        }
    }
    return best;
}

} // namespace salvora
