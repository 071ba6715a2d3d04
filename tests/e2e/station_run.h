#pragma once
// Whole-program runs against real servers: a local icecast2 (scripts/icecast-local) fed by the
// ffmpeg CLI, the miravox binary on a station folder with a capture device, and readers for
// what it logged and aired. Test-thread only.

#include "test_stream_server.h"
#include "text_file.h"
#include "wav_analysis.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>
#include <QTime>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace miravox::e2e {

// Polls `done` every 100 ms until it holds or `ms` have passed.
inline bool wait_until(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    return true;
}

inline void stop_process(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// The status code of GET `path` on 127.0.0.1:`port`, or 0 when nothing answers in time.
inline int http_status(quint16 port, const QString& path) {
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", port);
    if (!socket.waitForConnected(1000))
        return 0;
    socket.write(("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n").toLatin1());
    if (!socket.waitForReadyRead(2000))
        return 0;
    const QList<QByteArray> status = socket.readLine().split(' ');
    return status.size() >= 2 ? status[1].toInt() : 0;
}

// Debian's icecast2 on a free port of 127.0.0.1, configured by scripts/icecast-local.
class Icecast {
  public:
    Icecast() : port_(test::TestStreamServer::unused_port()) {}
    ~Icecast() { stop_process(process_); }

    // Starts the server and waits until it answers; on failure `why` says what went wrong.
    bool start(const QString& dir, QString& why) {
        if (QStandardPaths::findExecutable("icecast2").isEmpty()) {
            why = "icecast2 is not installed (scripts/install-deps installs it)";
            return false;
        }
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QString(MIRAVOX_TEST_SOURCE_DIR) + "/../scripts/icecast-local",
                       {dir, QString::number(port_), password()});
        const auto answers = [this] { return http_status(port_, "/") > 0; };
        if (process_.waitForStarted(5000) &&
            wait_until([&] { return answers() || process_.state() == QProcess::NotRunning; }, 10000) &&
            answers())
            return true;
        why = QString("icecast2 did not start (exit %1): ").arg(process_.exitCode()) +
              QString::fromLocal8Bit(process_.readAll()).trimmed();
        stop_process(process_);
        return false;
    }
    quint16 port() const { return port_; }
    QString password() const { return "e2e-source"; }
    QString url(const QString& mount) const { return QString("http://127.0.0.1:%1%2").arg(port_).arg(mount); }

  private:
    quint16 port_;
    QProcess process_;
};

// ffmpeg arguments for a stereo tone of `hz` produced at real speed, like a live source; the
// caller adds the encoder and the output.
inline QStringList live_tone_input(double hz) {
    return {"-nostdin",
            "-hide_banner",
            "-loglevel",
            "error",
            "-re",
            "-f",
            "lavfi",
            "-i",
            QString("sine=frequency=%1:sample_rate=44100").arg(hz),
            "-ac",
            "2"};
}

// The ffmpeg CLI feeding an icecast mount with a sine of `hz`, encoded to MP3 in real time.
class IcecastSource {
  public:
    IcecastSource(const Icecast& server, QString mount, QString name, double hz)
        : server_(server), mount_(std::move(mount)), name_(std::move(name)), hz_(hz) {}
    ~IcecastSource() { stop_process(process_); }

    // Starts feeding and waits until icecast serves the mount.
    bool start() {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(MIRAVOX_FFMPEG, live_tone_input(hz_) +
                                           QStringList{"-c:a", "libmp3lame", "-b:a", "128k", "-content_type",
                                                       "audio/mpeg", "-ice_name", name_, "-f", "mp3",
                                                       QString("icecast://source:%1@127.0.0.1:%2%3")
                                                           .arg(server_.password())
                                                           .arg(server_.port())
                                                           .arg(mount_)});
        return process_.waitForStarted(5000) &&
               wait_until([this] { return http_status(server_.port(), mount_) == 200; }, 10000);
    }
    // The source dies at once, as a crashed encoder would.
    void kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }

  private:
    const Icecast& server_;
    QString mount_, name_;
    double hz_;
    QProcess process_;
};

struct LogLine {
    QTime time;
    QString message;
};

// Every line of the station's operation logs ("|HH:mm:ss|N|message|"), oldest file first.
inline std::vector<LogLine> read_operation_log(const QString& home) {
    std::vector<LogLine> lines;
    static const QRegularExpression format(R"(^\|(\d\d:\d\d:\d\d)\|\d+\|(.*)\|$)");
    const QStringList files = QDir(home + "/LOGS").entryList({"*.NET"}, QDir::Files, QDir::Name);
    for (const QString& name : files)
        if (auto file = read_text_file(home + "/LOGS/" + name))
            for (const QString& text : file->lines)
                if (const auto match = format.match(text); match.hasMatch())
                    lines.push_back({QTime::fromString(match.captured(1), "HH:mm:ss"), match.captured(2)});
    return lines;
}

// Index of the first line at or after `from` whose message starts with `prefix`, or -1.
inline int find_line(const std::vector<LogLine>& lines, const QString& prefix, int from = 0) {
    for (int i = std::max(0, from); i < int(lines.size()); ++i)
        if (lines[size_t(i)].message.startsWith(prefix))
            return i;
    return -1;
}

inline int count_lines(const std::vector<LogLine>& lines, const QString& prefix) {
    return int(std::count_if(lines.begin(), lines.end(),
                             [&](const LogLine& line) { return line.message.startsWith(prefix); }));
}

// The miravox binary, offscreen, on station folder `home` with its program clock started at
// `clock_start`, transmitting to a capture device (home/air.wav), or, given `system_audio`, to
// the system's devices with that environment (a private sound server's).
class ProgramRun {
  public:
    ProgramRun(QString home, const QString& clock_start,
               const std::vector<std::pair<std::string, std::string>>& system_audio = {})
        : home_(std::move(home)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("MIRAVOX_HOME", home_);
        env.insert("MIRAVOX_CLOCK_START", clock_start);
        env.insert("MIRAVOX_AUDIO_DEVICES", "capture:PRINCIPAL:" + air_path() + ";silent:ESCUTA");
        if (!system_audio.empty())
            env.remove("MIRAVOX_AUDIO_DEVICES");
        for (const auto& [name, value] : system_audio)
            env.insert(QString::fromStdString(name), QString::fromStdString(value));
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(MIRAVOX_BINARY, {});
    }
    ~ProgramRun() { stop(); }

    bool started() { return process_.waitForStarted(10000); }
    bool running() const { return process_.state() == QProcess::Running; }
    void stop() { stop_process(process_); }

    QString air_path() const { return home_ + "/air.wav"; }
    // Seconds aired so far: the capture device writes the mix as it plays it.
    double aired_seconds() const {
        return double(std::max<qint64>(0, QFileInfo(air_path()).size() - 44)) / (4 * 44100);
    }
    std::vector<LogLine> log() const { return read_operation_log(home_); }

    // Waits for a log line starting with `prefix` at or after line `from`; its index or -1.
    int wait_for_line(const QString& prefix, int ms, int from = 0) {
        int found = -1;
        wait_until(
            [&] {
                found = find_line(log(), prefix, from);
                return found >= 0 || !running();
            },
            ms);
        return found;
    }

  private:
    QString home_;
    QProcess process_;
};

// A stretch of the capture in which one tone dominates.
struct ToneRun {
    int tone;        // index into the tones asked for, -1 for none of them
    double from, to; // seconds into the capture
};

// The capture cut into stretches of one dominant tone, stretches shorter than `min_seconds`
// merged away (tone changes and fades leave a window or two of noise).
inline std::vector<ToneRun> tone_runs(const testing::Capture& air, const std::vector<double>& tones,
                                      double min_seconds = 0.5) {
    const double window = 0.1;
    const std::vector<int> labels = testing::dominant_tones(air, tones, window);
    std::vector<ToneRun> raw;
    for (size_t i = 0; i < labels.size(); ++i) {
        if (raw.empty() || raw.back().tone != labels[i])
            raw.push_back({labels[i], double(i) * window, double(i) * window});
        raw.back().to = double(i + 1) * window;
    }
    std::vector<ToneRun> runs;
    for (const ToneRun& run : raw) {
        if (run.to - run.from < min_seconds)
            continue;
        if (!runs.empty() && runs.back().tone == run.tone)
            runs.back().to = run.to;
        else
            runs.push_back(run);
    }
    return runs;
}

} // namespace miravox::e2e
