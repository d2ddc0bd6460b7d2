#include "platform/largememory.h"

#include <sys/mman.h>

namespace salvora::platform {

namespace {

constexpr std::size_t largePageSize = 2u << 20;

} // namespace

LargeMemory::LargeMemory(std::size_t bytes, bool largePages) {
    if (bytes == 0)
        return;
    // Large pages need an aligned start: map a page more than asked and give back the ends.
    std::size_t slack = largePages ? largePageSize : 0;
    if (bytes > SIZE_MAX - slack)
        return;
    void *mapped =
        ::mmap(nullptr, bytes + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return;
    auto *start = static_cast<std::uint8_t *>(mapped);
    if (slack != 0) {
        auto address = reinterpret_cast<std::uintptr_t>(start);
        std::size_t head = (largePageSize - address % largePageSize) % largePageSize;
        if (head != 0)
            ::munmap(start, head);
        if (slack - head != 0)
            ::munmap(start + head + bytes, slack - head);
        start += head;
#ifdef MADV_HUGEPAGE
        ::madvise(start, bytes, MADV_HUGEPAGE);
#endif
    }
    data_ = start;
    size_ = bytes;
}

void LargeMemory::release() {
    if (data_)
        ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

} // namespace salvora::platform
