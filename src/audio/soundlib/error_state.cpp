#include "error_state.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace miravox::soundlib {

namespace {
thread_local int last_error = BASS_OK;

int http_status_error(int averror) {
    if (averror == AVERROR_HTTP_UNAUTHORIZED || averror == AVERROR_HTTP_FORBIDDEN)
        return BASS_ERROR_WMA_DENIED;
    return BASS_ERROR_FILEOPEN;
}

bool is_http_status(int averror) {
    return averror == AVERROR_HTTP_BAD_REQUEST || averror == AVERROR_HTTP_UNAUTHORIZED ||
           averror == AVERROR_HTTP_FORBIDDEN || averror == AVERROR_HTTP_NOT_FOUND ||
           averror == AVERROR_HTTP_OTHER_4XX || averror == AVERROR_HTTP_SERVER_ERROR;
}
} // namespace

void set_error(int code) {
    last_error = code;
}

int error_from_open_failure(const OpenFailure& f) {
    if (f.timed_out || f.averror == AVERROR(ETIMEDOUT))
        return BASS_ERROR_TIMEOUT;
    if (is_http_status(f.averror))
        return http_status_error(f.averror);
    switch (f.averror) {
    case AVERROR(ENOMEM):
        return BASS_ERROR_MEM;
    case AVERROR(ECONNREFUSED):
    case AVERROR(ENETUNREACH):
    case AVERROR(EHOSTUNREACH):
    case AVERROR(ENETDOWN):
    case AVERROR(EHOSTDOWN):
    case AVERROR(ECONNRESET):
    case AVERROR(ECONNABORTED):
        return BASS_ERROR_NONET;
    case AVERROR(ENOENT):
    case AVERROR(EACCES):
    case AVERROR(EISDIR):
    case AVERROR(ENOTDIR):
    case AVERROR(EPERM):
    case AVERROR(ENAMETOOLONG):
    case AVERROR_PROTOCOL_NOT_FOUND:
        return BASS_ERROR_FILEOPEN;
    case AVERROR_INVALIDDATA:
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_EOF:
        return BASS_ERROR_FILEFORM;
    case AVERROR_STREAM_NOT_FOUND:
        return BASS_ERROR_NOTAUDIO;
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_PATCHWELCOME:
        return BASS_ERROR_CODEC;
    case AVERROR(EIO):
        // A network source that fails with a bare I/O error never gave us a usable answer.
        return f.network ? BASS_ERROR_FILEOPEN : BASS_ERROR_FILEFORM;
    default:
        // A local file that opened but that FFmpeg could not make sense of is not audio we know.
        return f.network ? BASS_ERROR_UNKNOWN : BASS_ERROR_FILEFORM;
    }
}

} // namespace miravox::soundlib

int BASS_ErrorGetCode() {
    return miravox::soundlib::last_error;
}
