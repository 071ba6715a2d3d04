#include "engine_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace miravox::soundlib {

namespace {
std::mutex log_mutex;

void ffmpeg_log(void* avcl, int level, const char* fmt, va_list vl) {
    // Decoders report every damaged frame of a bad input at "error" level; our own log line
    // says what failed, so only FFmpeg's fatal messages are worth passing on.
    if (level > AV_LOG_FATAL)
        return;
    char line[1024];
    int print_prefix = 1;
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &print_prefix);
    std::lock_guard lock(log_mutex);
    std::fprintf(stderr, "soundlib: ffmpeg: %s", line);
}
} // namespace

void log_line(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard lock(log_mutex);
    std::fprintf(stderr, "soundlib: %s\n", line);
}

void route_ffmpeg_log() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(&ffmpeg_log); });
}

} // namespace miravox::soundlib
