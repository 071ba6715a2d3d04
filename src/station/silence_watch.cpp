#include "silence_watch.h"

namespace miravox {

int SilenceWatch::observe(double peak_db, qint64 now_ms, int seconds, int threshold_db) {
    const bool gap =
        last_reading_ms_ < 0 || now_ms < last_reading_ms_ || now_ms - last_reading_ms_ > kMaxGapMs;
    last_reading_ms_ = now_ms;
    if (seconds <= 0 || peak_db >= threshold_db) {
        reset();
        return 0;
    }
    if (gap || silent_since_ms_ < 0) {
        silent_since_ms_ = now_ms;
        return 0;
    }
    const qint64 silent_ms = now_ms - silent_since_ms_;
    if (silent_ms < qint64(seconds) * 1000)
        return 0;
    reset();
    return int(silent_ms / 1000);
}

} // namespace miravox
