// Channel lifecycle, playback control, properties and the playing tick. Opening sources and
// bringing up devices are in tessel_bass_open.cpp.
//
// The order of library calls matters beyond their effect: the owner reads the library's last
// error code inside OnStop and right after an open, so each operation makes exactly its calls
// in its order and no others.

#include "tessel_bass.h"

#include "clock.h"
#include "engine_state.h"
#include "error_log.h"
#include "record_fields.h"
#include "threaded_timer.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Ticks between two progress checks of the playing position.
constexpr int kProgressCheckTicks = 100;
// Under a clock faster than real time (a simulated run) those ticks pass in six seconds divided by
// the rate (25 ms at 240 times): less than a busy machine may keep the threads that decode and
// play a source, or the simulated stream's server, waiting for a processor, and a source that
// only waited its turn would read as stalled. The checks are then also kept this far apart in
// real time, as they always are at real speed, where the ticks alone take six seconds.
constexpr auto kShortestRealProgressWindow = std::chrono::seconds(1);
// A fade whose volume has not moved for more than this many ticks is ended.
constexpr int kStuckFadeTicks = 50;
// Unhealthy ticks a network source is allowed before it is declared lost.
constexpr int kUnhealthyWebTicks = 60;

} // namespace

TTesselBass::TTesselBass(QObject* AOwner, miravox::DialogService& dialogs)
    : QObject(AOwner), dialogs_(dialogs) {
    wResetPosition = true;
    wbuffer = 3000;
    if (!wlista_erros) {
        // The first channel of the process: from here on the playing ticks drive the output.
        wlista_erros = std::make_unique<QStringList>();
        const QDateTime now = miravox::clock().now();
        wdata_inicio = now.date();
        whora_inicio = now.time();
        BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 0);
        BASS_SetConfig(BASS_CONFIG_UPDATETHREADS, 0);
    }
    wct_erro_criar = 0;
    wct_erro_play = 0;
    BASS_ERRO_WEB = 0;
    BASS_ERRO_HANDLE = 0;
    BASS_UPDATING = false;
    wfilelength = 0;
    wfreq = 44100;
    wvol = 100;
    wpan = 0;
}

TTesselBass::~TTesselBass() {
    AbandonOpen();
    wcarregado = false;
    delete Timer_playing;
    Timer_playing = nullptr;
    BASS_StreamFree(wCanal);
    --wct_canais_criados;
}

void TTesselBass::DoStop() {
    raise_stop();
}

void TTesselBass::raise_stop() {
    // A copy: the handler may assign another handler while it runs.
    const auto handler = OnStop;
    if (handler)
        handler(this);
}

void TTesselBass::Play() {
    if (!wcarregado || BASS_ChannelIsActive(wCanal) == BASS_ACTIVE_PLAYING)
        return;
    setVolume(wvol);
    wpaused = false;
    wplaying = true;
    wstopfade = false;
    wct_volfade = 0;
    BASS_ChannelPlay(wCanal, FALSE);
    if (const int code = BASS_ErrorGetCode(); code != 0) {
        // Restart the device's output and reopen the source once.
        ++wct_erro_play;
        SALVA_LOG_ERRO("PLAY", code);
        BASS_Stop();
        BASS_Start();
        FreeFile();
        if (wfilepath.contains("://")) {
            // The second try follows when the address has opened again.
            OpenWeb(wfilepath, [this](int) { play_reopened(); });
            return;
        }
        setFileName(wfilepath);
        play_reopened();
        return;
    }
    started_playing();
}

void TTesselBass::play_reopened() {
    if (wcarregado) {
        setVolume(wvol);
        wpaused = false;
        wplaying = true;
        wct_volfade = 0;
        BASS_ChannelPlay(wCanal, FALSE);
        if (const int again = BASS_ErrorGetCode(); again != 0) {
            ++wct_erro_play;
            SALVA_LOG_ERRO("PLAY 2 ", again);
        } else {
            wct_erro_play = 0;
        }
    }
    // A reopen that failed leaves nothing to tick over, whatever the last call reported.
    if (BASS_ErrorGetCode() != 0 || !wcarregado)
        return;
    started_playing();
}

void TTesselBass::started_playing() {
    if (Timer_playing)
        Timer_playing->setEnabled(true);
    ++wct_playing;
    ++wct_play_sem_update;
    setLoop(wloop);
}

void TTesselBass::Stop() {
    const bool was_started = isStarted();
    setLoop(false);
    wplaying = false;
    if (!wcarregado)
        return;
    BASS_ChannelStop(wCanal);
    if (wResetPosition) {
        BASS_ChannelSetPosition(wCanal, 0, BASS_POS_BYTE);
        wultima_posicao = -1;
    }
    wpaused = false;
    wstopfade = false;
    if (BASS_ChannelIsActive(wCanal) != BASS_ACTIVE_STOPPED)
        BASS_ChannelStop(wCanal);
    if (BASS_ChannelIsActive(wCanal) == BASS_ACTIVE_STOPPED && was_started)
        --wct_playing;
    if (Timer_playing)
        Timer_playing->setEnabled(false);
    raise_stop();
}

void TTesselBass::Pause() {
    if (!wcarregado)
        return;
    if (BASS_ChannelIsActive(wCanal) == BASS_ACTIVE_PLAYING)
        --wct_playing;
    BASS_ChannelPause(wCanal);
    wpaused = true;
    if (Timer_playing)
        Timer_playing->setEnabled(false);
}

void TTesselBass::stream_freed() {
    wcarregado = false;
    --wct_canais_carregados;
    wCanal = 0;
}

void TTesselBass::FreeFile() {
    AbandonOpen();
    if (wplaying && BASS_ChannelIsActive(wCanal) != BASS_ACTIVE_STOPPED) {
        BASS_ChannelStop(wCanal);
        setLoop(false);
        wplaying = false;
        wpaused = false;
        wstopfade = false;
        if (BASS_ChannelIsActive(wCanal) == BASS_ACTIVE_STOPPED)
            --wct_playing;
    }
    if (wcarregado) {
        if (BASS_StreamFree(wCanal)) {
            stream_freed();
        } else {
            // Refused: stop it and ask once more. The owner hears of it either way.
            BASS_ChannelStop(wCanal);
            if (BASS_StreamFree(wCanal))
                stream_freed();
            raise_stop();
        }
    }
    if (Timer_playing)
        Timer_playing->setEnabled(false);
}

void TTesselBass::FreeFile_Timer() {
    FreeFile();
    delete Timer_playing;
    Timer_playing = nullptr;
}

void TTesselBass::setLoop(bool v) {
    wloop = v;
    if (wplaying && wcarregado && !wpaused)
        BASS_ChannelFlags(wCanal, v ? BASS_SAMPLE_LOOP : 0, BASS_SAMPLE_LOOP);
    wultima_posicao = -1;
}

float TTesselBass::Volume() {
    if (!wcarregado)
        return 0;
    float v = 0;
    if (!BASS_ChannelGetAttribute(wCanal, BASS_ATTRIB_VOL, &v))
        v = 1.0f;
    wvol = v * 100;
    return wvol;
}

void TTesselBass::setVolume(float x) {
    if (!wcarregado)
        return;
    BASS_ChannelSetAttribute(wCanal, BASS_ATTRIB_VOL, x / 100);
    wvol = x;
}

int TTesselBass::bytes_to_ms(QWORD bytes) {
    if (bytes == QWORD(-1)) // the library could not tell
        return 0;
    const double ms = BASS_ChannelBytes2Seconds(wCanal, bytes) * 1000;
    if (!(ms > 0))
        return 0;
    return ms >= double(INT_MAX) ? INT_MAX : int(ms);
}

int TTesselBass::Position() {
    if (!wcarregado)
        return 0;
    return bytes_to_ms(BASS_ChannelGetPosition(wCanal, BASS_POS_BYTE));
}

void TTesselBass::setPosition(int ms) {
    if (!wcarregado)
        return;
    const QWORD bytes = BASS_ChannelSeconds2Bytes(wCanal, ms / 1000.0);
    // The position passes as a signed 32-bit count, sign-extended.
    const std::int32_t low = std::int32_t(std::uint32_t(bytes));
    BASS_ChannelSetPosition(wCanal, QWORD(std::int64_t(low)), BASS_POS_BYTE);
    wultima_posicao = -1;
}

void TTesselBass::StopFade(std::uint16_t Tempo) {
    setLoop(false);
    if (!(wplaying && wcarregado && !wpaused))
        return;
    if (BASS_ChannelIsActive(wCanal) == BASS_ACTIVE_STOPPED) {
        Stop();
        return;
    }
    if (wstopfade)
        return;
    const std::int64_t position = Position();
    // End the fade 50 ms before the end of the file at the latest.
    if (std::int64_t(Tempo) >= std::int64_t(wfilelength) - (position + 50))
        Tempo = std::uint16_t(wfilelength - std::uint32_t(position) - 50);
    if (Tempo < 60) {
        Stop();
        return;
    }
    const unsigned ticks = Tempo / 60u;
    wtempo_fade = int(100u / ticks);
    wstopfade = true;
}

QTime TTesselBass::Tempo_Audio_bass(int Tamanho) {
    const int total_ms = Tamanho / 352;
    if (total_ms <= 0)
        return QTime(0, 0, 0);
    const std::uint16_t minutes = std::uint16_t(total_ms / 60000);
    const std::uint16_t rest_ms = std::uint16_t(total_ms % 60000);
    const std::uint16_t hours = minutes / 60;
    const std::uint16_t seconds = rest_ms / 1000;
    const QString text = PREENCHE_ZEROS(QString::number(hours), 2) + ':' +
                         PREENCHE_ZEROS(QString::number(minutes % 60), 2) + ':' +
                         PREENCHE_ZEROS(QString::number(seconds), 2);
    return QTime::fromString(text, "HH:mm:ss");
}

int TTesselBass::Getdata(TFFTData& xbuffer) {
    if (!(wcarregado && wplaying && !wpaused && BASS_ChannelIsActive(wCanal) == BASS_ACTIVE_PLAYING))
        return 0;
    const int result = int(BASS_ChannelGetData(wCanal, xbuffer.data(), BASS_DATA_FFT512));
    if (result < 0) {
        SALVA_LOG_ERRO("ERRO GETDATA", BASS_ErrorGetCode());
        xbuffer.fill(0.0f);
    }
    return result;
}

namespace {

// One meter level from one spectrum magnitude: 0 for silence, 114 from 0.2 up. The product
// is taken in single precision, so that a magnitude of 0.01 scales to exactly 5.
int vu_level(float magnitude) {
    const float scaled = std::fabs(magnitude) * 500.0f;
    int v = std::isfinite(scaled) && scaled < float(INT_MAX) ? int(scaled) : 0;
    if (v > 100)
        v = 100;
    return int(std::uint16_t(int(std::sqrt(v / 128.0) * 130)));
}

} // namespace

void TTesselBass::GetVULevel(TFFTData& xbuffer, int& R, int& L) {
    if (!(wplaying && BASS_ChannelIsActive(wCanal) == BASS_ACTIVE_PLAYING))
        return;
    L = vu_level(xbuffer[5]);
    R = vu_level(xbuffer[6]);
}

double TTesselBass::PeakDb() {
    if (!(wcarregado && wplaying))
        return -std::numeric_limits<double>::infinity();
    const DWORD level = BASS_ChannelGetLevel(wCanal);
    if (level == DWORD(-1))
        return -std::numeric_limits<double>::infinity();
    const DWORD peak = std::max(level & 0xFFFF, level >> 16);
    return peak == 0 ? -std::numeric_limits<double>::infinity() : 20.0 * std::log10(peak / 32768.0);
}

bool TTesselBass::IsWebConectado() {
    if (!wcarregado)
        return false;
    return std::int32_t(BASS_StreamGetFilePosition(wCanal, BASS_FILEPOS_CONNECTED)) >= 1;
}

bool TTesselBass::IsDry() {
    if (!(wcarregado && wplaying && !wpaused && wIsWeb))
        return false;
    const DWORD state = BASS_ChannelIsActive(wCanal);
    return state == BASS_ACTIVE_STALLED || state == BASS_ACTIVE_STOPPED;
}

std::uint32_t TTesselBass::WebLength() {
    if (!wcarregado)
        return 0;
    return std::uint32_t(bytes_to_ms(BASS_StreamGetFilePosition(wCanal, BASS_FILEPOS_END)));
}

int TTesselBass::WebPosition() {
    if (!wcarregado)
        return 0;
    return bytes_to_ms(BASS_StreamGetFilePosition(wCanal, BASS_FILEPOS_BUFFER));
}

bool TTesselBass::IsLinkLost() {
    float lost = 0;
    return wcarregado && wIsWeb && BASS_ChannelGetAttribute(wCanal, BASS_ATTRIB_MIRAVOX_LINK_LOST, &lost) && lost != 0;
}

float TTesselBass::WebDriftNotice() {
    float ppm = 0;
    if (!wcarregado || !wIsWeb || !BASS_ChannelGetAttribute(wCanal, BASS_ATTRIB_MIRAVOX_DRIFT_NOTICE, &ppm))
        return 0;
    return ppm;
}

int TTesselBass::GetWebProgresso() {
    const std::uint32_t length = WebLength();
    if (length == 0)
        return 0;
    // 32-bit product, as the status line has always shown it.
    const std::int32_t scaled = std::int32_t(std::uint32_t(WebPosition()) * 100u);
    return int(std::int64_t(scaled) / std::int64_t(length));
}

namespace miravox {

// The upper-cased station name from HTTP header lines ("icy-name:Radio Alfa" gives
// "RADIO ALFA"), or "Streaming".
QString station_name_from_tags(const char* tags) {
    for (const char* line = tags; line && *line; line += std::strlen(line) + 1) {
        const QString text = from_8bit(line);
        if (!text.toUpper().contains("ICY-NAME"))
            continue;
        const QString name = text.trimmed().toUpper().mid(9, 60);
        return name.isEmpty() ? QStringLiteral("Streaming") : name;
    }
    return QStringLiteral("Streaming");
}

} // namespace miravox

QString TTesselBass::GetWebStationName() {
    return miravox::station_name_from_tags(BASS_ChannelGetTags(wCanal, BASS_TAG_HTTP));
}

QString TTesselBass::BASS_GetDeviceDescription(std::int16_t xdevice) {
    BASS_DEVICEINFO info{};
    if (!::BASS_GetDeviceInfo(DWORD(std::int32_t(xdevice)), &info))
        return {};
    return miravox::from_8bit(info.name);
}

QString TTesselBass::DeviceName(int DeviceId) {
    return BASS_GetDeviceDescription(std::int16_t(DeviceId));
}

int TTesselBass::DeviceCount() {
    int count = 0;
    for (int device = 1; device <= 10; ++device)
        count += BASS_GetDeviceDescription(std::int16_t(device)).trimmed().isEmpty() ? 0 : 1;
    return count;
}

void TTesselBass::setDeviceId(std::int8_t n) {
    BASS_SetDevice(DWORD(std::int32_t(n)));
    wdevice = std::uint32_t(std::int32_t(n));
}

void TTesselBass::SALVA_LOG_ERRO(const QString& text, int code) {
    miravox::append_error_log(text, code, wfilepath, dialogs_);
}

// The playing tick. A Stop does not end it: later steps run on with the state Stop left, so
// the owner may hear OnStop more than once from one tick.
void TTesselBass::Timer_playingTimer(QObject*) {
    const BOOL updated = BASS_Update(120);
    if (const int code = BASS_ErrorGetCode(); !updated || code != 0) {
        ++BASS_ERRO_HANDLE;
        SALVA_LOG_ERRO("-----------------ERRO EM BUFFER MANUAL - UPDATE(TIMER)----------------", code);
    }
    watch_progress();
    if (!wplaying) {
        Stop();
        return;
    }
    if (wstopfade)
        fade_step();
    if (wIsWeb)
        check_web_source();
    else
        check_local_file();
}

void TTesselBass::watch_progress() {
    if (!Timer_playing || ++Timer_playing->Tag <= kProgressCheckTicks)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (miravox::clock().rate() > 1 && now - last_progress_check_ < kShortestRealProgressWindow)
        return; // at a later tick
    last_progress_check_ = now;
    Timer_playing->Tag = 0;
    const int position = Position();
    const int code = BASS_ErrorGetCode();
    if (position > wultima_posicao || wloop) {
        wultima_posicao = position;
        return;
    }
    // A stream only listened to (a link test, a background check) that stalls is its server's
    // fault, not the device's: refreshing every device would cut the air for it.
    if (wIsWeb && !wreports_web_state) {
        Stop();
        return;
    }
    // A network source whose server has gone (closed the connection, timed out; the library
    // frees it once its last audio has played, and its position reads 0) does not advance
    // either. That is a lost stream, which the source check declares within its unhealthy
    // ticks; taking it for a stalled output here would re-initialise the devices and silence
    // the local music that should take over. Only a connected stream that stands still
    // blames the output.
    if (wIsWeb && !web_source_healthy())
        return;
    SALVA_LOG_ERRO("-----------------ERRO DE BUFFER (SEM PROGRESSO EM TIMER)----------------", code);
    BASS_ERRO_BUFFER = true;
    Stop();
}

void TTesselBass::fade_step() {
    if (Volume() == wvol_temp)
        ++wct_volfade;
    else
        wct_volfade = 0;
    if (wct_volfade > kStuckFadeTicks)
        Stop();
    wvol_temp = Volume();
    setVolume(Volume() - float(wtempo_fade));
    if (Volume() <= float(wtempo_fade) || Volume() <= 0)
        Stop();
}

bool TTesselBass::web_source_healthy() {
    return IsWebConectado() && BASS_ChannelIsActive(wCanal) != BASS_ACTIVE_STOPPED;
}

void TTesselBass::check_web_source() {
    if (web_source_healthy())
        return;
    if (++wct_erro_web > kUnhealthyWebTicks) {
        wct_erro_web = 0;
        set_web_state(2);
        Stop();
    }
}

void TTesselBass::set_web_state(std::uint16_t state) {
    if (wreports_web_state)
        BASS_ERRO_WEB = state;
}

void TTesselBass::check_local_file() {
    if (std::int64_t(Position()) < std::int64_t(wfilelength)) {
        const DWORD state = BASS_ChannelIsActive(wCanal);
        if (state != BASS_ACTIVE_STOPPED && state != BASS_ACTIVE_STALLED)
            return;
    }
    Stop();
}
