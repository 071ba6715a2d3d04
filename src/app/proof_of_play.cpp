#include "proof_of_play.h"

#include "clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace miravox {

namespace {

constexpr int kColumns = 9;
// A commercial that stopped by itself within this much of its length played to its end (the
// stop is seen on the next tick of the channel, and the start a little after the Play).
constexpr qint64 kCompleteSlackMs = 1500;

const char* const kHeader =
    "data,horário programado,início,fim,segundos no ar,duração do arquivo (s),arquivo,resultado,detalhe\r\n";

QString quoted(const QString& field) {
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    QString q = field;
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

QString time_field(const QTime& t) {
    return t.isValid() ? t.toString("HH:mm:ss") : QString();
}

// Splits CSV text into records of fields (RFC 4180: quoted fields may hold commas, quotes and
// line breaks). A last record without its line end is dropped: it was cut off.
std::vector<QStringList> parse_csv(const QString& text) {
    std::vector<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted_field = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted_field) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted_field = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted_field = true;
        } else if (c == ',') {
            fields << field;
            field.clear();
        } else if (c == '\n') {
            if (field.endsWith('\r'))
                field.chop(1);
            fields << field;
            records.push_back(fields);
            fields.clear();
            field.clear();
        } else {
            field += c;
        }
    }
    return records;
}

std::optional<Airing> airing_from(const QStringList& f) {
    if (f.size() != kColumns)
        return std::nullopt;
    Airing a;
    a.date = QDate::fromString(f[0], "dd/MM/yyyy");
    a.scheduled = f[1];
    a.start = QTime::fromString(f[2], "HH:mm:ss");
    a.end = QTime::fromString(f[3], "HH:mm:ss");
    bool ok_aired = false, ok_length = true;
    a.seconds_aired = f[4].toInt(&ok_aired);
    a.file_seconds = f[5].isEmpty() ? -1 : f[5].toInt(&ok_length);
    a.file = f[6];
    a.outcome = f[7];
    a.detail = f[8];
    const bool known = a.outcome == kAiringComplete || a.outcome == kAiringCut ||
                       a.outcome == kAiringMissing || a.outcome == kAiringError;
    if (!a.date.isValid() || !ok_aired || !ok_length || !known)
        return std::nullopt;
    return a;
}

// Writes all of `bytes` at the end of the open file; on a short write the file is cut back to
// `size_before`, so no part of the row stays.
bool write_whole(int fd, const QByteArray& bytes, off_t size_before, QString* error) {
    const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
    if (n == ssize_t(bytes.size()) && ::fsync(fd) == 0)
        return true;
    const int err = n < 0 ? errno : (n == ssize_t(bytes.size()) ? errno : ENOSPC);
    if (n > 0 && ::ftruncate(fd, size_before) != 0) {
        // Nothing more can be done: the reader skips the part row.
    }
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(err));
    return false;
}

struct FileTotals {
    int complete = 0;
    int cut = 0;
    int missed = 0;
    qint64 seconds = 0;
    std::vector<Airing> airings;
};

QString totals_text(const FileTotals& t) {
    return "Completos: " + QString::number(t.complete) + "   Interrompidos: " + QString::number(t.cut) +
           "   Não exibidos: " + QString::number(t.missed) + "   Segundos no ar: " + QString::number(t.seconds);
}

QString airing_line(const Airing& a) {
    QString when = a.start.isValid() ? time_field(a.start) + " a " + time_field(a.end) : QString(19, ' ');
    QString line = "  " + a.date.toString("dd/MM/yyyy") + "  " + a.scheduled + "  " + when + "  " +
                   QString::number(a.seconds_aired).rightJustified(4) + " s  " + a.outcome;
    if (!a.detail.isEmpty())
        line += " (" + a.detail + ")";
    return line;
}

QString csv_airing(const Airing& a) {
    QString text = a.date.toString("dd/MM/yyyy") + ' ' + a.scheduled;
    if (a.start.isValid())
        text += ' ' + time_field(a.start) + '-' + time_field(a.end);
    return text + ' ' + a.outcome + ' ' + QString::number(a.seconds_aired) + 's';
}

} // namespace

QString proof_of_play_file(const QString& logs_folder, const QDate& day) {
    return logs_folder + day.toString("yyyyMMdd") + ".DSP.csv";
}

QByteArray proof_of_play_header() {
    return QByteArray(kHeader);
}

QByteArray airing_row(const Airing& a) {
    const QStringList fields{a.date.toString("dd/MM/yyyy"),
                             a.scheduled,
                             time_field(a.start),
                             time_field(a.end),
                             QString::number(a.seconds_aired),
                             a.file_seconds < 0 ? QString() : QString::number(a.file_seconds),
                             quoted(a.file),
                             a.outcome,
                             quoted(a.detail)};
    return (fields.join(',') + "\r\n").toUtf8();
}

bool append_airing(const QString& path, const Airing& airing, QString* error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    // Read-write, so the last byte can be read on the same descriptor.
    const int fd = ::open(native.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    ::fstat(fd, &st);
    QByteArray bytes;
    if (st.st_size == 0) {
        bytes = proof_of_play_header();
    } else {
        // A row cut off at the end (power lost mid-write) gets its line closed, so this one
        // starts on a line of its own; the reader skips the broken one.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            bytes = "\r\n";
    }
    bytes += airing_row(airing);
    const bool ok = write_whole(fd, bytes, st.st_size, error);
    ::close(fd);
    return ok;
}

std::vector<Airing> read_airings(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<Airing> airings;
    for (const QStringList& record : parse_csv(QString::fromUtf8(file.readAll())))
        if (auto a = airing_from(record))
            airings.push_back(*a);
    return airings;
}

QString commercials_report(const QString& logs_folder, const QDate& from, const QDate& to, bool csv) {
    std::map<QString, FileTotals> by_file;
    for (QDate day = from; day <= to; day = day.addDays(1)) {
        for (const Airing& a : read_airings(proof_of_play_file(logs_folder, day))) {
            FileTotals& t = by_file[a.file];
            if (a.outcome == kAiringComplete)
                ++t.complete;
            else if (a.outcome == kAiringCut)
                ++t.cut;
            else
                ++t.missed;
            t.seconds += a.seconds_aired;
            t.airings.push_back(a);
        }
    }

    const QString period = from.toString("dd/MM/yyyy") + " a " + to.toString("dd/MM/yyyy");
    QStringList lines;
    if (csv) {
        lines << "arquivo,completos,interrompidos,não exibidos,segundos no ar,exibições";
        for (const auto& [file, t] : by_file) {
            QStringList list;
            for (const Airing& a : t.airings)
                list << csv_airing(a);
            lines << quoted(file) + ',' + QString::number(t.complete) + ',' + QString::number(t.cut) + ',' +
                         QString::number(t.missed) + ',' + QString::number(t.seconds) + ',' +
                         quoted(list.join("; "));
        }
        return lines.join("\r\n") + "\r\n";
    }

    lines << "RELATÓRIO DE COMERCIAIS - " + period << "";
    if (by_file.empty())
        lines << "Nenhum comercial registrado no período.";
    FileTotals all;
    for (const auto& [file, t] : by_file) {
        lines << file;
        lines << "  " + totals_text(t);
        for (const Airing& a : t.airings)
            lines << airing_line(a);
        lines << "";
        all.complete += t.complete;
        all.cut += t.cut;
        all.missed += t.missed;
        all.seconds += t.seconds;
    }
    if (!by_file.empty())
        lines << "TOTAL  " + totals_text(all);
    return lines.join('\n') + '\n';
}

int commercials_report_command(const QStringList& args, const QString& logs_folder, QString& out) {
    bool csv = false;
    std::vector<QDate> dates;
    bool bad = false;
    for (const QString& arg : args) {
        if (arg == "--csv") {
            csv = true;
            continue;
        }
        const QDate d = QDate::fromString(arg.trimmed(), "dd/MM/yyyy");
        bad = bad || !d.isValid();
        dates.push_back(d);
    }
    if (bad || dates.size() != 2) {
        out = "Uso: miravox " + kReportOption +
              " DD/MM/AAAA DD/MM/AAAA [--csv]\n"
              "Relatório dos comerciais registrados em LOGS/AAAAMMDD.DSP.csv entre as duas datas.\n";
        return 2;
    }
    out = commercials_report(logs_folder, std::min(dates[0], dates[1]), std::max(dates[0], dates[1]), csv);
    return 0;
}

// ---- The airing in progress ----------------------------------------------------------------------

Airing ProofOfPlay::now_due(const QString& path, const QString& outcome) const {
    const QDateTime now = clock().now();
    Airing a;
    a.date = now.date();
    a.scheduled = minute_.isEmpty() ? now.time().toString("HH:mm") : minute_;
    a.end = now.time();
    a.file = path;
    a.outcome = outcome;
    return a;
}

void ProofOfPlay::due(const QString& minute) {
    minute_ = minute;
    missing_written_ = false;
}

void ProofOfPlay::missing(const QString& minute, const QString& path) {
    if (minute.isEmpty()) {
        // The commercial waiting to start: its start looks for the file again and again.
        if (missing_written_)
            return;
        missing_written_ = true;
    }
    Airing a = now_due(path, kAiringMissing);
    if (!minute.isEmpty())
        a.scheduled = minute;
    a.end = QTime();
    write(a);
}

void ProofOfPlay::not_aired(const QString& minute, const QString& path, const QString& reason) {
    Airing a = now_due(path, kAiringError);
    a.scheduled = minute;
    a.end = QTime();
    a.detail = reason;
    write(a);
}

void ProofOfPlay::started(const QString& path, std::uint32_t length_ms) {
    Airing a = now_due(path, kAiringComplete);
    a.start = a.end;
    a.end = QTime();
    a.file_seconds = int(std::lround(length_ms / 1000.0));
    on_air_ = a;
    started_ms_ = clock().now_ms();
    last_position_ms_ = 0;
}

void ProofOfPlay::progress(int position_ms) {
    last_position_ms_ = std::max(last_position_ms_, position_ms);
}

void ProofOfPlay::failed(const QString& path, const QString& error) {
    Airing a = now_due(path, kAiringError);
    a.end = QTime();
    a.detail = error;
    write(a);
}

void ProofOfPlay::stopped() {
    if (!on_air_)
        return;
    // The channel has already rewound, so the time on the air stands in for its position
    // where the main tick did not see it near the end (a held main thread).
    const qint64 aired_ms = std::max<qint64>(last_position_ms_, clock().now_ms() - started_ms_);
    const bool complete = aired_ms + kCompleteSlackMs >= qint64(on_air_->file_seconds) * 1000;
    finish(complete ? kAiringComplete : kAiringCut, complete ? on_air_->file_seconds * 1000 : int(aired_ms),
           {});
}

void ProofOfPlay::cut_short(int position_ms, const QString& reason) {
    if (on_air_)
        finish(kAiringCut, std::max(position_ms, last_position_ms_), reason);
}

void ProofOfPlay::finish(const QString& outcome, int aired_ms, const QString& reason) {
    Airing a = *on_air_;
    on_air_.reset();
    a.end = clock().now().time();
    a.outcome = outcome;
    a.detail = reason;
    a.seconds_aired = std::clamp(int(std::lround(aired_ms / 1000.0)), 0, std::max(a.file_seconds, 0));
    write(a);
}

void ProofOfPlay::write(const Airing& airing) {
    const QString path = proof_of_play_file(logs_folder_, airing.date);
    QString error;
    if (!append_airing(path, airing, &error) && log_)
        log_("Erro ao gravar " + path + ": " + error);
}

} // namespace miravox
