#pragma once
// The station's settings: MIRAVOX.INI in the program folder, KEY=VALUE lines, read once at
// start into the program-wide values below and rewritten whole only by the setup dialog.
// Thread rules: main thread only.

#include "alert_policy.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>


// Program-wide configuration values, readable by every part of the program.
inline std::int32_t WTAMBR = 5000;       // playback buffer shown/edited by the setup dialog (ms)
inline std::int32_t WTAMBR_NET = 5000;   // network connection time-out of the web and cue channels (ms)
inline std::int32_t WDVTRA = 0;          // transmission device: position in the device list
inline std::int32_t WDVCUE = 0;          // cue device: position in the device list
inline bool WAUTO_DEVICE = false;        // pick both devices by name at start
inline std::int32_t WVOL_MAX = 100;      // normal level of web, commercial and music channels
inline std::int32_t WVOL_MIN = 30;       // ducked level while a commercial plays
inline QString WPATH_DADOS;              // data folder (schedules, LOGO.JPG), with trailing separator
inline QString WPATH_MUSICAS;            // local music folder, with trailing separator
inline QString WSENHA;                   // access password, unscrambled; blank = none
inline bool WACESSO = true;              // true while the window is unlocked
inline std::int32_t WSILENCIO = 0;       // dead-air watch: seconds of stream silence before it is cut; 0 = off
// The dead-air threshold when MIRAVOX.INI names none.
constexpr std::int32_t kDefaultSilenceDb = -50;
inline std::int32_t WSILENCIO_DB = kDefaultSilenceDb; // dead-air watch: the stream is silent below this peak (dBFS)
// How long a preferred link must deliver audio steadily, heard in the background, before the
// air goes back to it from a backup link, when MIRAVOX.INI names no RESERVA_RETORNO.
constexpr std::int32_t kDefaultBackupReturnS = 30;
inline std::int32_t WRESERVA_RETORNO = kDefaultBackupReturnS; // seconds; at least 1
// The status page and metrics server (by hand in MIRAVOX.INI): off while the port is 0.
inline const QString kDefaultPanelAddress = QStringLiteral("127.0.0.1");
inline std::int32_t WPAINEL_PORTA = 0;                 // PAINEL_PORTA: its TCP port; 0 = off
inline QString WPAINEL_ENDERECO = kDefaultPanelAddress; // PAINEL_ENDERECO: the address it listens on
inline QString WPAINEL_SENHA;                          // PAINEL_SENHA: the password every request needs; blank = none

// Alerts: a command run for each alert, the alert in its environment; empty = no alerts.
inline QString WALERTA_COMANDO;
constexpr std::int32_t kDefaultAlertDelayS = 60;     // a drop shorter than this sends nothing
constexpr std::int32_t kDefaultAlertIntervalS = 900; // the same alert at most once in this time
inline std::int32_t WALERTA_ATRASO = kDefaultAlertDelayS;
inline std::int32_t WALERTA_INTERVALO = kDefaultAlertIntervalS;
inline QString WESTACAO; // the station's name in alerts; blank = the program folder's name

namespace miravox {

class DialogService;

inline const QString kConfigFileName = QStringLiteral("MIRAVOX.INI");

// The scrambling key of the stored password; a member of the accepted-key table. With this key
// only bytes no one types (0x83, 0x8D, 0x90, undefined or rare in Windows-1252) scramble to a
// zero or line-break byte that the file could not hold.
constexpr int kPasswordKey = 893;

// Restores every value above to its built-in default (tests, start-up).
void reset_configuration();

// The lines of the configuration file at `path`; none when it is missing or unreadable. The
// program writes it in Windows-1252; one edited by hand on a UTF-8 desktop (accented folder
// names) is read as UTF-8 like the other text files, but the password line always comes back
// byte for byte, since its scrambled bytes are not text (an editor that opened the file as
// UTF-8 kept them as they were).
QStringList read_configuration_file(const QString& path);

// Reads the configuration lines into the values above, with `program_folder` (ending with a
// separator) as the base of the default folders. Does not touch the devices by name: the
// caller runs DETECTA_DEVICES when WAUTO_DEVICE is set.
void apply_configuration(const QStringList& lines, const QString& program_folder);

// The eleven lines the setup dialog writes, followed by the settings edited by hand (the
// dead-air watch's SILENCIO and SILENCIO_DB, the status server's PAINEL_PORTA, PAINEL_ENDERECO
// and PAINEL_SENHA, the alerts' ALERTA_* and ESTACAO, the backup links' RESERVA_RETORNO) that
// are not at their defaults, so a save keeps them.
// `tambr` and `tambr_net` are the values as typed; the folders are trimmed and given a trailing
// separator here when not blank; `scrambled_password` is the output of CODIFICA_SENHA (already
// 8-bit, one char per byte).
QStringList configuration_file_lines(const QString& tambr, const QString& tambr_net, int dvtra, int dvcue,
                                     int vol_max, int vol_min, const QString& path_dados,
                                     const QString& path_musicas, const QByteArray& scrambled_password);

// Why the dead-air settings are refused (a line for the operation log), or nothing when they
// are usable or the watch is off. A watch shorter than kMinSilenceSeconds would cut ordinary
// pauses in speech; a threshold outside kSilenceDbRange would take every quiet passage for dead
// air, or miss a silent encoder's noise floor.
constexpr std::int32_t kMinSilenceSeconds = 5;
constexpr std::int32_t kMinSilenceDb = -90;
constexpr std::int32_t kMaxSilenceDb = -20;
QString silence_settings_refusal();

// The station's name for the world outside: ESTACAO when set, else the program folder's name.
QString station_name();

// The alert settings as read (ALERTA_*, ESTACAO), with the logs folder of `program_folder`.
AlertSettings alert_settings(const QString& program_folder);

// Whether a password can be stored: its scrambled form must hold no line break or zero byte,
// which the line-oriented file cannot keep.
bool password_storable(const QByteArray& password);

// Whether `key` is in the table of accepted scrambling keys.
bool is_accepted_key(int key);

} // namespace miravox

// The value of `key` in `list`: the text after the first "=" of the first line containing
// key + "=" anywhere (case-sensitive), at most 255 characters, untrimmed; `default_value`
// when no line has it.
QString LE_CHAVE(const QStringList& list, const QString& key, const QString& default_value);

// The password scrambling pair on 8-bit text. CODIFICA_SENHA gives "CODIGO INCOMPATIVEL"
// for a key outside the accepted table; DECODIFICA_SENHA does not check the key.
QByteArray CODIFICA_SENHA(const QByteArray& text, int key);
QByteArray DECODIFICA_SENHA(const QByteArray& text, int key);

// Chooses WDVTRA and WDVCUE from device names (position p is device p + 1): the first name
// containing "PRINCIPAL" sets both, then the first containing "ESCUTA" sets the cue. With no
// device at all it shows "Não foi Detectado placa de som - Verifique" and changes nothing.
void DETECTA_DEVICES(const QStringList& device_names, miravox::DialogService& dialogs);
