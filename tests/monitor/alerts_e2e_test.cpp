// The real program telling someone by e-mail: ALERTA_COMANDO is the msmtp recipe of docs/station.md, sent
// to an SMTP server this test runs on loopback. A short drop sends nothing, a long one its drop
// and its return, a silence cut and a missing commercial one each; a mail server that refuses
// for the first minutes gets every alert later, in order, once; alerts queued when the program
// stopped go out at its next start.

#include "station_run.h"
#include "tcp_proxy.h"
#include "test_media.h"
#include "test_stream_server.h"
#include "text_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace miravox;

namespace {

// Enough of SMTP for msmtp: one session at a time, every message kept. While refusing it
// answers a connection with 421 and closes it, as a mail server that is down for a while.
class SmtpServer {
  public:
    SmtpServer() {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listen_fd_, 8);
        socklen_t len = sizeof addr;
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { accept_loop(); });
    }
    ~SmtpServer() {
        stop_ = true;
        thread_.join();
        ::close(listen_fd_);
    }
    uint16_t port() const { return port_; }
    void refuse(bool on) { refusing_ = on; }
    int refused() const { return refused_; }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    void accept_loop() {
        while (!stop_) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept(listen_fd_, nullptr, nullptr);
            if (fd < 0)
                continue;
            serve(fd);
            ::close(fd);
        }
    }

    bool read_line(int fd, std::string& buffer, std::string& line) {
        for (;;) {
            const size_t end = buffer.find("\r\n");
            if (end != std::string::npos) {
                line = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            if (stop_ || ::poll(&p, 1, 5000) <= 0)
                return false;
            char chunk[4096];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            buffer.append(chunk, size_t(n));
        }
    }

    static void say(int fd, const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

    void serve(int fd) {
        if (refusing_) {
            ++refused_;
            say(fd, "421 4.3.2 test server down\r\n");
            return;
        }
        say(fd, "220 localhost ESMTP test\r\n");
        std::string buffer, line;
        while (read_line(fd, buffer, line)) {
            const std::string verb = line.substr(0, 4);
            if (verb == "EHLO") {
                say(fd, "250-localhost\r\n250 8BITMIME\r\n");
            } else if (verb == "DATA") {
                say(fd, "354 go on\r\n");
                std::string message;
                while (read_line(fd, buffer, line) && line != ".")
                    message += (line.rfind("..", 0) == 0 ? line.substr(1) : line) + "\n";
                {
                    std::lock_guard lock(mutex_);
                    messages_.push_back(message);
                }
                say(fd, "250 2.0.0 queued\r\n");
            } else if (verb == "QUIT") {
                say(fd, "221 bye\r\n");
                return;
            } else {
                say(fd, "250 ok\r\n"); // HELO, MAIL, RCPT, RSET, NOOP
            }
        }
    }

    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false}, refusing_{false};
    std::atomic<int> refused_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    std::thread thread_;
};

// One mail as the recipe writes it: the event and the time it happened.
struct Mail {
    QString event, time, text;
};

std::vector<Mail> mails(const SmtpServer& smtp) {
    std::vector<Mail> out;
    for (const std::string& raw : smtp.messages()) {
        Mail mail;
        const QStringList lines = QString::fromStdString(raw).split('\n');
        const qsizetype body = lines.indexOf("");
        if (body >= 0 && body + 1 < lines.size())
            mail.text = lines[body + 1];
        for (const QString& line : lines) {
            if (line.startsWith("Evento: "))
                mail.event = line.mid(8);
            else if (line.startsWith("Hora: "))
                mail.time = line.mid(6);
        }
        out.push_back(mail);
    }
    return out;
}

QStringList events(const std::vector<Mail>& sent) {
    QStringList out;
    for (const Mail& m : sent)
        out << m.event;
    return out;
}

// The e-mail recipe of docs/alerts/, pointed at the test's server instead of an account in
// ~/.msmtprc; empty when the file is not there.
QString mail_command(quint16 port) {
    const auto recipe = read_text_file(QString(MIRAVOX_TEST_SOURCE_DIR) + "/../docs/alerts/email.txt");
    if (!recipe || recipe->lines.isEmpty() || !recipe->lines[0].endsWith("| msmtp -t"))
        return {};
    QString command = recipe->lines[0].mid(QString("ALERTA_COMANDO=").size());
    command.chop(2);
    return command + "--host=127.0.0.1 --port=" + QString::number(port) +
           " --auth=off --tls=off --from=miravox@localhost -t";
}

bool write_tone(const QString& path, double seconds, double hz) {
    std::vector<float> samples(size_t(seconds * 44100) * 2);
    for (size_t i = 0; i < samples.size() / 2; ++i)
        samples[2 * i] = samples[2 * i + 1] = float(0.5 * std::sin(2 * M_PI * hz * double(i) / 44100.0));
    return test::write_wav(path.toStdString(), samples, 2);
}

// The program at `rate` times real speed from `clock_start`, transmitting to a capture device.
class FastRun {
  public:
    FastRun(const QString& home, const QString& clock_start, double rate) : home_(home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("MIRAVOX_HOME", home);
        env.insert("MIRAVOX_CLOCK_START", clock_start);
        env.insert("MIRAVOX_CLOCK_RATE", QString::number(rate));
        env.insert("MIRAVOX_AUDIO_DEVICES", "capture:PRINCIPAL:" + home + "/air.wav;silent:ESCUTA");
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(MIRAVOX_BINARY, {});
    }
    ~FastRun() { e2e::stop_process(process_); }
    bool started() { return process_.waitForStarted(10000); }
    bool running() const { return process_.state() == QProcess::Running; }
    void stop() { e2e::stop_process(process_); }
    std::vector<e2e::LogLine> log() const { return e2e::read_operation_log(home_); }
    // The index of the first log line from `from` on starting with `prefix`, waited for.
    int wait_for(const QString& prefix, int ms, int from = 0) {
        int found = -1;
        e2e::wait_until(
            [&] {
                found = e2e::find_line(log(), prefix, from);
                return found >= 0 || !running();
            },
            ms);
        return found;
    }

  private:
    QString home_;
    QProcess process_;
};

bool have_msmtp() {
    return !QStandardPaths::findExecutable("msmtp").isEmpty();
}

QString error_log_text(const QString& home) {
    QString text;
    for (const QString& name : QDir(home + "/LOGS").entryList({"*.ERR"}, QDir::Files))
        if (auto file = read_text_file(home + "/LOGS/" + name))
            text += file->lines.join('\n');
    return text;
}

} // namespace

// Ten times real speed: the drops, the delay (60 s) and the reconnection countdown (30 s) are
// program time; the test's cuts are timed from the log in real time.
TEST(AlertsProgram, EMailsADropThatLastsItsReturnASilenceCutAndAMissingCommercialButNoBlip) {
    if (!have_msmtp())
        GTEST_SKIP() << "msmtp is not installed (scripts/install-deps installs it)";
    constexpr double kRate = 10;
    QTemporaryDir home;
    const QString h = home.path();
    QDir().mkpath(h + "/DADOS");
    QDir().mkpath(h + "/MUSICAS");
    ASSERT_TRUE(write_tone(h + "/MUSICAS/A.WAV", 5, 660));
    // 40 s of tone, then silence: each connection starts the file over.
    ASSERT_TRUE(test::run_ffmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*440*t)*lt(t\\,40):s=44100:d=60",
                                  "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0",
                                  "-id3v2_version", "0", "-f", "mp3", (h + "/radio.mp3").toStdString()}));
    test::TestStreamServer server;
    test::AudioMount radio;
    radio.data = test::read_file((h + "/radio.mp3").toStdString());
    radio.headers = {"icy-name:Radio E2E"};
    radio.bytes_per_second = int(16000 * kRate);
    server.add_audio("/radio", radio);
    miravox::testing::TcpProxy proxy(server.port());
    SmtpServer smtp;
    ASSERT_TRUE(write_text_file(
        h + "/DADOS/04.WEB",
        {"|12:00|12:10|" + QString::fromStdString(proxy.url("/radio")) + "|STREAMING|100|||0|0||"}));
    ASSERT_TRUE(write_text_file(h + "/DADOS/04.DSP", {"|12:02|01/12/2026|31/12/2026|" + h + "/gone.wav|"}));
    ASSERT_FALSE(mail_command(smtp.port()).isEmpty());
    ASSERT_TRUE(write_text_file(h + "/MIRAVOX.INI", {"SILENCIO=5", "ESTACAO=Rádio Teste",
                                                     "ALERTA_COMANDO=" + mail_command(smtp.port())}));

    FastRun program(h, "2026-12-09T11:59:55", kRate);
    ASSERT_TRUE(program.started());
    const int first = program.wait_for("Conectado à RADIO E2E", 30000);
    ASSERT_GE(first, 0);
    // A drop of 10 s, then (back on the air) one of 90 s.
    QThread::msleep(2000);
    proxy.cut();
    QThread::msleep(1000);
    proxy.restore();
    const int second = program.wait_for("Conectado à RADIO E2E", 30000, first + 1);
    ASSERT_GT(second, first);
    QThread::msleep(2000);
    proxy.cut();
    QThread::msleep(9000);
    proxy.restore();
    // The stream comes back, runs into its silence and is cut.
    ASSERT_GE(program.wait_for("SILÊNCIO NO STREAMING", 60000, second + 1), 0);
    ASSERT_TRUE(e2e::wait_until([&] { return mails(smtp).size() >= 5; }, 20000))
        << events(mails(smtp)).join(' ').toStdString();
    QThread::msleep(1500); // 15 s of program time more: nothing else is due
    program.stop();

    const std::vector<Mail> sent = mails(smtp);
    ASSERT_EQ(events(sent), (QStringList{"inicio", "comercial", "queda", "volta", "silencio"}));
    EXPECT_EQ(sent[0].text, "Miravox iniciado");
    EXPECT_EQ(sent[1].text, "Comercial 12:02 não localizado");
    EXPECT_TRUE(sent[2].text.startsWith("Streaming fora do ar")) << sent[2].text.toStdString();
    EXPECT_TRUE(sent[3].text.contains(QRegularExpression(" - fora do ar por [12] min \\d+ s$")))
        << sent[3].text.toStdString();
    EXPECT_EQ(sent[4].text, "Silêncio no streaming: o stream foi cortado");
    // The drop told is the long one, and with the time it began.
    const QDateTime drop = QDateTime::fromString(sent[2].time, "dd/MM/yyyy HH:mm:ss");
    const QDateTime back = QDateTime::fromString(sent[3].time, "dd/MM/yyyy HH:mm:ss");
    EXPECT_GE(drop.secsTo(back), 80) << sent[2].time.toStdString() << " " << sent[3].time.toStdString();
    EXPECT_EQ(e2e::count_lines(program.log(), "ALERTA ENVIADO: "), 5);
    EXPECT_FALSE(QFile::exists(h + "/LOGS/ALERTAS_PENDENTES.TXT"));
}

// The mail server refuses while the first run raises two alerts; the run ends with them
// queued. The next run starts with the server still refusing for two minutes of program time:
// the four alerts go out after it, in the order they happened, once each.
TEST(AlertsProgram, AlertsRaisedWhileMailIsDownArriveLaterInOrderAcrossARestart) {
    if (!have_msmtp())
        GTEST_SKIP() << "msmtp is not installed (scripts/install-deps installs it)";
    constexpr double kRate = 10;
    QTemporaryDir home;
    const QString h = home.path();
    QDir().mkpath(h + "/DADOS");
    SmtpServer smtp;
    smtp.refuse(true);
    ASSERT_TRUE(write_text_file(h + "/DADOS/04.DSP", {"|12:00|01/12/2026|31/12/2026|" + h + "/gone.wav|",
                                                      "|12:06|01/12/2026|31/12/2026|" + h + "/lost.wav|"}));
    ASSERT_FALSE(mail_command(smtp.port()).isEmpty());
    // A dead-air watch of 3 s would cut pauses in speech: refused at start, with the reason logged.
    ASSERT_TRUE(
        write_text_file(h + "/MIRAVOX.INI", {"SILENCIO=3", "ALERTA_COMANDO=" + mail_command(smtp.port())}));
    const QString pending = h + "/LOGS/ALERTAS_PENDENTES.TXT";
    const auto queued = [&] {
        const auto file = read_text_file(pending);
        return file ? int(file->lines.size()) - 1 : 0;
    };

    {
        FastRun program(h, "2026-12-09T11:59:50", kRate);
        ASSERT_TRUE(program.started());
        ASSERT_TRUE(e2e::wait_until([&] { return queued() == 2; }, 20000)) << queued();
        ASSERT_TRUE(e2e::wait_until([&] { return smtp.refused() >= 2; }, 20000));
        program.stop();
    }
    EXPECT_TRUE(mails(smtp).empty());
    EXPECT_EQ(queued(), 2);
    EXPECT_EQ(e2e::count_lines(e2e::read_operation_log(h),
                               "SILENCIO=3 abaixo de 5 s cortaria as pausas normais da "
                               "fala - VIGILÂNCIA DE SILÊNCIO DESLIGADA"),
              1);
    EXPECT_TRUE(error_log_text(h).contains("ERRO NO COMANDO DE ALERTA")) << error_log_text(h).toStdString();

    FastRun program(h, "2026-12-09T12:05:30", kRate);
    ASSERT_TRUE(program.started());
    QThread::msleep(12000); // two minutes of program time
    EXPECT_TRUE(mails(smtp).empty());
    smtp.refuse(false);
    // The pause has grown to at most 160 s of program time (16 s here) by then.
    ASSERT_TRUE(e2e::wait_until([&] { return mails(smtp).size() >= 4; }, 40000))
        << events(mails(smtp)).join(' ').toStdString();
    QThread::msleep(1000);
    program.stop();

    const std::vector<Mail> sent = mails(smtp);
    ASSERT_EQ(events(sent), (QStringList{"inicio", "comercial", "inicio", "comercial"}));
    EXPECT_TRUE(sent[0].time.startsWith("09/12/2026 11:59:5"));
    EXPECT_EQ(sent[1].text, "Comercial 12:00 não localizado");
    EXPECT_TRUE(sent[2].time.startsWith("09/12/2026 12:05:3"));
    EXPECT_EQ(sent[3].text, "Comercial 12:06 não localizado");
    EXPECT_FALSE(QFile::exists(pending));
}
