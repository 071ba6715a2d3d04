#include "autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace miravox {

namespace {

// The string escapes every desktop-file value goes through.
QString escape_value(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The Exec field expands "%" codes; a literal percent sign is written twice.
QString escape_percent(const QString& text) {
    QString out = text;
    return out.replace('%', QStringLiteral("%%"));
}

QString clean_folder(const QString& folder) {
    return QDir::cleanPath(QDir::fromNativeSeparators(folder));
}

QString exec_line(const QString& target, const QString& arguments, const QString& working_folder) {
    QString line;
    const QString folder = clean_folder(working_folder);
    if (!folder.isEmpty() && folder != clean_folder(QFileInfo(target).absolutePath()))
        line = QStringLiteral("env ") + desktop_exec_argument("MIRAVOX_HOME=" + folder + '/') + ' ';
    line += desktop_exec_argument(target);
    if (!arguments.trimmed().isEmpty())
        line += ' ' + escape_percent(escape_value(arguments.trimmed()));
    return line;
}

} // namespace

QString autostart_folder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG base directory rules ignore a relative value.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/autostart"));
}

QString autostart_entry_path(const QString& name) {
    return autostart_folder() + '/' + name + ".desktop";
}

QString desktop_exec_argument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return escape_percent(escape_value(quoted));
}

QStringList autostart_entry_lines(const QString& target, const QString& arguments,
                                  const QString& working_folder, const QString& name) {
    QStringList lines{
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Version=1.0"),
        "Name=" + escape_value(name),
        "Exec=" + exec_line(target, arguments, working_folder),
    };
    if (!working_folder.trimmed().isEmpty())
        lines << "Path=" + escape_value(QDir::toNativeSeparators(clean_folder(working_folder)));
    lines << QStringLiteral("Terminal=false") << QStringLiteral("X-GNOME-Autostart-enabled=true");
    return lines;
}

} // namespace miravox

bool CRIA_ATALHO(const QString& target, const QString& arguments, const QString& working_folder,
                 const QString& name, QString* error) {
    const QString folder = miravox::autostart_folder();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = "cannot create " + folder;
        return false;
    }
    QSaveFile file(miravox::autostart_entry_path(name));
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QStringList lines = miravox::autostart_entry_lines(target, arguments, working_folder, name);
    const QByteArray content = (lines.join('\n') + '\n').toUtf8();
    if (file.write(content) != content.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool APAGA_ATALHO(const QString& name, QString* error) {
    QFile file(miravox::autostart_entry_path(name));
    if (!file.exists() || file.remove())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

bool EXISTE_ATALHO(const QString& name) {
    return QFileInfo::exists(miravox::autostart_entry_path(name));
}
