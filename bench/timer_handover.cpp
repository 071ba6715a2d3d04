// What the program's timers cost by themselves: the timers a relay keeps running (the channel's
// 60 ms playing tick, the 100 ms level meter, the 300 ms main tick and the 500 ms reconnection
// tick), each with an empty handler, for SECONDS; then the same rates on plain Qt timers, which
// fire from the main thread's own event loop. Prints whole-process CPU (% of one core) and CPU
// per firing, so what the hand-over from a timer thread adds can be told from what any timer
// costs on this machine.
//
//   timer_handover [SECONDS]      (default 20; run it beside bench/peers.sh's ffmpeg for scale)

#include "threaded_timer.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double process_cpu_s() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

constexpr int kIntervals[] = {60, 100, 300, 500};

// Runs the event loop for `seconds` with the timers `start` made; prints what it cost.
template <class Start> void measure(const char* what, int seconds, Start start) {
    long fired = 0;
    QObject owner;
    for (int interval : kIntervals)
        start(owner, interval, fired);
    const double cpu0 = process_cpu_s();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = process_cpu_s() - cpu0;
    std::printf("%-34s %5ld firings in %d s: CPU %.3f %% of a core, %.1f us per firing\n", what, fired, seconds,
                100 * cpu / seconds, fired ? 1e6 * cpu / double(fired) : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    measure("TThreadedTimer (a thread each)", seconds, [](QObject& owner, int interval, long& fired) {
        auto* timer = new TThreadedTimer(&owner);
        timer->setInterval(interval);
        timer->OnTimer = [&fired](QObject*) { ++fired; };
        timer->setEnabled(true);
    });
    measure("QTimer (main thread's event loop)", seconds, [](QObject& owner, int interval, long& fired) {
        auto* timer = new QTimer(&owner);
        timer->setInterval(interval);
        QObject::connect(timer, &QTimer::timeout, [&fired] { ++fired; });
        timer->start();
    });
}
