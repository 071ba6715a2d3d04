#include "mixer.h"

#include <algorithm>
#include <thread>

namespace miravox::soundlib {

bool Mixer::add(MixSource* source) {
    std::lock_guard lock(control_mutex_);
    for (size_t i = 0; i < kMaxSources; ++i) {
        MixSource* expected = nullptr;
        if (slots_[i].compare_exchange_strong(expected, source)) {
            if (i + 1 > used_.load())
                used_.store(i + 1);
            return true;
        }
    }
    return false;
}

void Mixer::remove(MixSource* source) {
    std::lock_guard lock(control_mutex_);
    for (auto& slot : slots_) {
        MixSource* expected = source;
        slot.compare_exchange_strong(expected, nullptr);
    }
    // Wait for a process() that may have picked the source up before it was cleared.
    const uint64_t seen = epoch_.load();
    if (seen & 1)
        while (epoch_.load() == seen)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void Mixer::process(float* out, size_t frames) noexcept {
    epoch_.fetch_add(1);
    std::fill(out, out + frames * 2, 0.0f);
    const size_t used = used_.load();
    for (size_t i = 0; i < used; ++i)
        if (MixSource* s = slots_[i].load())
            s->mix_into(out, frames);
    frames_processed_.fetch_add(frames, std::memory_order_relaxed);
    epoch_.fetch_add(1);
}

} // namespace miravox::soundlib
