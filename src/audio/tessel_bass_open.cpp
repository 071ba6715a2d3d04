// Opening sources on a channel and bringing up its device.

#include "tessel_bass.h"

#include "clock.h"
#include "dialog_service.h"
#include "engine_state.h"
#include "error_log.h"
#include "error_state.h"
#include "threaded_timer.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

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
    if (text.contains("://")) {
        OpenWeb(text, {});
        return;
    }
    release_for_open();
    open_local(text, text.toUpper());
}

// Before any open: the pending open is dropped, the source in hand stopped and freed, and the
// channel's device and buffer are the library's current ones.
void TTesselBass::release_for_open() {
    if (!Timer_playing)
        create_playing_timer();
    AbandonOpen();
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
}

namespace miravox {

// What a channel and the thread opening an address for it share. The thread fills in the
// result; whoever finds `abandoned` set when it holds the stream frees it.
struct PendingOpen {
    std::mutex mutex;
    bool abandoned = false;
    bool done = false;
    HSTREAM stream = 0;
    int code = 0;
};

} // namespace miravox

namespace {

using miravox::PendingOpen;

// Posted by an opening thread when its result is in.
const QEvent::Type kOpenArrived = QEvent::Type(QEvent::User + 22);

enum class NetworkKind { WindowsMedia, Hls, Plain };

NetworkKind kind_of(const QString& upper) {
    if (upper.contains(".WMV") || upper.contains("MMS:"))
        return NetworkKind::WindowsMedia;
    if (upper.contains(".M3U8"))
        return NetworkKind::Hls;
    return NetworkKind::Plain;
}

// The threads opening addresses. Streams come from the engine, so the engine must outlive
// them: the program's end waits for those still opening (each is bounded by the network
// time-outs) before the engine goes away. Created at the first open, after the engine, and
// so destroyed before it.
class OpeningThreads {
  public:
    ~OpeningThreads() {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return running_ == 0; });
    }
    void start(std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            ++running_;
        }
        std::thread([this, work = std::move(work)] {
            work();
            std::lock_guard lock(mutex_);
            --running_;
            idle_.notify_all();
        }).detach();
    }

  private:
    std::mutex mutex_;
    std::condition_variable idle_;
    int running_ = 0;
};

OpeningThreads& opening_threads() {
    static OpeningThreads threads;
    return threads;
}

// The library's current device is one for the process and the main thread moves it for the
// other channels: each create of this thread names its own device first.
void use_device(DWORD device) {
    if (BASS_GetDevice() != device)
        BASS_SetDevice(device);
}

// The blocking open, on the opening thread; the library's last error of this thread tells
// how it went. The options it depends on were set by the main thread before it started.
HSTREAM open_by_kind(const std::u16string& address, NetworkKind kind, DWORD device) {
    const char16_t* url = address.c_str();
    use_device(device);
    if (kind == NetworkKind::WindowsMedia)
        return BASS_WMA_StreamCreateFile(FALSE, url, 0, 0, kNetworkFlags);

    if (kind == NetworkKind::Hls) {
        HSTREAM stream = BASS_HLS_StreamCreateURL(url, kNetworkFlags, nullptr, nullptr);
        for (int pass = 1; pass <= kHlsPasses; ++pass) {
            // The retries are for playlists that fail fast. A server that let a whole time-out
            // pass will not answer 200 ms later.
            if (BASS_ErrorGetCode() == BASS_ERROR_TIMEOUT)
                break;
            if (BASS_ErrorGetCode() != 0 && stream == 0) {
                BASS_StreamFree(stream);
                use_device(device);
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
    for (const auto create : {BASS_AAC_StreamCreateURL, BASS_OPUS_StreamCreateURL}) {
        if (BASS_ErrorGetCode() == 0)
            break;
        BASS_StreamFree(stream);
        use_device(device);
        stream = create(url, 0, kNetworkFlags, nullptr, nullptr);
        miravox::sleep_program_ms(kRetryPauseMs);
    }
    return stream;
}

// Frees a stream without changing the calling thread's last error, which the caller's next
// step may still read.
void free_quietly(HSTREAM stream) {
    if (stream == 0)
        return;
    const int code = BASS_ErrorGetCode();
    BASS_StreamFree(stream);
    miravox::soundlib::set_error(code);
}

} // namespace

void TTesselBass::AbandonOpen() {
    if (!pending_open_)
        return;
    const std::shared_ptr<PendingOpen> open = std::move(pending_open_);
    pending_open_.reset();
    pending_address_.clear();
    pending_applied_ = nullptr;
    std::lock_guard lock(open->mutex);
    open->abandoned = true;
    if (open->done) {
        // Come but not applied yet: its event finds it abandoned.
        free_quietly(open->stream);
        open->stream = 0;
    }
}

void TTesselBass::OpenWeb(const QString& address, std::function<void(int code)> applied) {
    release_for_open();
    open_network(address, address.toUpper(), std::move(applied));
}

void TTesselBass::open_network(const QString& address, const QString& upper, std::function<void(int)> applied) {
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, wbufferOutNet);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, wbufferReadNet);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_WMA_PREBUF, 0);
    BASS_SetConfigPtr(BASS_CONFIG_NET_AGENT, "Miravox");
    const NetworkKind kind = kind_of(upper);
    if (kind == NetworkKind::Hls) {
        BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
        BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 10000);
    }
    wct_erro_web = 0;

    auto open = std::make_shared<PendingOpen>();
    pending_open_ = open;
    pending_address_ = address;
    pending_applied_ = std::move(applied);
    TTesselBass* const self = this;
    const std::u16string url(reinterpret_cast<const char16_t*>(address.utf16()), size_t(address.size()));
    const DWORD device = wdevice;
    opening_threads().start([open, self, url, kind, device] {
        const HSTREAM stream = open_by_kind(url, kind, device);
        const int code = BASS_ErrorGetCode();
        std::lock_guard lock(open->mutex);
        if (open->abandoned) {
            free_quietly(stream);
            return;
        }
        open->done = true;
        open->stream = stream;
        open->code = code;
        // Not abandoned, so the channel is still there (its end abandons first); a channel gone
        // before the event is delivered takes the event with it and has freed the stream.
        QCoreApplication::postEvent(self, new QEvent(kOpenArrived));
    });
}

void TTesselBass::customEvent(QEvent* event) {
    if (event->type() != kOpenArrived || !pending_open_)
        return;
    const std::shared_ptr<PendingOpen> open = pending_open_;
    HSTREAM stream = 0;
    int code = 0;
    {
        std::lock_guard lock(open->mutex);
        if (!open->done) // the event of an open abandoned since
            return;
        stream = open->stream;
        code = open->code;
        open->stream = 0;
    }
    pending_open_.reset();
    const QString address = std::move(pending_address_);
    const std::function<void(int)> applied = std::move(pending_applied_);
    pending_address_.clear();
    pending_applied_ = nullptr;
    apply_network_open(address, stream, code);
    if (applied)
        applied(code);
}

void TTesselBass::apply_network_open(const QString& address, HSTREAM stream, int code) {
    // The open's outcome as the main thread's last error, as right after a blocking open.
    miravox::soundlib::set_error(code);
    wCanal = stream;
    if (BASS_ErrorGetCode() == 0) {
        if (wCanal != 0) {
            wcarregado = true;
            set_web_state(0);
        } else {
            set_web_state(1);
            SALVA_LOG_ERRO("Carregar HTTP (WCANAL=0)", code);
            BASS_StreamFree(wCanal);
        }
    }
    if (const int now = BASS_ErrorGetCode(); now != 0 || wCanal == 0) {
        // The previous source stays named, so that FilePath still tells what played last.
        set_web_state(1);
        SALVA_LOG_ERRO("Carregar HTTP", now);
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
