#include "engine/memofile.h"

#include <algorithm>
#include <cstring>

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

bool readAt(MemoFile &memo, std::uint64_t offset, std::uint8_t *buffer, std::size_t length,
            std::size_t &got) {
    got = 0;
    if (memo.handle->seek(offset) != 0)
        return false;
    platform::IoResult result = memo.handle->read(buffer, length);
    got = result.bytes;
    return result.ok();
}

void writeAt(MemoFile &memo, std::uint64_t offset, const std::uint8_t *data, std::size_t length) {
    if (memo.writeError != 0)
        return;
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

std::uint32_t memoBlockLength(MemoFile &memo, std::uint32_t block, std::uint32_t *typeWord) {
    if (!memo.isOpen() || block == 0)
        return 0;
    std::uint64_t offset = blockOffset(memo, block);
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

    // Text ended by 0x1A: whole blocks up to and including the one that holds it. Stretches
    // already scanned are remembered, so that many references into one long unterminated
    // stretch cost one pass over it, not one each.
    auto blockBytes = static_cast<std::uint64_t>(memo.blockSize);
    auto known = memo.textRuns.upper_bound(block);
    if (known != memo.textRuns.begin()) {
        auto previous = std::prev(known);
        if (block <= previous->second)
            return (previous->second - block + 1) * static_cast<std::uint32_t>(blockBytes);
    }
    std::uint64_t stopAt = memo.fileSize;
    if (known != memo.textRuns.end())
        stopAt = std::min(stopAt, blockOffset(memo, known->first));
    std::uint32_t lastBlock = static_cast<std::uint32_t>((memo.fileSize - 1) / blockBytes);
    bool found = false;
    std::uint64_t position = offset;
    std::size_t chunk = static_cast<std::size_t>(blockBytes);
    while (position < stopAt) {
        // Most memos are short: start with one block and read more only when needed.
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk, stopAt - position));
        if (memo.scanBuffer.size() < want)
            memo.scanBuffer.resize(want);
        std::size_t got = 0;
        readAt(memo, position, memo.scanBuffer.data(), want, got);
        if (got == 0)
            break;
        const void *hit = std::memchr(memo.scanBuffer.data(), endOfFileMarker, got);
        if (hit) {
            auto at = position + static_cast<std::size_t>(static_cast<const std::uint8_t *>(hit) -
                                                          memo.scanBuffer.data());
            lastBlock = static_cast<std::uint32_t>(at / blockBytes);
            found = true;
            break;
        }
        position += got;
        chunk = std::min<std::size_t>(chunk * 2, 1u << 20);
    }
    if (!found && known != memo.textRuns.end() && position >= stopAt && stopAt < memo.fileSize) {
        // Ran into a stretch scanned before: it ends where that one does.
        lastBlock = known->second;
        memo.textRuns.erase(known);
    }
    memo.textRuns[block] = lastBlock;
    return (lastBlock - block + 1) * static_cast<std::uint32_t>(blockBytes);
}

std::size_t readMemo(MemoFile &memo, std::uint32_t block, std::size_t smtLength) {
    auto emptyBuffer = [&memo] {
        if (!memo.readBuffer.empty())
            memo.readBuffer[0] = 0;
        return std::size_t{0};
    };
    if (!memo.isOpen() || block == 0)
        return emptyBuffer();
    std::uint64_t offset = blockOffset(memo, block);
    if (offset == 0 || offset >= memo.fileSize)
        return emptyBuffer();

    bool smt = memo.kind == 0xE5;
    std::size_t length = smt ? smtLength : memoBlockLength(memo, block);
    if (length == 0)
        return emptyBuffer();
    // Never more than the file holds past the block, whatever a damaged length says.
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, memo.fileSize - offset));
    if (memo.readBuffer.size() < std::max(initialReadBuffer, length + 1))
        memo.readBuffer.resize(std::max(initialReadBuffer, length + 1));
    std::uint8_t *buffer = memo.readBuffer.data();

    std::size_t count = 0;
    if (smt) {
        // The text ends at the zero fill of its last block; the length the caller found may
        // run on to the end of the file, so stop reading once a zero byte has come.
        std::size_t chunk = static_cast<std::size_t>(memo.blockSize);
        while (count < length) {
            std::size_t want = std::min(chunk, length - count);
            std::size_t got = 0;
            readAt(memo, offset + count, buffer + count, want, got);
            bool ended = got == 0 || std::memchr(buffer + count, 0, got) != nullptr;
            count += got;
            if (ended)
                break;
            chunk = std::min<std::size_t>(chunk * 2, 1u << 20);
        }
    } else if (isFoxProMemoKind(memo.table) || memo.kind == 0x8B || isLevel7Type(memo.table.type)) {
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
        dataLength = std::min<std::uint64_t>(dataLength, memo.readBuffer.size() - 1);
        readAt(memo, offset + 8, buffer, static_cast<std::size_t>(dataLength), count);
    } else {
        std::size_t got = 0;
        readAt(memo, offset, buffer, length, got);
        const void *end = std::memchr(buffer, endOfFileMarker, got);
        count =
            end ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(end) - buffer) : got;
    }
    buffer[count] = 0;
    memo.lastBlock = static_cast<std::int32_t>(block);
    return count;
}

std::uint32_t appendMemo(MemoFile &memo, const std::uint8_t *data, std::size_t length,
                         std::uint32_t typeWord) {
    if (!memo.isOpen())
        return 0;
    auto size = static_cast<std::uint64_t>(memo.blockSize);
    auto n = static_cast<std::uint32_t>(memo.fileSize / size);
    n = std::max(n, firstDataBlock(memo));

    std::vector<std::uint8_t> bytes;
    if (isFoxProLayoutKind(memo.kind) || isDBase4LayoutKind(memo.kind)) {
        bytes.resize(8);
        if (isFoxProLayoutKind(memo.kind)) {
            writeLe32(bytes.data(), typeWord);
            writeBe32(bytes.data() + 4, static_cast<std::uint32_t>(length));
        } else {
            writeLe32(bytes.data(), dBase4BlockMarker);
            writeLe32(bytes.data() + 4, static_cast<std::uint32_t>(length + 8));
        }
        bytes.insert(bytes.end(), data, data + length);
    } else if (memo.kind == 0x83) {
        // A dBASE III memo ends at its 0x1A: NUL bytes before it (binary data) belong to it.
        bytes.assign(data, data + length);
        bytes.push_back(endOfFileMarker);
        bytes.push_back(endOfFileMarker);
    } else if (memo.kind == 0xE5) {
        const void *nul = std::memchr(data, 0, length);
        std::size_t textLength =
            nul ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - data) : length;
        bytes.assign(data, data + textLength);
        if (bytes.empty())
            bytes.push_back(0);
    } else {
        return 0;
    }
    std::uint64_t blocks = (bytes.size() + size - 1) / size;
    bytes.resize(static_cast<std::size_t>(blocks * size), 0);
    writeAt(memo, n * size, bytes.data(), bytes.size());

    memo.nextFreeBlock = static_cast<std::int32_t>(n + blocks);
    std::uint8_t next[4];
    if (isFoxProLayoutKind(memo.kind))
        writeBe32(next, static_cast<std::uint32_t>(memo.nextFreeBlock));
    else
        writeLe32(next, static_cast<std::uint32_t>(memo.nextFreeBlock));
    writeAt(memo, 0, next, 4);
    return memo.writeError == 0 ? n : 0;
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
