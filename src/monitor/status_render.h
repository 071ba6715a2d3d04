#pragma once
// The station's snapshot as the status server hands it out: Prometheus metrics, JSON for
// scripts and a small self-refreshing page for people. Pure functions of the snapshot.
// Thread rules: any thread.

#include "station_state.h"

#include <QByteArray>

namespace miravox {

// What the server knows beside the snapshot.
struct ServerView {
    bool fresh = true;      // the main tick published within the last few seconds
    double state_age_s = 0; // how long ago the snapshot was published (real seconds)
};

// The Prometheus text exposition format (version 0.0.4).
QByteArray metrics_text(const StationSnapshot& s, const ServerView& view);
// "/status.json": every field is described in docs/monitoring.md.
QByteArray status_json(const StationSnapshot& s, const ServerView& view);
// "/": one page, no outside assets, refreshing itself from the server every two seconds.
QByteArray status_page(const StationSnapshot& s, const ServerView& view);

// The machine name of a proof-of-play outcome ("completo" -> "complete"); empty for one
// still on the air.
QString outcome_label(const QString& outcome);

} // namespace miravox
