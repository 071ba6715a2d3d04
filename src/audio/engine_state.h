#pragma once
// Engine-wide state shared by every audio channel: which devices are up, the error flags the
// main window acts on, and the diagnostic counters written to the engine error log. Also the
// two routines that work on all devices at once: re-initialisation and the device list.
//
// The counters keep the narrow widths they have always had, so a counter that is decremented
// more often than incremented (a paused channel that is then stopped, a freed network stream)
// shows up as a negative number in the diagnostics instead of a huge unsigned one.
//
// Thread rules: main thread only. These are plain variables on purpose: every reader and
// writer runs on the main thread (timer handlers included).

#include <QDate>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace miravox {
class DialogService;
}

// Devices initialised so far, in the order of their first CriaCanal. Only grows.
inline std::vector<std::int16_t> wlista_devices;
// Working copy of the day's engine error log; created by the first channel of the process
// (its existence marks that the first channel has been constructed).
inline std::unique_ptr<QStringList> wlista_erros;
// When the first channel was constructed.
inline QDate wdata_inicio;
inline QTime whora_inicio;

// True exactly while ATUALIZA_DEVICE runs.
inline bool BASS_UPDATING = false;
// A channel's progress check found its position stuck; the main window re-initialises.
inline bool BASS_ERRO_BUFFER = false;
// 0 last network open succeeded, 1 it failed, 2 a network source was lost while playing.
inline std::uint16_t BASS_ERRO_WEB = 0;
// Local opens without handle, local opens failing with a lost buffer, failed updates.
inline std::uint16_t BASS_ERRO_HANDLE = 0;

inline std::int16_t wct_canais_criados = 0;    // completed CriaCanal minus destroyed channels
inline std::int16_t wct_playing = 0;           // successful Play minus stops and pauses
inline std::int16_t wct_play_sem_update = 0;   // successful Play since the last re-initialisation
inline std::int16_t wct_atualiza_device = 0;   // re-initialisations that found devices
inline std::int16_t wct_canais_carregados = 0; // local files opened minus streams freed
inline std::uint16_t wct_erro_criar = 0;       // local files that failed to open
inline std::uint16_t wct_erro_play = 0;        // failed starts

// Re-initialises every device of wlista_devices: frees them all, then brings each up again in
// list order (so the library finds the system's devices as they are now), handing it `handle`,
// reloads the format plug-ins and clears the error state and the per-run counters. The caller
// stops and frees its channels first. A device that does not come back is reported through
// `dialogs`, the routine goes on with the next one, and retry_lost_devices() tries it again.
void ATUALIZA_DEVICE(void* handle, miravox::DialogService& dialogs);

// Clears `list` and fills it with the names of the devices 1 to 10 the library knows.
void CARREGA_DEVICES(QStringList& list);

namespace miravox {

// The format plug-ins, as file names inside the program folder, in start-up order.
inline const QStringList kPluginFiles = {"bass_aac.dll", "bassopus.dll", "basshls.dll"};

// Sets the per-run counters and the error flags back to 0, as a re-initialisation does.
void clear_device_errors();

// Devices that a re-initialisation could not bring back (a sound server away, a card
// unplugged), in the order they were lost.
const std::vector<std::int16_t>& lost_devices();
bool device_lost(int device);

// How often retry_lost_devices() tries a lost device again, in program time.
inline constexpr qint64 kDeviceRetryMs = 3000;

// Called by the main tick. While a device is lost it is brought up again (with `handle`) every
// kDeviceRetryMs, without a box: an outage of the sound server may last minutes. One line per
// outage goes to `log` (the operation log) and one block to the engine error log when the loss is
// first seen, one line to `log` when the device is back. Returns true when one came back: the
// caller starts its channels again as after a re-initialisation (they were freed by the one that
// lost the device, or have failed on it since) and clears the error state.
bool retry_lost_devices(void* handle, DialogService& dialogs, const std::function<void(const QString&)>& log);

// Loads, in the given order, each plug-in whose file exists in the program folder.
void load_plugins(const QStringList& files);

// A name handed over by the library as 8-bit text: UTF-8 when it is valid UTF-8, otherwise
// Windows-1252.
QString from_8bit(const char* text);

} // namespace miravox
