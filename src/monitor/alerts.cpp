#include "alerts.h"

#include "alert_command.h"
#include "clock.h"
#include "engine_state.h"
#include "error_log.h"
#include "text_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <chrono>

namespace miravox {

namespace {

// How often the thread looks at its events and its queue (real time).
constexpr std::chrono::milliseconds kLookEvery{100};

} // namespace

std::unique_ptr<AlertService> AlertService::start(StationState& state, const AlertSettings& settings,
                                                  LogLine operation_log) {
    if (settings.command.trimmed().isEmpty())
        return nullptr;
    return std::make_unique<AlertService>(state, settings, std::move(operation_log));
}

AlertService::AlertService(StationState& state, AlertSettings settings, LogLine operation_log)
    : settings_(std::move(settings)), operation_log_(std::move(operation_log)), events_(state.open_queue()),
      policy_(settings_),
      outbox_(settings_.logs_folder.isEmpty() ? QString() : settings_.logs_folder + kPendingAlertsFile) {
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
}

AlertService::~AlertService() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_->wait();
}

void AlertService::on_main_thread(std::function<void()> call) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
}

void AlertService::take_events() {
    for (const StationEvent& event : events_->take())
        policy_.observe(event);
    for (Alert& alert : policy_.due(clock().now()))
        outbox_.push(std::move(alert));
}

void AlertService::run() {
    int skipped = 0;
    if (!settings_.logs_folder.isEmpty())
        QDir().mkpath(settings_.logs_folder);
    outbox_.load(&skipped);
    if (skipped > 0)
        on_main_thread([log = operation_log_, skipped] {
            if (log)
                log("ALERTAS PENDENTES ILEGÍVEIS: " + QString::number(skipped) + " descartados");
        });
    std::uint64_t dropped_told = 0;
    while (true) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kLookEvery, [this] { return stop_.load(); });
        }
        // At the end too: an alert raised while closing is kept for the next start.
        take_events();
        if (stop_)
            break;
        if (!outbox_.ready(clock().now_ms()))
            continue;
        const Alert alert = outbox_.front();
        const CommandOutcome outcome = run_alert_command(settings_.command, alert, kCommandLimitMs, stop_);
        if (outcome.ok) {
            outbox_.sent();
            on_main_thread(
                [log = operation_log_, line = "ALERTA ENVIADO: " + alert.event + " - " + alert.text] {
                    if (log)
                        log(line);
                });
            continue;
        }
        if (stop_)
            break; // cut short by the closing: not the command's fault
        const qint64 pause = outbox_.failed(clock().now_ms());
        QStringList block = failure_block(clock().now(), settings_.command, alert, outcome.why,
                                          outbox_.failures(), pause, outbox_.size());
        if (outbox_.dropped() > dropped_told) {
            dropped_told = outbox_.dropped();
            block.insert(block.size() - 1,
                         "Alertas mais antigos descartados (fila cheia): " + QString::number(dropped_told));
        }
        on_main_thread([block] { append_to_error_log(block); });
    }
}

QStringList AlertService::failure_block(const QDateTime& now, const QString& command, const Alert& alert,
                                        const QString& why, int failures, qint64 pause_ms,
                                        std::size_t queued) {
    return {
        "DATA: " + now.date().toString("dd/MM/yyyy") + " - HORA: " + now.time().toString("HH:mm:ss") +
            "  -  ERRO NO COMANDO DE ALERTA",
        "TEXTO: " + why,
        "Comando: " + command,
        "Alerta: " + alert.event + " de " + alert_time_text(alert.when) + " - " + alert.text,
        "Falhas seguidas: " + QString::number(failures) + " - nova tentativa em " +
            QString::number(pause_ms / 1000) + " s",
        "Alertas na fila: " + QString::number(queued),
        QString(58, '-'),
    };
}

void append_to_error_log(const QStringList& block) {
    // As the engine's own blocks: the day's file reloaded whole and rewritten whole, so the two
    // writers (both on the main thread) never lose each other's lines.
    const QString path = error_log_path(clock().now().date());
    QStringList lines;
    TextEncoding encoding = TextEncoding::Windows1252;
    if (QFileInfo::exists(path)) {
        const auto existing = read_text_file(path);
        if (!existing)
            return; // rewriting it would lose the day's earlier blocks
        lines = existing->lines;
        encoding = existing->encoding;
    }
    lines << block;
    QDir().mkpath(QFileInfo(path).path());
    if (write_text_file(path, lines, encoding)) {
        if (!wlista_erros)
            wlista_erros = std::make_unique<QStringList>();
        *wlista_erros = lines;
    }
}

} // namespace miravox
