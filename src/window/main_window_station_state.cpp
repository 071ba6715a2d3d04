// The station's state for everything that watches it from outside: once per main tick a
// snapshot of what is on the air, the window, the stream, the levels, the counters and today's
// commercials; and an event for each thing that happens to the air. The handlers where things
// happen call station_event(); everything else is read here from the window's fields.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "cool_gauge.h"
#include "engine_state.h"
#include "program_folder.h"
#include "rled.h"
#include "status_server.h"
#include "threaded_timer.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>

#include <algorithm>
#include <cmath>

using miravox::OnAir;
using miravox::StationEventKind;

namespace {

constexpr int kLogTailLines = 20;
constexpr qint64 kTickIntervalMs = 300;
constexpr qint64 kLatenessWindowMs = 60000;
constexpr double kFloorDbfs = -144;

// The level a channel puts on the transmission mix: its own peak through its volume.
double mix_level_dbfs(TTesselBass* channel) {
    if (!channel->isStarted())
        return kFloorDbfs;
    const double volume = channel->Volume();
    const double peak = channel->PeakDb();
    if (volume <= 0 || !std::isfinite(peak))
        return kFloorDbfs;
    return std::max(kFloorDbfs, peak + 20 * std::log10(volume / 100.0));
}

miravox::CommercialToday commercial_of(const miravox::Airing& airing) {
    miravox::CommercialToday c;
    c.scheduled = airing.scheduled;
    c.start = airing.start.isValid() ? airing.start.toString("HH:mm:ss") : QString();
    c.end = airing.end.isValid() ? airing.end.toString("HH:mm:ss") : QString();
    c.seconds_aired = airing.seconds_aired;
    c.file = airing.file;
    c.outcome = airing.outcome;
    c.detail = airing.detail;
    return c;
}

} // namespace

void Tfrm_miravox::station_event(StationEventKind kind, const QString& text, const QString& detail) {
    auto& p = station_publisher;
    const QDateTime now = miravox::clock().now();
    switch (kind) {
    case StationEventKind::stream_lost:
        // The end of a window stops the stream too; that is no loss. A loss is posted once,
        // however many reopenings fail before the stream is back.
        if (!Timer_Reconexao->Enabled() || p.in_loss)
            return;
        p.in_loss = true;
        p.loss_started = now;
        p.last_drop = now;
        p.last_drop_seconds = -1;
        if (p.stream_seen_connected)
            ++p.drops_total;
        p.stream_seen_connected = false;
        break;
    case StationEventKind::silence_cut:
        ++p.silence_cuts_total;
        break;
    case StationEventKind::device_failed:
        ++p.device_errors_total;
        p.device_failed = true;
        break;
    default:
        break;
    }
    station_state.post({kind, now, text, detail});
}

void Tfrm_miravox::publish_station_state() {
    auto& p = station_publisher;
    const QDateTime now = miravox::clock().now();
    const qint64 now_ms = now.toMSecsSinceEpoch();

    if (!p.started) {
        p.started = true;
        p.program_started = now;
        p.commercials_date = now.date();
        for (const miravox::Airing& airing :
             miravox::read_airings(miravox::proof_of_play_file(Log.logs_folder(), now.date())))
            p.commercials.push_back(commercial_of(airing));
        proof_of_play.on_row = [this](const miravox::Airing& airing) {
            auto& pub = station_publisher;
            if (airing.date != pub.commercials_date) {
                pub.commercials.clear();
                pub.commercials_date = airing.date;
            }
            pub.commercials.push_back(commercial_of(airing));
            if (airing.outcome != miravox::kAiringComplete)
                station_event(StationEventKind::commercial,
                              "Comercial " + airing.scheduled + " " + airing.outcome, airing.file);
        };
        station_event(StationEventKind::started, "Aplicação iniciada", PASTA_PROGRAMA());
    }
    if (now.date() != p.commercials_date) {
        p.commercials.clear();
        p.commercials_date = now.date();
    }

    // How late this tick came, kept for a minute.
    if (p.last_tick_ms != 0)
        p.lateness.emplace_back(now_ms, std::max<qint64>(0, now_ms - p.last_tick_ms - kTickIntervalMs));
    p.last_tick_ms = now_ms;
    while (!p.lateness.empty() && p.lateness.front().first < now_ms - kLatenessWindowMs)
        p.lateness.pop_front();

    const bool relay_on = Timer_Reconexao->Enabled();
    const bool connected = relay_on && WERRO_WEB == 0 && Canal_web->isStarted();
    if (connected) {
        if (p.in_loss) {
            p.in_loss = false;
            p.last_drop_seconds = p.loss_started.msecsTo(now) / 1000.0;
            ++p.reconnects_total;
            station_event(StationEventKind::stream_back, Label10->text(), Canal_web->FilePath());
        }
        p.stream_seen_connected = true;
    } else if (!relay_on) {
        // The relay ended (the window, the limit): a loss under way ends with it.
        if (p.in_loss)
            p.last_drop_seconds = p.loss_started.msecsTo(now) / 1000.0;
        p.in_loss = false;
        p.stream_seen_connected = false;
    }
    if (p.device_failed && !BASS_UPDATING && !BASS_ERRO_BUFFER) {
        p.device_failed = false;
        station_event(StationEventKind::device_ok, "Devices atualizados");
    }

    miravox::StationSnapshot s;
    s.taken = now;
    s.station = miravox::station_name();
    s.version = version_title().section(' ', -1);
    s.program_started = p.program_started;
    s.status_line = Label10->text();

    if (Canal_Comercial->isStarted())
        s.on_air = OnAir::commercial;
    else if (canal_vinhetas->isStarted())
        s.on_air = OnAir::jingle;
    else if (Canal_Musica->isStarted() && Canal_Musica->Volume() > 0)
        s.on_air = OnAir::music;
    else if (connected && Canal_web->Volume() > 0)
        s.on_air = OnAir::stream;

    s.window_active = WENCONTRADO_ACIONAMENTO && WACIONADO;
    if (WENCONTRADO_ACIONAMENTO) {
        s.window_start = WHORA_ABRIR;
        s.window_end = WHORA_FECHAR;
        s.window_link = WWEB_PLAY;
    }
    if (connected) {
        s.link_on_air = Canal_web->FilePath();
        s.stream_name = Canal_web->GetWebStationName();
    }

    s.stream_connected = connected;
    if (relay_on && !connected)
        s.reconnect_countdown_s = std::max(0, 60 - WTMP_RECONEXAO) / 2;
    s.reconnect_attempts = WCT_ERROWEB;
    s.last_drop = p.last_drop;
    s.last_drop_seconds = p.in_loss ? -1 : p.last_drop_seconds;

    s.output_peak_dbfs = std::max({mix_level_dbfs(Canal_web), mix_level_dbfs(Canal_Comercial),
                                   mix_level_dbfs(canal_vinhetas), mix_level_dbfs(Canal_Musica)});
    // Dead air counts only while a window should be on the air.
    if (s.window_active && s.output_peak_dbfs < WSILENCIO_DB) {
        if (p.silence_since_ms == 0)
            p.silence_since_ms = now_ms;
        s.silence_seconds = (now_ms - p.silence_since_ms) / 1000.0;
    } else {
        p.silence_since_ms = 0;
    }
    s.level_general = WVOL_GERAL;
    s.level_stream = int(std::lround(Canal_web->isStarted() ? Canal_web->Volume() : 0));
    s.meter_left = Meter1->Position();
    s.meter_right = VU_GERAL->Position();
    s.lamp_stream = Panel11->Tag == 1;
    s.lamp_music = Panel14->Tag == 1;
    s.lamp_commercial = Panel19->Tag == 1;
    s.gauge_progress = CoolGauge1->Progress();
    s.gauge_max = CoolGauge1->MaxValue();
    s.notice = Panel13->Caption();

    s.drops_total = p.drops_total;
    s.reconnects_total = p.reconnects_total;
    s.silence_cuts_total = p.silence_cuts_total;
    s.device_errors_total = p.device_errors_total;
    qint64 worst = 0;
    for (const auto& [when, late] : p.lateness)
        worst = std::max(worst, late);
    s.tick_lag_max_s = worst / 1000.0;

    s.commercials_today = p.commercials;
    if (const auto& airing = proof_of_play.current()) {
        miravox::CommercialToday c = commercial_of(*airing);
        c.outcome = QStringLiteral("no ar");
        s.commercials_today.push_back(c);
    }
    const QStringList& log = Log.wlista_logs;
    s.log_tail = log.mid(std::max<qsizetype>(0, log.size() - kLogTailLines));

    station_state.publish(std::move(s));
}

std::unique_ptr<miravox::StatusServer> start_status_panel(Tfrm_miravox& window) {
    if (WPAINEL_PORTA == 0)
        return nullptr;
    miravox::StatusServerSettings settings;
    settings.port = WPAINEL_PORTA;
    settings.address = WPAINEL_ENDERECO;
    settings.password = WPAINEL_SENHA;
    // The server's threads hand their lines to the main thread, which alone writes the log.
    auto log = [&window](const QString& line) {
        QMetaObject::invokeMethod(
            &window, [&window, line] { window.SALVA_LOGS(line); }, Qt::QueuedConnection);
    };
    auto server = std::make_unique<miravox::StatusServer>(window.station_state, settings, log);
    QString error;
    if (!server->start(&error)) {
        window.SALVA_LOGS("PAINEL DESATIVADO: " + error);
        return nullptr;
    }
    const bool v6 = settings.address.contains(':') && !settings.address.startsWith('[');
    window.SALVA_LOGS(QString("PAINEL: http://%1:%2/%3")
                          .arg(v6 ? "[" + settings.address + "]" : settings.address)
                          .arg(server->port())
                          .arg(settings.password.isEmpty() ? QString() : " (com senha)"));
    const QFile::Permissions others = QFile::ReadGroup | QFile::ReadOther;
    if (!settings.password.isEmpty() &&
        (QFile::permissions(PASTA_PROGRAMA() + miravox::kConfigFileName) & others))
        window.SALVA_LOGS("PAINEL: " + miravox::kConfigFileName +
                          " pode ser lido por outros usuários - proteja a senha (chmod 600)");
    return server;
}
