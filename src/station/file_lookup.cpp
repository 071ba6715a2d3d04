#include "file_lookup.h"

#include <QDir>
#include <QFileInfo>

namespace miravox {

QString find_file(const QString& folder, const QString& name) {
    if (name.trimmed().isEmpty())
        return {};
    const QString exact = folder + name;
    if (QFileInfo(exact).isFile())
        return exact;
    const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return folder + entry;
    return {};
}

} // namespace miravox
