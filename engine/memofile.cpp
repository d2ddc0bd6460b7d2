#include "engine/memofile.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/memoblocksize.h"
#include "engine/tableformat.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

constexpr std::size_t initialReadBuffer = 64000;
constexpr std::int32_t defaultFoxProBlockSize = 64;

bool isFoxProLayoutKind(std::uint8_t kind) {
    return isVisualFoxProType(kind) || kind == 0xF5;
}

bool isDBase4LayoutKind(std::uint8_t kind) {
    return kind == 0x8B || isLevel7Type(kind);
}

// The table's file name without folder, cut at its first '.'.
std::string tableBaseName(const std::string &tablePath) {
    std::string title = tablePath.substr(platform::fileNameStart(tablePath));
    std::size_t dot = title.find('.');
    return dot == std::string::npos ? title : title.substr(0, dot);
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && findNoCase(a, b) == 0;
}

std::uint64_t blockOffset(const MemoFile &memo, std::uint32_t block) {
    return static_cast<std::uint64_t>(block) * static_cast<std::uint64_t>(memo.blockSize);
}

// The first block a memo may occupy: never inside the 512-byte header.
std::uint32_t firstDataBlock(const MemoFile &memo) {
    auto size = static_cast<std::uint32_t>(memo.blockSize);
    return static_cast<std::uint32_t>((memoHeaderSize + size - 1) / size);
}

// Text memos of SMT files end at the zero fill of their last block, not at a 0x1A.
bool endsAtMarker(const MemoFile &memo) {
    return memo.kind != 0xE5;
}

constexpr std::size_t windowCapacity = 1u << 20;
constexpr std::size_t pendingCapacity = 1u << 20;
// Memos larger than this go through the window in pieces of this size.
constexpr std::size_t copyPiece = windowCapacity / 2;
// A refill keeps this much before the offset asked for: a look at what follows a memo (where
// the next one starts) must not push out the memo about to be copied.
constexpr std::size_t windowLookBack = 32u << 10;

// What the file holds of [offset, offset + length). A failed read is read again in pieces;
// what stays unreadable reads as zeros and is listed, so that `got` falls short only at the
// end of the file.
bool rawReadAt(MemoFile &memo, std::uint64_t offset, std::uint8_t *buffer, std::size_t length,
               std::size_t &got) {
    got = 0;
    bool ok = memo.handle->seek(offset) == 0;
    if (ok) {
        platform::IoResult result = memo.handle->read(buffer, length);
        got = result.bytes;
        ok = result.ok();
    }
    if (ok)
        return true;
    std::size_t wanted =
        offset < memo.fileSize
            ? static_cast<std::size_t>(std::min<std::uint64_t>(length, memo.fileSize - offset))
            : 0;
    if (got < wanted) {
        salvageRead(*memo.handle, offset, buffer, got, wanted, memo.unreadable);
        got = wanted;
    }
    return true;
}

void rawWriteAt(MemoFile &memo, std::uint64_t offset, const std::uint8_t *data,
                std::size_t length) {
    if (memo.writeError != 0)
        return;
    memo.windowLength = 0;
    platform::ErrorCode error = memo.handle->seek(offset);
    if (error == 0) {
        platform::IoResult result = memo.handle->write(data, length);
        error = result.error;
    }
    if (error != 0)
        memo.writeError = error;
    else
        memo.fileSize = std::max(memo.fileSize, offset + length);
}

void drainPending(MemoFile &memo) {
    if (memo.pending.empty())
        return;
    rawWriteAt(memo, memo.pendingStart, memo.pending.data(), memo.pending.size());
    memo.pendingStart += memo.pending.size();
    memo.pending.clear();
}

// Up to `length` bytes at `offset` from the read window (refilled there when the range leaves
// it); `available` tells how many the pointer holds, fewer only at the end of the file or after
// a failed read.
const std::uint8_t *viewAt(MemoFile &memo, std::uint64_t offset, std::size_t length,
                           std::size_t &available, bool &ok) {
    ok = true;
    if (offset < memo.windowStart || offset - memo.windowStart + length > memo.windowLength) {
        flushMemo(memo);
        // A small file needs no more than itself: batches of small tables pay for nothing more.
        std::size_t capacity = static_cast<std::size_t>(std::min<std::uint64_t>(
            windowCapacity, std::max<std::uint64_t>(memo.fileSize, memoHeaderSize)));
        capacity = std::max(capacity, length);
        if (memo.window.size() < capacity)
            memo.window.resize(capacity);
        const std::uint64_t from =
            offset - std::min<std::uint64_t>({offset, windowLookBack, memo.window.size() - length});
        std::size_t wanted = 0;
        if (from < memo.fileSize)
            wanted = static_cast<std::size_t>(
                std::min<std::uint64_t>(memo.window.size(), memo.fileSize - from));
        std::size_t got = 0;
        if (wanted > 0)
            ok = rawReadAt(memo, from, memo.window.data(), wanted, got);
        memo.windowStart = from;
        memo.windowLength = got;
    }
    std::size_t at = static_cast<std::size_t>(offset - memo.windowStart);
    available = std::min(length, memo.windowLength - at);
    return memo.window.data() + at;
}

bool readAt(MemoFile &memo, std::uint64_t offset, std::uint8_t *buffer, std::size_t length,
            std::size_t &got) {
    got = 0;
    if (length > copyPiece) {
        flushMemo(memo);
        return rawReadAt(memo, offset, buffer, length, got);
    }
    bool ok = true;
    const std::uint8_t *view = viewAt(memo, offset, length, got, ok);
    std::memcpy(buffer, view, got);
    return ok;
}

void writeAt(MemoFile &memo, std::uint64_t offset, const std::uint8_t *data, std::size_t length) {
    // What was appended before goes first, as it was written first.
    flushMemo(memo);
    rawWriteAt(memo, offset, data, length);
}

void writeFreshHeader(MemoFile &memo) {
    std::uint8_t header[memoHeaderSize] = {};
    if (isFoxProMemoKind(memo.table)) {
        writeBe16(header + 6, defaultFoxProBlockSize);
        memo.blockSize = defaultFoxProBlockSize;
        memo.nextFreeBlock = static_cast<std::int32_t>(memoHeaderSize / defaultFoxProBlockSize);
    } else if (isDBase4LayoutKind(memo.kind)) {
        // Only a file whose blocks follow the dBASE IV layout may carry the table's name: it is
        // what marks a dBASE IV memo when the file is read again.
        memo.blockSize = 512;
        std::string name = tableBaseName(memo.table.tablePath);
        std::memcpy(header + 8, name.data(), std::min<std::size_t>(name.size(), 8));
        writeBe16(header + 18, 512);
        memo.nextFreeBlock = 1;
    } else {
        header[16] = 0x03;
        memo.nextFreeBlock = 1;
    }
    // The header names the first free block from the start: a zero there would send the next
    // writer into the header itself.
    if (isFoxProMemoKind(memo.table))
        writeBe32(header, static_cast<std::uint32_t>(memo.nextFreeBlock));
    else
        writeLe32(header, static_cast<std::uint32_t>(memo.nextFreeBlock));
    writeAt(memo, 0, header, memoHeaderSize);
}

// True when the first block after the header of a file with blocks of `size` bytes starts
// with the dBASE IV marker.
bool startsDBase4Block(MemoFile &memo, std::int32_t size) {
    auto blockBytes = static_cast<std::uint64_t>(size);
    std::uint64_t first = (memoHeaderSize + blockBytes - 1) / blockBytes * blockBytes;
    std::uint8_t head[4] = {};
    std::size_t got = 0;
    if (first + sizeof head > memo.fileSize || !readAt(memo, first, head, sizeof head, got) ||
        got != sizeof head)
        return false;
    return readLe32(head) == dBase4BlockMarker;
}

void readExistingHeader(MemoFile &memo, bool writable) {
    std::uint8_t header[memoHeaderSize] = {};
    std::size_t got = 0;
    readAt(memo, 0, header, memoHeaderSize, got);

    char stored[9] = {};
    std::memcpy(stored, header + 8, 8);
    if (equalNoCase(stored, tableBaseName(memo.table.tablePath)))
        memo.kind = 0x8B;

    if (isFoxProMemoKind(memo.table)) {
        memo.nextFreeBlock = static_cast<std::int32_t>(readBe32(header));
        memo.blockSize = static_cast<std::int16_t>(readBe16(header + 6));
        // A block size the header cannot have had: take FoxPro's usual one, and let the block
        // checks judge every reference.
        if (memo.blockSize <= 0)
            memo.blockSize = inferFoxProBlockSize(
                memo.fileSize, [&memo](std::uint64_t offset, std::uint8_t *buffer, std::size_t n) {
                    std::size_t got = 0;
                    return readAt(memo, offset, buffer, n, got) && got == n;
                });
        if (memo.blockSize <= 0)
            memo.blockSize = defaultFoxProBlockSize;
        if (writable) {
            auto size = static_cast<std::uint64_t>(memo.blockSize);
            std::uint64_t remainder = memo.fileSize % size;
            std::uint64_t blocks = memo.fileSize / size + (remainder != 0 ? 1 : 0);
            if (blocks != static_cast<std::uint32_t>(memo.nextFreeBlock)) {
                memo.nextFreeBlock = static_cast<std::int32_t>(blocks);
                std::uint8_t next[4];
                writeBe32(next, static_cast<std::uint32_t>(blocks));
                writeAt(memo, 0, next, 4);
            }
            if (remainder != 0) {
                std::vector<std::uint8_t> zeros(static_cast<std::size_t>(size - remainder), 0);
                writeAt(memo, memo.fileSize, zeros.data(), zeros.size());
            }
        }
    } else {
        std::int32_t named = static_cast<std::int16_t>(readBe16(header + 18));
        if (named % 2 != 0)
            named -= 1;
        if (named <= 0)
            named = 512;
        // The title is only a copy of a table name: a memo beside a renamed or rebuilt table
        // shows its dBASE IV layout by its blocks. dBASE itself writes the block size
        // little-endian at bytes 20-21.
        std::int32_t written = header[20] | header[21] << 8;
        for (std::int32_t size : {written, named}) {
            if (memo.kind == 0xE5 || size < 8 || size % 2 != 0 || !startsDBase4Block(memo, size))
                continue;
            if (!isLevel7Type(memo.kind))
                memo.kind = 0x8B;
            memo.blockSize = size;
            return;
        }
        // Level 7 memo files are dBASE IV ones whatever their header names: a copy beside a
        // table of another name must keep its block size.
        if (isDBase4LayoutKind(memo.kind))
            memo.blockSize = named;
    }
}

} // namespace

std::string findBesideNoCase(platform::Platform &os, const std::string &path) {
    if (os.getAttributes(path))
        return path;
    std::string folder = platform::folderOf(path);
    std::string name = path.substr(platform::fileNameStart(path));
    if (name.find_first_of("*?") != std::string::npos)
        return path;
    std::vector<platform::DirectoryEntry> entries;
    if (os.listDirectory(folder, name, entries) != 0)
        return path;
    for (const platform::DirectoryEntry &entry : entries) {
        if (!entry.isDirectory)
            return platform::joinPath(folder, entry.name);
    }
    return path;
}

bool isFoxProMemoKind(const MemoTableInfo &table) {
    return usesFoxProMemo(table.type, table.flags);
}

std::string memoPathFor(const std::string &tablePath, const MemoTableInfo &table,
                        std::uint8_t kind) {
    const char *extension = kind == 0xE5 ? "smt" : isFoxProMemoKind(table) ? "fpt" : "dbt";
    std::size_t nameStart = platform::fileNameStart(tablePath);
    std::size_t dot = tablePath.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return tablePath + "." + extension;
    return tablePath.substr(0, dot + 1) + extension;
}

std::unique_ptr<MemoFile> openMemo(platform::Platform &os, const std::string &path,
                                   std::uint8_t kind, bool writable, bool keepName,
                                   const MemoTableInfo &table, platform::ErrorCode *openError,
                                   bool startEmpty) {
    auto memo = std::make_unique<MemoFile>();
    memo->kind = kind;
    memo->table = table;
    memo->path = keepName ? path : findBesideNoCase(os, memoPathFor(path, table, kind));

    if (writable) {
        auto attributes = os.getAttributes(memo->path);
        if (attributes && attributes->readOnly)
            os.setReadOnly(memo->path, false);
    }
    // A memo read for the source is never created: the source's folder stays as it was.
    platform::OpenRequest request{
        writable ? platform::Access::ReadWrite : platform::Access::Read,
        writable ? platform::Share::ReadWrite : platform::Share::Read,
        writable ? platform::Disposition::OpenAlways : platform::Disposition::OpenExisting, false};
    if (writable && startEmpty) {
        request.share = platform::Share::None;
        request.disposition = platform::Disposition::CreateAlways;
    }
    platform::OpenResult opened = os.openFile(memo->path, request);
    if (!opened) {
        if (openError)
            *openError = opened.error;
        return memo;
    }
    memo->handle = std::move(opened.file);
    memo->fileSize = memo->handle->size().value_or(0);
    if (memo->fileSize > 0)
        readExistingHeader(*memo, writable);
    else if (writable)
        writeFreshHeader(*memo);
    return memo;
}

std::unique_ptr<MemoFile> startMemo(std::unique_ptr<platform::FileHandle> handle,
                                    const std::string &path, std::uint8_t kind,
                                    const MemoTableInfo &table) {
    auto memo = std::make_unique<MemoFile>();
    memo->kind = kind;
    memo->table = table;
    memo->path = path;
    memo->handle = std::move(handle);
    memo->fileSize = 0;
    writeFreshHeader(*memo);
    return memo;
}

namespace {

// Where the memo of `block` begins: its block's offset, or where it moved to when bytes were
// inserted or lost before it; 0 when it cannot be found beyond doubt.
std::uint64_t memoStart(MemoFile &memo, std::uint32_t block) {
    if (memo.kind == 0xE5)
        return blockOffset(memo, block);
    if (block == memo.locatedBlock)
        return memo.locatedOffset;
    MemoGeometry geometry;
    geometry.layout = isFoxProMemoKind(memo.table)    ? MemoLayout::FoxPro
                      : isDBase4LayoutKind(memo.kind) ? MemoLayout::DBase4
                                                      : MemoLayout::Text;
    geometry.fileSize = memo.fileSize;
    geometry.blockSize = static_cast<std::uint64_t>(memo.blockSize);
    geometry.references = [&memo]() -> const std::vector<std::uint32_t> & {
        if (memo.collectReferences) {
            auto collect = std::move(memo.collectReferences);
            memo.collectReferences = nullptr;
            collect();
        }
        return memo.referencedBlocks;
    };
    MemoLocation location = memo.shifts.locate(
        geometry,
        [&memo](std::uint64_t offset, std::uint8_t *buffer, std::size_t n) {
            std::size_t got = 0;
            return readAt(memo, offset, buffer, n, got) && got == n;
        },
        block);
    memo.locatedBlock = block;
    memo.locatedOffset = location.kind == MemoLocation::Kind::Lost ? 0 : location.offset;
    return memo.locatedOffset;
}

// True when the bytes on both sides of `offset` are text: no memo begins there.
bool textRunsAcross(MemoFile &memo, std::uint64_t offset) {
    std::uint8_t pair[2] = {};
    std::size_t got = 0;
    if (offset == 0 || !readAt(memo, offset - 1, pair, 2, got) || got != 2)
        return false;
    auto text = [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; };
    return text(pair[0]) && text(pair[1]);
}

// The 0x1A that ends a text, looked for from `position` up to `stopAt`: one block is read
// first and twice as much each time after, since most memos are short. Without one,
// `position` is left where the reading stopped.
std::optional<std::uint64_t> findEndMarker(MemoFile &memo, std::uint64_t &position,
                                           std::uint64_t stopAt) {
    std::size_t chunk = static_cast<std::size_t>(memo.blockSize);
    while (position < stopAt) {
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk, stopAt - position));
        if (memo.scanBuffer.size() < want)
            memo.scanBuffer.resize(want);
        std::size_t got = 0;
        readAt(memo, position, memo.scanBuffer.data(), want, got);
        if (got == 0)
            break;
        if (const void *hit = std::memchr(memo.scanBuffer.data(), endOfFileMarker, got))
            return position + static_cast<std::size_t>(static_cast<const std::uint8_t *>(hit) -
                                                       memo.scanBuffer.data());
        position += got;
        chunk = std::min<std::size_t>(chunk * 2, 1u << 20);
    }
    return std::nullopt;
}

// Length in whole blocks of a text memo found away from its block: up to its 0x1A, else up
// to where the next referenced memo begins under the same shift, else the end of the file.
std::uint32_t movedTextLength(MemoFile &memo, std::uint32_t block, std::uint64_t offset) {
    auto blockBytes = static_cast<std::uint64_t>(memo.blockSize);
    std::uint64_t stopAt = memo.fileSize;
    auto next = std::upper_bound(memo.referencedBlocks.begin(), memo.referencedBlocks.end(), block);
    if (next != memo.referencedBlocks.end()) {
        std::uint64_t shifted = offset + (blockOffset(memo, *next) - blockOffset(memo, block));
        stopAt = std::min(stopAt, shifted);
    }
    std::uint64_t position = offset;
    if (std::optional<std::uint64_t> end = findEndMarker(memo, position, stopAt))
        position = *end + 1;
    std::uint64_t blocks = (position - offset + blockBytes - 1) / blockBytes;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks * blockBytes, UINT32_MAX));
}

} // namespace

std::uint32_t memoBlockLength(MemoFile &memo, std::uint32_t block, std::uint32_t *typeWord,
                              bool *unterminated) {
    if (!memo.isOpen() || block == 0)
        return 0;
    std::uint64_t offset = memoStart(memo, block);
    if (offset == 0 || offset >= memo.fileSize)
        return 0;

    bool foxPro = isFoxProMemoKind(memo.table);
    if (foxPro || isDBase4LayoutKind(memo.kind)) {
        std::uint8_t head[8] = {};
        std::size_t got = 0;
        readAt(memo, offset, head, sizeof head, got);
        std::uint32_t marker = readLe32(head);
        if (memo.table.type == 0x8B && marker != dBase4BlockMarker)
            return 0;
        std::uint32_t length = foxPro ? readBe32(head + 4) : readLe32(head + 4);
        if (foxPro && typeWord)
            *typeWord = marker;
        return length > memo.fileSize ? 0 : length;
    }

    if (offset != blockOffset(memo, block))
        return movedTextLength(memo, block, offset);
    // Text ended by 0x1A: whole blocks up to and including the one that holds it. Stretches
    // already scanned are remembered, so that many references into one long unterminated
    // stretch cost one pass over it, not one each.
    auto blockBytes = static_cast<std::uint64_t>(memo.blockSize);
    // References mostly ascend: a block past every stretch needs no walk down the tree, which
    // missed the cache at each level in a memo file of a million texts.
    auto known = !memo.textRuns.empty() && block >= memo.textRuns.rbegin()->first
                     ? memo.textRuns.end()
                     : memo.textRuns.upper_bound(block);
    if (known != memo.textRuns.begin()) {
        auto previous = std::prev(known);
        if (block <= previous->second.last) {
            if (unterminated)
                *unterminated = !previous->second.terminated && endsAtMarker(memo);
            return (previous->second.last - block + 1) * static_cast<std::uint32_t>(blockBytes);
        }
    }
    std::uint64_t stopAt = memo.fileSize;
    if (known != memo.textRuns.end())
        stopAt = std::min(stopAt, blockOffset(memo, known->first));
    auto nextReferenced =
        std::upper_bound(memo.referencedBlocks.begin(), memo.referencedBlocks.end(), block);
    // A stray reference into the middle of running text (a misaligned record's) is no memo's
    // start when the one after it is; text that every block refers to still ends at each.
    if (nextReferenced != memo.referencedBlocks.end() &&
        textRunsAcross(memo, blockOffset(memo, *nextReferenced))) {
        auto following = std::next(nextReferenced);
        if (following != memo.referencedBlocks.end() &&
            !textRunsAcross(memo, blockOffset(memo, *following)))
            nextReferenced = following;
    }
    bool endsAtReference = false;
    if (nextReferenced != memo.referencedBlocks.end() &&
        blockOffset(memo, *nextReferenced) <= stopAt) {
        stopAt = blockOffset(memo, *nextReferenced);
        endsAtReference = true;
    }
    std::uint32_t lastBlock = static_cast<std::uint32_t>((memo.fileSize - 1) / blockBytes);
    bool found = false;
    std::uint64_t position = offset;
    if (std::optional<std::uint64_t> end = findEndMarker(memo, position, stopAt)) {
        lastBlock = static_cast<std::uint32_t>(*end / blockBytes);
        found = true;
    }
    if (!found && endsAtReference && position >= stopAt) {
        lastBlock = *nextReferenced - 1;
    } else if (!found && known != memo.textRuns.end() && position >= stopAt &&
               stopAt < memo.fileSize) {
        // Ran into a stretch scanned before: it ends where that one does.
        lastBlock = known->second.last;
        found = known->second.terminated;
        known = memo.textRuns.erase(known);
    }
    memo.textRuns.insert_or_assign(known, block, MemoFile::TextRun{lastBlock, found});
    if (unterminated)
        *unterminated = !found && endsAtMarker(memo);
    return (lastBlock - block + 1) * static_cast<std::uint32_t>(blockBytes);
}

bool memoUnreadable(MemoFile &memo, std::uint32_t block, std::uint32_t length) {
    if (memo.unreadable.empty() || !memo.isOpen() || block == 0)
        return false;
    bool head = isFoxProMemoKind(memo.table) || isDBase4LayoutKind(memo.kind);
    std::uint64_t start = memoStart(memo, block);
    return memo.unreadable.touches(start != 0 ? start : blockOffset(memo, block),
                                   std::uint64_t{length} + (head ? 8 : 0) + (length == 0 ? 1 : 0));
}

namespace {

// Where a memo's bytes lie: `length` bytes from `offset`, ending early at the first `stop`
// byte when `stops`.
struct MemoContent {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool stops = false;
    std::uint8_t stop = 0;
};

MemoContent memoContent(MemoFile &memo, std::uint32_t block, std::size_t smtLength) {
    if (!memo.isOpen() || block == 0)
        return {};
    std::uint64_t offset = memoStart(memo, block);
    if (offset == 0 || offset >= memo.fileSize)
        return {};
    bool smt = memo.kind == 0xE5;
    std::uint64_t length = smt ? smtLength : memoBlockLength(memo, block);
    if (length == 0)
        return {};
    // Never more than the file holds past the block, whatever a damaged length says.
    length = std::min<std::uint64_t>(length, memo.fileSize - offset);
    if (smt)
        // The text ends at the zero fill of its last block.
        return {offset, length, true, 0};
    if (isFoxProMemoKind(memo.table) || memo.kind == 0x8B || isLevel7Type(memo.table.type)) {
        std::uint8_t head[8] = {};
        std::size_t got = 0;
        readAt(memo, offset, head, sizeof head, got);
        std::uint64_t dataLength =
            isFoxProMemoKind(memo.table) ? readBe32(head + 4) : readLe32(head + 4);
        if (readLe32(head) == dBase4BlockMarker &&
            (memo.kind == 0x8B || isLevel7Type(memo.table.type)))
            dataLength = dataLength >= 8 ? dataLength - 8 : 0;
        dataLength = std::min<std::uint64_t>(dataLength,
                                             memo.fileSize - std::min(memo.fileSize, offset + 8));
        return {offset + 8, dataLength, false, 0};
    }
    return {offset, length, true, endOfFileMarker};
}

// Visits the memo's bytes in pieces of bounded size; stops at a failed or short read.
template <typename Visit>
void forEachPiece(MemoFile &memo, const MemoContent &content, Visit visit) {
    std::uint64_t done = 0;
    while (done < content.length) {
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(copyPiece, content.length - done));
        std::size_t got = 0;
        bool ok = true;
        const std::uint8_t *piece = viewAt(memo, content.offset + done, want, got, ok);
        if (content.stops) {
            if (const void *hit = std::memchr(piece, content.stop, got)) {
                visit(piece,
                      static_cast<std::size_t>(static_cast<const std::uint8_t *>(hit) - piece));
                return;
            }
        }
        visit(piece, got);
        done += got;
        if (got < want)
            return;
    }
}

bool appendsWithHead(const MemoFile &memo) {
    return isFoxProLayoutKind(memo.kind) || isDBase4LayoutKind(memo.kind);
}

bool canAppend(const MemoFile &memo) {
    return memo.isOpen() && (appendsWithHead(memo) || memo.kind == 0x83 || memo.kind == 0xE5);
}

void putPending(MemoFile &memo, const std::uint8_t *data, std::size_t length) {
    while (length > 0 && memo.writeError == 0) {
        if (memo.pending.size() >= pendingCapacity)
            drainPending(memo);
        std::size_t chunk = std::min(length, pendingCapacity - memo.pending.size());
        memo.pending.insert(memo.pending.end(), data, data + chunk);
        data += chunk;
        length -= chunk;
    }
    memo.fileSize = std::max(memo.fileSize, memo.pendingStart + memo.pending.size());
}

// Starts a memo at the end of the file: writes its block head (for `length` bytes of data)
// and returns its block number.
std::uint32_t beginAppend(MemoFile &memo, std::uint32_t typeWord, std::uint64_t length) {
    auto size = static_cast<std::uint64_t>(memo.blockSize);
    auto n = static_cast<std::uint32_t>(memo.fileSize / size);
    n = std::max(n, firstDataBlock(memo));
    std::uint64_t at = n * size;
    if (!memo.pending.empty() && at != memo.pendingStart + memo.pending.size())
        drainPending(memo);
    if (memo.pending.empty())
        memo.pendingStart = at;
    if (appendsWithHead(memo)) {
        std::uint8_t head[8];
        if (isFoxProLayoutKind(memo.kind)) {
            writeLe32(head, typeWord);
            writeBe32(head + 4, static_cast<std::uint32_t>(length));
        } else {
            writeLe32(head, dBase4BlockMarker);
            writeLe32(head + 4, static_cast<std::uint32_t>(length + 8));
        }
        putPending(memo, head, sizeof head);
    }
    return n;
}

// Ends the memo begun in block `n` after `length` bytes of data: its terminator and the zero
// fill of its last block.
std::uint32_t endAppend(MemoFile &memo, std::uint32_t n, std::uint64_t length) {
    std::uint8_t tail[2] = {endOfFileMarker, endOfFileMarker};
    std::uint64_t used = length;
    if (appendsWithHead(memo)) {
        used += 8;
    } else if (memo.kind == 0x83) {
        // A dBASE III memo ends at its 0x1A: NUL bytes before it (binary data) belong to it.
        putPending(memo, tail, 2);
        used += 2;
    } else if (length == 0) {
        tail[0] = 0;
        putPending(memo, tail, 1);
        used = 1;
    }
    auto size = static_cast<std::uint64_t>(memo.blockSize);
    std::uint64_t blocks = (used + size - 1) / size;
    static const std::uint8_t zeros[512] = {};
    for (std::uint64_t fill = blocks * size - used; fill > 0;) {
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(fill, sizeof zeros));
        putPending(memo, zeros, chunk);
        fill -= chunk;
    }
    memo.nextFreeBlock = static_cast<std::int32_t>(n + blocks);
    memo.nextFreeChanged = true;
    return memo.writeError == 0 ? n : 0;
}

// Takes back the memo appended last: the file ends again where it ended before it, and what
// follows is written over it.
void takeBack(MemoFile &memo, std::uint64_t sizeBefore, std::int32_t nextFreeBefore) {
    if (sizeBefore >= memo.pendingStart) {
        memo.pending.resize(static_cast<std::size_t>(
            std::min<std::uint64_t>(sizeBefore - memo.pendingStart, memo.pending.size())));
    } else {
        memo.pending.clear();
        memo.pendingStart = sizeBefore;
        memo.cutAtEnd = true;
    }
    memo.fileSize = sizeBefore;
    memo.nextFreeBlock = nextFreeBefore;
    memo.nextFreeChanged = true;
}

} // namespace

std::size_t readMemo(MemoFile &memo, std::uint32_t block, std::size_t smtLength) {
    MemoContent content = memoContent(memo, block, smtLength);
    std::size_t count = 0;
    if (content.length > 0) {
        std::size_t room = static_cast<std::size_t>(content.length) + 1;
        if (memo.readBuffer.size() < std::max(initialReadBuffer, room))
            memo.readBuffer.resize(std::max(initialReadBuffer, room));
        forEachPiece(memo, content, [&](const std::uint8_t *piece, std::size_t length) {
            std::memcpy(memo.readBuffer.data() + count, piece, length);
            count += length;
        });
        memo.lastBlock = static_cast<std::int32_t>(block);
    }
    if (!memo.readBuffer.empty())
        memo.readBuffer[count] = 0;
    return count;
}

std::uint32_t copyMemo(MemoFile &source, std::uint32_t block, std::size_t smtLength,
                       MemoFile &target, std::uint32_t typeWord, bool *unreadable) {
    if (!canAppend(target))
        return 0;
    MemoContent content = memoContent(source, block, smtLength);
    const std::uint64_t sizeBefore = target.fileSize;
    const std::int32_t nextFreeBefore = target.nextFreeBlock;
    if (content.stops && appendsWithHead(target)) {
        // The head names the length: find where the text stops first.
        std::uint64_t length = 0;
        forEachPiece(source, content,
                     [&](const std::uint8_t *, std::size_t piece) { length += piece; });
        content.length = length;
        content.stops = false;
    }
    std::uint32_t n = beginAppend(target, typeWord, content.length);
    std::uint64_t copied = 0;
    forEachPiece(source, content, [&](const std::uint8_t *piece, std::size_t length) {
        if (target.kind == 0xE5)
            if (const void *nul = std::memchr(piece, 0, length))
                length = static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - piece);
        putPending(target, piece, length);
        copied += length;
    });
    std::uint32_t written = endAppend(target, n, copied);
    std::uint64_t from = memoStart(source, block);
    from = from != 0 ? from : blockOffset(source, block);
    const std::uint64_t to = std::max(content.offset + content.length, from + 1);
    if (written == 0 || !source.unreadable.touches(from, to - from))
        return written;
    if (unreadable)
        *unreadable = true;
    takeBack(target, sizeBefore, nextFreeBefore);
    return 0;
}

std::uint32_t appendMemo(MemoFile &memo, const std::uint8_t *data, std::size_t length,
                         std::uint32_t typeWord) {
    if (!canAppend(memo))
        return 0;
    if (memo.kind == 0xE5) {
        if (const void *nul = std::memchr(data, 0, length))
            length = static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - data);
    }
    std::uint32_t n = beginAppend(memo, typeWord, length);
    putPending(memo, data, length);
    return endAppend(memo, n, length);
}

platform::ErrorCode flushMemo(MemoFile &memo) {
    if (!memo.isOpen())
        return memo.writeError;
    drainPending(memo);
    if (memo.nextFreeChanged) {
        memo.nextFreeChanged = false;
        std::uint8_t next[4];
        if (isFoxProLayoutKind(memo.kind))
            writeBe32(next, static_cast<std::uint32_t>(memo.nextFreeBlock));
        else
            writeLe32(next, static_cast<std::uint32_t>(memo.nextFreeBlock));
        rawWriteAt(memo, 0, next, 4);
    }
    if (memo.cutAtEnd && memo.writeError == 0) {
        memo.cutAtEnd = false;
        platform::ErrorCode error = memo.handle->seek(memo.fileSize);
        if (error == 0)
            error = memo.handle->setEnd();
        memo.writeError = error;
    }
    return memo.writeError;
}

MemoFile::~MemoFile() {
    flushMemo(*this);
}

std::string unreadableText(const UnreadableRanges &ranges) {
    std::string text;
    for (const UnreadableRanges::Range &range : ranges.ranges())
        text += formatText("%s%d to %d", text.empty() ? "bytes " : ", ",
                           static_cast<std::int64_t>(range.start),
                           static_cast<std::int64_t>(range.end - 1));
    return text;
}

bool memoHeaderUnreadable(const MemoFile &memo) {
    return memo.isOpen() && memo.unreadable.touches(0, memoHeaderSize);
}

bool readMemoHeader(MemoFile &memo, std::uint8_t (&header)[memoHeaderSize]) {
    std::memset(header, 0, memoHeaderSize);
    if (!memo.isOpen())
        return false;
    std::size_t got = 0;
    return readAt(memo, 0, header, memoHeaderSize, got);
}

bool writeMemoHeader(MemoFile &memo, const std::uint8_t (&header)[memoHeaderSize]) {
    if (!memo.isOpen())
        return false;
    writeAt(memo, 0, header, memoHeaderSize);
    return memo.writeError == 0;
}

std::uint32_t memoBlockCount(const MemoFile &memo) {
    return static_cast<std::uint32_t>(memo.fileSize / static_cast<std::uint64_t>(memo.blockSize));
}

void closeMemo(std::unique_ptr<MemoFile> &memo) {
    memo.reset();
}

bool stampFileTimes(platform::Platform &os, const std::string &path, platform::FileTime time) {
    platform::OpenResult opened =
        os.openFile(path, {platform::Access::ReadWrite, platform::Share::None,
                           platform::Disposition::OpenAlways, false});
    if (!opened)
        return false;
    return opened.file->setTimes({time, time, time}) == 0;
}

} // namespace salvora
