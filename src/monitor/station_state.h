#pragma once
// What the station is doing, for everything that watches it from outside (the status page and
// metrics, the alerts, the service manager's status line). The main window publishes one
// snapshot per main tick and posts an event for each thing that happens to the air; watchers
// read the latest snapshot and take the events from their own queue. Nothing here reaches into
// the main window, and nothing a watcher does can hold the main thread: publishing copies a
// value under a short lock, posting appends to bounded queues.
//
// Thread rules: publish() and post() on the main thread; everything else from any thread.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace miravox {

// What is heard on the transmission device now.
enum class OnAir { none, stream, music, commercial, jingle };
// "none", "stream", "music", "commercial", "jingle".
QString on_air_name(OnAir source);

// One commercial of today as proof of play records it.
struct CommercialToday {
    QString scheduled; // "HH:MM"
    QString start;     // "HH:mm:ss", empty when it never went on the air
    QString end;       // "HH:mm:ss", empty while on the air or never aired
    int seconds_aired = 0;
    QString file;
    QString outcome; // proof of play's outcome text; "no ar" while it plays
    QString detail;
};

struct StationSnapshot {
    QDateTime taken;         // program clock, local time
    QString station;         // the station's name (ESTACAO, else its folder's name)
    QString version;         // the program's version ("1.0")
    QDateTime program_started; // program clock, when the program started
    OnAir on_air = OnAir::none;
    QString status_line;     // the main window's status line as the operator reads it

    // The stream window that contains now, if any.
    bool window_active = false;
    QString window_start;    // "HH:MM"
    QString window_end;      // "HH:MM"
    QString window_link;     // the window's main link
    QString link_on_air;     // the link actually relayed (a backup link when one is on the air)
    QString stream_name;     // the stream's own name ("Streaming" without one)

    // The stream.
    bool stream_connected = false;
    int reconnect_countdown_s = -1; // seconds to the next reconnection attempt; -1 none pending
    int reconnect_attempts = 0;     // failed attempts towards the reconnection limit
    QDateTime last_drop;            // invalid when none today
    double last_drop_seconds = -1;  // how long the last drop lasted; -1 while it lasts
    double silence_seconds = 0;     // the current run of dead air on the transmission device

    // Levels.
    double output_peak_dbfs = -144; // the transmission mix's recent peak
    int level_general = 0;          // WVOL_GERAL, 0..100
    int level_stream = 0;           // the stream channel's volume, 0..100
    int meter_left = 0, meter_right = 0; // the main window's meters, 0..114
    bool lamp_stream = false, lamp_music = false, lamp_commercial = false;
    int gauge_progress = 0, gauge_max = 60; // the reconnection gauge (or the local track's rest, ms)
    QString notice;                         // the notices strip (a missing commercial, long uptime)

    // Counters since the program started.
    std::uint64_t drops_total = 0;
    std::uint64_t reconnects_total = 0;
    std::uint64_t silence_cuts_total = 0;
    std::uint64_t device_errors_total = 0;

    // Longest lateness of the main tick over the last minute, seconds.
    double tick_lag_max_s = 0;

    std::vector<CommercialToday> commercials_today;
    QStringList log_tail; // the operation log's last lines, oldest first
};

// Something that happened to the air.
enum class StationEventKind {
    started,        // the program started
    stream_lost,    // the stream could not be received (a drop, a failed open)
    stream_back,    // the stream is on the air again after a loss
    silence_cut,    // the dead-air watch cut a silent stream
    device_failed,  // a sound device failed
    device_ok,      // the devices are up again after a failure
    commercial,     // a commercial was not aired or was cut short
    limit_reached,  // the reconnection limit ended the relay
    stopping,       // the program is shutting down
};

struct StationEvent {
    StationEventKind kind = StationEventKind::started;
    QDateTime when;  // program clock
    QString text;    // one line for a person, in the program's language
    QString detail;  // the link, the file, the error text
};

class StationState;

// One watcher's own queue of events; bounded (the oldest is dropped and counted when full).
class StationEventQueue {
  public:
    explicit StationEventQueue(std::size_t capacity = 1000) : capacity_(capacity) {}
    // Takes every queued event, oldest first.
    std::vector<StationEvent> take();
    std::uint64_t dropped() const;

  private:
    friend class StationState;
    void push(const StationEvent& event);

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<StationEvent> events_;
    std::uint64_t dropped_ = 0;
};

class StationState {
  public:
    void publish(StationSnapshot snapshot);
    StationSnapshot snapshot() const;
    // Counts the snapshots published so far (0: none yet).
    std::uint64_t generation() const;

    // Hands `event` to every queue opened so far.
    void post(const StationEvent& event);
    // A new queue that receives every event posted from now on; it lives as long as the
    // returned pointer or the state, whichever is shorter.
    std::shared_ptr<StationEventQueue> open_queue(std::size_t capacity = 1000);

  private:
    mutable std::mutex mutex_;
    StationSnapshot snapshot_;
    std::uint64_t generation_ = 0;
    std::vector<std::weak_ptr<StationEventQueue>> queues_;
};

} // namespace miravox
