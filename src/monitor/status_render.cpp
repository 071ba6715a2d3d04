#include "status_render.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <cmath>
#include <map>

namespace miravox {

namespace {

constexpr std::array<OnAir, 5> kSources{OnAir::stream, OnAir::music, OnAir::commercial, OnAir::jingle, OnAir::none};
const QStringList kOutcomes{"complete", "cut_short", "missing", "error"};

QString number(double v) {
    if (std::isnan(v))
        return QStringLiteral("NaN");
    if (std::isinf(v))
        return v > 0 ? QStringLiteral("+Inf") : QStringLiteral("-Inf");
    return QString::number(v, 'g', 12);
}

QString label_value(const QString& v) {
    QString out = v;
    out.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return out;
}

// Today's commercials per outcome label.
std::map<QString, int> outcome_counts(const StationSnapshot& s) {
    std::map<QString, int> counts;
    for (const QString& outcome : kOutcomes)
        counts[outcome] = 0;
    for (const CommercialToday& c : s.commercials_today)
        if (const QString label = outcome_label(c.outcome); !label.isEmpty())
            ++counts[label];
    return counts;
}

class Exposition {
  public:
    void family(const char* name, const char* type, const char* help) {
        text_ += QString("# HELP %1 %2\n# TYPE %1 %3\n").arg(name, help, type);
    }
    void sample(const char* name, double value, const QString& labels = {}) {
        text_ += QString(name) + (labels.isEmpty() ? QString() : "{" + labels + "}") + " " + number(value) + "\n";
    }
    void single(const char* name, const char* type, const char* help, double value) {
        family(name, type, help);
        sample(name, value);
    }
    QByteArray bytes() const { return text_.toUtf8(); }

  private:
    QString text_;
};

QJsonValue text_or_null(const QString& s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); }
QJsonValue time_or_null(const QDateTime& t) {
    return t.isValid() ? QJsonValue(t.toString("yyyy-MM-ddTHH:mm:ss")) : QJsonValue();
}

QString html(const QString& s) { return s.toHtmlEscaped(); }

QString on_air_caption(OnAir source) {
    switch (source) {
    case OnAir::stream:
        return QStringLiteral("Streaming");
    case OnAir::music:
        return QStringLiteral("Música local");
    case OnAir::commercial:
        return QStringLiteral("Comercial");
    case OnAir::jingle:
        return QStringLiteral("Vinheta");
    case OnAir::none:
        break;
    }
    return QStringLiteral("Nada no ar");
}

QString file_name(const QString& path) {
    const qsizetype cut = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    return path.mid(cut + 1);
}

QString lamp(const char* caption, bool on) {
    return QString("<span class=\"lamp%1\"></span>%2").arg(on ? " on" : "", caption);
}

// A bar of `value` out of `max`, as the main window's LED meters show it.
QString meter(const char* caption, int value, int max) {
    const int percent = max > 0 ? std::clamp(value * 100 / max, 0, 100) : 0;
    return QString("<div class=\"meter\"><span>%1</span><div class=\"bar\"><div style=\"width:%2%\"></div></div>"
                   "<b>%3</b></div>")
        .arg(caption)
        .arg(percent)
        .arg(value);
}

QString seconds_text(double s) { return QString::number(s, 'f', s < 10 ? 1 : 0) + " s"; }

} // namespace

QString outcome_label(const QString& outcome) {
    if (outcome == QStringLiteral("completo"))
        return QStringLiteral("complete");
    if (outcome == QStringLiteral("interrompido"))
        return QStringLiteral("cut_short");
    if (outcome == QStringLiteral("não localizado"))
        return QStringLiteral("missing");
    if (outcome == QStringLiteral("erro"))
        return QStringLiteral("error");
    return {};
}

QByteArray metrics_text(const StationSnapshot& s, const ServerView& view) {
    Exposition m;
    m.single("miravox_up", "gauge", "1 while the program's main tick publishes its state (0: stuck for 5 s or more).",
             view.fresh ? 1 : 0);
    m.single("miravox_state_age_seconds", "gauge", "Seconds since the main tick last published the station's state.",
             view.state_age_s);
    m.family("miravox_build_info", "gauge", "The program's version, as labels.");
    m.sample("miravox_build_info", 1,
             QString("version=\"%1\",qt=\"%2\",station=\"%3\"")
                 .arg(label_value(s.version), label_value(qVersion()), label_value(s.station)));
    if (s.program_started.isValid())
        m.single("miravox_start_time_seconds", "gauge", "When the program started, in seconds since the epoch.",
                 s.program_started.toMSecsSinceEpoch() / 1000.0);
    m.family("miravox_on_air", "gauge", "1 for the source heard on the transmission device now, 0 for the others.");
    for (OnAir source : kSources)
        m.sample("miravox_on_air", source == s.on_air ? 1 : 0, "source=\"" + on_air_name(source) + "\"");
    m.single("miravox_window_active", "gauge", "1 while a scheduled stream window is active.", s.window_active);
    m.single("miravox_stream_connected", "gauge", "1 while the window's stream is received and relayed.",
             s.stream_connected);
    m.single("miravox_stream_reconnect_attempts", "gauge",
             "Failed opens of the stream counted toward the reconnection limit.", s.reconnect_attempts);
    m.single("miravox_stream_drops_total", "counter", "Streams lost after they had been relayed, since start.",
             double(s.drops_total));
    m.single("miravox_stream_reconnects_total", "counter", "Streams relayed again after a loss, since start.",
             double(s.reconnects_total));
    m.single("miravox_silence_seconds", "gauge",
             "The current run of dead air on the transmission device while a window is active.", s.silence_seconds);
    m.single("miravox_silence_cuts_total", "counter", "Silent streams cut by the dead-air watch, since start.",
             double(s.silence_cuts_total));
    m.family("miravox_commercials_total", "counter", "Today's commercials by proof-of-play outcome (resets at midnight).");
    for (const auto& [outcome, count] : outcome_counts(s))
        m.sample("miravox_commercials_total", count, "outcome=\"" + outcome + "\"");
    m.single("miravox_output_peak_dbfs", "gauge",
             "Recent peak of the transmission mix in dBFS (-144 for silence or nothing playing).",
             s.output_peak_dbfs);
    m.single("miravox_device_errors_total", "counter", "Sound device failures, since start.",
             double(s.device_errors_total));
    m.single("miravox_tick_lag_seconds", "gauge", "The main tick's longest lateness over the last minute.",
             s.tick_lag_max_s);
    return m.bytes();
}

QByteArray status_json(const StationSnapshot& s, const ServerView& view) {
    QJsonArray commercials;
    for (const CommercialToday& c : s.commercials_today)
        commercials.append(QJsonObject{{"scheduled", c.scheduled},
                                       {"start", text_or_null(c.start)},
                                       {"end", text_or_null(c.end)},
                                       {"seconds_aired", c.seconds_aired},
                                       {"file", c.file},
                                       {"outcome", c.outcome},
                                       {"outcome_label", text_or_null(outcome_label(c.outcome))},
                                       {"detail", text_or_null(c.detail)}});
    QJsonObject counts;
    for (const auto& [outcome, count] : outcome_counts(s))
        counts.insert(outcome, count);
    const QJsonObject doc{
        {"station", s.station},
        {"version", s.version},
        {"time", time_or_null(s.taken)},
        {"started", time_or_null(s.program_started)},
        {"fresh", view.fresh},
        {"on_air", on_air_name(s.on_air)},
        {"status_line", s.status_line},
        {"notice", text_or_null(s.notice)},
        {"window",
         QJsonObject{{"active", s.window_active},
                     {"start", text_or_null(s.window_start)},
                     {"end", text_or_null(s.window_end)},
                     {"link", text_or_null(s.window_link)}}},
        {"stream",
         QJsonObject{{"connected", s.stream_connected},
                     {"name", text_or_null(s.stream_name)},
                     {"link_on_air", text_or_null(s.link_on_air)},
                     {"reconnect_in_s", s.reconnect_countdown_s >= 0 ? QJsonValue(s.reconnect_countdown_s) : QJsonValue()},
                     {"reconnect_attempts", s.reconnect_attempts},
                     {"last_drop",
                      s.last_drop.isValid()
                          ? QJsonValue(QJsonObject{{"at", time_or_null(s.last_drop)},
                                                   {"seconds", s.last_drop_seconds >= 0 ? QJsonValue(s.last_drop_seconds)
                                                                                        : QJsonValue()}})
                          : QJsonValue()},
                     {"drops", double(s.drops_total)},
                     {"reconnects", double(s.reconnects_total)}}},
        {"silence", QJsonObject{{"seconds", s.silence_seconds}, {"cuts", double(s.silence_cuts_total)}}},
        {"levels",
         QJsonObject{{"output_peak_dbfs", s.output_peak_dbfs},
                     {"general", s.level_general},
                     {"stream", s.level_stream},
                     {"meter_stream", s.meter_left},
                     {"meter_general", s.meter_right}}},
        {"lamps", QJsonObject{{"stream", s.lamp_stream}, {"music", s.lamp_music}, {"commercial", s.lamp_commercial}}},
        {"gauge", QJsonObject{{"progress", s.gauge_progress}, {"max", s.gauge_max}}},
        {"device_errors", double(s.device_errors_total)},
        {"tick_lag_s", s.tick_lag_max_s},
        {"commercials_today", commercials},
        {"commercials_count", counts},
        {"log", QJsonArray::fromStringList(s.log_tail)},
    };
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

QByteArray status_page(const StationSnapshot& s, const ServerView& view) {
    QString body;
    const QString air_class = on_air_name(s.on_air);
    body += QString("<header><h1>%1</h1><span id=\"clock\">%2</span></header>\n")
                .arg(html(s.station), html(s.taken.toString("dd/MM/yyyy HH:mm:ss")));
    if (!view.fresh)
        body += "<p class=\"alarm\">O programa não publica seu estado há " + seconds_text(view.state_age_s) + "</p>\n";
    body += QString("<section class=\"air %1\"><small>No ar</small><strong>%2</strong><p>%3</p></section>\n")
                .arg(air_class, html(on_air_caption(s.on_air)), html(s.status_line));
    if (s.silence_seconds >= 1)
        body += "<p class=\"alarm\">Silêncio no ar há " + seconds_text(s.silence_seconds) + "</p>\n";
    if (!s.notice.trimmed().isEmpty())
        body += "<p class=\"notice\">" + html(s.notice) + "</p>\n";

    body += "<section class=\"panel\"><div class=\"lamps\">" + lamp("Streaming", s.lamp_stream) +
            lamp("Música", s.lamp_music) + lamp("Comercial", s.lamp_commercial) + "</div>\n";
    body += meter("Stream", s.meter_left, 100) + meter("Geral", s.meter_right, 100);
    body += meter("Religação", s.gauge_progress, s.gauge_max);
    body += QString("<p class=\"small\">Pico na saída: %1 dBFS</p></section>\n")
                .arg(s.output_peak_dbfs <= -144 ? QStringLiteral("—") : QString::number(s.output_peak_dbfs, 'f', 1));

    body += "<section class=\"panel\"><h2>Janela</h2>";
    if (s.window_start.isEmpty()) {
        body += "<p>Nenhuma janela ativa</p>";
    } else {
        body += QString("<p class=\"big\">%1 às %2%3</p>")
                    .arg(html(s.window_start), html(s.window_end), s.window_active ? "" : " (encerrando)");
        body += "<p class=\"link\">" + html(s.window_link) + "</p>";
        if (!s.link_on_air.isEmpty() && s.link_on_air != s.window_link)
            body += "<p class=\"link\">No ar: " + html(s.link_on_air) + "</p>";
    }
    QStringList stream;
    stream << (s.stream_connected ? "Conectado" + (s.stream_name.isEmpty() ? QString() : " à " + html(s.stream_name))
                                  : QStringLiteral("Desconectado"));
    if (s.reconnect_countdown_s >= 0)
        stream << "nova tentativa em " + QString::number(s.reconnect_countdown_s) + " s";
    if (s.reconnect_attempts > 0)
        stream << QString::number(s.reconnect_attempts) + " falhas";
    body += "<p>" + stream.join(" · ") + "</p>";
    if (s.last_drop.isValid())
        body += "<p class=\"small\">Última queda: " + html(s.last_drop.toString("HH:mm:ss")) +
                (s.last_drop_seconds >= 0 ? ", durou " + seconds_text(s.last_drop_seconds) : QString(", em curso")) +
                "</p>";
    body += QString("<p class=\"small\">Quedas %1 · Retornos %2 · Cortes por silêncio %3 · Erros de device %4 · "
                    "Atraso do ciclo %5 ms</p></section>\n")
                .arg(s.drops_total)
                .arg(s.reconnects_total)
                .arg(s.silence_cuts_total)
                .arg(s.device_errors_total)
                .arg(std::lround(s.tick_lag_max_s * 1000));

    body += "<section class=\"panel\"><h2>Comerciais de hoje</h2>";
    if (s.commercials_today.empty()) {
        body += "<p>Nenhum</p>";
    } else {
        body += "<table><tr><th>Horário</th><th>Início</th><th>Fim</th><th>s</th><th>Arquivo</th><th>Resultado</th></tr>";
        for (const CommercialToday& c : s.commercials_today) {
            const QString label = outcome_label(c.outcome);
            body += QString("<tr class=\"%1\"><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td>%7</td></tr>")
                        .arg(label.isEmpty() ? QStringLiteral("on_air") : label, html(c.scheduled), html(c.start),
                             html(c.end), QString::number(c.seconds_aired), html(file_name(c.file)),
                             html(c.outcome + (c.detail.isEmpty() ? QString() : " (" + c.detail + ")")));
        }
        body += "</table>";
    }
    body += "</section>\n<section class=\"panel\"><h2>Registro de operação</h2><pre>";
    for (const QString& line : s.log_tail)
        body += html(line) + "\n";
    body += QString("</pre></section>\n<footer>Miravox %1</footer>\n").arg(html(s.version));

    static const QString page = QStringLiteral(R"(<!DOCTYPE html>
<html lang="pt-BR"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>%1 - Miravox</title><link rel="icon" href="data:,">
<noscript><meta http-equiv="refresh" content="5"></noscript>
<style>
body{margin:0 auto;max-width:46em;padding:.6em;background:#0b1a0b;color:#d8ecd8;font:15px/1.35 system-ui,sans-serif}
header{display:flex;justify-content:space-between;align-items:baseline}
h1{font-size:1.3em;margin:.2em 0}h2{font-size:1em;margin:0 0 .4em;color:#9fc49f}
section{margin:.6em 0}
.panel{background:#122712;border:1px solid #1f3f1f;border-radius:6px;padding:.6em .8em}
.air{border-radius:6px;padding:.6em .8em;background:#2d2d2d}
.air small{display:block;text-transform:uppercase;letter-spacing:.1em;opacity:.8}
.air strong{font-size:2em}.air p{margin:.2em 0 0}
.air.stream{background:#145214}.air.music{background:#14405a}.air.commercial{background:#6a4a00}
.air.jingle{background:#4a2a6a}.air.none{background:#5a1414}
.alarm{background:#8a1010;color:#fff;padding:.4em .8em;border-radius:6px;font-weight:bold}
.notice{background:#4080ff;color:#000;padding:.3em .8em;border-radius:6px}
.lamps{margin-bottom:.4em}.lamp{display:inline-block;width:1em;height:1em;border-radius:50%;background:#002d00;
border:1px solid #3a5a3a;margin:0 .3em 0 .8em;vertical-align:-.15em}.lamp:first-child{margin-left:0}
.lamp.on{background:#00ff00;box-shadow:0 0 6px #00ff00}
.meter{display:flex;align-items:center;gap:.5em;margin:.2em 0}.meter span{width:5.5em}.meter b{width:3em;text-align:right}
.bar{flex:1;height:.8em;background:#002d00;border-radius:3px;overflow:hidden}
.bar div{height:100%;background:linear-gradient(90deg,#00c000 0,#00ff00 70%,#ffff00 85%,#ff2000 100%)}
.big{font-size:1.4em;margin:.1em 0}.link{word-break:break-all;opacity:.85;margin:.1em 0}.small{font-size:.85em;opacity:.85}
table{border-collapse:collapse;width:100%;font-size:.9em}td,th{text-align:left;padding:.15em .3em;border-bottom:1px solid #1f3f1f}
tr.complete td:last-child{color:#7f7}tr.cut_short td:last-child,tr.missing td:last-child,tr.error td:last-child{color:#f77}
tr.on_air td:last-child{color:#ff7}
pre{white-space:pre-wrap;word-break:break-all;font-size:.8em;margin:0;max-height:22em;overflow:auto}
footer{font-size:.75em;opacity:.6;text-align:right}
#offline{display:none}.offline #offline{display:block}
</style></head><body>
<p id="offline" class="alarm">Sem contato com a estação desde <span id="since"></span></p>
<div id="state">
%2</div>
<script>
(function(){var busy=false;
function mark(ok){document.body.classList.toggle('offline',!ok);
 if(!ok&&!document.getElementById('since').textContent)document.getElementById('since').textContent=new Date().toLocaleTimeString();
 if(ok)document.getElementById('since').textContent='';}
setInterval(function(){if(busy)return;busy=true;
 fetch(location.pathname,{cache:'no-store',credentials:'same-origin'}).then(function(r){
  if(!r.ok)throw r.status;return r.text();}).then(function(t){
  var d=new DOMParser().parseFromString(t,'text/html').getElementById('state');
  if(d){document.getElementById('state').innerHTML=d.innerHTML;document.title=d.ownerDocument.title;}mark(true);
 }).catch(function(){mark(false);}).finally(function(){busy=false;});},2000);})();
</script></body></html>
)");
    return page.arg(html(s.station), body).toUtf8();
}

} // namespace miravox
