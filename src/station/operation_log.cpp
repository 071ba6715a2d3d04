#include "operation_log.h"

#include "clock.h"
#include "record_fields.h"

#include <QFileInfo>

namespace miravox {

QString OperationLog::file_for(const QDate& day) const {
    return logs_folder_ + PREENCHE_ZEROS(QString::number(day.year()), 4) +
           PREENCHE_ZEROS(QString::number(day.month()), 2) + PREENCHE_ZEROS(QString::number(day.day()), 2) +
           ".NET";
}

void OperationLog::load_today() {
    if (auto file = read_text_file(file_for(clock().now().date()))) {
        wlista_logs = file->lines;
        encoding_ = file->encoding;
    }
}

void OperationLog::SALVA_LOGS(const QString& message) {
    const QDateTime now = clock().now();
    const QString path = file_for(now.date());
    if (!QFileInfo::exists(path)) {
        wlista_logs.clear();
        encoding_ = TextEncoding::Windows1252;
    }
    wlista_logs << '|' + now.toString("HH:mm:ss") + '|' + QString::number(wlista_logs.size()) + '|' + message +
                       '|';
    write_text_file(path, wlista_logs, encoding_);
}

} // namespace miravox
