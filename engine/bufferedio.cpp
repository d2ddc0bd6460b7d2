#include "engine/bufferedio.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace salvora {

WindowReader::WindowReader(platform::FileHandle &file, std::uint64_t fileSize, std::size_t capacity,
                           std::size_t lookBack)
    // A small file needs no more than itself: batches of small tables must not pay for
    // clearing megabytes each.
    : file_(file), fileSize_(fileSize),
      buffer_(static_cast<std::size_t>(
          std::min<std::uint64_t>(capacity, std::max<std::uint64_t>(fileSize + 64, 4096)))),
      lookBack_(lookBack) {}

void WindowReader::fill(std::uint64_t offset, std::size_t length) {
    if (length > buffer_.size())
        buffer_.resize(length);
    std::uint64_t keep = std::min<std::uint64_t>(lookBack_, buffer_.size() - length);
    std::uint64_t back = std::min(offset, keep);
    offset -= back;
    length += static_cast<std::size_t>(back);
    windowStart_ = offset;
    windowLength_ = buffer_.size();
    std::size_t wanted = 0;
    if (offset < fileSize_)
        wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), fileSize_ - offset));
    std::size_t got = 0;
    if (wanted > 0) {
        platform::ErrorCode seekError = file_.seek(offset);
        if (seekError == 0) {
            platform::IoResult result = file_.read(buffer_.data(), wanted);
            got = result.bytes;
            if (!result.ok()) {
                if (error_ == 0)
                    error_ = result.error;
                salvageRead(file_, windowStart_, buffer_.data(), got, wanted, unreadable_);
                got = wanted;
            }
        } else if (error_ == 0) {
            error_ = seekError;
        }
    }
    // Zero only what the caller may look at beyond the data; the rest of the buffer is
    // never handed out before it is filled again.
    std::size_t clearTo = std::max(got, std::min(buffer_.size(), length));
    if (clearTo > got)
        std::memset(buffer_.data() + got, 0, clearTo - got);
    windowLength_ = std::max(got, std::min(buffer_.size(), length));
}

void salvageRead(platform::FileHandle &file, std::uint64_t fileOffset, std::uint8_t *buffer,
                 std::size_t from, std::size_t to, UnreadableRanges &unreadable) {
    constexpr std::size_t largePiece = 64 * 1024;
    constexpr std::size_t smallestPiece = WindowReader::smallestPiece;
    auto readPiece = [&](std::size_t at, std::size_t size) {
        if (file.seek(fileOffset + at) != 0)
            return false;
        platform::IoResult result = file.read(buffer + at, size);
        return result.ok() && result.bytes == size;
    };
    for (std::size_t at = from; at < to;) {
        std::size_t size = std::min(largePiece, to - at);
        if (!readPiece(at, size)) {
            // Pieces end on the file's 512-byte boundaries, where its sectors do.
            for (std::size_t small = at, piece = 0; small < at + size; small += piece) {
                std::uint64_t absolute = fileOffset + small;
                piece = static_cast<std::size_t>(std::min<std::uint64_t>(
                    smallestPiece - absolute % smallestPiece, at + size - small));
                if (!readPiece(small, piece)) {
                    std::memset(buffer + small, 0, piece);
                    unreadable.add(fileOffset + small, fileOffset + small + piece);
                }
            }
        }
        at += size;
    }
}

void UnreadableRanges::add(std::uint64_t start, std::uint64_t end) {
    // Pieces arrive in order within a read; a stretch read again repeats them.
    auto after = std::upper_bound(ranges_.begin(), ranges_.end(), start,
                                  [](std::uint64_t at, const Range &r) { return at < r.start; });
    if (after != ranges_.begin() && std::prev(after)->end >= start) {
        Range &before = *std::prev(after);
        before.end = std::max(before.end, end);
        return;
    }
    ranges_.insert(after, Range{start, end});
}

std::uint64_t UnreadableRanges::bytes() const {
    std::uint64_t total = 0;
    for (const Range &r : ranges_)
        total += r.end - r.start;
    return total;
}

bool UnreadableRanges::touches(std::uint64_t offset, std::uint64_t length) const {
    auto after = std::upper_bound(ranges_.begin(), ranges_.end(), offset,
                                  [](std::uint64_t at, const Range &r) { return at < r.start; });
    if (after != ranges_.end() && after->start < offset + length)
        return true;
    return after != ranges_.begin() && std::prev(after)->end > offset;
}

BufferedWriter::BufferedWriter(platform::FileHandle &file, std::size_t capacity)
    : file_(file), buffer_(new std::uint8_t[std::max<std::size_t>(capacity, 1)]),
      capacity_(std::max<std::size_t>(capacity, 1)) {}

void BufferedWriter::write(const void *data, std::size_t length) {
    if (error_ != 0)
        return;
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    if (length > 0 && length >= capacity_ / 2) {
        drain();
        if (error_ != 0)
            return;
        platform::IoResult result = file_.write(bytes, length);
        if (!result.ok()) {
            error_ = result.error;
            return;
        }
        position_ += length;
        writeBackIfDue();
        return;
    }
    while (length > 0) {
        if (used_ == capacity_) {
            drain();
            if (error_ != 0)
                return;
        }
        std::size_t chunk = std::min(length, capacity_ - used_);
        std::memcpy(buffer_.get() + used_, bytes, chunk);
        used_ += chunk;
        position_ += chunk;
        bytes += chunk;
        length -= chunk;
    }
}

void BufferedWriter::drain() {
    if (used_ == 0 || error_ != 0)
        return;
    platform::IoResult result = file_.write(buffer_.get(), used_);
    if (!result.ok())
        error_ = result.error;
    used_ = 0;
    writeBackIfDue();
}

// Lets the system write out what is done while we go on, instead of all of it at the flush.
void BufferedWriter::writeBackIfDue() {
    constexpr std::uint64_t writeBackStep = 16u << 20;
    if (position_ >= writeBackFrom_ + writeBackStep) {
        file_.startWriteBack(writeBackFrom_, position_ - writeBackFrom_);
        writeBackFrom_ = position_;
    }
}

void BufferedWriter::seek(std::uint64_t offset) {
    drain();
    if (error_ != 0)
        return;
    error_ = file_.seek(offset);
    position_ = offset;
}

void BufferedWriter::setEnd() {
    drain();
    if (error_ != 0)
        return;
    error_ = file_.setEnd();
}

void BufferedWriter::flush(bool durable) {
    drain();
    if (error_ == 0 && durable)
        error_ = file_.flush();
}

} // namespace salvora
