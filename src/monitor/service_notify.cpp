#include "service_notify.h"

#include "clock.h"
#include "program_folder.h"
#include "text_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <systemd/sd-daemon.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#ifndef MIRAVOX_VERSION
#define MIRAVOX_VERSION "0"
#endif

namespace miravox {

namespace {

// STATUS= is shown on one line by systemctl; a longer text only fills the journal.
constexpr int kStatusMaxChars = 200;

QString on_air_words(const StationSnapshot& s) {
    switch (s.on_air) {
    case OnAir::stream: {
        QString text = "No ar: streaming";
        if (!s.stream_name.isEmpty())
            text += " " + s.stream_name;
        if (s.window_active)
            text += " (" + s.window_start + "-" + s.window_end + ")";
        return text;
    }
    case OnAir::music:
        return "No ar: música local";
    case OnAir::commercial:
        return "No ar: comercial";
    case OnAir::jingle:
        return "No ar: vinheta";
    case OnAir::none:
        break;
    }
    return "Nada no ar";
}

QString service_result_words(const QString& result) {
    if (result == "watchdog")
        return "o laço principal parou e o watchdog o encerrou";
    if (result == "core-dump" || result == "signal")
        return "o programa caiu";
    if (result == "exit-code")
        return "o programa terminou com erro";
    if (result == "timeout")
        return "o programa não respondeu a tempo";
    return "o serviço falhou";
}

int sigterm_pipe[2] = {-1, -1};

void on_sigterm(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(sigterm_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

int service_command(int argc, char** argv) {
    if (argc < 2)
        return -1;
    const QString option = QString::fromLocal8Bit(argv[1]);
    if (option == "--version") {
        std::printf("miravox %s\n", MIRAVOX_VERSION);
        return 0;
    }
    if (option != kServiceEndOption)
        return -1;
    QCoreApplication app(argc, argv);
    const QString logs = PASTA_PROGRAMA() + "LOGS/";
    if (record_service_end(logs, [](const char* name) { return qEnvironmentVariable(name); }))
        return 0;
    std::fprintf(stderr, "miravox: não foi possível gravar %s\n", qPrintable(logs + kServiceEndFileName));
    return 1;
}

bool record_service_end(const QString& logs_folder, const std::function<QString(const char*)>& environment) {
    const QString path = logs_folder + kServiceEndFileName;
    const QString result = environment("SERVICE_RESULT").trimmed();
    if (result.isEmpty() || result == "success")
        return !QFile::exists(path) || QFile::remove(path);
    QDir().mkpath(logs_folder);
    const QStringList lines = {"SERVICE_RESULT=" + result, "EXIT_CODE=" + environment("EXIT_CODE").trimmed(),
                               "EXIT_STATUS=" + environment("EXIT_STATUS").trimmed()};
    return write_text_file(path, lines);
}

std::optional<ServiceRestart> take_service_end(const QString& logs_folder) {
    const QString path = logs_folder + kServiceEndFileName;
    const auto file = read_text_file(path);
    if (!file)
        return std::nullopt;
    QFile::remove(path);
    QString result, code, status;
    for (const QString& line : file->lines) {
        const QString l = line.trimmed();
        if (l.startsWith("SERVICE_RESULT="))
            result = l.mid(15);
        else if (l.startsWith("EXIT_CODE="))
            code = l.mid(10);
        else if (l.startsWith("EXIT_STATUS="))
            status = l.mid(12);
    }
    if (result.isEmpty() || result == "success")
        return std::nullopt;
    ServiceRestart restart;
    restart.watchdog = result == "watchdog";
    const QString how = code.isEmpty() ? result : result + ", " + code + " " + status;
    restart.detail = "Reiniciado pelo systemd: " + service_result_words(result) + " (" + how.trimmed() + ")";
    restart.log_line = restart.watchdog ? "SERVIÇO: REINICIADO APÓS WATCHDOG (" + how.trimmed() + ")"
                                        : "SERVIÇO: REINICIADO APÓS FALHA (" + how.trimmed() + ")";
    return restart;
}

QString service_status_text(const StationSnapshot& snapshot, bool published) {
    if (!published)
        return {};
    QString text = on_air_words(snapshot);
    QString line = snapshot.status_line.simplified();
    if (!line.isEmpty())
        text += " - " + line;
    if (text.size() > kStatusMaxChars)
        text = text.left(kStatusMaxChars - 3) + "...";
    return text;
}

ServiceNotifier::ServiceNotifier() {
    const QByteArray socket = qgetenv("NOTIFY_SOCKET");
    active_ = !socket.isEmpty();
    if (!active_)
        return;
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        watchdog_ = std::chrono::microseconds(usec);
    outbox_ = std::make_shared<Outbox>();
    sender_ = std::thread(&ServiceNotifier::run, outbox_);
}

ServiceNotifier::~ServiceNotifier() {
    if (sigterm_) {
        signal(SIGTERM, SIG_DFL);
        delete sigterm_;
        ::close(sigterm_pipe[0]);
        ::close(sigterm_pipe[1]);
        sigterm_pipe[0] = sigterm_pipe[1] = -1;
    }
    if (!sender_.joinable())
        return;
    std::unique_lock lock(outbox_->mutex);
    outbox_->quit = true;
    outbox_->wake.notify_one();
    // What is pending (STOPPING=1) goes out first; a send that does not return in time is left.
    const bool done = outbox_->finished.wait_for(lock, std::chrono::seconds(2), [this] { return outbox_->done; });
    lock.unlock();
    if (done)
        sender_.join();
    else
        sender_.detach();
}

std::uint64_t ServiceNotifier::sent() const {
    if (!outbox_)
        return 0;
    std::lock_guard lock(outbox_->mutex);
    return outbox_->sent;
}

void ServiceNotifier::tick(StationState& state, const Log& log) {
    if (!active_ || stopping_)
        return;
    // systemd's watchdog counts real time, whatever pace the program's own clock keeps.
    const auto now = std::chrono::steady_clock::now();
    bool ready = false;
    if (first_tick_) {
        first_tick_ = false;
        ready = true;
        log_ = log;
        if (const auto restart = take_service_end(PASTA_PROGRAMA() + "LOGS/")) {
            if (log)
                log(restart->log_line);
            StationEvent event;
            event.kind = StationEventKind::started;
            event.when = clock().now();
            event.text = restart->watchdog ? "Programa reiniciado após o watchdog" : "Programa reiniciado após falha";
            event.detail = restart->detail;
            state.post(event);
        }
        take_sigterm_as_quit();
    }

    // A tick that comes late (the main loop was held) proves nothing about the loop's pace:
    // only a tick on time after it pings again.
    bool ping = false;
    if (watchdog_.count() > 0) {
        const bool on_time = last_tick_ == std::chrono::steady_clock::time_point{} || now - last_tick_ <= ping_interval();
        if (on_time && (ready || now - last_ping_ >= ping_interval())) {
            ping = true;
            last_ping_ = now;
        }
    }
    last_tick_ = now;

    const QString* status = nullptr;
    QString text;
    const std::uint64_t generation = state.generation();
    if (ready || generation != seen_generation_) {
        seen_generation_ = generation;
        text = service_status_text(state.snapshot(), generation > 0);
        if (text.isEmpty())
            text = "Iniciando";
        if (ready || text != last_status_) {
            last_status_ = text;
            status = &text;
        }
    }
    if (ready || ping || status)
        queue(ready, ping, false, status);
}

void ServiceNotifier::stopping() {
    log_ = nullptr;
    if (!active_ || stopping_)
        return;
    stopping_ = true;
    const QString status = "Encerrando";
    queue(false, false, true, &status);
}

void ServiceNotifier::queue(bool ready, bool ping, bool stop, const QString* status) {
    {
        std::lock_guard lock(outbox_->mutex);
        outbox_->ready |= ready;
        outbox_->ping |= ping;
        outbox_->stop |= stop;
        if (status)
            outbox_->status = status->toUtf8();
    }
    outbox_->wake.notify_one();
}

void ServiceNotifier::run(std::shared_ptr<Outbox> box) {
    std::unique_lock lock(box->mutex);
    for (;;) {
        box->wake.wait(lock, [&box] { return box->quit || box->ready || box->ping || box->stop || box->status; });
        // One datagram per wake; what piles up while it is sent goes in the next one.
        QByteArray message;
        if (box->ready)
            message += "READY=1\n";
        if (box->stop)
            message += "STOPPING=1\n";
        if (box->status)
            message += "STATUS=" + *box->status + "\n";
        if (box->ping)
            message += "WATCHDOG=1\n";
        box->ready = box->ping = box->stop = false;
        box->status.reset();
        if (!message.isEmpty()) {
            lock.unlock();
            sd_notify(0, message.constData());
            lock.lock();
            ++box->sent;
        } else if (box->quit) {
            box->done = true;
            box->finished.notify_all();
            return;
        }
    }
}

void ServiceNotifier::take_sigterm_as_quit() {
    // systemd stops a service with SIGTERM; by default that would end the program at once,
    // with the commercial on the air never recorded as cut short. Here it ends the event
    // loops instead, and the program closes as after a confirmed shutdown.
    auto* app = QCoreApplication::instance();
    if (!app || sigterm_pipe[0] >= 0 || ::pipe2(sigterm_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    sigterm_ = new QSocketNotifier(sigterm_pipe[0], QSocketNotifier::Read, app);
    QObject::connect(sigterm_, &QSocketNotifier::activated, app, [this] {
        char bytes[16];
        while (::read(sigterm_pipe[0], bytes, sizeof bytes) > 0) {
        }
        if (log_)
            log_("SERVIÇO: PARADA PEDIDA PELO SISTEMA (SIGTERM)");
        stopping();
        // Not quit(): that asks the windows to close, and the main window only minimises.
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = on_sigterm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
}

ServiceNotifier& service_notifier() {
    static ServiceNotifier notifier;
    return notifier;
}

} // namespace miravox
