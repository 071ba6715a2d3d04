// The real program on a station made by the test: it starts a few seconds before a stream
// window, relays a local stream with its jingles and ends the window; the operation log and
// the audio captured from the transmission device tell what happened.

#include "test_media.h"
#include "test_stream_server.h"
#include "text_file.h"
#include "wav_analysis.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
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

int index_of(const QStringList& messages, const QString& prefix) {
    for (int i = 0; i < messages.size(); ++i)
        if (messages[i].startsWith(prefix))
            return i;
    return -1;
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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("MIRAVOX_HOME", h);
    env.insert("MIRAVOX_CLOCK_START", "2026-12-09T11:59:55");
    env.insert("MIRAVOX_AUDIO_DEVICES", "capture:PRINCIPAL:" + h + "/air.wav;silent:ESCUTA");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(MIRAVOX_BINARY, {});
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
    program.terminate();
    program.waitForFinished(5000);
    if (program.state() != QProcess::NotRunning)
        program.kill();

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
    const Capture air = read_capture(h + "/air.wav");
    const std::vector<int> windows = dominant_tones(air, {kOpenHz, kStreamHz, kCloseHz}, 0.1);
    std::vector<int> order;
    int run_tone = -2, run = 0;
    for (int w : windows) {
        run = w == run_tone ? run + 1 : 1;
        run_tone = w;
        if (run == 5 && w >= 0 && (order.empty() || order.back() != w))
            order.push_back(w);
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}
