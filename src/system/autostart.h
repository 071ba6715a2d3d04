#pragma once
// Starting the program with the user's session: an XDG autostart entry "<name>.desktop" in
// the user's autostart folder ($XDG_CONFIG_HOME/autostart, or ~/.config/autostart when that
// variable is unset or not absolute). The desktop session reads every entry there at login
// and runs its Exec line in its Path folder.
//
// Unlike a shell link that silently fails to save, every routine here reports whether it did
// what was asked, so a station never believes it will come back after a power cut when it
// will not.
//
// Thread rules: plain functions without shared state; main thread in practice.

#include <QString>
#include <QStringList>

namespace miravox {

// The name every caller gives the entry.
inline const QString kAutostartName = QStringLiteral("Oravel Mira-Vox");

// The user's autostart folder, without a trailing separator.
QString autostart_folder();

// The entry file of `name`: the autostart folder + "/" + name + ".desktop".
QString autostart_entry_path(const QString& name);

// The lines of the entry that runs `target` with `arguments` (a command-line text, added as
// it is) in `working_folder`. When the working folder is not the target's own folder, the
// entry also names it as the program folder (MIRAVOX_HOME), so the station that asked for
// the entry is the one that starts.
QStringList autostart_entry_lines(const QString& target, const QString& arguments,
                                  const QString& working_folder, const QString& name);

// Quotes one argument for an Exec line (reserved characters escaped inside double quotes,
// then the desktop-file string escapes and "%%").
QString desktop_exec_argument(const QString& argument);

} // namespace miravox

// Writes the entry (atomically, UTF-8, LF line ends), creating the folder when missing.
// False when the folder or the file cannot be written; the reason goes to *error.
bool CRIA_ATALHO(const QString& target, const QString& arguments, const QString& working_folder,
                 const QString& name, QString* error = nullptr);

// Deletes the entry if it exists. False only when it exists and cannot be deleted.
bool APAGA_ATALHO(const QString& name, QString* error = nullptr);

// Whether the entry file exists.
bool EXISTE_ATALHO(const QString& name);
