#pragma once
// Opening sources: local files and memory blocks, HTTP/ICY streams (our client), HLS, https and
// mmsh/mmst (FFmpeg). Each call blocks until the source delivered its first audio or failed,
// then registers a stream on the current device. For a network source the time-out bounds
// connecting and the server's answer, then each silence before the first audio (three
// time-outs in all at most); the format of a download is told from its first frames.
// Thread rules: any thread; sets the calling thread's last error.

#include "soundlib.h"

namespace miravox::soundlib {

enum class UrlKind { Plain, Hls, WindowsMedia };

HSTREAM create_file_stream(bool mem, const void* file, QWORD offset, QWORD length, DWORD flags);
HSTREAM create_url_stream(const void* url, DWORD offset, DWORD flags, UrlKind kind);

} // namespace miravox::soundlib
