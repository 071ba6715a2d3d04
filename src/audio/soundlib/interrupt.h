#pragma once
// Abandons blocking reads: a stop flag (set by whoever frees the stream) plus a deadline (set by
// the thread that blocks). FFmpeg polls it through AVIOInterruptCB; our own socket code polls it
// between short waits.
// Thread rules: request_stop() from any thread; the deadline is set and cleared by the thread
// that performs the blocking calls; should_abort() from any thread.

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
    void clear_deadline() { deadline_ns_.store(0); }
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
};

} // namespace miravox::soundlib
