#pragma once
// FFmpeg demux + decode + conversion to the engine's format (44100 Hz, stereo, float,
// interleaved). Knows the exact length of a file and positions itself on any sample frame.
// Thread rules: open() runs on the caller's thread; afterwards the object belongs to one thread
// at a time (the stream's decoder thread). The Interrupt given to open() must outlive it.

#include "byte_source.h"
#include "error_state.h"
#include "ffmpeg_util.h"
#include "interrupt.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace miravox::soundlib {

constexpr int kOutputRate = 44100;
constexpr int kOutputChannels = 2;
constexpr uint64_t kBytesPerFrame = sizeof(float) * kOutputChannels;

struct DecoderSpec {
    // Either a byte source (files, memory, our HTTP body) ...
    std::unique_ptr<ByteSource> bytes;
    // ... or an address FFmpeg opens itself (https, HLS, mmsh/mmst).
    std::string url;
    std::string forced_format; // demuxer name, or empty to probe
    std::string name_hint;     // file name, helps probing by extension
    bool network = false;
    std::string user_agent;
    int connect_timeout_ms = 0;
    bool skip_length = false; // a second decoder that only counts frames needs no estimate
};

class Decoder {
  public:
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Opens, finds the audio track and decodes its first audio. Blocks until then or until
    // `intr` aborts. On failure returns nullptr and fills `failure` / `error`.
    static std::unique_ptr<Decoder> open(DecoderSpec spec, Interrupt& intr, int& error, std::string& reason);

    // Next decoded frames into `out` (interleaved stereo float). Returns the frame count; 0 at the
    // end of the source; a negative AVERROR when reading failed (AVERROR_EXIT when interrupted).
    int decode(std::vector<float>& out);

    bool seekable() const { return seekable_; }
    // Positions the next decode() on sample frame `frame` (frames from the start).
    bool seek(int64_t frame);

    // Length in output frames, when known; exact (what decoding yields) or an estimate from the
    // container that only decoding the whole source can confirm.
    std::optional<int64_t> length_frames() const { return length_frames_; }
    bool length_exact() const { return length_exact_; }
    // What opens a second decoder on the same bytes from the start (no bytes if they cannot be
    // read twice). Call it before handing this decoder to another thread.
    DecoderSpec copy_spec() const;
    // Size of the encoded source in bytes (-1 unknown), bytes read so far.
    int64_t source_size() const;
    uint64_t source_bytes_read() const;
    // The connection of a network source that we download ourselves: pump_source() takes in
    // what has arrived without waiting, link_state() only tells. `pumped` is false for others.
    LinkState pump_source(std::chrono::milliseconds read_timeout) {
        return bytes_ ? bytes_->pump(read_timeout) : LinkState{};
    }
    LinkState link_state() const { return bytes_ ? bytes_->link() : LinkState{}; }
    // Plays a network source `ppm` parts per million slower (positive: more output frames for the
    // same input) from the next decoded frame on, through the resampler: how a stream is held to
    // the sound card's clock. Files are never corrected.
    void set_rate_correction(double ppm) { correction_ppm_ = network_ ? ppm : 0.0; }
    // Response header lines of a network source (status line first when known).
    const std::vector<std::string>& http_headers() const { return http_headers_; }
    void set_http_headers(std::vector<std::string> lines) { http_headers_ = std::move(lines); }

  private:
    Decoder() = default;
    bool open_format(DecoderSpec& spec, int& averror);
    int select_stream();
    int open_codec();
    void compute_length();
    std::optional<int64_t> scan_length_frames();
    int convert(AVFrame* frame, std::vector<float>& out);
    int flush_resampler(std::vector<float>& out);
    bool ensure_resampler(const AVFrame* frame);
    void apply_correction(int output_frames);
    void apply_pending_discard(AVFrame* frame, std::vector<float>& out, size_t first_new);
    bool reopen_from_start();
    void collect_icy_headers();

    Interrupt* intr_ = nullptr;
    std::unique_ptr<ByteSource> bytes_;
    AvioPtr avio_;
    FormatContextPtr fmt_;
    CodecContextPtr codec_;
    SwrPtr swr_;
    FramePtr frame_;
    PacketPtr packet_;
    int stream_index_ = -1;
    AVRational time_base_{1, 1};
    int swr_in_rate_ = 0;
    int swr_in_format_ = -1;
    AVChannelLayout swr_in_layout_{};
    bool draining_ = false;
    bool finished_ = false;
    int bad_packets_ = 0;
    bool seekable_ = false;
    bool network_ = false;
    std::string name_hint_;
    std::string forced_format_;
    std::optional<int64_t> length_frames_;
    bool length_exact_ = false;
    std::optional<int64_t> start_pts_;
    std::optional<int64_t> discard_to_; // after a seek: drop output before this frame
    std::vector<float> primed_;         // the first audio, decoded by open()
    std::vector<float> scratch_;
    std::vector<std::string> http_headers_;
    double correction_ppm_ = 0.0;       // asked for
    double applied_ppm_ = 0.0;          // in the resampler
    int64_t since_applied_ = INT64_MAX; // output frames since it was set (the resampler forgets it)
};

} // namespace miravox::soundlib
