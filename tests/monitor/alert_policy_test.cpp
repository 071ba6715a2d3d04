// The alerts' hygiene on a clock moved by hand: blips, ends told only after their start, the
// interval with its held-back count, the order; the queue's retries, bound and file; and the
// command, which gets the alert only in its environment and is killed with what it started.

#include "alert_command.h"
#include "alert_outbox.h"
#include "alert_policy.h"
#include "clock.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace miravox;

namespace {

const QDateTime t0(QDate(2026, 12, 10), QTime(19, 0, 0));

StationEvent at(int second, StationEventKind kind, const QString& text = {}, const QString& detail = {}) {
    return {kind, t0.addSecs(second), text, detail};
}

class Policy {
  public:
    explicit Policy(int delay_s = 60, int interval_s = 900)
        : policy_({"cmd", delay_s, interval_s, "Rádio Alfa", {}}) {}
    // Feeds `event`, then returns what is due at its time.
    std::vector<Alert> on(const StationEvent& event) {
        policy_.observe(event);
        return policy_.due(event.when);
    }
    std::vector<Alert> at_second(int second) { return policy_.due(t0.addSecs(second)); }

  private:
    AlertPolicy policy_;
};

// Takes one HTTP request on loopback and answers it with `status`; what came is in `request`.
class OneRequest {
  public:
    explicit OneRequest(int status) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 1);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this, status] { serve(status); });
    }
    ~OneRequest() {
        take();
        ::close(fd_);
    }
    QString url(const QString& path) const { return "http://127.0.0.1:" + QString::number(port_) + path; }
    // What came, once the request was answered (or nothing came for 10 s).
    QByteArray take() {
        if (thread_.joinable())
            thread_.join();
        return request_;
    }

  private:
    void serve(int status) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return;
        const int client = ::accept(fd_, nullptr, nullptr);
        QByteArray got;
        char chunk[4096];
        for (;;) {
            const qsizetype head = got.indexOf("\r\n\r\n");
            if (head >= 0) {
                const qsizetype at = got.toLower().indexOf("content-length:");
                const int length =
                    at < 0 ? 0 : got.mid(at + 15, got.indexOf('\r', at) - at - 15).trimmed().toInt();
                if (got.size() >= head + 4 + length)
                    break;
            }
            pollfd c{client, POLLIN, 0};
            if (::poll(&c, 1, 10000) <= 0)
                break;
            const ssize_t n = ::recv(client, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            got.append(chunk, n);
        }
        request_ = got;
        const QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) +
                                  " X\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        ::send(client, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
        ::close(client);
    }
    int fd_ = -1;
    uint16_t port_ = 0;
    QByteArray request_;
    std::thread thread_;
};

QByteArray header(const QByteArray& request, const QByteArray& name) {
    for (const QByteArray& line : request.left(request.indexOf("\r\n\r\n")).split('\n'))
        if (line.toLower().startsWith(name.toLower() + ":"))
            return line.mid(name.size() + 1).trimmed();
    return {};
}

QByteArray body(const QByteArray& request) {
    return request.mid(request.indexOf("\r\n\r\n") + 4);
}

// The command of a recipe in docs/alerts/, its address replaced by `url`.
QString recipe(const QString& name, const QString& example_url, const QString& url) {
    QFile file(QString(MIRAVOX_TEST_SOURCE_DIR) + "/../docs/alerts/" + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString line = QString::fromUtf8(file.readAll()).trimmed();
    if (!line.startsWith("ALERTA_COMANDO=") || !line.contains(example_url))
        return {};
    return line.mid(15).replace(example_url, url);
}

QStringList names(const std::vector<Alert>& alerts) {
    QStringList out;
    for (const Alert& a : alerts)
        out << a.event;
    return out;
}

} // namespace

TEST(AlertPolicy, ADropIsToldOnlyWhenItOutlastsTheDelayAndItsReturnOnlyThen) {
    Policy p;
    const auto started = p.on(at(0, StationEventKind::started, "Aplicação iniciada"));
    ASSERT_EQ(names(started), QStringList{"inicio"});
    EXPECT_EQ(started[0].text, "Miravox iniciado");
    EXPECT_EQ(started[0].station, "Rádio Alfa");

    // A blip: lost and back within the delay, with more failed reopenings in between.
    EXPECT_TRUE(p.on(at(10, StationEventKind::stream_lost, "DESCONECTADO", "http://r/live")).empty());
    EXPECT_TRUE(p.at_second(40).empty());
    EXPECT_TRUE(p.on(at(69, StationEventKind::stream_back, "Conectado à RADIO")).empty());
    EXPECT_TRUE(p.at_second(200).empty());

    // A real drop: told once its delay is over, with the time it began; its return follows.
    EXPECT_TRUE(p.on(at(300, StationEventKind::stream_lost, "DESCONECTADO", "http://r/live")).empty());
    EXPECT_TRUE(p.at_second(359).empty());
    const auto lost = p.at_second(360);
    ASSERT_EQ(names(lost), QStringList{"queda"});
    EXPECT_EQ(lost[0].when, t0.addSecs(300));
    EXPECT_EQ(lost[0].text, "Streaming fora do ar (DESCONECTADO)");
    EXPECT_EQ(lost[0].detail, "http://r/live");
    EXPECT_TRUE(p.at_second(380).empty());
    const auto back = p.on(at(395, StationEventKind::stream_back, "Conectado à RADIO", "http://r/live"));
    ASSERT_EQ(names(back), QStringList{"volta"});
    EXPECT_EQ(back[0].text, "Streaming de volta ao ar (Conectado à RADIO) - fora do ar por 1 min 35 s");
    EXPECT_TRUE(p.on(at(396, StationEventKind::stream_back)).empty()); // nothing was lost

    // A device: told at once, and its return after it; a return alone says nothing.
    EXPECT_TRUE(p.on(at(400, StationEventKind::device_ok)).empty());
    EXPECT_EQ(names(p.on(at(410, StationEventKind::device_failed, "Erro de Buffer - update Device"))),
              QStringList{"dispositivo"});
    EXPECT_TRUE(p.on(at(411, StationEventKind::device_failed)).empty()); // the same failure
    EXPECT_EQ(names(p.on(at(412, StationEventKind::device_ok))), QStringList{"dispositivo_ok"});
}

TEST(AlertPolicy, AlertsComeInTheOrderThingsHappened) {
    Policy p;
    // A drop that outlasted its delay before a commercial was missed is told before it, even
    // when both are looked at only afterwards.
    AlertPolicy policy({"cmd", 60, 900, "X", {}});
    policy.observe(at(0, StationEventKind::stream_lost));
    policy.observe(at(70, StationEventKind::commercial, "Comercial 19:01 não localizado", "/a/spot.mp3"));
    const auto both = policy.due(t0.addSecs(71));
    ASSERT_EQ(names(both), (QStringList{"queda", "comercial"}));
    EXPECT_EQ(both[1].text, "Comercial 19:01 não localizado");
    EXPECT_EQ(both[1].detail, "/a/spot.mp3");

    // The limit ends the relay: the drop is told at once, before the limit.
    EXPECT_TRUE(p.on(at(0, StationEventKind::stream_lost)).empty());
    EXPECT_EQ(names(p.on(at(20, StationEventKind::limit_reached))), (QStringList{"queda", "limite"}));
    EXPECT_TRUE(p.at_second(100).empty()); // not told twice

    // A loss that ended with its window (no return) and a new loss in the next: a fault of its own.
    EXPECT_EQ(names(p.on(at(3000, StationEventKind::stream_lost))), QStringList{});
    EXPECT_EQ(names(p.at_second(3060)), QStringList{"queda"});
    EXPECT_EQ(names(p.on(at(3090, StationEventKind::stream_back))), QStringList{"volta"});
}

TEST(AlertPolicy, TheSameAlertWaitsForItsIntervalWithTheCountHeldBack) {
    Policy p(60, 900);
    EXPECT_EQ(names(p.on(at(0, StationEventKind::silence_cut))), QStringList{"silencio"});
    EXPECT_TRUE(p.on(at(100, StationEventKind::silence_cut)).empty());
    EXPECT_TRUE(p.on(at(200, StationEventKind::silence_cut)).empty());
    EXPECT_EQ(names(p.on(at(300, StationEventKind::commercial))), QStringList{"comercial"}); // another kind
    EXPECT_TRUE(p.at_second(899).empty());
    // Nothing more came: the latest held back goes out when the interval is over.
    const auto late = p.at_second(900);
    ASSERT_EQ(names(late), QStringList{"silencio"});
    EXPECT_EQ(late[0].when, t0.addSecs(200));
    EXPECT_EQ(late[0].held_back, 1);
    EXPECT_EQ(late[0].text, "Silêncio no streaming: o stream foi cortado (mais 1 desde o último aviso)");

    // Drops: the second within the interval is held back, and so its return; the count goes
    // with the next drop told.
    Policy q(60, 900);
    q.on(at(0, StationEventKind::stream_lost));
    EXPECT_EQ(names(q.at_second(60)), QStringList{"queda"});
    EXPECT_EQ(names(q.on(at(90, StationEventKind::stream_back))), QStringList{"volta"});
    q.on(at(200, StationEventKind::stream_lost));
    EXPECT_TRUE(q.at_second(300).empty());
    EXPECT_TRUE(q.on(at(320, StationEventKind::stream_back)).empty());
    EXPECT_TRUE(q.at_second(2000).empty()); // it is over: nothing to tell late
    q.on(at(2100, StationEventKind::stream_lost));
    const auto third = q.at_second(2160);
    ASSERT_EQ(names(third), QStringList{"queda"});
    EXPECT_EQ(third[0].held_back, 1);
    // One held back that is still lost when the interval ends is told then, and its return too.
    q.on(at(2200, StationEventKind::stream_back));
    q.on(at(2300, StationEventKind::stream_lost));
    EXPECT_TRUE(q.at_second(3000).empty());
    const auto still = q.at_second(3060);
    ASSERT_EQ(names(still), QStringList{"queda"});
    EXPECT_EQ(still[0].when, t0.addSecs(2300));
    EXPECT_EQ(still[0].held_back, 0);
    EXPECT_EQ(names(q.on(at(3100, StationEventKind::stream_back))), QStringList{"volta"});
}

TEST(AlertOutbox, RetriesWithAGrowingPauseInOrderAndSurvivesARestart) {
    EXPECT_EQ(AlertOutbox::pause_ms(1), 10'000);
    EXPECT_EQ(AlertOutbox::pause_ms(2), 20'000);
    EXPECT_EQ(AlertOutbox::pause_ms(5), 160'000);
    EXPECT_EQ(AlertOutbox::pause_ms(6), 300'000);
    EXPECT_EQ(AlertOutbox::pause_ms(60), 300'000);

    QTemporaryDir dir;
    const QString file = dir.filePath("ALERTAS_PENDENTES.TXT");
    const Alert odd{"queda", "Fora\tdo ar\n \\n ção", "Rádio", t0, "C:\\x\\y", 2};
    {
        AlertOutbox box(file);
        box.load(); // nothing there yet
        box.push({"inicio", "Miravox iniciado", "Rádio", t0, "/st/", 0});
        box.push(odd);
        EXPECT_TRUE(box.ready(0));
        EXPECT_EQ(box.failed(1000), 10'000);
        EXPECT_FALSE(box.ready(10'999));
        EXPECT_TRUE(box.ready(11'000));
        EXPECT_EQ(box.failed(11'000), 20'000);
        EXPECT_EQ(box.front().event, "inicio"); // the queue waits behind its front
        box.sent();
        EXPECT_TRUE(box.ready(11'001)); // a success ends the pause
        EXPECT_EQ(box.size(), 1u);
    }
    // The next run: what was left goes first, exactly as it was.
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("garbled\tline\r\n");
    }
    AlertOutbox next(file);
    next.push({"inicio", "Miravox iniciado", "Rádio", t0.addSecs(60), "", 0});
    int skipped = 0;
    next.load(&skipped);
    EXPECT_EQ(skipped, 1);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next.alerts()[0], odd);
    EXPECT_EQ(next.alerts()[1].when, t0.addSecs(60));
    next.sent();
    next.sent();
    EXPECT_FALSE(QFile::exists(file)); // nothing left, no file

    // Bounded: the oldest gives way.
    AlertOutbox full({});
    for (int i = 0; i < int(AlertOutbox::kCapacity) + 3; ++i)
        full.push({"comercial", QString::number(i), "", t0, "", 0});
    EXPECT_EQ(full.size(), AlertOutbox::kCapacity);
    EXPECT_EQ(full.dropped(), 3u);
    EXPECT_EQ(full.front().text, "3");
}

TEST(AlertCommand, TheAlertIsOnlyInTheEnvironmentAndAFailureSaysWhy) {
    QTemporaryDir dir;
    const QString out = dir.filePath("out.txt"), pwned = dir.filePath("pwned");
    const Alert alert{"comercial",
                      "Comercial $(touch " + pwned + ") '; touch " + pwned + "; '",
                      "Rádio Ç",
                      t0,
                      "`touch " + pwned + "`",
                      3};
    std::atomic<bool> stop{false};
    const CommandOutcome ok = run_alert_command(
        "printf '%s|%s|%s|%s|%s|%s\\n' \"$MIRAVOX_EVENTO\" \"$MIRAVOX_TEXTO\" \"$MIRAVOX_ESTACAO\" "
        "\"$MIRAVOX_HORA\" \"$MIRAVOX_DETALHE\" \"$MIRAVOX_RETIDOS\" > " +
            out,
        alert, 30'000, stop);
    EXPECT_TRUE(ok.ok) << ok.why.toStdString();
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()),
              "comercial|" + alert.text + "|Rádio Ç|10/12/2026 19:00:00|" + alert.detail + "|3\n");
    EXPECT_FALSE(QFile::exists(pwned));

    const CommandOutcome failed =
        run_alert_command("echo 'msmtp: cannot connect' >&2; exit 75", alert, 30'000, stop);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.why, "código de saída 75: msmtp: cannot connect");
}

// A command that hangs is killed at its limit of program time with everything it started.
TEST(AlertCommand, AHangingCommandIsKilledWithWhatItStarted) {
    ScopedClock fast(std::make_shared<SystemClock>(0, 100.0)); // 30 s of program time in 0.3 s
    QTemporaryDir dir;
    const QString pid_file = dir.filePath("child.pid");
    std::atomic<bool> stop{false};
    QDeadlineTimer bound(20000);
    const CommandOutcome hung =
        run_alert_command("sleep 600 & echo $! > " + pid_file + "; wait", Alert{"inicio"}, 30'000, stop);
    EXPECT_FALSE(bound.hasExpired());
    EXPECT_FALSE(hung.ok);
    EXPECT_EQ(hung.why, "não terminou em 30 s, encerrado");
    QFile f(pid_file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const pid_t child = pid_t(f.readAll().trimmed().toInt());
    ASSERT_GT(child, 0);
    // Gone, or a zombie waiting for whoever adopted it.
    QDeadlineTimer gone(5000);
    const auto alive = [&] {
        QFile stat("/proc/" + QString::number(child) + "/stat");
        return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
    };
    while (alive() && !gone.hasExpired())
        QThread::msleep(20);
    EXPECT_FALSE(alive());
}

// The webhook and push recipes of docs/alerts/ against a local listener: the JSON body is valid
// and whole whatever the texts hold, the title survives its accents, and an HTTP error is a
// failure (so it is retried).
TEST(AlertCommand, TheWebhookAndPushRecipesPostWhatTheyShould) {
    if (QStandardPaths::findExecutable("curl").isEmpty())
        GTEST_SKIP() << "curl is not installed";
    const Alert alert{
        "queda", "Streaming fora do ar (Erro \"ao\" carregar \\ WEB)", "Rádio Alfa", t0, "http://r/live\tb",
        2};
    std::atomic<bool> stop{false};
    OneRequest hook(200);
    const QString webhook = recipe("webhook.txt", "https://hooks.example.com/miravox", hook.url("/hook"));
    ASSERT_FALSE(webhook.isEmpty());
    const CommandOutcome posted = run_alert_command(webhook, alert, 30'000, stop);
    EXPECT_TRUE(posted.ok) << posted.why.toStdString();
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(body(hook.take()), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(json["evento"].toString(), "queda");
    EXPECT_EQ(json["texto"].toString(), alert.text);
    EXPECT_EQ(json["estacao"].toString(), "Rádio Alfa");
    EXPECT_EQ(json["hora"].toString(), "10/12/2026 19:00:00");
    EXPECT_EQ(json["detalhe"].toString(), alert.detail);
    EXPECT_EQ(json["retidos"].toInt(), 2);

    OneRequest push(200);
    const QString phone = recipe("push.txt", "https://ntfy.sh/minha-radio-alertas", push.url("/topico"));
    ASSERT_FALSE(phone.isEmpty());
    const CommandOutcome pushed = run_alert_command(phone, alert, 30'000, stop);
    EXPECT_TRUE(pushed.ok) << pushed.why.toStdString();
    const QByteArray request = push.take();
    EXPECT_TRUE(request.startsWith("POST /topico ")) << request.toStdString();
    const QByteArray title = header(request, "Title");
    ASSERT_TRUE(title.startsWith("=?UTF-8?B?") && title.endsWith("?=")) << title.toStdString();
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromBase64(title.mid(10, title.size() - 12))),
              "Rádio Alfa: queda");
    EXPECT_EQ(header(request, "Priority"), "high");
    EXPECT_EQ(QString::fromUtf8(body(request)), "10/12/2026 19:00:00 - " + alert.text + " " + alert.detail);

    OneRequest refusing(503);
    const CommandOutcome failed = run_alert_command(
        recipe("push.txt", "https://ntfy.sh/minha-radio-alertas", refusing.url("/t")), alert, 30'000, stop);
    EXPECT_FALSE(failed.ok);
    EXPECT_TRUE(failed.why.startsWith("código de saída 22")) << failed.why.toStdString();
}
