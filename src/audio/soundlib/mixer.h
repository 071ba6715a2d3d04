#pragma once
// Sums the playing streams of one device into its output buffer.
// Thread rules: process() is called only by the device's output thread (PortAudio callback or a
// virtual device's clock thread) and never blocks, locks or allocates. add() and remove() are
// called by control threads (they serialise among themselves); remove() returns only when the
// output thread can no longer be using the source.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace miravox::soundlib {

class MixSource {
  public:
    virtual ~MixSource() = default;
    // Adds the next `frames` interleaved stereo frames into `out`. Output thread only.
    virtual void mix_into(float* out, size_t frames) noexcept = 0;
};

class Mixer {
  public:
    static constexpr size_t kMaxSources = 256;

    bool add(MixSource* source);
    void remove(MixSource* source);

    void process(float* out, size_t frames) noexcept;

    uint64_t frames_processed() const { return frames_processed_.load(std::memory_order_relaxed); }

  private:
    std::array<std::atomic<MixSource*>, kMaxSources> slots_{};
    std::atomic<size_t> used_{0};    // slots beyond this index are empty
    std::atomic<uint64_t> epoch_{0}; // odd while process() runs
    std::atomic<uint64_t> frames_processed_{0};
    std::mutex control_mutex_;
};

} // namespace miravox::soundlib
