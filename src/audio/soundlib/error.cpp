// Per-thread last error of the engine calls.
#include "soundlib.h"

namespace {
thread_local int last_error = 0;
}

int BASS_ErrorGetCode() { return last_error; }
