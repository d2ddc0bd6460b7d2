#include "tests/support/memobuilder.h"

#include <cstdio>

namespace salvora::testing {

namespace {

void putBe32(Bytes &b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void putLe32(Bytes &b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Appends `body` at the next block boundary and returns that block.
std::uint32_t appendBlocks(Bytes &file, const Bytes &body, std::size_t blockSize) {
    std::size_t blocks = (file.size() + blockSize - 1) / blockSize;
    file.resize(blocks * blockSize, 0);
    file.insert(file.end(), body.begin(), body.end());
    file.resize((file.size() + blockSize - 1) / blockSize * blockSize, 0);
    return static_cast<std::uint32_t>(blocks);
}

} // namespace

BuiltMemo foxProMemoFile(std::uint16_t blockSize, const std::vector<FoxProMemo> &memos) {
    BuiltMemo memo;
    memo.file.assign(512, 0);
    memo.file[6] = static_cast<std::uint8_t>(blockSize >> 8);
    memo.file[7] = static_cast<std::uint8_t>(blockSize);
    for (const FoxProMemo &m : memos) {
        Bytes body(8, 0);
        putBe32(body, 0, m.type);
        putBe32(body, 4, static_cast<std::uint32_t>(m.data.size()));
        body.insert(body.end(), m.data.begin(), m.data.end());
        memo.blocks.push_back(appendBlocks(memo.file, body, blockSize));
    }
    putBe32(memo.file, 0, static_cast<std::uint32_t>(memo.file.size() / blockSize));
    return memo;
}

BuiltMemo dBase3MemoFile(const std::vector<std::string> &texts) {
    BuiltMemo memo;
    memo.file.assign(512, 0);
    memo.file[16] = 0x03;
    for (const std::string &text : texts) {
        Bytes body = bytesOf(text);
        body.push_back(0x1A);
        body.push_back(0x1A);
        memo.blocks.push_back(appendBlocks(memo.file, body, 512));
    }
    putLe32(memo.file, 0, static_cast<std::uint32_t>(memo.file.size() / 512));
    return memo;
}

BuiltMemo dBase4MemoFile(const std::string &tableName, std::uint16_t blockSize,
                         const std::vector<std::string> &texts) {
    BuiltMemo memo;
    memo.file.assign(512, 0);
    for (std::size_t i = 0; i < tableName.size() && i < 8; ++i)
        memo.file[8 + i] = static_cast<std::uint8_t>(tableName[i]);
    memo.file[18] = static_cast<std::uint8_t>(blockSize >> 8);
    memo.file[19] = static_cast<std::uint8_t>(blockSize);
    for (const std::string &text : texts) {
        Bytes body = {0xFF, 0xFF, 0x08, 0x00, 0, 0, 0, 0};
        putLe32(body, 4, static_cast<std::uint32_t>(text.size() + 8));
        body.insert(body.end(), text.begin(), text.end());
        memo.blocks.push_back(appendBlocks(memo.file, body, blockSize));
    }
    putLe32(memo.file, 0, static_cast<std::uint32_t>(memo.file.size() / blockSize));
    return memo;
}

BuiltMemo smtMemoFile(std::uint16_t blockSize, const std::vector<std::string> &texts) {
    BuiltMemo memo;
    memo.file.assign(512, 0);
    for (const std::string &text : texts)
        memo.blocks.push_back(appendBlocks(memo.file, bytesOf(text), blockSize));
    return memo;
}

std::string memoReference(std::uint32_t block) {
    char text[16];
    std::snprintf(text, sizeof text, "%10u", block);
    return text;
}

} // namespace salvora::testing
