// Opening sources on a channel and bringing up its device.

#include "tessel_bass.h"

#include "clock.h"
#include "dialog_service.h"
#include "engine_state.h"
#include "error_log.h"
#include "threaded_timer.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

constexpr int kPlayingTickMs = 60;
// Pause after each fallback or retry of a network open (program time).
constexpr unsigned long kRetryPauseMs = 200;
// HLS opens that fail are retried until this many passes have been counted.
constexpr int kHlsPasses = 31;
constexpr DWORD kNetworkFlags = BASS_UNICODE | BASS_STREAM_AUTOFREE;
// Software mixing, for the second attempt at a local file.
constexpr DWORD kSoftwareMixingFlags = BASS_UNICODE | BASS_SAMPLE_SOFTWARE;

} // namespace

namespace miravox {

QString name_part(const QString& path) {
    qsizetype cut = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
    if (cut < 0)
        cut = path.lastIndexOf(':');
    return path.mid(cut + 1);
}

} // namespace miravox

void TTesselBass::create_playing_timer() {
    Timer_playing = new TThreadedTimer(this);
    Timer_playing->setInterval(kPlayingTickMs);
    Timer_playing->setEnabled(false);
    Timer_playing->setThreadPriority(tpNormal);
    Timer_playing->OnTimer = [this](QObject* sender) { Timer_playingTimer(sender); };
}

void TTesselBass::setFileName(const QString& text) {
    if (!Timer_playing)
        create_playing_timer();
    if (wplaying && BASS_ChannelIsActive(wCanal) != BASS_ACTIVE_STOPPED)
        Stop();
    if (wcarregado)
        FreeFile();
    // Even a stream the library would not free is let go of here.
    wcarregado = false;
    wplaying = false;
    wstopfade = false;
    wIsWeb = false;
    wultima_posicao = -1;
    BASS_SetDevice(wdevice);
    BASS_SetConfig(BASS_CONFIG_BUFFER, wbuffer);
    const QString upper = text.toUpper();
    if (upper.contains("://"))
        open_network(text, upper);
    else
        open_local(text, upper);
}

HSTREAM TTesselBass::open_network_by_kind(const QString& address, const QString& upper) {
    const char16_t* url = reinterpret_cast<const char16_t*>(address.utf16());
    if (upper.contains(".WMV") || upper.contains("MMS:"))
        return BASS_WMA_StreamCreateFile(FALSE, url, 0, 0, kNetworkFlags);

    if (upper.contains(".M3U8")) {
        BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
        BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 10000);
        HSTREAM stream = BASS_HLS_StreamCreateURL(url, kNetworkFlags, nullptr, nullptr);
        for (int pass = 1; pass <= kHlsPasses; ++pass) {
            // The retries are for playlists that fail fast. A server that let a whole time-out
            // pass will not answer 200 ms later, and every retry would hold the main thread
            // (and with it every decision of the playout) for another time-out.
            if (BASS_ErrorGetCode() == BASS_ERROR_TIMEOUT)
                break;
            if (BASS_ErrorGetCode() != 0 && stream == 0) {
                BASS_StreamFree(stream);
                stream = BASS_HLS_StreamCreateURL(url, kNetworkFlags, nullptr, nullptr);
                miravox::sleep_program_ms(kRetryPauseMs);
            }
            if (BASS_ErrorGetCode() == 0 && stream != 0)
                break;
        }
        return stream;
    }

    // Plain address: the generic decoder first, then as AAC, then as Opus.
    HSTREAM stream = BASS_StreamCreateURL(url, 0, kNetworkFlags, nullptr, nullptr);
    if (BASS_ErrorGetCode() == BASS_ERROR_TIMEOUT)
        return stream; // another decoder cannot make a silent server answer
    if (BASS_ErrorGetCode() != 0) {
        BASS_StreamFree(stream);
        stream = BASS_AAC_StreamCreateURL(url, 0, kNetworkFlags, nullptr, nullptr);
        miravox::sleep_program_ms(kRetryPauseMs);
    }
    if (BASS_ErrorGetCode() != 0) {
        BASS_StreamFree(stream);
        stream = BASS_OPUS_StreamCreateURL(url, 0, kNetworkFlags, nullptr, nullptr);
        miravox::sleep_program_ms(kRetryPauseMs);
    }
    return stream;
}

void TTesselBass::open_network(const QString& address, const QString& upper) {
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, wbufferOutNet);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, wbufferReadNet);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_WMA_PREBUF, 0);
    BASS_SetConfigPtr(BASS_CONFIG_NET_AGENT, "Miravox");
    wct_erro_web = 0;

    wCanal = open_network_by_kind(address, upper);

    if (const int code = BASS_ErrorGetCode(); code == 0) {
        if (wCanal != 0) {
            wcarregado = true;
            set_web_state(0);
        } else {
            set_web_state(1);
            SALVA_LOG_ERRO("Carregar HTTP (WCANAL=0)", code);
            BASS_StreamFree(wCanal);
        }
    }
    if (const int code = BASS_ErrorGetCode(); code != 0 || wCanal == 0) {
        // The previous source stays named, so that FilePath still tells what played last.
        set_web_state(1);
        SALVA_LOG_ERRO("Carregar HTTP", code);
        // Freeing a handle that never came back would replace the open's error with "invalid
        // handle", and the caller reads the error to tell the operator why the link failed.
        if (wCanal != 0)
            BASS_StreamFree(wCanal);
        wCanal = 0;
        return;
    }
    wfilename = address;
    wfilepath = address;
    wIsWeb = true;
}

void TTesselBass::open_local(const QString& path, const QString& upper) {
    const char16_t* file = reinterpret_cast<const char16_t*>(path.utf16());
    const bool windows_media = upper.contains(".WMA");
    const auto create = [&](DWORD flags) {
        return windows_media ? BASS_WMA_StreamCreateFile(FALSE, file, 0, 0, flags)
                             : BASS_StreamCreateFile(FALSE, file, 0, 0, flags);
    };

    wCanal = create(windows_media ? BASS_UNICODE : BASS_UNICODE | DWORD(wcanal_flag));
    if (const int code = BASS_ErrorGetCode(); code != 0) {
        SALVA_LOG_ERRO("Carregar Arquivo (MIXAGEM PADRÃO): " + path, code);
        BASS_StreamFree(wCanal);
        wCanal = create(kSoftwareMixingFlags);
    }
    wfilename = miravox::name_part(path);
    wfilepath = path;

    const int code = BASS_ErrorGetCode();
    if (code == 0 && wCanal != 0) {
        wcarregado = true;
        wfilelength = std::uint32_t(bytes_to_ms(BASS_ChannelGetLength(wCanal, BASS_POS_BYTE)));
        ++wct_canais_carregados;
        return;
    }
    if (code == 0) {
        ++BASS_ERRO_HANDLE;
        SALVA_LOG_ERRO("Erro ao Carregar Arquivo (HND): " + path, code);
    } else {
        if (code == BASS_ERROR_BUFLOST) {
            ++BASS_ERRO_HANDLE;
            SALVA_LOG_ERRO("BUFFER PERDIDO OU ALTERAÇÃO DE PLACA DE SOM: " + path, code);
        }
        ++wct_erro_criar;
        SALVA_LOG_ERRO("Cerregar Canal", code);
        dialogs_.notice("ERRO AO CARREGAR CANAL:\n\nArquivo: " + path + "\n\nErro " +
                        TEXTO_ERRO_BS(std::int16_t(code)));
    }
    BASS_StreamFree(wCanal);
    wCanal = 0;
}

void TTesselBass::CriaCanal(int xdevice, bool CriaTag3d, void* xhandle, int xcanal_flag) {
    Q_UNUSED(CriaTag3d);
    if (Timer_playing)
        return;
    if ((BASS_GetVersion() >> 16) != BASSVERSION) {
        dialogs_.information("Versão incorreta TRXBS.DLL");
        // The bring-up goes on; the program ends when its event loop takes up the request.
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    }
    BASS_SetConfig(BASS_CONFIG_DEV_DEFAULT, 0);
    BASS_SetConfig(BASS_CONFIG_DEV_NONSTOP, 1);

    const auto device = std::int16_t(xdevice);
    if (std::find(wlista_devices.begin(), wlista_devices.end(), device) == wlista_devices.end()) {
        if (BASS_Init(xdevice, 44100, 0, xhandle, nullptr)) {
            wlista_devices.push_back(device);
        } else {
            const int code = BASS_ErrorGetCode();
            dialogs_.notice("Inicialização da Device(PLACA DE SOM) com Problemas\n" +
                            TEXTO_ERRO_BS(std::int16_t(code)));
            SALVA_LOG_ERRO("Inicialização da Device", code);
        }
    }
    miravox::load_plugins(miravox::kPluginFiles);
    setLoop(false);
    wdevice = std::uint32_t(xdevice);
    wdevice_descricao = BASS_GetDeviceDescription(device);
    wcanal_flag = xcanal_flag == 1   ? int(BASS_SAMPLE_SOFTWARE)
                  : xcanal_flag == 2 ? int(BASS_SAMPLE_FLOAT)
                                     : 0;
    ++wct_canais_criados;
}
