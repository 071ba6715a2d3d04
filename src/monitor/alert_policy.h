#pragma once
// Which of the station's events become alerts, and when: the hygiene that keeps one bad evening
// from sending a hundred messages. A drop is told only when it lasts ALERTA_ATRASO
// seconds; its end only when its start was told; the same alert at most once in
// ALERTA_INTERVALO seconds, the ones held back counted in the next. Pure logic on the program
// clock's times, no threads: the alert service feeds it events and asks what is due.
// Thread rules: one thread at a time.

#include "station_state.h"

#include <QDateTime>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace miravox {

// One message for a person, as the alert command receives it in its environment.
struct Alert {
    QString event; // MIRAVOX_EVENTO: queda, volta, silencio, dispositivo, dispositivo_ok, comercial, limite,
                   // inicio
    QString text;  // MIRAVOX_TEXTO: one line, in the program's language
    QString station;   // MIRAVOX_ESTACAO
    QDateTime when;    // MIRAVOX_HORA: when it happened (program clock), not when it was sent
    QString detail;    // MIRAVOX_DETALHE: the link, the file, the error text
    int held_back = 0; // MIRAVOX_RETIDOS: alerts of this kind held back since the last one sent

    bool operator==(const Alert&) const = default;
};

// "dd/MM/yyyy HH:mm:ss", the program's own format.
QString alert_time_text(const QDateTime& when);

// The variables the command runs with: {name, value}.
std::vector<std::pair<QString, QString>> alert_environment(const Alert& alert);

struct AlertSettings {
    QString command;      // ALERTA_COMANDO; empty: no alerts
    int delay_s = 60;     // ALERTA_ATRASO
    int interval_s = 900; // ALERTA_INTERVALO; 0: every alert is sent
    QString station;      // ESTACAO, or the program folder's name
    QString logs_folder;  // where the alerts not yet sent are kept across a restart
};

class AlertPolicy {
  public:
    explicit AlertPolicy(AlertSettings settings) : settings_(std::move(settings)) {}

    // One event, in the order they were posted.
    void observe(const StationEvent& event);

    // The alerts that are due by `now`, in the order they happened: those just observed, a
    // drop that has lasted the delay, alerts held back whose interval is over.
    std::vector<Alert> due(const QDateTime& now);

  private:
    // A fault that has an end: a lost stream, a failed device.
    struct Outage {
        bool open = false;
        bool offered = false; // it lasted the delay: its alert was sent or held back
        bool told = false;    // its alert went out (or is on its way), so its end is told too
        StationEvent start;   // the event that opened it
    };
    // What the interval remembers of one kind of alert.
    struct Limit {
        std::optional<QDateTime> last_sent;
        int held = 0;                // held back since last_sent
        std::optional<Alert> latest; // the latest held back, sent when the interval is over
    };

    void open(Outage& outage, const StationEvent& event);
    void close(Outage& outage, const StationEvent& event, const QString& name, const QString& fault_name);
    // An alert due `at`: sent, or held back by the interval. `outage` is the fault it opens.
    void offer(Alert alert, const QDateTime& at, Outage* outage = nullptr);
    Alert make(const QString& name, const StationEvent& event) const;

    AlertSettings settings_;
    Outage stream_, device_;
    std::map<QString, Limit> limits_;
    std::vector<Alert> ready_;
};

} // namespace miravox
