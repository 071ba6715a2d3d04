#pragma once
// What the two schedule editors share: strict reading of the times an operator types, the
// checks that keep a typed value from breaking a record, and the read-modify-write of a weekday
// file that never loses its content (a file that cannot be read is never rewritten; a file that
// cannot be written stays as it was and the caller is told).
// Thread rules: plain functions without shared state; main thread in practice.

#include "text_file.h"
#include "weekday_files.h"

#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>
#include <optional>

class QLineEdit;

namespace miravox {

class DialogService;

// The filter of every audio file chooser of the editors.
inline const QString kAudioFileFilter = QStringLiteral("Arquivos de áudio (*.mp3 *.wav)");

// Runs the open-file dialog, starting in the folder of the file the edit names, and puts the
// chosen file's full name into the edit. Cancel changes nothing.
void choose_audio_file(QLineEdit* edit, DialogService& dialogs);

// An operator's time "HH:mm:ss": exactly two digits per part, 00..23, 00..59, 00..59.
// Anything else (a half-filled mask, 24:00:00, 19:61:00) is not a time. The editors store the
// first five characters of such a text, so only this exact shape may pass.
std::optional<QTime> parse_typed_time(const QString& text);

// The reading error of a date field, worded like that of a time.
QString date_read_error(const QString& text);

// True when `text` holds a character that would break a one-line, "|"-separated record:
// the field separator itself or a line break.
bool breaks_record(const QString& text);

// True when `text` holds a character that the weekday files, kept in Windows-1252, cannot hold:
// it would be stored as "?", and a file named so would never be found when due.
bool outside_code_page(const QString& text);

// The operator's messages for a weekday file that cannot be read, for a typed value that
// holds a character a record cannot keep, and for one that the file cannot hold.
QString read_failure_text(const QString& path, const QString& error);
QString record_breaker_text(const QString& what, const QString& typed);
QString code_page_text(const QString& what, const QString& typed);

// A weekday file loaded for editing, with the encoding to write it back in.
struct EditableFile {
    bool exists = false;
    QStringList lines; // in file order
    TextEncoding encoding = TextEncoding::Windows1252;
    QString error; // set when the file exists but could not be read
};

EditableFile load_for_edit(const QString& path);

// Adds `record` to the lines of `file`, sorts them as the weekday files are kept and rewrites
// the file at `path` in the encoding it was read in. False (and the operator told, the file
// unchanged) when it cannot be written.
bool append_and_save(const QString& path, EditableFile& file, const QString& record, DialogService& dialogs);

// Deletes one line of a weekday file: the file is read and sorted, `pick` chooses the index of
// the line to remove (-1 for none) and the file is rewritten without it. Returns the removed
// line (empty when `pick` chose none) for the caller to log, or nothing when the file is
// missing or empty, or could not be read or written (the operator is told, the file unchanged).
std::optional<QString> remove_line(const QString& path,
                                   const std::function<qsizetype(const QStringList&)>& pick,
                                   DialogService& dialogs);

// The index of the last line whose field 1 equals `start` exactly, or -1.
qsizetype last_line_with_start(const QStringList& lines, const QString& start);

// The index of the last line whose first `fields.size()` fields equal `fields`, or -1.
qsizetype last_line_with_fields(const QStringList& lines, const QStringList& fields);

} // namespace miravox
