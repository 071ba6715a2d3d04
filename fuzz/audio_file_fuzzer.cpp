// Any bytes as a music, jingle or commercial file: the engine opens the file on a silent
// device, decodes a little, plays, reads the spectrum, seeks and frees it, as the channels do.

#include "fuzz_check.h"
#include "soundlib.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

using miravox::fuzz::check;

namespace {

constexpr QWORD kBytesPer100ms = 44100 / 10 * 8;
std::string folder;

// The name's extension steers FFmpeg's format guess, so it is part of the input.
std::string file_name(const uint8_t* data, size_t size) {
    static const std::array<const char*, 9> extensions = {"",     ".mp3",  ".wav", ".wma", ".aac",
                                                          ".ogg", ".opus", ".m4a", ".flac"};
    return folder + "/input" + extensions[size ? data[0] % extensions.size() : 0];
}

// Waits until the stream holds 100 ms of decoded audio ahead, or its decoder stopped adding any
// (the file ended or cannot be decoded further), within a bound.
void wait_for_some_audio(HSTREAM stream) {
    using Clock = std::chrono::steady_clock;
    const auto limit = Clock::now() + std::chrono::milliseconds(500);
    QWORD last = QWORD(-1);
    auto last_change = Clock::now();
    while (Clock::now() < limit) {
        const QWORD buffered = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER);
        if (buffered == QWORD(-1) || buffered >= kBytesPer100ms)
            return;
        if (buffered != last) {
            last = buffered;
            last_change = Clock::now();
        } else if (Clock::now() - last_change > std::chrono::milliseconds(30)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/miravox-fuzz-XXXXXX";
    check(::mkdtemp(pattern) != nullptr, "a temporary folder");
    folder = pattern;
    std::atexit([] { ::rmdir(folder.c_str()); });
    ::setenv("MIRAVOX_AUDIO_DEVICES", "silent:FUZZ", 1);
    BASS_SetConfig(BASS_CONFIG_BUFFER, 200);
    check(BASS_Init(1, 44100, 0, nullptr, nullptr) == TRUE, "the silent device starts");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = file_name(data, size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    if (!stream) {
        check(BASS_ErrorGetCode() != BASS_OK, "a refused file says why");
        ::unlink(path.c_str());
        return 0;
    }
    wait_for_some_audio(stream);
    check(BASS_ChannelPlay(stream, FALSE) == TRUE, "an opened file plays");

    std::array<float, 256> spectrum{};
    if (BASS_ChannelGetData(stream, spectrum.data(), BASS_DATA_FFT512) != DWORD(-1))
        for (float magnitude : spectrum)
            check(std::isfinite(magnitude) && magnitude >= 0.0f, "spectrum magnitudes are numbers");

    const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    if (length != QWORD(-1)) {
        check(BASS_ChannelBytes2Seconds(stream, length) >= 0.0, "a length converts to seconds");
        BASS_ChannelSetPosition(stream, length / 2 / 8 * 8, BASS_POS_BYTE);
        const QWORD position = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
        check(position != QWORD(-1), "a file stream has a position");
    }
    check(BASS_StreamFree(stream) == TRUE, "a stream frees");
    check(BASS_ChannelIsActive(stream) == BASS_ACTIVE_STOPPED && BASS_ErrorGetCode() == BASS_ERROR_HANDLE,
          "a freed stream is gone");
    ::unlink(path.c_str());
    return 0;
}
