// The day file of proof of play: the row format (one record per line, whatever the fields
// hold), the synced append, and the reader that keeps the last row of each airing.

#include "proof_of_play.h"

#include "clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace miravox {

namespace {

// Rows of files written before the link column have one column less.
constexpr int kColumns = 10;
constexpr int kColumnsWithoutLink = 9;
// A commercial left on the air whose last mark is at most this old is still playing (a report
// made while it airs), not a program that died.
constexpr qint64 kStillOnAirMs = 3 * kProgressMarkMs;

const char* const kHeader = "data,horário programado,início,fim,segundos no ar,duração do arquivo (s),arquivo,"
                            "resultado,detalhe,link no ar\r\n";

// A field as written: line breaks and "%" escaped, so that a record is always one line; then
// quoted when it holds a comma or a quote.
QString field_text(const QString& field) {
    QString f = field;
    if (f.contains('%') || f.contains('\r') || f.contains('\n')) {
        f.replace('%', "%25");
        f.replace('\r', "%0D");
        f.replace('\n', "%0A");
    }
    if (!f.contains(',') && !f.contains('"'))
        return f;
    f.replace('"', "\"\"");
    return '"' + f + '"';
}

QString unescaped(const QString& field) {
    if (!field.contains('%'))
        return field;
    QString out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QStringView rest = QStringView(field).mid(i, 3);
        if (rest == u"%0D" || rest == u"%0d") {
            out += '\r';
            i += 2;
        } else if (rest == u"%0A" || rest == u"%0a") {
            out += '\n';
            i += 2;
        } else if (rest == u"%25") {
            out += '%';
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

QString time_field(const QTime& t) {
    return t.isValid() ? t.toString("HH:mm:ss") : QString();
}

// The fields of one line (RFC 4180 quoting within the line). A quote still open at the end of
// the line is a record cut off: none.
std::optional<QStringList> parse_line(QStringView line) {
    QStringList fields;
    QString field;
    bool in_quotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (in_quotes) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                in_quotes = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            in_quotes = true;
        } else if (c == ',') {
            fields << unescaped(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (in_quotes)
        return std::nullopt;
    fields << unescaped(field);
    return fields;
}

bool known_outcome(const QString& o) {
    return o == kAiringComplete || o == kAiringCut || o == kAiringMissing || o == kAiringError ||
           o == kAiringOnAir;
}

std::optional<Airing> airing_from(const QStringList& f) {
    if (f.size() != kColumns && f.size() != kColumnsWithoutLink)
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
    if (f.size() == kColumns)
        a.link = f[9];
    if (!a.date.isValid() || !ok_aired || !ok_length || !known_outcome(a.outcome) || a.seconds_aired < 0 ||
        (a.outcome == kAiringOnAir && !a.start.isValid()))
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

} // namespace

QString airing_key(const Airing& a) {
    if (!a.start.isValid())
        return {};
    return a.date.toString("yyyyMMdd") + '|' + time_field(a.start) + '|' + a.scheduled + '|' + a.file;
}

QString proof_of_play_file(const QString& logs_folder, const QDate& day) {
    return logs_folder + day.toString("yyyyMMdd") + ".DSP.csv";
}

QByteArray proof_of_play_header() {
    return QByteArray(kHeader);
}

QByteArray airing_row(const Airing& a) {
    const QStringList fields{a.date.toString("dd/MM/yyyy"),
                             field_text(a.scheduled),
                             time_field(a.start),
                             time_field(a.end),
                             QString::number(a.seconds_aired),
                             a.file_seconds < 0 ? QString() : QString::number(a.file_seconds),
                             field_text(a.file),
                             field_text(a.outcome),
                             field_text(a.detail),
                             field_text(a.link)};
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

std::vector<Airing> read_airings_from(const QByteArray& bytes, const QDateTime& now) {
    std::vector<Airing> airings;
    std::map<QString, size_t> by_key; // an airing on the air: where its first row stands
    const QString text = QString::fromUtf8(bytes);
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    // The last line has no line end: a row cut off, or nothing.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        QStringView line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        const auto fields = parse_line(line);
        if (!fields)
            continue;
        auto a = airing_from(*fields);
        if (!a)
            continue;
        const QString key = airing_key(*a);
        const auto it = key.isEmpty() ? by_key.end() : by_key.find(key);
        if (it == by_key.end()) {
            if (!key.isEmpty())
                by_key.emplace(key, airings.size());
            airings.push_back(*a);
            continue;
        }
        Airing& known = airings[it->second];
        // A later mark or the final row replaces a mark; nothing replaces a final row (the
        // same row written twice).
        if (known.outcome == kAiringOnAir)
            known = *a;
    }
    for (Airing& a : airings) {
        if (a.outcome != kAiringOnAir)
            continue;
        // A mark made after midnight belongs to the day after the start.
        const QDate mark_day = a.end < a.start ? a.date.addDays(1) : a.date;
        const qint64 age = a.end.isValid() && now.isValid() ? QDateTime(mark_day, a.end).msecsTo(now) : -1;
        if (age >= 0 && age <= kStillOnAirMs)
            continue;
        a.outcome = kAiringCut;
        a.detail = kProgramStopped;
    }
    return airings;
}

std::vector<Airing> read_airings(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return read_airings_from(file.readAll(), clock().now());
}

} // namespace miravox
