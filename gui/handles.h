// Owners for the system handles the window code creates, each released exactly once.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <utility>

namespace salvora::gui {

template <typename Handle, typename Release> class Owned {
  public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    Owned(Owned &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Owned &operator=(Owned &&other) noexcept {
        if (this != &other)
            reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    ~Owned() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Hands the handle to someone who frees it (a window that owns its menu, for instance).
    Handle release() { return std::exchange(handle_, nullptr); }
    void reset(Handle handle = nullptr) {
        if (handle_ != nullptr)
            Release{}(handle_);
        handle_ = handle;
    }

  private:
    Handle handle_ = nullptr;
};

struct DestroyIconRelease {
    void operator()(HICON icon) const { ::DestroyIcon(icon); }
};
struct DestroyMenuRelease {
    void operator()(HMENU menu) const { ::DestroyMenu(menu); }
};
struct ImageListRelease {
    void operator()(HIMAGELIST list) const { ::ImageList_Destroy(list); }
};
struct DragFinishRelease {
    void operator()(HDROP drop) const { ::DragFinish(drop); }
};
struct DestroyWindowRelease {
    void operator()(HWND window) const { ::DestroyWindow(window); }
};

using IconHandle = Owned<HICON, DestroyIconRelease>;
using MenuHandle = Owned<HMENU, DestroyMenuRelease>;
using ImageListHandle = Owned<HIMAGELIST, ImageListRelease>;
using DropHandle = Owned<HDROP, DragFinishRelease>;
using WindowHandle = Owned<HWND, DestroyWindowRelease>;

} // namespace salvora::gui
