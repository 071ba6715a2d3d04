#pragma once
// The dead-air watch of the relay: a relayed stream can stay connected and carry nothing but
// silence (the studio's encoder runs with nothing played into it). Fed the stream's own peak
// level every metering tick, it tells when that level has stayed below a threshold for a set
// time, so the relay can treat the stream as lost.
// Thread rules: main thread only.

#include <QtGlobal>

namespace miravox {

class SilenceWatch {
  public:
    // One reading of the stream's peak (dBFS; -inf for digital silence) at `now_ms` (program
    // clock), with `seconds` of silence before the stream counts as lost (0 or less: never)
    // and `threshold_db` the peak (dBFS) below which it is silent. Readings further apart than
    // a metering pause (the stream was stopped, the main thread was held) start the count
    // again. Returns the whole seconds of silence once they reach the setting, and then starts
    // over; 0 until then.
    int observe(double peak_db, qint64 now_ms, int seconds, int threshold_db);

    // Something else is on the air (a commercial, a jingle): the silence so far does not count.
    void reset() { silent_since_ms_ = -1; }

    // Settings that would cut ordinary speech pauses or every stream keep the watch off for
    // the whole run (they are read once, at start).
    void refuse() { refused_ = true; }
    bool refused() const { return refused_; }

  private:
    // A gap between readings longer than this (the meter ticks every 100 ms) restarts the count.
    static constexpr qint64 kMaxGapMs = 2000;

    qint64 silent_since_ms_ = -1;
    qint64 last_reading_ms_ = -1;
    bool refused_ = false;
};

} // namespace miravox
