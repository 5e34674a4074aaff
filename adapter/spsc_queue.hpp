#pragma once
// A bounded queue for exactly one producer thread and one consumer thread, without locks: each
// side writes only its own index and reads the other's with acquire ordering. The slots are
// allocated once, up front.

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <vector>

namespace zanst::adapter {

template <typename T> class SpscQueue {
  public:
    // `capacity` is rounded up to a power of two, at least 2.
    explicit SpscQueue(std::size_t capacity) : slots_(roundUp(capacity)), mask_(slots_.size() - 1) {}

    // Producer: false when full (nothing is written).
    bool push(const T& item) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == slots_.size()) {
            return false;
        }
        slots_[tail & mask_] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    // Consumer: false when empty.
    bool pop(T& item) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return false;
        }
        item = slots_[head & mask_];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    // What is queued; exact on either side while the other is idle.
    std::size_t size() const {
        return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire);
    }
    std::size_t capacity() const { return slots_.size(); }

  private:
    static std::size_t roundUp(std::size_t n) {
        std::size_t c = 2;
        while (c < n) {
            if (c > (static_cast<std::size_t>(-1) >> 2)) {
                throw std::length_error("queue too large");
            }
            c <<= 1;
        }
        return c;
    }

    static constexpr std::size_t kLine = 64;
    std::vector<T> slots_;
    const std::size_t mask_;
    alignas(kLine) std::atomic<std::size_t> head_{0};
    alignas(kLine) std::atomic<std::size_t> tail_{0};
};

} // namespace zanst::adapter
