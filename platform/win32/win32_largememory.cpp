#include "platform/largememory.h"

#include <windows.h>

namespace salvora::platform {

// Large pages need a privilege that ordinary users lack; plain pages serve.
LargeMemory::LargeMemory(std::size_t bytes, bool /*largePages*/) {
    if (bytes == 0)
        return;
    void *memory = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!memory)
        return;
    data_ = static_cast<std::uint8_t *>(memory);
    size_ = bytes;
}

void LargeMemory::release() {
    if (data_)
        ::VirtualFree(data_, 0, MEM_RELEASE);
    data_ = nullptr;
    size_ = 0;
}

} // namespace salvora::platform
