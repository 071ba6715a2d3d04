#pragma once
// What the main window keeps in order to publish the station's state for outside watchers
// (main_window_station_state.cpp): the counters since start, the stream loss under way, the
// main tick's recent lateness and today's commercials. The window owns one; only the
// publisher and its event hooks touch it.
// Thread rules: main thread only.

#include "station_state.h"

#include <QDate>
#include <QDateTime>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class Tfrm_miravox;

namespace miravox {

class StatusServer;

struct StationPublisher {
    bool started = false; // the first snapshot has gone out
    QDateTime program_started;

    // The stream: a loss lasts from the first failure until the link is relayed again.
    bool stream_seen_connected = false; // connected since the last loss (a later loss is a drop)
    bool in_loss = false;
    QDateTime loss_started;
    QDateTime last_drop;
    double last_drop_seconds = -1;

    bool device_failed = false; // a device failure waits for the devices to come back

    std::uint64_t drops_total = 0;
    std::uint64_t reconnects_total = 0;
    std::uint64_t silence_cuts_total = 0;
    std::uint64_t device_errors_total = 0;

    // The current run of dead air on the transmission device (program clock, ms); 0 none.
    qint64 silence_since_ms = 0;

    // Lateness of the main tick: when it ran last, and (when, how late) over the last minute.
    qint64 last_tick_ms = 0;
    std::deque<std::pair<qint64, qint64>> lateness;

    // Today's commercials as proof of play wrote them.
    QDate commercials_date;
    std::vector<CommercialToday> commercials;
};

} // namespace miravox

// Starts the status page and metrics server when PAINEL_PORTA is set and the settings allow it;
// logs why it stays off otherwise. The server reads only `window.station_state`; its log lines
// reach the operation log through the window's event loop. Destroy it before the window.
std::unique_ptr<miravox::StatusServer> start_status_panel(Tfrm_miravox& window);
