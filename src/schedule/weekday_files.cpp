#include "weekday_files.h"

#include "record_fields.h"
#include "text_file.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace miravox {

int weekday_number(const QDate& date) { return date.dayOfWeek() % 7 + 1; }

QString weekday_file_name(const QString& data_folder, int weekday, const QString& extension) {
    return data_folder + PREENCHE_ZEROS(QString::number(weekday), 2) + extension;
}

WeekdayFile read_weekday_file(const QString& path, bool sorted) {
    WeekdayFile result;
    result.exists = QFileInfo(path).isFile();
    if (!result.exists)
        return result;
    QString error;
    if (auto file = read_text_file(path, &error)) {
        result.lines = file->lines;
        if (sorted)
            sort_lines(result.lines);
    } else {
        result.error = error;
    }
    return result;
}

QDate parse_date(const QString& text) {
    static const QRegularExpression pattern(R"(^\s*(\d{1,2})/(\d{1,2})/(\d{2}|\d{4})\s*$)");
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return {};
    int year = m.captured(3).toInt();
    if (m.captured(3).size() == 2)
        year += 2000;
    return QDate(year, m.captured(2).toInt(), m.captured(1).toInt());
}

std::optional<QTime> parse_stored_time(const QString& text, QString* error) {
    static const QRegularExpression pattern(R"(^\s*(\d{1,2}):(\d{1,2}):(\d{1,2})\s*$)");
    const QRegularExpressionMatch m = pattern.match(text);
    std::optional<QTime> time;
    if (m.hasMatch() && m.captured(1).toInt() <= 23 && m.captured(2).toInt() <= 59 && m.captured(3).toInt() <= 59)
        time = QTime(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!time && error)
        *error = "'" + text + "' não é um horário válido";
    return time;
}

QString find_trigger(const QStringList& lines, const QString& minute, const QDate& today) {
    const auto due = parse_stored_time(minute.trimmed() + ":00");
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        const QString& line = lines[i];
        // "9:30" written by hand is the minute 09:30, as the editor reads it.
        if (!due || parse_stored_time(PEGA_CAMPO(1, line).trimmed() + ":00") != due)
            continue;
        QDate first = parse_date(PEGA_CAMPO(2, line));
        if (!first.isValid())
            first = today.addDays(1);
        if (today < first)
            continue;
        QDate last = parse_date(PEGA_CAMPO(3, line));
        if (!last.isValid())
            last = today.addDays(-1);
        if (today > last)
            continue;
        return line;
    }
    return {};
}

} // namespace miravox
