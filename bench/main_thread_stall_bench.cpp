// The main thread's longest stall while a channel opens network links: a timer on the main
// thread fires every 20 ms (the playout's ticks are 50 to 300 ms) and each firing's lateness
// against its period is noted, while the channel opens, again and again, a link of one kind:
// a healthy icecast2 mount, a server that answers 200 audio/mpeg and then trickles an HTML page
// one byte every 0.3 s, an HLS origin that refuses connections, a server that accepts and never
// answers, and a host name that does not resolve. The channel is set up as the web channel of
// the program (connection time-out 5000 ms, read time-out 4000 ms). Beside the stall, the time
// one open took: what the main thread would have waited for it if the open ran there.
//
// Run: ./main_thread_stall_bench [SECONDS per kind, default 20]   (icecast2 and ffmpeg for the
// healthy row; without them that row is skipped). Prints a table, whose first row is the timer
// alone: what the machine's load adds to every row.

#include "dialog_service.h"
#include "live_servers.h"
#include "soundlib.h"
#include "tessel_bass.h"
#include "test_stream_server.h"
#include "trickle_server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// Boxes are never shown here: the channel only writes its error log.
class NoDialogs : public miravox::DialogService {
  public:
    void information(const QString&) override {}
    void notice(const QString&) override {}
    void notice_aviso(const QString&) override {}
    bool CONFIRMA(const QString&) override { return false; }
    void MOSTRA_AVISO(const QString&) override {}
    QString choose_file(const QString&, const QString&, const QString&) override { return {}; }
    QString choose_folder(const QString&, const QString&) override { return {}; }
};

struct Row {
    std::string kind;
    int opens = 0;
    int failed = 0;
    double longest_open_ms = 0;
    double stall_ms = 0; // the latest firing against its period
    double p99_ms = 0;
};

constexpr int kPeriodMs = 20;

// Opens `url` on `channel` back to back for `seconds` (at least once), pumping the event loop,
// while the 20 ms timer notes its lateness.
Row measure(const std::string& kind, const QString& url, TTesselBass& channel, int seconds) {
    Row row{kind};
    std::vector<double> lateness;
    QElapsedTimer clock;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(kPeriodMs);
    qint64 last = -1;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            lateness.push_back(std::max(0.0, double(now - last) / 1e6 - kPeriodMs));
        last = now;
    });
    clock.start();
    timer.start();
    const qint64 end = qint64(seconds) * 1000;
    while (url.isEmpty() && clock.elapsed() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    while (!url.isEmpty() && (row.opens == 0 || clock.elapsed() < end)) {
        QElapsedTimer open;
        open.start();
        channel.setFileName(url);
        while (channel.IsOpening())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        row.longest_open_ms = std::max(row.longest_open_ms, double(open.elapsed()));
        ++row.opens;
        if (!channel.IsCarregado())
            ++row.failed;
        channel.FreeFile();
    }
    timer.stop();
    std::sort(lateness.begin(), lateness.end());
    if (!lateness.empty()) {
        row.stall_ms = lateness.back();
        row.p99_ms = lateness[lateness.size() * 99 / 100];
    }
    return row;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QTemporaryDir home;
    qputenv("MIRAVOX_HOME", home.path().toUtf8());
    qputenv("MIRAVOX_AUDIO_DEVICES", "silent:PRINCIPAL");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    NoDialogs dialogs;
    TTesselBass channel(nullptr, dialogs);
    channel.CriaCanal(1, false, nullptr, 0);
    channel.setBufferOutNet(5000);
    channel.setBufferReadNet(4000);

    std::vector<Row> rows;
    // The machine's own share: the same timer with nothing being opened.
    rows.push_back(measure("nothing opened (the machine's own delays)", QString(), channel, seconds));
    {
        QTemporaryDir dir;
        miravox::test::Icecast icecast(dir.path().toStdString());
        std::string why;
        if (icecast.start(why) && icecast.add_source("/radio.mp3", 440, miravox::test::LiveCodec::Mp3, why))
            rows.push_back(measure("healthy icecast2 (MP3)", QString::fromStdString(icecast.url("/radio.mp3")),
                                   channel, seconds));
        else
            std::fprintf(stderr, "icecast2 row skipped: %s\n", why.c_str());
    }
    {
        miravox::test::TrickleServer trickle;
        rows.push_back(measure("200 audio/mpeg, then 1 byte/0.3 s", QString::fromStdString(trickle.url()), channel,
                               seconds));
    }
    rows.push_back(measure("HLS origin refusing connections",
                           "http://127.0.0.1:" + QString::number(miravox::test::TestStreamServer::unused_port()) +
                               "/live/index.m3u8",
                           channel, seconds));
    {
        miravox::test::TestStreamServer server;
        miravox::test::AudioMount silent;
        silent.fault = miravox::test::StreamFault::Silent;
        server.add_audio("/radio", silent);
        rows.push_back(
            measure("accepts, never answers", QString::fromStdString(server.url("/radio")), channel, seconds));
    }
    rows.push_back(measure("host name that does not resolve", "http://miravox-bench.invalid/radio", channel, seconds));

    std::printf("| link | opens (failed) | longest open | main thread: longest stall | 99th percentile |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const Row& r : rows)
        std::printf("| %s | %d (%d) | %.0f ms | %.1f ms | %.1f ms |\n", r.kind.c_str(), r.opens, r.failed,
                    r.longest_open_ms, r.stall_ms, r.p99_ms);
    return 0;
}
