// The real program on a station made by the test: it starts a few seconds before a stream
// window, relays a local stream with its jingles and ends the window; the operation log and
// the audio captured from the transmission device tell what happened. Nobody answers any box.

#include "test_media.h"
#include "test_stream_server.h"
#include "text_file.h"
#include "wav_analysis.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>

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

} // namespace

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
