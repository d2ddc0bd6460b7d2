// Large sequential reads and writes, so that the engine never makes a system call per record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace salvora {

// The pieces of a file that could not be read, in order and merged.
class UnreadableRanges {
  public:
    struct Range {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
    };
    void add(std::uint64_t start, std::uint64_t end);
    const std::vector<Range> &ranges() const { return ranges_; }
    bool empty() const { return ranges_.empty(); }
    std::uint64_t bytes() const;
    bool touches(std::uint64_t offset, std::uint64_t length) const;

  private:
    std::vector<Range> ranges_;
};

// After a read of `buffer` from `fileOffset` failed at `from`, reads [from, to) of the buffer
// again in smaller pieces, down to pieces that end on the file's 512-byte boundaries; only
// the pieces that still fail are zeroed, and they are added to `unreadable`.
void salvageRead(platform::FileHandle &file, std::uint64_t fileOffset, std::uint8_t *buffer,
                 std::size_t from, std::size_t to, UnreadableRanges &unreadable);

// A sliding view over a file. Bytes past the end of the file read as zero. A failed read is
// tried again in smaller pieces; only the pieces that still fail read as zero, and they are
// listed, so that no caller takes them for data.
class WindowReader {
  public:
    // `lookBack`: how much of what lies before a requested offset a refill keeps, for readers
    // that also look a short way back.
    explicit WindowReader(platform::FileHandle &file, std::uint64_t fileSize,
                          std::size_t capacity = 4u << 20, std::size_t lookBack = 0);

    // Pointer to `length` bytes starting at `offset`; valid until the next call.
    // A view longer than the capacity grows the buffer.
    const std::uint8_t *view(std::uint64_t offset, std::size_t length) {
        if (offset < windowStart_ || offset - windowStart_ + length > windowLength_)
            fill(offset, length);
        return buffer_.data() + (offset - windowStart_);
    }

    // As `view`, for a reader that repairs what it reads where it lies: the bytes may be
    // changed until the next call.
    std::uint8_t *mutableView(std::uint64_t offset, std::size_t length) {
        view(offset, length);
        return buffer_.data() + (offset - windowStart_);
    }

    std::uint64_t fileSize() const { return fileSize_; }
    // First read error met, 0 when none.
    platform::ErrorCode error() const { return error_; }

    using Range = UnreadableRanges::Range;
    // The pieces that could not be read, in order and merged.
    const std::vector<Range> &unreadable() const { return unreadable_.ranges(); }
    const UnreadableRanges &unreadableRanges() const { return unreadable_; }
    std::uint64_t unreadableBytes() const { return unreadable_.bytes(); }
    bool touchesUnreadable(std::uint64_t offset, std::size_t length) const {
        return unreadable_.touches(offset, length);
    }

    static constexpr std::size_t smallestPiece = 512;

  private:
    void fill(std::uint64_t offset, std::size_t length);

    platform::FileHandle &file_;
    std::uint64_t fileSize_;
    std::vector<std::uint8_t> buffer_;
    std::size_t lookBack_;
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
    platform::ErrorCode error_ = 0;
    UnreadableRanges unreadable_;
};

// Buffered writer with a sticky error: once a write failed, later calls do nothing and the
// first error stays available. A write of half the buffer or more goes straight to the file
// after what is buffered: copying it through the buffer would gain nothing.
class BufferedWriter {
  public:
    explicit BufferedWriter(platform::FileHandle &file, std::size_t capacity = 1u << 20);

    void write(const void *data, std::size_t length);
    void seek(std::uint64_t offset);
    // Cuts the file at the current position.
    void setEnd();
    // Writes out what is buffered and, with `durable`, pushes it to stable storage.
    void flush(bool durable = false);

    std::uint64_t position() const { return position_; }
    platform::ErrorCode error() const { return error_; }

  private:
    void drain();
    void writeBackIfDue();

    platform::FileHandle &file_;
    // Left uninitialised: only what is written is ever read back.
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    std::uint64_t position_ = 0;
    platform::ErrorCode error_ = 0;
    std::uint64_t writeBackFrom_ = 0;
};

} // namespace salvora
