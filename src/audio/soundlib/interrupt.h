#pragma once
// Abandons blocking reads: a stop flag (set by whoever frees the stream) plus a deadline (set by
// the thread that blocks). FFmpeg polls it through AVIOInterruptCB; our own socket code polls it
// between short waits.
// Thread rules: request_stop() from any thread; the deadline is set and cleared by the thread
// that performs the blocking calls; should_abort() from any thread.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

extern "C" {
#include <libavformat/avio.h>
}

namespace miravox::soundlib {

using SteadyClock = std::chrono::steady_clock;

// The steady clock in nanoseconds, for times kept in atomics.
inline int64_t steady_now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count();
}

class Interrupt {
  public:
    void request_stop() { stop_.store(true); }
    bool stop_requested() const { return stop_.load(); }

    void set_deadline(SteadyClock::time_point t) { deadline_ns_.store(t.time_since_epoch().count()); }
    void set_deadline_in(std::chrono::milliseconds ms) { set_deadline(SteadyClock::now() + ms); }
    void clear_deadline() {
        deadline_ns_.store(0);
        idle_window_ns_.store(0);
    }
    // Makes the deadline move with the data: from now on, each note_data() puts it `window`
    // after that moment, but not past `limit` (a time-out then counts from the last byte, even
    // within one long read). Set by the thread that blocks, like the deadline.
    void set_idle_window(std::chrono::milliseconds window,
                         SteadyClock::time_point limit = SteadyClock::time_point::max()) {
        idle_limit_ns_.store(limit.time_since_epoch().count());
        idle_window_ns_.store(std::chrono::nanoseconds(window).count());
    }
    void note_data() {
        if (const int64_t w = idle_window_ns_.load(); w != 0)
            deadline_ns_.store(std::min(SteadyClock::now().time_since_epoch().count() + w, idle_limit_ns_.load()));
    }
    bool has_deadline() const { return deadline_ns_.load() != 0; }
    SteadyClock::time_point deadline() const {
        return SteadyClock::time_point(SteadyClock::duration(deadline_ns_.load()));
    }

    // True when the stop was requested or the deadline has passed. Remembers a deadline hit.
    bool should_abort() {
        if (stop_requested())
            return true;
        const int64_t d = deadline_ns_.load();
        if (d != 0 && SteadyClock::now().time_since_epoch().count() >= d) {
            timed_out_.store(true);
            return true;
        }
        return false;
    }
    // Whether a deadline ever fired since the last reset_timeout().
    bool timed_out() const { return timed_out_.load(); }
    void reset_timeout() { timed_out_.store(false); }

    AVIOInterruptCB callback() { return AVIOInterruptCB{&Interrupt::check, this}; }

  private:
    static int check(void* self) { return static_cast<Interrupt*>(self)->should_abort() ? 1 : 0; }

    std::atomic<bool> stop_{false};
    std::atomic<bool> timed_out_{false};
    std::atomic<int64_t> deadline_ns_{0};
    std::atomic<int64_t> idle_window_ns_{0};
    std::atomic<int64_t> idle_limit_ns_{0};
};

} // namespace miravox::soundlib
