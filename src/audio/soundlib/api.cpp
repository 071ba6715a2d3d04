// The engine's calls. Each one validates its arguments, delegates to the engine, and leaves the
// calling thread's last error (0 on success).

#include "soundlib.h"

#include "decoder.h"
#include "engine.h"
#include "engine_config.h"
#include "error_state.h"
#include "stream_factory.h"
#include "text_encoding.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <set>
#include <sys/stat.h>

using namespace miravox::soundlib;

namespace {

constexpr QWORD kNoQword = static_cast<QWORD>(-1);
constexpr DWORD kNoDword = static_cast<DWORD>(-1);

template <typename T> T status(int error, T ok_result, T fail_result) {
    return error == BASS_OK ? succeed(ok_result) : fail(error, fail_result);
}

std::shared_ptr<Stream> stream_or_fail(DWORD handle) {
    auto s = Engine::instance().find(handle);
    if (!s)
        set_error(BASS_ERROR_HANDLE);
    return s;
}

// Plug-ins: FFmpeg already decodes every format, so a plug-in is only remembered by handle.
std::mutex plugin_mutex;
std::set<HPLUGIN> plugins;
HPLUGIN next_plugin = 0x100;

} // namespace

DWORD BASS_GetVersion() {
    return succeed<DWORD>((BASSVERSION << 16) | 0x0100);
}

BOOL BASS_Init(int device, DWORD, DWORD, void*, const void*) {
    return status<BOOL>(Engine::instance().init(device), TRUE, FALSE);
}

BOOL BASS_Free() {
    return status<BOOL>(Engine::instance().free_current(), TRUE, FALSE);
}

BOOL BASS_SetDevice(DWORD device) {
    return status<BOOL>(Engine::instance().set_current(device), TRUE, FALSE);
}

DWORD BASS_GetDevice() {
    DWORD device = 0;
    const int error = Engine::instance().current(device);
    return status<DWORD>(error, device, kNoDword);
}

BOOL BASS_GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info) {
    if (!info)
        return fail<BOOL>(BASS_ERROR_ILLPARAM, FALSE);
    return status<BOOL>(Engine::instance().device_info(device, *info), TRUE, FALSE);
}

BOOL BASS_SetConfig(DWORD option, DWORD value) {
    if (option == BASS_CONFIG_NET_PROXY && value != 0)
        return fail<BOOL>(BASS_ERROR_ILLPARAM, FALSE); // only "no proxy" is supported
    return config().set(option, value) ? succeed<BOOL>(TRUE) : fail<BOOL>(BASS_ERROR_ILLPARAM, FALSE);
}

DWORD BASS_GetConfig(DWORD option) {
    const auto v = config().get(option);
    return v ? succeed(*v) : fail(BASS_ERROR_ILLPARAM, kNoDword);
}

BOOL BASS_SetConfigPtr(DWORD option, const void* value) {
    const DWORD base = option & ~BASS_UNICODE;
    if (base == BASS_CONFIG_NET_AGENT) {
        config().set_agent(text_argument(value, option));
        return succeed<BOOL>(TRUE);
    }
    if (base == BASS_CONFIG_NET_PROXY)
        return value == nullptr ? succeed<BOOL>(TRUE) : fail<BOOL>(BASS_ERROR_ILLPARAM, FALSE);
    return fail<BOOL>(BASS_ERROR_ILLPARAM, FALSE);
}

BOOL BASS_Start() {
    return status<BOOL>(Engine::instance().start_current(), TRUE, FALSE);
}

BOOL BASS_Stop() {
    return status<BOOL>(Engine::instance().stop_current(), TRUE, FALSE);
}

BOOL BASS_Update(DWORD) {
    int device = 0;
    return status<BOOL>(Engine::instance().current_initialised(device), TRUE, FALSE);
}

HPLUGIN BASS_PluginLoad(const void* file, DWORD flags) {
    const std::string path = text_argument(file, flags);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return fail<HPLUGIN>(BASS_ERROR_FILEOPEN, 0);
    std::lock_guard lock(plugin_mutex);
    const HPLUGIN h = ++next_plugin;
    plugins.insert(h);
    return succeed(h);
}

BOOL BASS_PluginFree(HPLUGIN handle) {
    std::lock_guard lock(plugin_mutex);
    if (handle == 0) {
        plugins.clear();
        return succeed<BOOL>(TRUE);
    }
    return plugins.erase(handle) ? succeed<BOOL>(TRUE) : fail<BOOL>(BASS_ERROR_HANDLE, FALSE);
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    return create_file_stream(mem != FALSE, file, offset, length, flags);
}

HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    // The Windows Media call also takes addresses (mms://, http://...wmv).
    if (!mem && file && text_argument(file, flags).find("://") != std::string::npos) {
        if (offset != 0 || length != 0)
            return fail<HSTREAM>(BASS_ERROR_ILLPARAM, 0);
        return create_url_stream(file, 0, flags, UrlKind::WindowsMedia);
    }
    return create_file_stream(mem != FALSE, file, offset, length, flags);
}

HSTREAM BASS_StreamCreateURL(const void* url, DWORD offset, DWORD flags, void*, void*) {
    return create_url_stream(url, offset, flags, UrlKind::Plain);
}

HSTREAM BASS_AAC_StreamCreateURL(const void* url, DWORD offset, DWORD flags, void*, void*) {
    return create_url_stream(url, offset, flags, UrlKind::Plain);
}

HSTREAM BASS_OPUS_StreamCreateURL(const void* url, DWORD offset, DWORD flags, void*, void*) {
    return create_url_stream(url, offset, flags, UrlKind::Plain);
}

HSTREAM BASS_HLS_StreamCreateURL(const void* url, DWORD flags, void*, void*) {
    return create_url_stream(url, 0, flags, UrlKind::Hls);
}

BOOL BASS_StreamFree(HSTREAM handle) {
    return Engine::instance().free_stream(handle) ? succeed<BOOL>(TRUE)
                                                  : fail<BOOL>(BASS_ERROR_HANDLE, FALSE);
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    auto s = stream_or_fail(handle);
    if (!s)
        return FALSE;
    int error = s->play(restart != FALSE);
    if (error == BASS_OK) {
        error = Engine::instance().resume_output(s->device());
        // Nothing plays it: it must not read as playing, or the next Play would not try again.
        if (error != BASS_OK)
            s->stop();
    }
    return status<BOOL>(error, TRUE, FALSE);
}

BOOL BASS_ChannelStop(DWORD handle) {
    auto s = stream_or_fail(handle);
    if (!s)
        return FALSE;
    s->stop();
    return succeed<BOOL>(TRUE);
}

BOOL BASS_ChannelPause(DWORD handle) {
    auto s = stream_or_fail(handle);
    return s ? status<BOOL>(s->pause(), TRUE, FALSE) : FALSE;
}

DWORD BASS_ChannelIsActive(DWORD handle) {
    auto s = stream_or_fail(handle);
    return s ? succeed(s->active()) : BASS_ACTIVE_STOPPED;
}

DWORD BASS_ChannelFlags(DWORD handle, DWORD flags, DWORD mask) {
    auto s = stream_or_fail(handle);
    return s ? succeed(s->change_flags(flags, mask)) : kNoDword;
}

BOOL BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value) {
    auto s = stream_or_fail(handle);
    if (!s)
        return FALSE;
    float v = 0.0f;
    if (!s->attribute(attrib, v))
        return fail<BOOL>(BASS_ERROR_ILLTYPE, FALSE);
    if (!value)
        return fail<BOOL>(BASS_ERROR_ILLPARAM, FALSE);
    *value = v;
    return succeed<BOOL>(TRUE);
}

BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value) {
    auto s = stream_or_fail(handle);
    if (!s)
        return FALSE;
    if (attrib != BASS_ATTRIB_VOL)
        return fail<BOOL>(BASS_ERROR_ILLTYPE, FALSE);
    if (!std::isfinite(value))
        return fail<BOOL>(BASS_ERROR_ILLPARAM, FALSE);
    s->set_volume(value);
    return succeed<BOOL>(TRUE);
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
    auto s = stream_or_fail(handle);
    if (!s)
        return kNoQword;
    if (mode != BASS_POS_BYTE)
        return fail(BASS_ERROR_ILLTYPE, kNoQword);
    return succeed(s->position_frames() * kBytesPerFrame);
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
    auto s = stream_or_fail(handle);
    if (!s)
        return kNoQword;
    if (mode != BASS_POS_BYTE)
        return fail(BASS_ERROR_ILLTYPE, kNoQword);
    const auto len = s->length_frames();
    return len ? succeed(*len * kBytesPerFrame) : fail(BASS_ERROR_NOTAVAIL, kNoQword);
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode) {
    auto s = stream_or_fail(handle);
    if (!s)
        return FALSE;
    if (mode != BASS_POS_BYTE)
        return fail<BOOL>(BASS_ERROR_ILLTYPE, FALSE);
    return status<BOOL>(s->set_position_frames(pos / kBytesPerFrame), TRUE, FALSE);
}

double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
    if (!stream_or_fail(handle))
        return -1.0;
    return succeed(static_cast<double>(pos / kBytesPerFrame) / kOutputRate);
}

QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double secs) {
    if (!stream_or_fail(handle))
        return kNoQword;
    if (!std::isfinite(secs) || secs < 0)
        return fail(BASS_ERROR_ILLPARAM, kNoQword);
    // Truncated to a whole sample frame, so converting back never passes the time asked for.
    return succeed(static_cast<QWORD>(secs * kOutputRate) * kBytesPerFrame);
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
    auto s = stream_or_fail(handle);
    if (!s)
        return kNoQword;
    int error = BASS_OK;
    const auto v = s->file_position(mode, error);
    return v ? succeed(*v) : fail(error, kNoQword);
}

DWORD BASS_ChannelGetLevel(DWORD handle) {
    auto s = stream_or_fail(handle);
    if (!s)
        return kNoDword;
    const auto to_word = [](float peak) {
        return static_cast<DWORD>(std::lround(std::clamp(peak, 0.0f, 1.0f) * 32768.0f));
    };
    const auto [left, right] = s->peak();
    return succeed<DWORD>(to_word(left) | (to_word(right) << 16));
}

const char* BASS_ChannelGetTags(DWORD handle, DWORD tags) {
    auto s = stream_or_fail(handle);
    if (!s)
        return nullptr;
    if (tags != BASS_TAG_HTTP)
        return fail<const char*>(BASS_ERROR_ILLTYPE, nullptr);
    const char* t = s->http_tags();
    return t ? succeed(t) : fail<const char*>(BASS_ERROR_NOTAVAIL, nullptr);
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    auto s = stream_or_fail(handle);
    if (!s)
        return kNoDword;
    if (length != BASS_DATA_FFT512)
        return fail(BASS_ERROR_ILLTYPE, kNoDword);
    if (!buffer)
        return fail(BASS_ERROR_ILLPARAM, kNoDword);
    if (!s->spectrum(static_cast<float*>(buffer)))
        return fail(BASS_ERROR_MEM, kNoDword);
    return succeed<DWORD>(Spectrum::kBins * sizeof(float));
}
