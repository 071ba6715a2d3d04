#pragma once
// The real window with its timers running, for faults injected while the program plays: the
// test clock moves with real time (or faster), a local stream server sits behind a relay the
// test can cut, and the main tick is watched so that a test can tell the program stayed
// responsive (how many ticks ran, and the longest real time between two).

#include "main_window_fixture.h"

#include "error_log.h"
#include "tcp_proxy.h"
#include "test_stream_server.h"

#include <QElapsedTimer>
#include <QLabel>

#include <algorithm>

namespace miravox::testing {

class RunningWindowTest : public MainWindowTest {
  protected:
    static constexpr const char* kStation = "RADIO TESTE";

    void SetUp() override {
        test::AudioMount radio;
        radio.data = test::read_file(media("stream.mp3").toStdString());
        radio.headers = {QString("icy-name:%1").arg(kStation).toStdString()};
        server.add_audio("/radio", radio);
        MainWindowTest::SetUp();
    }

    QString radio_link() const { return QString::fromStdString(proxy.url("/radio")); }
    QString refused_link() const {
        return "http://127.0.0.1:" + QString::number(test::TestStreamServer::unused_port()) + "/radio";
    }
    static QString window_line(const QString& start, const QString& end, const QString& link,
                               const QString& open = {}, const QString& close = {}) {
        return "|" + start + "|" + end + "|" + link + "|STREAMING|100|" + open + "|" + close + "|0|0||";
    }
    static QDateTime at(int h, int m, int s = 0, int ms = 0) {
        return QDateTime(start_time().date(), QTime(h, m, s, ms));
    }
    QString logs_folder() const { return program_folder() + "LOGS"; }
    QString music(const QString& name) const { return program_folder() + "MUSICAS/" + name; }

    // Activates the window at `when` and lets the main tick run from there.
    void start_at(const QDateTime& when) {
        set_now(when);
        window->FormActivate();
        watch_main_tick();
        window->Timer_sempre->setEnabled(true);
    }

    // Lets the timers run until `done` or `ms` of real time, the clock moving `speed` times as fast.
    template <class F> bool run_until(F done, int ms, int speed = 1) {
        QDeadlineTimer deadline(ms);
        QElapsedTimer step;
        step.start();
        while (!done() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
            advance_ms(step.restart() * speed);
        }
        return done();
    }
    void run(int ms, int speed = 1) {
        run_until([] { return false; }, ms, speed);
    }

    bool logged(const QString& message) const { return log_messages().contains(message); }
    int count_starting(const QString& prefix) const {
        const QStringList m = log_messages();
        return int(std::count_if(m.begin(), m.end(), [&](const QString& s) { return s.startsWith(prefix); }));
    }
    bool logged_starting(const QString& prefix) const { return count_starting(prefix) > 0; }
    bool on_air() const { return window->Label10->text() == QString("Conectado à ") + kStation; }

    // The day's operation log file as it is on disk.
    QStringList log_file() const {
        auto file = read_text_file(window->Log.file_for(now().date()));
        return file ? file->lines : QStringList();
    }
    // The TEXTO lines of today's engine error log.
    QStringList error_log_texts() const {
        QStringList texts;
        if (auto file = read_text_file(error_log_path(now().date())))
            for (const QString& line : file->lines)
                if (line.startsWith("TEXTO: "))
                    texts << line.mid(7);
        return texts;
    }

    // Wraps the main tick's handler to count its runs and the longest real time between two.
    void watch_main_tick() {
        auto handler = window->Timer_sempre->OnTimer;
        tick_clock_.start();
        window->Timer_sempre->OnTimer = [this, handler](QObject* sender) {
            longest_tick_gap_ms = std::max(longest_tick_gap_ms, tick_clock_.restart());
            ++main_ticks;
            handler(sender);
        };
    }

    int main_ticks = 0;
    qint64 longest_tick_gap_ms = 0;
    test::TestStreamServer server;
    TcpProxy proxy{server.port()};

  private:
    QElapsedTimer tick_clock_;
};

} // namespace miravox::testing
