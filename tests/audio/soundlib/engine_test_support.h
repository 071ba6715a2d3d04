#pragma once
// Shared helpers of the engine tests: bounded waits, virtual devices set up before the first
// engine call, and a reader of what a capture device recorded.

#include "soundlib.h"
#include "test_media.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace miravox::test {

// Polls `pred` every 5 ms until it holds or `timeout` passes. Returns its last value.
inline bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= until)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

inline double elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

// Points MIRAVOX_AUDIO_DEVICES at a capture device "CAPTURE" (device 1) and a silent device
// "SILENT" (device 2) in a temporary folder. Construct it before the first engine call (a
// namespace-scope object does), so the engine lists these devices.
class VirtualDevices {
  public:
    VirtualDevices() : dir_("soundlib-devices") {
        capture_path_ = dir_.file("capture.wav");
        const std::string spec = "capture:CAPTURE:" + capture_path_ + ";silent:SILENT";
        ::setenv("MIRAVOX_AUDIO_DEVICES", spec.c_str(), 1);
    }
    const std::string& capture_path() const { return capture_path_; }
    const TempDir& dir() const { return dir_; }

  private:
    TempDir dir_;
    std::string capture_path_;
};

constexpr int kCaptureDevice = 1;
constexpr int kSilentDevice = 2;

// Frames a capture file holds right now (its data, whatever its header says yet).
inline size_t captured_frames(const std::string& path) {
    Wav w;
    return read_wav(path, w) ? w.frames() : 0;
}

// Waits until the capture file has grown by `ms` of audio past what it holds now, and returns
// its new length in frames: everything recorded from there on was mixed after this call.
inline size_t capture_mark(const std::string& path, int ms = 300) {
    const size_t start = captured_frames(path);
    const size_t want = start + static_cast<size_t>(ms) * 441 / 10;
    wait_until([&] { return captured_frames(path) >= want; }, std::chrono::milliseconds(ms * 4 + 2000));
    return captured_frames(path);
}

// The left channel of the capture from frame `from` on, once at least `frames` are there.
inline std::vector<float> capture_left(const std::string& path, size_t from, size_t frames) {
    wait_until([&] { return captured_frames(path) >= from + frames; }, std::chrono::milliseconds(5000));
    Wav w;
    read_wav(path, w);
    std::vector<float> out;
    for (size_t i = from; i < w.frames() && out.size() < frames; ++i)
        out.push_back(w.samples[i * 2]);
    return out;
}

inline size_t first_above(const std::vector<float>& x, float threshold, size_t from = 0) {
    for (size_t i = from; i < x.size(); ++i)
        if (std::fabs(x[i]) > threshold)
            return i;
    return x.size();
}

inline float peak(const std::vector<float>& x, size_t from, size_t to) {
    float p = 0;
    for (size_t i = from; i < std::min(to, x.size()); ++i)
        p = std::max(p, std::fabs(x[i]));
    return p;
}

// A mono 16-bit WAV of `frames` samples from `f(i)`.
inline bool write_wav_mono(const std::string& path, size_t frames, const std::function<float(size_t)>& f) {
    std::vector<float> s(frames);
    for (size_t i = 0; i < frames; ++i)
        s[i] = f(i);
    return write_wav(path, s, 1);
}

inline std::function<float(size_t)> sine(double frequency, double amplitude) {
    return [=](size_t i) {
        return static_cast<float>(amplitude * std::sin(2 * M_PI * frequency * i / 44100.0));
    };
}

// Owns a stream handle: frees it when the test ends, whatever happened.
class StreamHandle {
  public:
    explicit StreamHandle(HSTREAM h = 0) : h_(h) {}
    ~StreamHandle() {
        if (h_)
            BASS_StreamFree(h_);
    }
    StreamHandle(const StreamHandle&) = delete;
    StreamHandle& operator=(const StreamHandle&) = delete;
    HSTREAM get() const { return h_; }
    operator HSTREAM() const { return h_; }
    HSTREAM release() {
        const HSTREAM h = h_;
        h_ = 0;
        return h;
    }

  private:
    HSTREAM h_;
};

inline double seconds_of(HSTREAM h, QWORD bytes) {
    return BASS_ChannelBytes2Seconds(h, bytes);
}
inline double position_s(HSTREAM h) {
    return seconds_of(h, BASS_ChannelGetPosition(h, BASS_POS_BYTE));
}

inline int peak_bin(HSTREAM h) {
    float fft[256] = {};
    if (BASS_ChannelGetData(h, fft, BASS_DATA_FFT512) == static_cast<DWORD>(-1))
        return -1;
    int best = 1;
    for (int i = 1; i < 256; ++i)
        if (fft[i] > fft[best])
            best = i;
    return best;
}

} // namespace miravox::test
