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
    // Installed from the package, the executable lives in a system folder nobody may write to:
    // the station is then the user's own ~/miravox.
    const QString own = QCoreApplication::applicationDirPath();
    if (own.startsWith("/usr/"))
        return with_trailing_separator(QDir::homePath() + "/miravox");
    return with_trailing_separator(own);
}

} // namespace miravox
