#include "program_folder.h"

#include <QCoreApplication>
#include <QDir>

namespace miravox {

static QString with_trailing_separator(QString folder) {
    if (!folder.endsWith('/') && !folder.endsWith('\\'))
        folder += '/';
    return folder;
}

QString program_folder() {
    const QString home = qEnvironmentVariable("MIRAVOX_HOME");
    if (!home.trimmed().isEmpty())
        return with_trailing_separator(QDir::fromNativeSeparators(home.trimmed()));
    return with_trailing_separator(QCoreApplication::applicationDirPath());
}

} // namespace miravox
