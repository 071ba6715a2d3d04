#include "alert_command.h"

#include "clock.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <signal.h>
#include <unistd.h>

namespace miravox {

namespace {

// The last line the command wrote, to say why it failed; at most this much is kept.
constexpr qsizetype kOutputKept = 4096;

QString last_line(const QByteArray& output) {
    const QStringList lines = QString::fromLocal8Bit(output).split('\n', Qt::SkipEmptyParts);
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (!it->trimmed().isEmpty())
            return it->trimmed().left(300);
    return {};
}

void keep_tail(QByteArray& kept, const QByteArray& more) {
    kept += more;
    if (kept.size() > kOutputKept)
        kept.remove(0, kept.size() - kOutputKept);
}

} // namespace

CommandOutcome run_alert_command(const QString& command, const Alert& alert, qint64 limit_ms,
                                 const std::atomic<bool>& stop, int grace_ms) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : alert_environment(alert))
        env.insert(name, value);
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so a time-out kills what the shell started (curl, msmtp) as well.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start("/bin/sh", {"-c", command});
    if (!process.waitForStarted(10000))
        return {false, "não iniciou: " + process.errorString()};

    const qint64 pid = process.processId();
    const qint64 deadline = clock().now_ms() + limit_ms;
    std::optional<QDeadlineTimer> grace;
    QByteArray output;
    QString why;
    while (process.state() != QProcess::NotRunning) {
        process.waitForFinished(50);
        keep_tail(output, process.readAll());
        if (process.state() == QProcess::NotRunning)
            break;
        if (stop && !grace)
            grace.emplace(grace_ms);
        const bool late = clock().now_ms() >= deadline;
        if (late || (grace && grace->hasExpired())) {
            why = late ? "não terminou em " + QString::number(limit_ms / 1000) + " s, encerrado"
                       : QStringLiteral("programa encerrado antes do fim do comando");
            ::kill(-pid_t(pid), SIGKILL);
            process.waitForFinished(5000);
            keep_tail(output, process.readAll());
            break;
        }
    }
    if (why.isEmpty()) {
        if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
            return {true, {}};
        why = process.exitStatus() == QProcess::NormalExit
                  ? "código de saída " + QString::number(process.exitCode())
                  : QStringLiteral("encerrado por um sinal");
    }
    const QString line = last_line(output);
    return {false, line.isEmpty() ? why : why + ": " + line};
}

} // namespace miravox
