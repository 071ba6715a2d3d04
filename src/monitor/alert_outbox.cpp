#include "alert_outbox.h"

#include "text_file.h"

#include <QFile>

namespace miravox {

namespace {

const QString kHeader =
    QStringLiteral("# Miravox: avisos ainda não enviados (evento, hora, estação, texto, detalhe, retidos)");

// Fields are separated by tabs; a tab, a line break or a backslash inside one is escaped.
QString escape(const QString& field) {
    QString out;
    out.reserve(field.size());
    for (const QChar c : field) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::optional<QStringList> split_fields(const QString& line) {
    QStringList fields{QString()};
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == '\t') {
            fields << QString();
        } else if (c == '\\') {
            if (++i >= line.size())
                return std::nullopt;
            const QChar e = line[i];
            if (e == 't')
                fields.back() += '\t';
            else if (e == 'n')
                fields.back() += '\n';
            else if (e == 'r')
                fields.back() += '\r';
            else if (e == '\\')
                fields.back() += '\\';
            else
                return std::nullopt;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

} // namespace

QString AlertOutbox::to_line(const Alert& alert) {
    return QStringList{escape(alert.event),   alert.when.toString(Qt::ISODateWithMs),
                       escape(alert.station), escape(alert.text),
                       escape(alert.detail),  QString::number(alert.held_back)}
        .join('\t');
}

std::optional<Alert> AlertOutbox::from_line(const QString& line) {
    const auto fields = split_fields(line);
    if (!fields || fields->size() != 6)
        return std::nullopt;
    Alert alert;
    alert.event = (*fields)[0];
    alert.when = QDateTime::fromString((*fields)[1], Qt::ISODateWithMs);
    alert.station = (*fields)[2];
    alert.text = (*fields)[3];
    alert.detail = (*fields)[4];
    bool ok = false;
    alert.held_back = (*fields)[5].toInt(&ok);
    if (alert.event.isEmpty() || !alert.when.isValid() || !ok)
        return std::nullopt;
    return alert;
}

void AlertOutbox::load(int* skipped) {
    int bad = 0;
    std::deque<Alert> earlier;
    if (!file_.isEmpty())
        if (const auto file = read_text_file(file_))
            for (const QString& line : file->lines) {
                if (line.isEmpty() || line.startsWith('#'))
                    continue;
                if (auto alert = from_line(line))
                    earlier.push_back(std::move(*alert));
                else
                    ++bad;
            }
    if (skipped)
        *skipped = bad;
    loaded_ = true;
    if (earlier.empty()) {
        save();
        return;
    }
    alerts_.insert(alerts_.begin(), earlier.begin(), earlier.end());
    while (alerts_.size() > kCapacity) {
        alerts_.pop_front();
        ++dropped_;
    }
    save();
}

void AlertOutbox::push(Alert alert) {
    alerts_.push_back(std::move(alert));
    while (alerts_.size() > kCapacity) {
        alerts_.pop_front();
        ++dropped_;
    }
    save();
}

void AlertOutbox::sent() {
    if (!alerts_.empty())
        alerts_.pop_front();
    failures_ = 0;
    next_try_ms_ = 0;
    save();
}

qint64 AlertOutbox::failed(qint64 now_ms) {
    const qint64 pause = pause_ms(++failures_);
    next_try_ms_ = now_ms + pause;
    return pause;
}

qint64 AlertOutbox::pause_ms(int failures) {
    qint64 pause = kFirstPauseMs;
    for (int i = 1; i < failures && pause < kLongestPauseMs; ++i)
        pause *= 2;
    return std::min(pause, kLongestPauseMs);
}

void AlertOutbox::save() {
    if (file_.isEmpty() || !loaded_)
        return; // what an earlier run left must be read before the file is rewritten
    if (alerts_.empty()) {
        QFile::remove(file_);
        return;
    }
    QStringList lines{kHeader};
    for (const Alert& alert : alerts_)
        lines << to_line(alert);
    // UTF-8: a stream's name or an error text may hold what Windows-1252 cannot.
    write_text_file(file_, lines, TextEncoding::Utf8Bom);
}

} // namespace miravox
