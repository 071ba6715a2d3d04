#pragma once
// One-line diagnostics of the engine on stderr ("soundlib: ..."), and FFmpeg's own messages
// routed the same way (errors only).
// Thread rules: any thread.

namespace miravox::soundlib {

void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs the FFmpeg log callback once.
void route_ffmpeg_log();

} // namespace miravox::soundlib
