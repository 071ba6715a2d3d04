#pragma once
// The daily operation log: one numbered, timestamped line per playout decision, operator
// action and start or stop, in LOGS/YYYYMMDD.NET under the program folder. The whole day is
// kept in memory (wlista_logs) and the file is rewritten whole at every entry, so an entry
// is on disk when SALVA_LOGS returns.
// Thread rules: main thread only.

#include "text_file.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace miravox {

class OperationLog {
public:
    // `logs_folder` ends with a separator (the program folder + "LOGS/").
    explicit OperationLog(QString logs_folder) : logs_folder_(std::move(logs_folder)) {}

    // Continues today's file, if there is one, so numbering goes on across restarts.
    void load_today();

    // Appends one entry "|HH:mm:ss|N|message|". Never fails towards the caller: when the
    // file cannot be written the entry stays in memory only; when the day's file is missing
    // (a new day, or removed) the list starts afresh at number 0.
    void SALVA_LOGS(const QString& message);

    QString file_for(const QDate& day) const;
    const QString& logs_folder() const { return logs_folder_; }

    QStringList wlista_logs;

private:
    QString logs_folder_;
    TextEncoding encoding_ = TextEncoding::Windows1252;
};

} // namespace miravox
