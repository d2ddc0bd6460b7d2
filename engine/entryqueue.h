// A first-in, first-out queue kept in one vector. Empty, it holds no memory: a std::deque
// allocates even then, and the header search makes eighty of them for every table.
#pragma once

#include <cstddef>
#include <vector>

namespace salvora {

template <typename T> class EntryQueue {
  public:
    bool empty() const { return head_ == items_.size(); }
    std::size_t size() const { return items_.size() - head_; }
    const T &front() const { return items_[head_]; }
    const T &back() const { return items_.back(); }
    const T &operator[](std::size_t index) const { return items_[head_ + index]; }

    void push_back(const T &item) { items_.push_back(item); }
    void pop_front() {
        ++head_;
        // The taken entries are dropped once they are half the vector: linear on the whole.
        if (head_ == items_.size()) {
            clear();
        } else if (head_ >= 64 && head_ * 2 >= items_.size()) {
            items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }
    void clear() {
        items_.clear();
        head_ = 0;
    }

  private:
    std::vector<T> items_;
    std::size_t head_ = 0;
};

} // namespace salvora
