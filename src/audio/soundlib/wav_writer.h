#pragma once
// Appends 44100 Hz stereo 16-bit PCM to a WAV file and keeps its header sizes current, so the
// file can be read while the program runs or after it was killed.
// Thread rules: one thread at a time (the capture device's clock thread, or the control thread
// while that thread is not running).

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace miravox::soundlib {

class WavWriter {
  public:
    ~WavWriter();
    // Creates (truncating) the file and writes an empty header. False when it cannot.
    bool create(const std::string& path);
    bool is_open() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    // Appends frames (interleaved stereo float, clipped to 16 bits). Refreshes the header at
    // least every `kHeaderPeriod`.
    void write(const float* frames, size_t count);
    // Flushes the data and brings the header up to date now.
    void sync();
    uint64_t frames_written() const { return data_bytes_ / 4; }

    static constexpr std::chrono::milliseconds kHeaderPeriod{500};

  private:
    void write_header();

    std::FILE* file_ = nullptr;
    std::string path_;
    uint64_t data_bytes_ = 0;
    std::chrono::steady_clock::time_point last_sync_{};
    int16_t buffer_[2 * 1024];
};

} // namespace miravox::soundlib
