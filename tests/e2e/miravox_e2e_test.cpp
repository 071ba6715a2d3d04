// The real program on a station made by the test: it starts a few seconds before a stream
// window, relays a local stream with its jingles and ends the window; the operation log and
// the audio captured from the transmission device tell what happened. Nobody answers any box.
// Also the dead-air watch on a stream that falls silent, and the commercials' proof of play
// through a crash and the report command.

#include "proof_of_play.h"
#include "station_run.h"
#include "test_media.h"
#include "test_stream_server.h"
#include "text_file.h"
#include "trickle_server.h"
#include "wav_analysis.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace miravox;
using namespace miravox::testing;

namespace {

constexpr double kOpenHz = 880, kStreamHz = 440, kCloseHz = 990;

bool make_tone(const QString& path, double seconds, double hz) {
    const int frames = int(seconds * 44100);
    std::vector<float> samples(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = float(0.5 * std::sin(2 * M_PI * hz * i / 44100.0));
    return test::write_wav(path.toStdString(), samples, 2);
}

QStringList log_messages(const QString& home) {
    QStringList messages;
    const QStringList files = QDir(home + "/LOGS").entryList({"*.NET"}, QDir::Files, QDir::Name);
    for (const QString& name : files)
        if (auto file = read_text_file(home + "/LOGS/" + name))
            for (const QString& line : file->lines) {
                const int third = line.indexOf('|', line.indexOf('|', 1) + 1);
                messages << line.mid(third + 1, line.size() - third - 2);
            }
    return messages;
}

int index_of(const QStringList& messages, const QString& prefix, int from = 0) {
    for (int i = from; i < messages.size(); ++i)
        if (messages[i].startsWith(prefix))
            return i;
    return -1;
}

// The program on station folder `home` with its clock started at `clock_start` and running
// `rate` times as fast as real time, its transmission captured to home/air.wav.
void start_program(QProcess& program, const QString& home, const QString& clock_start, double rate = 1) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("MIRAVOX_HOME", home);
    env.insert("MIRAVOX_CLOCK_START", clock_start);
    env.insert("MIRAVOX_CLOCK_RATE", QString::number(rate));
    env.insert("MIRAVOX_AUDIO_DEVICES", "capture:PRINCIPAL:" + home + "/air.wav;silent:ESCUTA");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(MIRAVOX_BINARY, {});
}

void end_program(QProcess& program) {
    program.terminate();
    program.waitForFinished(5000);
    if (program.state() != QProcess::NotRunning)
        program.kill();
}

// The tones that each held the air for half a second or more, in the order they aired.
std::vector<int> aired_order(const QString& path, const std::vector<double>& tones) {
    const Capture air = read_capture(path);
    std::vector<int> order;
    int run_tone = -2, run = 0;
    for (int w : dominant_tones(air, tones, 0.1)) {
        run = w == run_tone ? run + 1 : 1;
        run_tone = w;
        if (run == 5 && w >= 0 && (order.empty() || order.back() != w))
            order.push_back(w);
    }
    return order;
}

constexpr double kMusicHz = 660;

// A stream MP3 whose sound is the ffmpeg aevalsrc expression `expr` of t (commas escaped).
bool make_stream_from(const QString& path, const QString& expr, double seconds) {
    return test::run_ffmpeg({"-f", "lavfi", "-i",
                             QString("aevalsrc=%1:s=44100:d=%2").arg(expr).arg(seconds).toStdString(), "-ac",
                             "2", "-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", "-id3v2_version",
                             "0", "-f", "mp3", path.toStdString()});
}

// The stream tone while t is in one of `[from, to)`, silence elsewhere.
QString tone_during(const std::vector<std::pair<double, double>>& spans) {
    QStringList terms;
    for (const auto& [from, to] : spans)
        terms << QString("between(t\\,%1\\,%2)").arg(from).arg(to);
    return QString("0.5*sin(2*PI*%1*t)*gt(%2\\,0)").arg(kStreamHz).arg(terms.join("+"));
}

// A station relaying a local stream of `stream_seconds` whose sound is `expr`, from a window at
// 12:00 without jingles, with SILENCIO=`silencio` and a music track of 660 Hz.
class SilenceStation {
  public:
    SilenceStation(int silencio, const QString& expr, double stream_seconds) {
        const QString h = home.path();
        QDir().mkpath(h + "/DADOS");
        QDir().mkpath(h + "/MUSICAS");
        ok = make_tone(h + "/MUSICAS/A.WAV", 30.0, kMusicHz) &&
             make_stream_from(h + "/radio.mp3", expr, stream_seconds);
        test::AudioMount radio;
        radio.data = test::read_file((h + "/radio.mp3").toStdString());
        radio.headers = {"icy-name:Radio E2E"};
        radio.loop = false;
        server.add_audio("/radio", radio);
        ok = ok &&
             write_text_file(h + "/DADOS/04.WEB",
                             {"|12:00|12:05|" + QString::fromStdString(server.url("/radio")) +
                              "|STREAMING|100|||0|0||"}) &&
             write_text_file(h + "/MIRAVOX.INI", {"SILENCIO=" + QString::number(silencio)});
    }

    // The runs of the stream's tone and the music's on the air.
    std::vector<e2e::ToneRun> air() const {
        return e2e::tone_runs(read_capture(home.path() + "/air.wav"), {kStreamHz, kMusicHz});
    }

    QTemporaryDir home;
    test::TestStreamServer server;
    bool ok = false;
};

} // namespace

// The stream stays connected but falls silent: within SILENCIO + 1 s of the silence's start the
// stream is cut and local music is on the air.
TEST(MiravoxProgram, DeadAirWatchPutsLocalMusicOnWhenTheStreamFallsSilent) {
    SilenceStation station(5, tone_during({{0, 7}}), 60);
    ASSERT_TRUE(station.ok);
    e2e::ProgramRun program(station.home.path(), "2026-12-09T11:59:57");
    ASSERT_TRUE(program.started());
    ASSERT_GE(program.wait_for_line("PLAY MUSICA LOCAL: ", 60000), 0);
    const double cut_at = program.aired_seconds();
    e2e::wait_until([&] { return program.aired_seconds() > cut_at + 3; }, 10000);
    program.stop();

    const std::vector<e2e::LogLine> log = program.log();
    const int connected = e2e::find_line(log, "Conectado à RADIO E2E");
    const int silence = e2e::find_line(log, "SILÊNCIO NO STREAMING (5 s)");
    ASSERT_GE(connected, 0);
    ASSERT_GT(silence, connected);
    EXPECT_GT(e2e::find_line(log, "Erro WEB: 2 - Acionando Musicas locais", silence), silence);

    // On the air: the stream's tone, then silence, then the music no later than 5 s after.
    const std::vector<e2e::ToneRun> runs = station.air();
    int stream = -1;
    for (size_t i = 0; i < runs.size(); ++i)
        if (runs[i].tone == 0 && runs[i].to - runs[i].from > 3)
            stream = int(i);
    ASSERT_GE(stream, 0);
    const auto after = std::find_if(runs.begin() + stream + 1, runs.end(),
                                    [](const e2e::ToneRun& r) { return r.tone >= 0; });
    ASSERT_NE(after, runs.end());
    EXPECT_EQ(after->tone, 1);
    RecordProperty("music_after_silence_ms", int(std::lround((after->from - runs[size_t(stream)].to) * 1000)));
    EXPECT_LE(after->from - runs[size_t(stream)].to, 5 + 1.0)
        << "silence from " << runs[size_t(stream)].to << " s, music from " << after->from << " s";
}

// A quiet passage shorter than the setting, and a long silence with the watch off, change nothing.
TEST(MiravoxProgram, DeadAirWatchLeavesShortPausesAndAnUnsetWatchAlone) {
    for (const auto& [silencio, expr] :
         {std::pair{5, tone_during({{0, 6}, {8.5, 40}})}, std::pair{0, tone_during({{0, 6}})}}) {
        SCOPED_TRACE(silencio);
        SilenceStation station(silencio, expr, 60);
        ASSERT_TRUE(station.ok);
        e2e::ProgramRun program(station.home.path(), "2026-12-09T11:59:57");
        ASSERT_TRUE(program.started());
        ASSERT_GE(program.wait_for_line("Conectado à RADIO E2E", 30000), 0);
        // Past the pause by a few seconds (or 6 s into the silence).
        const double from = program.aired_seconds();
        e2e::wait_until([&] { return program.aired_seconds() > from + 12; }, 40000);
        program.stop();

        const std::vector<e2e::LogLine> log = program.log();
        EXPECT_EQ(e2e::count_lines(log, "SILÊNCIO NO STREAMING"), 0);
        EXPECT_EQ(e2e::count_lines(log, "DESCONECTADO"), 0);
        EXPECT_EQ(e2e::count_lines(log, "PLAY MUSICA LOCAL"), 0);
        for (const e2e::ToneRun& run : station.air())
            EXPECT_NE(run.tone, 1) << "music on the air at " << run.from;
        if (silencio > 0) { // the stream's tone came back after the pause
            const std::vector<e2e::ToneRun> runs = station.air();
            EXPECT_GE(
                std::count_if(runs.begin(), runs.end(), [](const e2e::ToneRun& r) { return r.tone == 0; }),
                2);
        }
    }
}

// A day of commercials at ten times real speed: one airs whole, one is due with its file
// missing, and the program is killed 8 s into a third. Every one has its row: the third, cut
// where the program stopped, with the seconds of its last progress mark; and the report
// command reads them without a window or a sound device.
TEST(MiravoxProgram, ProofOfPlaySurvivesACrashAndFeedsTheReport) {
    QTemporaryDir home;
    const QString h = home.path();
    QDir().mkpath(h + "/DADOS");
    ASSERT_TRUE(make_tone(h + "/spot.wav", 3.0, kOpenHz));
    ASSERT_TRUE(make_tone(h + "/long.wav", 120.0, kCloseHz));
    ASSERT_TRUE(write_text_file(h + "/DADOS/04.DSP", {"|11:59|01/12/2026|31/12/2026|" + h + "/spot.wav|",
                                                      "|12:00|01/12/2026|31/12/2026|" + h + "/gone.wav|",
                                                      "|12:01|01/12/2026|31/12/2026|" + h + "/long.wav|"}));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("MIRAVOX_HOME", h);
    env.insert("MIRAVOX_CLOCK_START", "2026-12-09T11:58:30");
    env.insert("MIRAVOX_CLOCK_RATE", "10");
    env.insert("MIRAVOX_AUDIO_DEVICES", "capture:PRINCIPAL:" + h + "/air.wav;silent:ESCUTA");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(MIRAVOX_BINARY, {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // The long spot goes on the air at 12:01 (6 s of real time after 12:00): its start row.
    const QString csv = proof_of_play_file(h + "/LOGS/", QDate(2026, 12, 9));
    ASSERT_TRUE(e2e::wait_until([&] { return read_airings(csv).size() == 3; }, 60000));
    QThread::msleep(8000);
    ASSERT_EQ(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished(5000);

    const std::vector<Airing> rows = read_airings(csv);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].scheduled, "11:59");
    EXPECT_EQ(rows[0].outcome, kAiringComplete);
    EXPECT_EQ(rows[0].file, h + "/spot.wav");
    EXPECT_EQ(rows[0].seconds_aired, 3);
    EXPECT_EQ(rows[0].file_seconds, 3);
    EXPECT_TRUE(rows[0].start.isValid() && rows[0].end.isValid());
    EXPECT_EQ(rows[1].scheduled, "12:00");
    EXPECT_EQ(rows[1].outcome, kAiringMissing);
    EXPECT_EQ(rows[1].file, h + "/gone.wav");
    EXPECT_EQ(rows[2].scheduled, "12:01");
    EXPECT_EQ(rows[2].file, h + "/long.wav");
    EXPECT_EQ(rows[2].outcome, kAiringCut);
    EXPECT_EQ(rows[2].detail, kProgramStopped);
    EXPECT_EQ(rows[2].file_seconds, 120);
    // Its seconds are those of its last progress mark (every 5 s of the clock, which here runs
    // ten times as fast as the 8 s it played), and that mark was made as the program died.
    EXPECT_GE(rows[2].seconds_aired, 40);
    EXPECT_NEAR(rows[2].seconds_aired, rows[2].start.secsTo(rows[2].end), 6);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith(proof_of_play_header()));
    EXPECT_TRUE(bytes.endsWith("\r\n"));

    // The report, from the command line, with no display and no sound device named.
    QProcess report;
    QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
    plain.remove("QT_QPA_PLATFORM");
    plain.remove("DISPLAY");
    plain.insert("MIRAVOX_HOME", h);
    plain.insert("MIRAVOX_AUDIO_DEVICES", "broken:PRINCIPAL");
    report.setProcessEnvironment(plain);
    report.start(MIRAVOX_BINARY, {"--relatorio-comerciais", "01/12/2026", "31/12/2026"});
    ASSERT_TRUE(report.waitForFinished(20000));
    EXPECT_EQ(report.exitCode(), 0);
    const QString text = QString::fromUtf8(report.readAllStandardOutput());
    EXPECT_EQ(text, commercials_report(h + "/LOGS/", QDate(2026, 12, 1), QDate(2026, 12, 31), false));
    EXPECT_TRUE(text.contains("Completos: 1   Interrompidos: 0   Não exibidos: 0   Segundos no ar: 3"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("interrompido (programa parou)"));
    EXPECT_FALSE(QFileInfo::exists(h + "/LOGS/" + QDate::currentDate().toString("yyyyMMdd") + ".NET"));
    report.start(MIRAVOX_BINARY, {"--relatorio-comerciais", "31/12/2026", "01/12/2026", "--csv"});
    ASSERT_TRUE(report.waitForFinished(20000));
    EXPECT_EQ(report.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(report.readAllStandardOutput()).startsWith("arquivo,completos,"));
    // The statement, with the station's name from MIRAVOX.INI.
    ASSERT_TRUE(write_text_file(h + "/MIRAVOX.INI", {"ESTACAO=Rádio Beta"}));
    report.start(MIRAVOX_BINARY, {"--relatorio-comerciais", "01/12/2026", "31/12/2026", "--html", h + "/c.html"});
    ASSERT_TRUE(report.waitForFinished(20000));
    EXPECT_EQ(report.exitCode(), 0);
    QFile statement(h + "/c.html");
    ASSERT_TRUE(statement.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(statement.readAll());
    EXPECT_TRUE(html.contains("Rádio Beta"));
    EXPECT_TRUE(html.contains("interrompido (programa parou)"));
    report.start(MIRAVOX_BINARY, {"--relatorio-comerciais", "31/12/2026"});
    ASSERT_TRUE(report.waitForFinished(20000));
    EXPECT_EQ(report.exitCode(), 2);
}

TEST(MiravoxProgram, RelaysAWindowWithItsJinglesOnTheAir) {
    QTemporaryDir home;
    const QString h = home.path();
    QDir().mkpath(h + "/DADOS");
    QDir().mkpath(h + "/MUSICAS");
    ASSERT_TRUE(make_tone(h + "/open.wav", 2.0, kOpenHz));
    ASSERT_TRUE(make_tone(h + "/close.wav", 2.0, kCloseHz));
    ASSERT_TRUE(test::make_stream_mp3((h + "/radio.mp3").toStdString(), kStreamHz, 5.0));

    test::TestStreamServer server;
    test::AudioMount radio;
    radio.data = test::read_file((h + "/radio.mp3").toStdString());
    radio.headers = {"icy-name:Radio E2E"};
    server.add_audio("/radio", radio);

    // A Wednesday; the window opens 3 s after the program starts and lasts a minute.
    const QDate day(2026, 12, 9);
    ASSERT_TRUE(write_text_file(h + "/DADOS/04.WEB",
                                {"|12:00|12:01|" + QString::fromStdString(server.url("/radio")) + "|STREAMING|100|" +
                                 h + "/open.wav|" + h + "/close.wav|0|0||"}));

    QProcess program;
    start_program(program, h, "2026-12-09T11:59:55");
    ASSERT_TRUE(program.waitForStarted(10000));

    // Splash (2 s), 3 s to the window, a minute of relay, the closing jingle and the refresh.
    QDeadlineTimer deadline(120000);
    QStringList messages;
    while (!deadline.hasExpired()) {
        QThread::msleep(500);
        messages = log_messages(h);
        if (messages.contains("Status") || index_of(messages, "*** DESLIGAMENTO") >= 0) {
            QThread::msleep(4000); // let the closing jingle air
            break;
        }
        ASSERT_EQ(program.state(), QProcess::Running);
    }
    end_program(program);

    messages = log_messages(h);
    const int banner = index_of(messages, "*********************************  INICIADO APLICAÇÃO: ");
    const int on = index_of(messages, "*** ACIONAMENTO 12:00  AS 12:01 ***");
    const int connected = index_of(messages, "Conectado à RADIO E2E");
    const int off = index_of(messages, "*** DESLIGAMENTO 12:00  AS 12:01 ***");
    const int closing = index_of(messages, "Vinheta de encerramento: ");
    EXPECT_EQ(banner, 0);
    EXPECT_LT(banner, on);
    EXPECT_LT(on, index_of(messages, "Vinheta de abertura: "));
    EXPECT_LT(on, connected);
    EXPECT_LT(connected, off);
    EXPECT_LT(off, closing);
    EXPECT_EQ(messages.count("Conectado à RADIO E2E"), 1);

    // On the air: the opening jingle, then the stream, then the closing jingle.
    EXPECT_EQ(aired_order(h + "/air.wav", {kOpenHz, kStreamHz, kCloseHz}), (std::vector<int>{0, 1, 2}));
}

// A window whose opening jingle is a file of random bytes raises the channel's load error box,
// with nobody there to press OK. The box must not hold the playout: the window relays its
// stream all the same, and the next window opens on time with its jingles, on the log and on
// the air. The clock runs four times as fast (two minutes of schedule in about half a minute).
TEST(MiravoxProgram, ACorruptJingleNeitherStopsItsWindowNorTheNext) {
    constexpr double kRate = 4;
    QTemporaryDir home;
    const QString h = home.path();
    QDir().mkpath(h + "/DADOS");
    QDir().mkpath(h + "/MUSICAS");
    ASSERT_TRUE(make_tone(h + "/open.wav", 2.0, kOpenHz));
    ASSERT_TRUE(make_tone(h + "/close.wav", 2.0, kCloseHz));
    ASSERT_TRUE(test::make_stream_mp3((h + "/radio.mp3").toStdString(), kStreamHz, 5.0));
    QByteArray noise(64 * 1024, Qt::Uninitialized);
    QRandomGenerator(16).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    {
        QFile corrupt(h + "/corrupt.mp3");
        ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly) && corrupt.write(noise) == noise.size());
    }

    test::TestStreamServer server;
    test::AudioMount radio;
    radio.data = test::read_file((h + "/radio.mp3").toStdString());
    radio.headers = {"icy-name:Radio E2E"};
    radio.bytes_per_second = int(16000 * kRate); // 128 kbps at the program's pace
    server.add_audio("/radio", radio);
    const QString link = QString::fromStdString(server.url("/radio"));
    ASSERT_TRUE(write_text_file(h + "/DADOS/04.WEB",
                                {"|19:00|19:01|" + link + "|STREAMING|100|" + h + "/corrupt.mp3|" + h +
                                     "/close.wav|0|0||",
                                 "|19:02|19:03|" + link + "|STREAMING|100|" + h + "/open.wav|" + h +
                                     "/close.wav|0|0||"}));

    QProcess program;
    start_program(program, h, "2026-12-09T18:59:57", kRate);
    ASSERT_TRUE(program.waitForStarted(10000));
    // Up to the second window's stream having aired a few seconds (real time under load
    // stretches this; the bound only ends a run that went wrong).
    QDeadlineTimer deadline(150000);
    QStringList messages;
    while (!deadline.hasExpired()) {
        QThread::msleep(250);
        messages = log_messages(h);
        const int second = index_of(messages, "*** ACIONAMENTO 19:02  AS 19:03 ***");
        if (second >= 0 && index_of(messages, "Conectado à RADIO E2E", second) >= 0) {
            QThread::msleep(int(4000 / kRate)); // four seconds of program time on the air
            break;
        }
        ASSERT_EQ(program.state(), QProcess::Running);
    }
    end_program(program);

    messages = log_messages(h);
    const int first = index_of(messages, "*** ACIONAMENTO 19:00  AS 19:01 ***");
    const int corrupt = index_of(messages, "Vinheta de abertura: " + h + "/corrupt.mp3");
    const int first_air = index_of(messages, "Conectado à RADIO E2E", first);
    const int first_off = index_of(messages, "*** DESLIGAMENTO 19:00  AS 19:01 ***");
    const int second = index_of(messages, "*** ACIONAMENTO 19:02  AS 19:03 ***");
    const int opening = index_of(messages, "Vinheta de abertura: " + h + "/open.wav");
    const int second_air = index_of(messages, "Conectado à RADIO E2E", second);
    ASSERT_GE(first, 0);
    EXPECT_LT(first, corrupt);
    // The jingle did fail to load, which is what raised the box.
    QStringList errors;
    for (const QString& name : QDir(h + "/LOGS").entryList({"*.ERR"}, QDir::Files))
        if (auto file = read_text_file(h + "/LOGS/" + name))
            errors << file->lines;
    EXPECT_TRUE(errors.join('\n').contains("Cerregar Canal")) << errors.join('\n').toStdString();
    EXPECT_LT(corrupt, first_air);
    EXPECT_LT(first_air, first_off);
    ASSERT_LT(first_off, second);
    EXPECT_LT(second, opening);
    EXPECT_LT(opening, second_air);

    // On the air: the first window's stream, its closing jingle, then the second window's
    // opening jingle and stream.
    EXPECT_EQ(aired_order(h + "/air.wav", {kOpenHz, kStreamHz, kCloseHz}), (std::vector<int>{1, 2, 0, 1}));
}

// Servers nobody at the station controls hold the library's opens for seconds: one that
// answers 200 audio/mpeg and then trickles an HTML page, and an HLS origin that refuses every
// connection (31 passes 200 ms apart, then the reconnection's second try). Each station runs
// beside a healthy control in the same minute, all three on the same program clock, with
// commercials on consecutive minutes and local music in short tracks. The opens run off the
// main thread: every commercial starts within 1 s of the control's, and local music, once on,
// has no silence over 0.5 s outside the commercials. About 95 s of real time.
TEST(MiravoxProgram, ServersThatHoldOpensCostNoCommercialAndNoSilenceInLocalMusic) {
    constexpr double kMusicTone = 660, kSpotTone = 1210;
    test::TestStreamServer server;
    test::AudioMount healthy;
    QTemporaryDir media;
    ASSERT_TRUE(test::make_stream_mp3((media.path() + "/r.mp3").toStdString(), kStreamHz, 10.0));
    healthy.data = test::read_file((media.path() + "/r.mp3").toStdString());
    healthy.headers = {"icy-name:Radio Controle"};
    server.add_audio("/radio", healthy);
    test::TrickleServer trickle;
    ASSERT_NE(trickle.port(), 0);
    const QString refused_hls =
        "http://127.0.0.1:" + QString::number(test::TestStreamServer::unused_port()) + "/live/index.m3u8";

    struct Station {
        QString name;
        QString link;
        QTemporaryDir home;
        std::unique_ptr<e2e::ProgramRun> run;
    };
    Station stations[3] = {{"control", QString::fromStdString(server.url("/radio")), {}, {}},
                           {"trickle", QString::fromStdString(trickle.url("/radio")), {}, {}},
                           {"refused HLS", refused_hls, {}, {}}};
    for (Station& s : stations) {
        const QString h = s.home.path();
        QDir().mkpath(h + "/DADOS");
        QDir().mkpath(h + "/MUSICAS");
        for (int t = 0; t < 6; ++t)
            ASSERT_TRUE(make_tone(h + QString("/MUSICAS/T%1.WAV").arg(t), 4.0, kMusicTone));
        ASSERT_TRUE(make_tone(h + "/SPOT.WAV", 2.5, kSpotTone));
        const QString spot = "|%1|09/12/2026|09/12/2026|" + h + "/SPOT.WAV|";
        ASSERT_TRUE(write_text_file(h + "/DADOS/04.WEB", {"|12:00|12:05|" + s.link + "|STREAMING|100|||0|0||"}));
        ASSERT_TRUE(write_text_file(h + "/DADOS/04.DSP", {spot.arg("12:01"), spot.arg("12:02")}));
        // A short connection time-out keeps the run short; each open still holds for seconds.
        ASSERT_TRUE(write_text_file(h + "/MIRAVOX.INI", {"TAMBR_NET=2000"}));
    }
    for (Station& s : stations) {
        s.run = std::make_unique<e2e::ProgramRun>(s.home.path(), "2026-12-09T12:00:50");
        ASSERT_TRUE(s.run->started());
    }
    // Past the second commercial (12:02:00 on the clock, 70 s in) and a few tracks more.
    e2e::wait_until([&] { return stations[0].run->aired_seconds() > 88; }, 120000);
    for (Station& s : stations)
        s.run->stop();

    // Per station: when each commercial came on the air, and the longest silence once local
    // music was on (outside 2 s around the commercials, whose ramps cross-fade).
    struct Air {
        std::vector<double> spots;
        double longest_silence = 0, silence_at = 0, music_from = -1;
    };
    const auto listen = [&](const Station& s) {
        Air air;
        const Capture capture = read_capture(s.home.path() + "/air.wav");
        const double w = 0.05;
        const std::vector<int> labels = dominant_tones(capture, {kStreamHz, kMusicTone, kSpotTone}, w, 0.01);
        std::vector<std::pair<double, double>> spot_runs;
        for (size_t i = 0; i < labels.size(); ++i) {
            if (labels[i] != 2)
                continue;
            if (spot_runs.empty() || double(i) * w - spot_runs.back().second > 1.0)
                spot_runs.push_back({double(i) * w, double(i) * w});
            spot_runs.back().second = double(i + 1) * w;
        }
        for (const auto& [from, to] : spot_runs)
            if (to - from > 1.0)
                air.spots.push_back(from);
        const auto near_spot = [&](double t) {
            return std::any_of(spot_runs.begin(), spot_runs.end(),
                               [&](const auto& r) { return t > r.first - 2 && t < r.second + 2; });
        };
        double silent_from = -1;
        for (size_t i = 0; i < labels.size(); ++i) {
            const double t = double(i) * w;
            if (air.music_from < 0) {
                if (labels[i] == 1)
                    air.music_from = t;
                continue;
            }
            const bool silent = labels[i] < 0 && !near_spot(t);
            if (silent && silent_from < 0)
                silent_from = t;
            if (!silent && silent_from >= 0) {
                if (t - silent_from > air.longest_silence) {
                    air.longest_silence = t - silent_from;
                    air.silence_at = silent_from;
                }
                silent_from = -1;
            }
        }
        return air;
    };
    const Air control = listen(stations[0]);
    ASSERT_EQ(control.spots.size(), 2u) << "the control aired its commercials";
    for (int i = 1; i < 3; ++i) {
        SCOPED_TRACE(stations[i].name.toStdString());
        const Air air = listen(stations[i]);
        const std::vector<e2e::LogLine> log = stations[i].run->log();
        EXPECT_GE(e2e::count_lines(log, "Conectando à "), 2) << "the link was tried again and again";
        EXPECT_EQ(e2e::count_lines(log, "Conectado à"), 0);
        ASSERT_EQ(air.spots.size(), 2u);
        for (size_t k = 0; k < 2; ++k) {
            RecordProperty(QString("%1_spot%2_late_ms").arg(i).arg(k).toStdString(),
                           int(std::lround((air.spots[k] - control.spots[k]) * 1000)));
            EXPECT_NEAR(air.spots[k], control.spots[k], 1.0) << "commercial " << k + 1;
        }
        ASSERT_GE(air.music_from, 0) << "local music came on";
        EXPECT_LE(air.longest_silence, 0.5) << "silence at " << air.silence_at << " s of the capture";
        if (HasFailure())
            for (const e2e::LogLine& line : log)
                std::printf("  %s log %s %s\n", qPrintable(stations[i].name),
                            qPrintable(line.time.toString("HH:mm:ss")), qPrintable(line.message));
    }
}
