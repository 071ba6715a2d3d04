#pragma once
// Small shared routines of the shell.
// Thread rules: main thread only.

#include <QString>
#include <QStringList>

#include <functional>

namespace miravox {
class DialogService;
}

// Lets the window process its pending messages (timers keep ticking inside long work).
using PumpMessages = std::function<void()>;

// Adds the audio files (.MP3, .WAV, .WMA, any case) of `folder` matching `pattern` to `list`,
// upper-cased and without folder, then sorts the whole list. Subfolders are skipped; a
// missing or unreadable folder adds nothing. `pump` runs before each entry. With no list,
// shows "Lista de arquivos não foi criada".
void LISTA_AUDIOS(const QString& folder, const QString& pattern, QStringList* list,
                  miravox::DialogService& dialogs, const PumpMessages& pump = {});

// Gives freed memory back to the system, then lets the window process its messages.
void LIBERA_MEMORIA(const PumpMessages& pump = {});
