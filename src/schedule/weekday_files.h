#pragma once
// The weekday files of the data folder: NN.WEB (stream windows) and NN.DSP (commercial
// triggers), NN = 01 (Sunday) to 07 (Saturday). Pure logic, no widgets.

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>

namespace miravox {

// Weekday number of a date: 1 Sunday ... 7 Saturday.
int weekday_number(const QDate& date);

// data folder + "0N" + extension (".WEB" or ".DSP"); the folder is used as it is.
QString weekday_file_name(const QString& data_folder, int weekday, const QString& extension);

struct WeekdayFile {
    bool exists = false;
    QStringList lines; // sorted when read with read_weekday_file(..., true)
    QString error;     // set when the file exists but could not be read
};

// Reads a weekday file, sorted as the files are kept, or in file order.
WeekdayFile read_weekday_file(const QString& path, bool sorted);

// A DD/MM/YYYY date; invalid when it cannot be read.
QDate parse_date(const QString& text);

// A time read back from a weekday file: hours, minutes and seconds of one or two digits, as a
// hand-edited line may hold them ("9:30:00"). The editors and the playout read stored times
// through this alone, so that they agree. The error text names what could not be read.
std::optional<QTime> parse_stored_time(const QString& text, QString* error = nullptr);

// The trigger due at `minute` (HH:MM) on `today` among the lines of today's file: scanning from
// the last line up, the first whose time equals the minute and whose inclusive date range
// holds today. Unreadable dates never fire. Empty when none is due.
QString find_trigger(const QStringList& lines, const QString& minute, const QDate& today);

} // namespace miravox
