#include "engine_state.h"

#include "clock.h"
#include "dialog_service.h"
#include "error_log.h"
#include "program_folder.h"
#include "soundlib.h"
#include "text_file.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// The order in which a re-initialisation reloads the plug-ins (start-up uses kPluginFiles).
const QStringList kPluginReloadOrder = {"basshls.dll", "bass_aac.dll", "bassopus.dll"};

constexpr int kMaxListedDevices = 10;

struct LostDevice {
    std::int16_t device;
    int code;      // the library's error when it was lost
    bool reported; // its outage is in the logs
};
std::vector<LostDevice> lost;
std::vector<std::int16_t> lost_numbers; // the same, for lost_devices()
qint64 next_retry_ms = 0;

void update_lost_numbers() {
    lost_numbers.clear();
    for (const LostDevice& d : lost)
        lost_numbers.push_back(d.device);
}

void mark_lost(std::int16_t device, int code) {
    if (std::none_of(lost.begin(), lost.end(), [&](const LostDevice& d) { return d.device == device; })) {
        lost.push_back({device, code, false});
        update_lost_numbers();
    }
    next_retry_ms = miravox::clock().now_ms() + miravox::kDeviceRetryMs;
}

void mark_back(std::int16_t device) {
    std::erase_if(lost, [&](const LostDevice& d) { return d.device == device; });
    update_lost_numbers();
}

QString device_text(std::int16_t device) {
    return "Device (" + QString::number(device) + ")";
}

// A device that vanished cannot be made current; it is not freed then, since freeing would hit
// whichever device is still current.
void release(std::int16_t device) {
    BASS_PluginFree(0);
    if (BASS_SetDevice(DWORD(device)))
        BASS_Free();
}

void bring_up(std::int16_t device, void* handle, miravox::DialogService& dialogs) {
    if (BASS_Init(device, 44100, 0, handle, nullptr)) {
        BASS_SetDevice(DWORD(device));
        mark_back(device);
    } else {
        mark_lost(device, BASS_ErrorGetCode());
        dialogs.notice("Inicialização da Device (" + QString::number(device) + ") com Problemas - UPDATE 2");
    }
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
        miravox::clear_device_errors();
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

void clear_device_errors() {
    wct_play_sem_update = 0;
    wct_playing = 0;
    wct_erro_criar = 0;
    wct_erro_play = 0;
    BASS_ERRO_WEB = 0;
    BASS_ERRO_HANDLE = 0;
    BASS_ERRO_BUFFER = false;
}

const std::vector<std::int16_t>& lost_devices() {
    return lost_numbers;
}

bool device_lost(int device) {
    return std::find(lost_numbers.begin(), lost_numbers.end(), device) != lost_numbers.end();
}

bool retry_lost_devices(void* handle, DialogService& dialogs,
                        const std::function<void(const QString&)>& log) {
    if (lost.empty())
        return false;
    for (LostDevice& d : lost) {
        if (d.reported)
            continue;
        d.reported = true;
        const QString text = "Inicialização da " + device_text(d.device) + " com Problemas";
        log(text + " - nova tentativa a cada " + QString::number(kDeviceRetryMs / 1000) + " s");
        append_error_log(text, d.code, QString(), dialogs);
    }
    // A clock set back must not put the next attempt off by as much.
    const qint64 now = clock().now_ms();
    if (now < next_retry_ms && next_retry_ms - now <= kDeviceRetryMs)
        return false;
    next_retry_ms = now + kDeviceRetryMs;
    // Fails at once while the system's devices are away: the engine finds them again by itself.
    // One device back is enough to start the air again; a card lost for good is still tried.
    bool back = false;
    for (const LostDevice& d : std::vector<LostDevice>(lost)) {
        if (!BASS_Init(d.device, 44100, 0, handle, nullptr) && BASS_ErrorGetCode() != BASS_ERROR_ALREADY)
            continue;
        BASS_SetDevice(DWORD(d.device));
        log(device_text(d.device) + " de volta");
        mark_back(d.device);
        back = true;
    }
    return back;
}

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
