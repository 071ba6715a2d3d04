#pragma once
// Runs the alert command once for one alert: `/bin/sh -c COMMAND` with the alert in its
// environment (MIRAVOX_EVENTO, MIRAVOX_TEXTO ...), never in its command line, so no text of a
// stream, a file or an error can become part of a command. The command gets no input; it has
// `limit_ms` of program time to end (then it and everything it started are killed).
// Thread rules: any thread but the main one (it waits for the command).

#include "alert_policy.h"

#include <QString>

#include <atomic>

namespace miravox {

struct CommandOutcome {
    bool ok = false;
    QString why; // when it failed: "código de saída 1", "não terminou em 30 s" ... and its last output line
};

// `stop` ends the wait early (the program is closing): the command is killed after
// `grace_ms` of real time more and the outcome is a failure.
CommandOutcome run_alert_command(const QString& command, const Alert& alert, qint64 limit_ms,
                                 const std::atomic<bool>& stop, int grace_ms = 2000);

} // namespace miravox
