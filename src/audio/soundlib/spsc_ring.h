#pragma once
// Lock-free single-producer / single-consumer containers between a decoder thread (producer)
// and an output thread (consumer). Counters only grow, so a position in the ring ("ring
// count") names one sample frame for the whole life of the stream.
// Thread rules: one producer thread calls the producer side, one consumer thread the consumer
// side; size queries may be called from any thread. Nothing here allocates after construction.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace miravox::soundlib {

// Interleaved stereo float frames.
class FrameRing {
  public:
    explicit FrameRing(size_t capacity_frames)
        : capacity_(std::max<size_t>(capacity_frames, 1)), data_(new float[capacity_ * 2]()) {}

    size_t capacity() const { return capacity_; }
    uint64_t write_count() const { return write_.load(std::memory_order_acquire); }
    uint64_t read_count() const { return read_.load(std::memory_order_acquire); }
    size_t available() const { return static_cast<size_t>(write_count() - read_count()); }
    size_t free_space() const { return capacity_ - available(); }

    // Producer: copies up to `frames` frames; returns how many fitted.
    size_t write(const float* src, size_t frames) {
        const uint64_t w = write_.load(std::memory_order_relaxed);
        const size_t n = std::min(frames, capacity_ - static_cast<size_t>(w - read_count()));
        for (size_t done = 0; done < n;) {
            const size_t at = static_cast<size_t>((w + done) % capacity_);
            const size_t run = std::min(n - done, capacity_ - at);
            std::copy_n(src + done * 2, run * 2, data_.get() + at * 2);
            done += run;
        }
        write_.store(w + n, std::memory_order_release);
        return n;
    }

    // Consumer: calls fn(const float* frames, size_t count) for up to `frames` frames in at most
    // two contiguous runs, then releases them. Returns the number consumed.
    template <typename Fn> size_t consume(size_t frames, Fn&& fn) {
        const uint64_t r = read_.load(std::memory_order_relaxed);
        const size_t n = std::min(frames, static_cast<size_t>(write_count() - r));
        for (size_t done = 0; done < n;) {
            const size_t at = static_cast<size_t>((r + done) % capacity_);
            const size_t run = std::min(n - done, capacity_ - at);
            fn(data_.get() + at * 2, run);
            done += run;
        }
        read_.store(r + n, std::memory_order_release);
        return n;
    }

    // Consumer: drops frames up to ring count `target` (never past what was written).
    void skip_to(uint64_t target) {
        const uint64_t r = read_.load(std::memory_order_relaxed);
        const uint64_t limit = std::min(target, write_count());
        if (limit > r)
            read_.store(limit, std::memory_order_release);
    }

  private:
    const size_t capacity_;
    std::unique_ptr<float[]> data_;
    alignas(64) std::atomic<uint64_t> write_{0};
    alignas(64) std::atomic<uint64_t> read_{0};
};

// Fixed-capacity queue of small trivially copyable items.
template <typename T, size_t Capacity> class SpscQueue {
  public:
    bool push(const T& item) {
        const uint64_t w = write_.load(std::memory_order_relaxed);
        if (w - read_.load(std::memory_order_acquire) >= Capacity)
            return false;
        items_[w % Capacity] = item;
        write_.store(w + 1, std::memory_order_release);
        return true;
    }
    bool full() const { return size() >= Capacity; }
    size_t size() const {
        return static_cast<size_t>(write_.load(std::memory_order_acquire) -
                                   read_.load(std::memory_order_acquire));
    }

    // Consumer: the item `index` places from the front, if present.
    std::optional<T> peek(size_t index = 0) const {
        const uint64_t r = read_.load(std::memory_order_relaxed);
        if (write_.load(std::memory_order_acquire) - r <= index)
            return std::nullopt;
        return items_[(r + index) % Capacity];
    }
    void pop() {
        const uint64_t r = read_.load(std::memory_order_relaxed);
        if (write_.load(std::memory_order_acquire) != r)
            read_.store(r + 1, std::memory_order_release);
    }

  private:
    T items_[Capacity]{};
    alignas(64) std::atomic<uint64_t> write_{0};
    alignas(64) std::atomic<uint64_t> read_{0};
};

} // namespace miravox::soundlib
