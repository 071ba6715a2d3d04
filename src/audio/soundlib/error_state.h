#pragma once
// The calling thread's last error, and the mapping of FFmpeg and system failures onto the
// engine's error codes (listed in soundlib.h).
// Thread rules: every function may be called from any thread; the error is per thread.

#include "soundlib.h"

namespace miravox::soundlib {

void set_error(int code);

// Sets `code` and returns `result`, so failures read as one statement: `return fail(5, FALSE);`
template <typename T> T fail(int code, T result) {
    set_error(code);
    return result;
}

// Sets 0 and returns `result`.
template <typename T> T succeed(T result) {
    set_error(BASS_OK);
    return result;
}

// How an open failed, as far as FFmpeg's return value and our own interrupt tell.
struct OpenFailure {
    int averror = 0;        // FFmpeg / system error (negative AVERROR)
    bool timed_out = false; // our deadline fired
    bool network = false;   // the source was an address, not a file
};

// The engine error code for a failed open.
int error_from_open_failure(const OpenFailure& f);

} // namespace miravox::soundlib
