#pragma once
// One playing source: a decoder thread fills a lock-free ring of decoded audio, the device's
// output thread takes from it (mix_into) with the stream's volume.
//
// Stop, seek and restart never touch the ring from the control side: they bump a generation
// number, the decoder thread marks where data of the new generation begins, and the output
// thread drops everything before that mark. Loop restarts and the end of the source are marks
// too, so a loop is gap-free and an end is reached exactly at the last decoded frame.
//
// A network stream starts sounding (and sounds again after running dry) only with a cushion in
// hand that the pace of what arrives lets it keep; from then on it is held to the sound card's
// clock: a slow control on the smoothed buffered level resamples it a few hundred parts per
// million faster or slower, so that neither a slower server empties the buffer nor a faster one
// makes the delay grow without end.
//
// Thread rules: control calls (play, stop, volume, positions, ...) from any thread; mix_into()
// only from the device's output thread; the decoder thread is private. close() must be called
// (after the stream left its mixer) before destruction.

#include "decoder.h"
#include "doorbell.h"
#include "interrupt.h"
#include "mixer.h"
#include "spectrum.h"
#include "spsc_ring.h"

#include "soundlib.h"

#include <array>
#include <atomic>
#include <utility>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace miravox::soundlib {

// Holds a network stream's buffered level at a target by a small rate correction. The level is
// smoothed over about 20 s (a server's bursts and the decoder's rests are noise here) and held by
// a proportional-integral control, critically damped, that settles in about ten minutes; the
// correction stays within +-1000 ppm (under two cents of pitch). Apart from the control, the
// server's offset from the card is measured over five-minute spans (what the level did, less what
// the correction did): a correction needed to drain a server's burst is not a clock.
// Plain arithmetic for the output thread, called after each block the stream played whole.
class ClockLock {
  public:
    static constexpr double kTargetS = 2.0; // the start cushion and 1.5 s to spare
    static constexpr double kMaxPpm = 1000.0;
    // An offset this large, in two spans in a row (ten minutes), is worth telling the station: a
    // sound card (or a server) whose clock is well off.
    static constexpr double kNoticePpm = 300.0;
    static constexpr double kSpanS = 300.0;

    // `full_s`: the level at which the buffer is full and the rest waits upstream, where the level
    // no longer shows what the correction does (a span that met it is not measured).
    explicit ClockLock(double target_s = kTargetS, double full_s = 1e9)
        : target_s_(target_s), full_s_(full_s) {}
    // `buffered_s` after a block of `dt` seconds played; returns the correction (ppm, +: stretch).
    double update(double buffered_s, double dt);
    // The stream ran dry and gathers its cushion again: the level jumps for no clock's sake.
    void interrupted();
    double correction() const { return correction_; }
    // 0 until the offset was well off for two spans in a row, then the correction it needs.
    double notice() const { return notice_; }

  private:
    double target_s_;
    double full_s_;
    double level_s_ = -1.0; // smoothed (< 0: none yet)
    double integral_ = 0.0;
    double correction_ = 0.0;
    double settling_s_ = 0.0;
    double span_s_ = 0.0, span_correction_ = 0.0, span_level_ = -1.0;
    bool span_full_ = false; // the buffer was full during the span
    double last_offset_ = 0.0;
    int spans_off_ = 0; // spans in a row with the offset well off, the same way
    double notice_ = 0.0;
};

struct StreamSetup {
    int device = 0;
    bool network = false;
    DWORD flags = 0;
    int buffer_ms = 500;
    int read_timeout_ms = 0; // network: longest silence before the source counts as ended
};

class Stream final : public MixSource {
  public:
    Stream(std::unique_ptr<Interrupt> intr, std::unique_ptr<Decoder> decoder, const StreamSetup& setup);
    ~Stream() override;

    void start_decoding();
    void close();

    int device() const { return setup_.device; }
    bool is_network() const { return setup_.network; }

    // Control. Each returns an engine error code (0 = done).
    int play(bool restart);
    void stop();
    int pause();
    DWORD active() const;
    DWORD flags() const { return flags_.load(); }
    DWORD change_flags(DWORD flags, DWORD mask);
    float volume() const { return volume_.load(); }
    void set_volume(float v);
    // BASS_ATTRIB_VOL and the read-only drift attributes; false for any other attribute.
    bool attribute(DWORD attrib, float& value) const;

    uint64_t position_frames() const;
    int set_position_frames(uint64_t frame);
    std::optional<uint64_t> length_frames() const;
    // BASS_FILEPOS_* values; nullopt when the mode does not apply (error 37).
    // Engine error code in `error` when the mode does not apply to this stream.
    std::optional<uint64_t> file_position(DWORD mode, int& error) const;
    bool connected() const;
    // Response header lines as "line\0line\0\0", or nullptr when the stream has none.
    const char* http_tags() const { return tags_.empty() ? nullptr : tags_.data(); }
    // 256 magnitudes of the last 512 frames it played.
    bool spectrum(float* out);
    // Peak magnitudes (0..1 and above) of the left and right samples of the last kHistory
    // frames it played, before its volume.
    std::pair<float, float> peak() const;

    // Waits until `percent` of the buffer is filled, the source ended or `deadline` passed.
    void wait_prebuffer(int percent, SteadyClock::time_point deadline) const;

    bool ended_by_itself() const { return ended_.load(); }
    bool autofree() const { return (flags_.load() & BASS_STREAM_AUTOFREE) != 0; }
    // Rung when the stream ends by itself or becomes self-freeing (set before it is mixed).
    void set_end_bell(Doorbell* bell) { end_bell_.store(bell); }

    void mix_into(float* out, size_t frames) noexcept override;

  private:
    enum class State : uint8_t { Stopped, Playing, Paused };
    enum class MarkKind : uint8_t { Start, End };
    struct Mark {
        uint64_t ring_pos = 0;
        int64_t source_frame = 0;
        uint32_t generation = 0;
        MarkKind kind = MarkKind::Start;
    };

    // decoder thread
    void run();
    bool push_mark(const Mark& m);
    void wait_for_work(std::chrono::microseconds timeout);
    void poke();
    bool write_pending(const std::vector<float>& chunk, size_t& offset, uint32_t generation);
    void request_generation(int64_t start_frame);
    void measure_length(DecoderSpec spec);
    std::chrono::milliseconds refill_pause(bool caught_up);
    std::chrono::milliseconds full_ring_pause() const;
    LinkState watch_link();
    void set_read_deadline();

    // output thread
    bool enter_generation(uint32_t generation);
    void publish_position();
    void record_history(const float* frames, size_t count);
    void record_silence(size_t count);
    bool cushion_in_hand(size_t frames);
    void hold_to_clock(size_t frames);

    StreamSetup setup_;
    std::unique_ptr<Interrupt> intr_;
    std::unique_ptr<Decoder> decoder_;
    FrameRing ring_;
    SpscQueue<Mark, 64> marks_;
    std::string tags_;
    int64_t source_size_ = -1;

    std::atomic<State> state_{State::Stopped};
    std::atomic<DWORD> flags_;
    std::atomic<float> volume_{1.0f};
    std::atomic<uint32_t> generation_{0};
    std::atomic<int64_t> seek_target_{0};
    std::atomic<uint64_t> published_position_{0}; // generation (16 bits) << 48 | frame
    std::atomic<int64_t> length_frames_{-1};
    std::atomic<bool> ended_{false};        // the output thread reached the end of the source
    std::atomic<bool> starved_{false};      // the last output block ran out of data
    std::atomic<bool> source_ended_{false}; // the decoder thread reached the end (or a network drop)
    std::atomic<bool> link_down_{false};    // the server closed our connection or went silent
    std::atomic<int64_t> busy_since_ns_{0}; // decoder blocked in a read since (0: not reading)
    std::atomic<uint64_t> source_bytes_{0};
    std::atomic<Doorbell*> end_bell_{nullptr};
    std::atomic<float> correction_ppm_{0.0f};   // the rate correction in use (network)
    std::atomic<float> drift_notice_ppm_{0.0f}; // see BASS_ATTRIB_MIRAVOX_DRIFT_NOTICE

    // decoder thread only
    bool refilling_ = true;
    bool drift_logged_ = false;

    // output thread only
    bool in_segment_ = false;
    bool segment_sounding_ = false; // a file's segment has begun to play (see mix_into)
    bool rebuffering_ = false;      // a network stream waits for its cushion (see mix_into)
    size_t waited_frames_ = 0;      // ... for so many frames of output
    uint64_t wait_write_base_ = 0;  // ... while the ring's write count went on from here
    ClockLock clock_lock_;
    uint32_t segment_generation_ = 0;
    uint64_t segment_ring_base_ = 0;
    int64_t segment_frame_base_ = 0;
    float gain_now_ = 1.0f;
    bool was_playing_ = false;

    // last played frames (pre-volume), for the spectrum
    static constexpr size_t kHistory = 1024;
    std::array<std::atomic<float>, kHistory * 2> history_{};
    std::atomic<uint64_t> history_count_{0};
    std::mutex spectrum_mutex_;
    std::unique_ptr<Spectrum> spectrum_;

    std::mutex wake_mutex_;
    std::condition_variable wake_;
    bool wake_flag_ = false;
    std::thread thread_;
    std::thread measure_thread_; // counts the frames of a file whose container length is an estimate
};

} // namespace miravox::soundlib
