// Memory for the large tables of one run, straight from the system. Where it offers large
// pages, random access over gigabytes does not wait on address translation at every step.
#pragma once

#include <cstddef>
#include <cstdint>

namespace salvora::platform {

class LargeMemory {
  public:
    LargeMemory() = default;
    // `bytes` of zeroed memory, or none when the system has no more to give. Pages are made
    // resident as they are first touched.
    LargeMemory(std::size_t bytes, bool largePages);
    ~LargeMemory() { release(); }
    LargeMemory(LargeMemory &&other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    LargeMemory &operator=(LargeMemory &&other) noexcept {
        if (this != &other) {
            release();
            data_ = other.data_;
            size_ = other.size_;
            other.data_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }
    LargeMemory(const LargeMemory &) = delete;
    LargeMemory &operator=(const LargeMemory &) = delete;

    std::uint8_t *data() const { return data_; }
    std::size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    void release();

    std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace salvora::platform
