#include "alert_policy.h"

namespace miravox {

namespace {

// The alert's own words for a person, and whether the event's text (the operation log's line:
// "DESCONECTADO", "Conectado à RADIO X", "Erro de Buffer - update Device") says more.
struct Wording {
    const char* lead;
    bool with_event_text;
};

Wording wording(const QString& name) {
    static const std::map<QString, Wording> words = {
        {"inicio", {"Miravox iniciado", false}},
        {"queda", {"Streaming fora do ar", true}},
        {"volta", {"Streaming de volta ao ar", true}},
        {"silencio", {"Silêncio no streaming: o stream foi cortado", false}},
        {"dispositivo", {"Falha no dispositivo de som", true}},
        {"dispositivo_ok", {"Dispositivos de som de volta", false}},
        {"comercial", {"Comercial não exibido por inteiro", true}},
        {"limite", {"Limite de re-conexão atingido: o streaming foi encerrado", false}},
    };
    const auto it = words.find(name);
    return it == words.end() ? Wording{"", true} : it->second;
}

// "2 min 5 s", "40 s", "1 h 3 min".
QString duration_text(qint64 seconds) {
    seconds = std::max<qint64>(0, seconds);
    if (seconds < 60)
        return QString::number(seconds) + " s";
    if (seconds < 3600)
        return QString::number(seconds / 60) + " min " + QString::number(seconds % 60) + " s";
    return QString::number(seconds / 3600) + " h " + QString::number(seconds % 3600 / 60) + " min";
}

void count_held_back(Alert& alert, int held) {
    alert.held_back = held;
    if (held > 0)
        alert.text += " (mais " + QString::number(held) + " desde o último aviso)";
}

} // namespace

QString alert_time_text(const QDateTime& when) {
    return when.toString("dd/MM/yyyy HH:mm:ss");
}

std::vector<std::pair<QString, QString>> alert_environment(const Alert& alert) {
    return {
        {"MIRAVOX_EVENTO", alert.event},    {"MIRAVOX_TEXTO", alert.text},
        {"MIRAVOX_ESTACAO", alert.station}, {"MIRAVOX_HORA", alert_time_text(alert.when)},
        {"MIRAVOX_DETALHE", alert.detail},  {"MIRAVOX_RETIDOS", QString::number(alert.held_back)},
    };
}

Alert AlertPolicy::make(const QString& name, const StationEvent& event) const {
    const Wording words = wording(name);
    QString text = QString::fromUtf8(words.lead);
    const QString said = event.text.trimmed();
    if (words.with_event_text && !said.isEmpty())
        // "Comercial 12:00 não localizado" says it all; "DESCONECTADO" goes in brackets.
        text = name == "comercial" || text.isEmpty() ? said : text + " (" + said + ")";
    // One line, whatever the event carried.
    text.replace('\r', ' ').replace('\n', ' ');
    return Alert{name, text, settings_.station, event.when, event.detail, 0};
}

void AlertPolicy::observe(const StationEvent& event) {
    // A drop that had already lasted the delay when this event happened is told before it.
    for (Alert& alert : due(event.when))
        ready_.push_back(std::move(alert));
    switch (event.kind) {
    case StationEventKind::started:
        offer(make("inicio", event), event.when);
        break;
    case StationEventKind::stream_lost:
        if (stream_.open && !stream_.told)
            limits_["queda"].latest.reset(); // the loss held back is over; its count stays
        open(stream_, event);
        break;
    case StationEventKind::stream_back:
        close(stream_, event, "volta", "queda");
        break;
    case StationEventKind::device_failed:
        // Told at once: the delay is for drops, which the relay mends by itself.
        if (!device_.open) {
            open(device_, event);
            device_.offered = true;
            offer(make("dispositivo", event), event.when, &device_);
        }
        break;
    case StationEventKind::device_ok:
        close(device_, event, "dispositivo_ok", "dispositivo");
        break;
    case StationEventKind::silence_cut:
        offer(make("silencio", event), event.when);
        break;
    case StationEventKind::commercial:
        offer(make("comercial", event), event.when);
        break;
    case StationEventKind::limit_reached:
        // The relay has ended: the drop is no blip, whatever the delay.
        if (stream_.open && !stream_.offered) {
            stream_.offered = true;
            offer(make("queda", stream_.start), event.when, &stream_);
        }
        offer(make("limite", event), event.when);
        break;
    case StationEventKind::stopping:
        break;
    }
}

void AlertPolicy::open(Outage& outage, const StationEvent& event) {
    // A loss is posted once however many reopenings fail; a second one means the first ended
    // without a return (its window or the relay ended), so this is a fault of its own.
    outage = Outage{true, false, false, event};
}

void AlertPolicy::close(Outage& outage, const StationEvent& event, const QString& name,
                        const QString& fault_name) {
    if (!outage.open)
        return;
    const bool told = outage.told;
    const QDateTime since = outage.start.when;
    outage = Outage{};
    if (!told) {
        // Over before anyone was told: nothing to say now; a held-back count stays for the
        // next alert of its kind.
        limits_[fault_name].latest.reset();
        return;
    }
    Alert alert = make(name, event);
    alert.text += " - fora do ar por " + duration_text(since.secsTo(event.when));
    ready_.push_back(std::move(alert)); // the end of a told fault is always told
}

void AlertPolicy::offer(Alert alert, const QDateTime& at, Outage* outage) {
    Limit& limit = limits_[alert.event];
    const bool free =
        settings_.interval_s <= 0 || !limit.last_sent || limit.last_sent->secsTo(at) >= settings_.interval_s;
    if (!free) {
        ++limit.held;
        limit.latest = std::move(alert);
        return;
    }
    count_held_back(alert, limit.held);
    limit = Limit{at, 0, std::nullopt};
    if (outage)
        outage->told = true;
    ready_.push_back(std::move(alert));
}

std::vector<Alert> AlertPolicy::due(const QDateTime& now) {
    if (stream_.open && !stream_.offered) {
        const QDateTime at = stream_.start.when.addSecs(settings_.delay_s);
        if (now >= at) {
            stream_.offered = true;
            offer(make("queda", stream_.start), at, &stream_);
        }
    }
    for (auto& [name, limit] : limits_) {
        if (!limit.latest || !limit.last_sent || limit.last_sent->secsTo(now) < settings_.interval_s)
            continue;
        Alert alert = std::move(*limit.latest);
        count_held_back(alert, limit.held - 1); // the others held back since the last one sent
        limit = Limit{now, 0, std::nullopt};
        if (name == "queda")
            stream_.told = true;
        else if (name == "dispositivo")
            device_.told = true;
        ready_.push_back(std::move(alert));
    }
    return std::exchange(ready_, {});
}

} // namespace miravox
