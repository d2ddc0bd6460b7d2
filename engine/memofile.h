// Memo files beside a table: dBASE III and IV (.dbt), FoxPro (.fpt, big-endian) and SMT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/memoshift.h"
#include "platform/platform.h"

namespace salvora {

inline std::uint16_t readBe16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t readBe32(const std::uint8_t *p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline void writeBe16(std::uint8_t *p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void writeBe32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

inline constexpr std::size_t memoHeaderSize = 512;
// The block type word of a FoxPro text memo (00 00 00 01) as read little-endian.
inline constexpr std::uint32_t foxProTextBlock = 0x01000000;
// The marker that starts a dBASE IV memo block (FF FF 08 00) as read little-endian.
inline constexpr std::uint32_t dBase4BlockMarker = 0x0008FFFF;

// What a memo file needs to know of the table it belongs to.
struct MemoTableInfo {
    std::uint8_t type = 0;
    std::uint8_t flags = 0;
    std::string tablePath;
};

struct MemoFile {
    std::string path;
    std::vector<std::uint8_t> readBuffer; // holds the last memo read, NUL-terminated
    std::int32_t lastBlock = 0;
    std::unique_ptr<platform::FileHandle> handle;
    std::uint8_t kind = 0;
    std::int32_t blockSize = 512;
    std::int32_t nextFreeBlock = 0;
    std::uint64_t fileSize = 0;
    MemoTableInfo table;
    // Stretches of text blocks already scanned for their 0x1A: first block -> block holding it
    // (or the last block of the file).
    std::map<std::uint32_t, std::uint32_t> textRuns;
    std::vector<std::uint8_t> scanBuffer;
    // Blocks the table's records refer to, ascending: a text memo without its 0x1A ends where
    // the next of them begins, so that memos never run into one another.
    std::vector<std::uint32_t> referencedBlocks;
    // Where memos begin once bytes were inserted into or lost from the file; the last block
    // located is remembered, as each reference is asked for several times in a row.
    MemoShifts shifts;
    // Fills `referencedBlocks` when they are first needed (memo files that name their lengths).
    std::function<void()> collectReferences;
    std::uint32_t locatedBlock = 0;
    std::uint64_t locatedOffset = 0;
    // Set when a write failed; the memo file is then incomplete.
    platform::ErrorCode writeError = 0;
    // Memo references of consecutive records mostly ascend: reads are served from a window
    // and seek only when a reference leaves it.
    std::vector<std::uint8_t> window;
    std::uint64_t windowStart = 0;
    std::size_t windowLength = 0;
    // Appended blocks not yet written: they belong at `pendingStart`.
    std::vector<std::uint8_t> pending;
    std::uint64_t pendingStart = 0;
    // The header's next-free-block number is written once, when the file is flushed.
    bool nextFreeChanged = false;

    MemoFile() = default;
    MemoFile(const MemoFile &) = delete;
    MemoFile &operator=(const MemoFile &) = delete;
    ~MemoFile();

    bool isOpen() const { return handle != nullptr; }
};

// Writes out the appended blocks and the header's next free block; returns `writeError`.
platform::ErrorCode flushMemo(MemoFile &memo);

bool isFoxProMemoKind(const MemoTableInfo &table);

// `path` itself when it exists, else a file of the same folder whose name matches it
// ignoring letter case (as Windows finds memo files), else `path`.
std::string findBesideNoCase(platform::Platform &os, const std::string &path);

// Memo path of a table: its extension replaced by "fpt", "dbt" or "smt" (appended when the
// table name has none).
std::string memoPathFor(const std::string &tablePath, const MemoTableInfo &table,
                        std::uint8_t kind);

// A new memo file in `handle`, a file just created empty: it gets a fresh header.
std::unique_ptr<MemoFile> startMemo(std::unique_ptr<platform::FileHandle> handle,
                                    const std::string &path, std::uint8_t kind,
                                    const MemoTableInfo &table);

// Never null; `handle` is null when the file could not be opened (`openError` says why).
// `startEmpty` (with `writable`) holds the file without sharing and empties it first, so that
// nothing left by an earlier run, or written by a concurrent one, mixes into it.
std::unique_ptr<MemoFile> openMemo(platform::Platform &os, const std::string &path,
                                   std::uint8_t kind, bool writable, bool keepName,
                                   const MemoTableInfo &table,
                                   platform::ErrorCode *openError = nullptr,
                                   bool startEmpty = false);

// Length of the memo at `block`, 0 when the reference does not lead to a sound block. For
// FoxPro-kind files `typeWord` receives the block's first four bytes read little-endian.
std::uint32_t memoBlockLength(MemoFile &memo, std::uint32_t block,
                              std::uint32_t *typeWord = nullptr);

// Reads the memo into the object's read buffer; returns its length (0 for an invalid
// reference). `smtLength` is the length to read from an SMT file.
std::size_t readMemo(MemoFile &memo, std::uint32_t block, std::size_t smtLength = 0);

// Copies the memo at `block` of `source` to the end of `target` in pieces of bounded size,
// whatever its length; returns the new block number (0 when nothing was written). The bytes
// are those `readMemo` then `appendMemo` would give.
std::uint32_t copyMemo(MemoFile &source, std::uint32_t block, std::size_t smtLength,
                       MemoFile &target, std::uint32_t typeWord);

// Appends a memo at the end of the file; returns its block number (0 when nothing was
// written).
std::uint32_t appendMemo(MemoFile &memo, const std::uint8_t *data, std::size_t length,
                         std::uint32_t typeWord);

bool readMemoHeader(MemoFile &memo, std::uint8_t (&header)[memoHeaderSize]);
bool writeMemoHeader(MemoFile &memo, const std::uint8_t (&header)[memoHeaderSize]);

std::uint32_t memoBlockCount(const MemoFile &memo);

void closeMemo(std::unique_ptr<MemoFile> &memo);

// Gives a file the creation, access and write time `time`.
bool stampFileTimes(platform::Platform &os, const std::string &path, platform::FileTime time);

} // namespace salvora
