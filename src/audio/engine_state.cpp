#include "engine_state.h"

#include "dialog_service.h"
#include "program_folder.h"
#include "soundlib.h"
#include "text_file.h"

#include <QFileInfo>

namespace {

// The order in which a re-initialisation reloads the plug-ins (start-up uses kPluginFiles).
const QStringList kPluginReloadOrder = {"basshls.dll", "bass_aac.dll", "bassopus.dll"};

constexpr int kMaxListedDevices = 10;

// A device that vanished cannot be made current; it is not freed then, since freeing would hit
// whichever device is still current.
void release(std::int16_t device) {
    BASS_PluginFree(0);
    if (BASS_SetDevice(DWORD(device)))
        BASS_Free();
}

void bring_up(std::int16_t device, void* handle, miravox::DialogService& dialogs) {
    if (BASS_Init(device, 44100, 0, handle, nullptr))
        BASS_SetDevice(DWORD(device));
    else
        dialogs.notice("Inicialização da Device (" + QString::number(device) + ") com Problemas - UPDATE 2");
}

} // namespace

void ATUALIZA_DEVICE(void* handle, miravox::DialogService& dialogs) {
    BASS_UPDATING = true;
    if (!wlista_devices.empty()) {
        // Every device is freed before any is brought up again: once none is open, the library
        // reads the system's devices anew (a sound server that restarted, a card plugged in).
        // By index: a message box below runs a nested loop in which a channel may be brought up
        // and append to the list.
        for (std::size_t i = 0; i < wlista_devices.size(); ++i)
            release(wlista_devices[i]);
        for (std::size_t i = 0; i < wlista_devices.size(); ++i)
            bring_up(wlista_devices[i], handle, dialogs);
        miravox::load_plugins(kPluginReloadOrder);
        wct_play_sem_update = 0;
        wct_playing = 0;
        wct_erro_criar = 0;
        wct_erro_play = 0;
        BASS_ERRO_WEB = 0;
        BASS_ERRO_HANDLE = 0;
        BASS_ERRO_BUFFER = false;
        ++wct_atualiza_device;
    }
    BASS_UPDATING = false;
}

void CARREGA_DEVICES(QStringList& list) {
    list.clear();
    for (int device = 1; device <= kMaxListedDevices; ++device) {
        BASS_DEVICEINFO info{};
        if (BASS_GetDeviceInfo(DWORD(device), &info))
            list << miravox::from_8bit(info.name);
    }
}

namespace miravox {

void load_plugins(const QStringList& files) {
    for (const QString& file : files) {
        const QString path = PASTA_PROGRAMA() + file;
        if (QFileInfo::exists(path))
            BASS_PluginLoad(path.utf16(), BASS_UNICODE);
    }
}

QString from_8bit(const char* text) {
    if (!text)
        return {};
    return decode_text(QByteArray(text), nullptr, true);
}

} // namespace miravox
