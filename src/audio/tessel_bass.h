#pragma once
// TTesselBass: one audio channel. It holds at most one source (a local file or a network
// stream) on one sound device, plays, pauses, stops, fades out, loops and meters it, and
// raises OnStop whenever a loaded source stops. While it plays, its own threaded timer ticks
// every 60 ms: it pumps the library's output, checks that the position advances, carries out
// a fade step by step and stops the channel when a file has ended, the output has stalled or
// a network source has lost its connection. Failures go to the engine-wide state
// (engine_state.h) and to the day's engine error log (error_log.h); they are never thrown.
//
// Volumes are percentages (100 = the library's full volume), positions and lengths ms.
//
// Thread rules: main thread only. The playing tick is raised by the timer's worker thread but
// runs on the main thread, so it never overlaps another operation of the channel. OnStop runs
// inside whichever operation stopped the channel, possibly more than once per operation.
//
// Network opens. The library's opens of an address block for as long as a server makes them
// (time-outs, the AAC and Opus attempts, the HLS passes with their pauses): tens of seconds
// against a server that answers and then trickles. The channel runs them on a thread of its
// own and applies the result on the main thread when it comes, with the effects a blocking
// open has (error log, BASS_ERRO_WEB, the library's last error of the main thread set to the
// open's). One open is current per channel: a newer one, FreeFile, AbandonOpen or the
// channel's end abandons it, and its stream is freed when it comes, never applied. Stop does
// not: the playout stops an empty web channel on every tick while the stream is down.

#include "soundlib.h"

#include <QObject>
#include <QString>
#include <QTime>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class TThreadedTimer;

namespace miravox {
class DialogService;
}

namespace miravox {
// The upper-cased station name found in HTTP header lines (each ended by a zero byte, the
// series by an empty line): "icy-name:Radio Alfa" gives "RADIO ALFA". "Streaming" without one.
QString station_name_from_tags(const char* tags);
// The name part of a path: after the last "\" or "/", else after the last ":".
QString name_part(const QString& path);
} // namespace miravox

// Spectrum data handed to Getdata and GetVULevel (256 magnitudes and one spare).
using TFFTData = std::array<float, 257>;

namespace miravox {
struct PendingOpen;
}

class TTesselBass : public QObject {
  public:
    // The owner destroys the channel with itself. Message boxes go through `dialogs`, which
    // must outlive the channel.
    TTesselBass(QObject* AOwner, miravox::DialogService& dialogs);
    ~TTesselBass() override;

    // Brings up device `xdevice` for this channel (once per device and process), loads the
    // plug-ins and records the device. `xcanal_flag` 1 = software mixing, 2 = float samples
    // for local files. Does nothing once the channel has opened a source.
    void CriaCanal(int xdevice, bool CriaTag3d, void* xhandle, int xcanal_flag);

    void Play();
    void Stop();
    void Pause();
    void FreeFile();
    // FreeFile, then drops the playing timer so that CriaCanal may run again.
    void FreeFile_Timer();
    // Fades out over `Tempo` ms (shortened to end 50 ms before the end of a file), then stops.
    void StopFade(std::uint16_t Tempo);

    // A byte count as a duration, at 352 bytes per ms, to the second.
    QTime Tempo_Audio_bass(int Tamanho);
    // Spectrum of the playing stream into `xbuffer`; the library's result, or 0 when the
    // channel is not playing.
    int Getdata(TFFTData& xbuffer);
    // Two meter levels (0..114) from elements 6 (R) and 5 (L) of spectrum data; `R` and `L`
    // are left as they were when the channel is not playing.
    void GetVULevel(TFFTData& xbuffer, int& R, int& L);

    // The louder side's peak over the last 23 ms played, before the channel's volume (so a
    // faded or ducked source still reads its own level), in dBFS; -inf for digital silence or
    // when nothing plays.
    double PeakDb();

    bool IsWebConectado();
    // A network source the channel plays that sounds no more: its buffer has run dry (the
    // server sends nothing for now) or its stream has ended, and the loss is not declared yet.
    bool IsDry();
    // Fill of the download buffer in percent.
    int GetWebProgresso();
    // How far apart (ppm) the stream's server and the sound card have kept their clocks, once
    // they have differed for long enough to tell; 0 until then, or with no network source.
    float WebDriftNotice();
    // The network source's link is gone for good (closed by the server, silent past the read
    // time-out, ended) while what it buffered may still be playing.
    bool IsLinkLost();
    // The upper-cased icy-name of the stream, or "Streaming".
    QString GetWebStationName();

    QString DeviceName(int DeviceId);
    QString BASS_GetDeviceDescription(std::int16_t xdevice);

    // Raises OnStop if a handler is assigned.
    virtual void DoStop();

    // The playing tick. Public so that the owner's tests can drive it tick by tick.
    void Timer_playingTimer(QObject* Sender);

    // Properties.
    std::uint16_t Buffer() const { return wbuffer; }
    void setBuffer(std::uint16_t v) { wbuffer = v; }
    std::uint16_t BufferOutNet() const { return wbufferOutNet; }
    void setBufferOutNet(std::uint16_t v) { wbufferOutNet = v; }
    std::uint16_t BufferReadNet() const { return wbufferReadNet; }
    void setBufferReadNet(std::uint16_t v) { wbufferReadNet = v; }

    void setDeviceId(std::int8_t n);
    QString DeviceAtual() const { return wdevice_descricao; }
    int DeviceCount();

    bool Empty() const { return !wcarregado; }
    bool IsCarregado() const { return wcarregado; }
    bool IsFadind() const { return wstopfade; }
    bool isPaused() const { return wpaused; }
    bool isStarted() const { return wcarregado && wplaying; }
    bool isWeb() const { return wIsWeb; }

    std::uint32_t FileLength() const { return wfilelength; }
    QString FileName() const { return wfilename; }
    // Opens a source: a local file at once, or a network address (anything containing "://"),
    // which is left pending (IsOpening) until its result comes (see above).
    void setFileName(const QString& text);
    // Opens a network address as setFileName does; `applied` runs on the main thread once the
    // result is the channel's (loaded or not), with the open's error code, which is then also
    // the library's last error. Not run for an open that was abandoned.
    void OpenWeb(const QString& address, std::function<void(int code)> applied);
    // An address is being opened and its result has not been applied yet.
    bool IsOpening() const { return pending_open_ != nullptr; }
    // Drops the pending open, if any.
    void AbandonOpen();
    QString FilePath() const { return wfilepath; }

    std::uint16_t FormatoStream() const { return wtipo_stream; }
    void setFormatoStream(std::uint16_t v) { wtipo_stream = v; }
    QString NomeArquivo() const { return FArquivo; }
    void setNomeArquivo(const QString& v) { FArquivo = v; }
    QString TipoArquivo() const { return FTipoArquivo; }
    void setTipoArquivo(const QString& v) { FTipoArquivo = v; }
    int Tag() const { return Wtag; }
    void setTag(int v) { Wtag = v; }
    int Tag1() const { return Wtag1; }
    void setTag1(int v) { Wtag1 = v; }
    bool ResetPosition() const { return wResetPosition; }
    void setResetPosition(bool v) { wResetPosition = v; }
    // Whether this channel's network source is the one on air: its opens and its loss of
    // connection set the engine-wide BASS_ERRO_WEB, which steers the playout. A channel that
    // only pre-listens (the cue) leaves it alone, so testing a link never changes the air.
    bool ReportsWebState() const { return wreports_web_state; }
    void setReportsWebState(bool v) { wreports_web_state = v; }

    bool loop() const { return wloop; }
    void setLoop(bool v);

    // Reading refreshes the stored volume from the library; 0 with no source loaded.
    float Volume();
    // Dropped with no source loaded; not clamped.
    void setVolume(float x);

    int Position();
    void setPosition(int ms);

    std::uint32_t WebLength();
    int WebPosition();

    std::function<void(QObject* Sender)> OnStop;

  private:
    void SALVA_LOG_ERRO(const QString& text, int code);
    void raise_stop();
    void stream_freed();
    void create_playing_timer();
    void release_for_open();
    void open_network(const QString& address, const QString& upper, std::function<void(int)> applied);
    void apply_network_open(const QString& address, HSTREAM stream, int code);
    // The opening thread posts a bare event when its result is in: what it carries waits in
    // the shared PendingOpen, handed over under its lock.
    void customEvent(QEvent* event) override;
    void play_reopened();
    void started_playing();
    void open_local(const QString& path, const QString& upper);
    void watch_progress();
    void fade_step();
    // Connected and not stopped: what the source check and the progress check agree on.
    bool web_source_healthy();
    void check_web_source();
    void check_local_file();
    int bytes_to_ms(QWORD bytes);
    void set_web_state(std::uint16_t state);

    miravox::DialogService& dialogs_;

    int wct_erro_web = 0;
    std::uint16_t wbuffer = 3000;
    std::uint16_t wbufferOutNet = 0;
    std::uint16_t wbufferReadNet = 0;
    std::uint32_t wdevice = 0;
    int wcanal_flag = 0;
    QString wdevice_descricao;
    int Wtag = 0;
    int Wtag1 = 0;
    QString wfilename;
    QString wfilepath;
    std::uint32_t wfilelength = 0;
    std::uint16_t wtipo_stream = 0;
    bool wIsWeb = false;
    int wultima_posicao = 0;
    std::uint32_t wfreq = 44100;
    int wpan = 0;
    float wvol = 100.0f;
    float wvol_temp = 0.0f;
    int wct_volfade = 0;
    int wtempo_fade = 0;
    bool wloop = false;
    bool wstopfade = false;
    QString FArquivo;
    QString FTipoArquivo;
    bool wResetPosition = true;
    bool wreports_web_state = true;
    HSTREAM wCanal = 0;
    bool wcarregado = false;
    bool wplaying = false;
    bool wpaused = false;
    TThreadedTimer* Timer_playing = nullptr;
    std::shared_ptr<miravox::PendingOpen> pending_open_;
    QString pending_address_;
    std::function<void(int)> pending_applied_;
    // Real time of the last progress check: a faster clock keeps them apart in real time too.
    std::chrono::steady_clock::time_point last_progress_check_{};
};
