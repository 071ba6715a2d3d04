#include "stream.h"

#include "engine_log.h"
#include "output_device.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <sys/resource.h>
#include <unistd.h>

namespace miravox::soundlib {

namespace {

constexpr int kMinBufferMs = 250;
constexpr auto kConnectedGrace = std::chrono::milliseconds(1000);
constexpr uint64_t kPositionMask = (uint64_t(1) << 48) - 1;
constexpr int64_t kNetworkCushionMs = 500;
// What a network stream gathers before it starts, or sounds again after running dry.
constexpr size_t kStartCushionFrames = kOutputRate / 2;
// A server that sends slower than real time while the stream waits must also leave a cushion for
// what it will lack over this long.
constexpr double kPaceHorizonS = 10.0;
constexpr size_t kPaceMinimumWait = kOutputRate / 4; // frames of waiting before its pace counts
// A server that can never keep a stream going (a trickle) still gets heard: after this long a
// stream plays what it has.
constexpr size_t kLongestWait = 2 * kOutputRate;

// The clock lock's smoothing and pace (see ClockLock): critically damped, it settles in about
// ten minutes.
constexpr double kFillSmoothingS = 20.0;
constexpr double kLockTimeS = 600.0;
constexpr double kGainP = 2e6 / kLockTimeS;                // ppm per second of error
constexpr double kGainI = 1e6 / (kLockTimeS * kLockTimeS); // ppm per second of error, per second
constexpr int64_t kWaitedForDataNs = 2'000'000;
constexpr int64_t kLookAgainNs = 500'000'000;

size_t frames_for_ms(int ms) {
    return static_cast<size_t>(std::max(ms, kMinBufferMs)) * kOutputRate / 1000;
}

// The real time in which the device plays `audio`: the same, unless the virtual devices play
// faster than real time (a simulated run).
std::chrono::microseconds played_in(std::chrono::milliseconds audio) {
    const double us = static_cast<double>(audio.count()) * 1000 / playback_rate();
    return std::chrono::microseconds(std::max<int64_t>(1, std::llround(us)));
}

// Generations wrap; "a is newer than b" in modular arithmetic.
bool newer(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) > 0;
}

} // namespace

Stream::Stream(std::unique_ptr<Interrupt> intr, std::unique_ptr<Decoder> decoder, const StreamSetup& setup)
    : setup_(setup), intr_(std::move(intr)), decoder_(std::move(decoder)),
      ring_(frames_for_ms(setup.buffer_ms)), flags_(setup.flags) {
    for (const std::string& line : decoder_->http_headers()) {
        tags_ += line;
        tags_ += '\0';
    }
    if (!tags_.empty())
        tags_ += '\0';
    source_size_ = decoder_->source_size();
    if (auto len = decoder_->length_frames())
        length_frames_.store(*len);
    rebuffering_ = setup_.network; // a network stream's start is a wait for its cushion
    // A small buffer is held at its middle; it counts as full a quarter of a second (more than a
    // decoded chunk) before it is.
    const double capacity_s = static_cast<double>(ring_.capacity()) / kOutputRate;
    clock_lock_ = ClockLock(std::min(ClockLock::kTargetS, 0.5 * capacity_s), capacity_s - 0.25);
}

Stream::~Stream() {
    close();
}

void Stream::start_decoding() {
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] { run(); });
    if (!setup_.network && !decoder_->length_exact()) {
        DecoderSpec spec = decoder_->copy_spec();
        if (spec.bytes)
            measure_thread_ =
                std::thread([this, s = std::move(spec)]() mutable { measure_length(std::move(s)); });
    }
}

void Stream::close() {
    intr_->request_stop();
    poke();
    if (thread_.joinable())
        thread_.join();
    if (measure_thread_.joinable())
        measure_thread_.join();
}

void Stream::measure_length(DecoderSpec spec) {
    pthread_setname_np(pthread_self(), "sl-length");
    // Below the decoder threads that feed the outputs: this only refines a number.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    int error = 0;
    std::string reason;
    std::unique_ptr<Decoder> copy = Decoder::open(std::move(spec), *intr_, error, reason);
    if (!copy)
        return;
    std::vector<float> chunk;
    int64_t total = 0;
    int n = 0;
    while ((n = copy->decode(chunk)) > 0 && !intr_->stop_requested())
        total += n;
    if (n == 0 && !intr_->stop_requested())
        length_frames_.store(total);
}

void Stream::poke() {
    {
        std::lock_guard lock(wake_mutex_);
        wake_flag_ = true;
    }
    wake_.notify_all();
}

void Stream::wait_for_work(std::chrono::microseconds timeout) {
    std::unique_lock lock(wake_mutex_);
    wake_.wait_for(lock, timeout, [this] { return wake_flag_; });
    wake_flag_ = false;
}

// ---- decoder thread -----------------------------------------------------------------------

bool Stream::push_mark(const Mark& m) {
    while (!marks_.push(m)) {
        if (intr_->stop_requested())
            return false;
        wait_for_work(std::chrono::milliseconds(5));
    }
    return true;
}

bool Stream::write_pending(const std::vector<float>& chunk, size_t& offset, uint32_t) {
    const size_t frames = chunk.size() / 2;
    offset += ring_.write(chunk.data() + offset * 2, frames - offset);
    return offset == frames;
}

void Stream::run() {
    pthread_setname_np(pthread_self(), "sl-decode");
    std::vector<float> chunk;
    size_t written = 0;
    uint32_t produced = 0;
    bool at_end = false;
    int64_t segment_start = 0;
    int64_t segment_frames = 0;
    bool caught_up = false; // the last decode had to wait for the network
    if (!push_mark({ring_.write_count(), 0, 0, MarkKind::Start}))
        return;
    while (!intr_->stop_requested()) {
        const uint32_t g = generation_.load(std::memory_order_acquire);
        if (g != produced) {
            const int64_t target = seek_target_.load();
            chunk.clear();
            written = 0;
            produced = g;
            at_end = false;
            source_ended_.store(false);
            link_down_.store(false); // the next rest asks the connection again
            const bool positioned = decoder_->seek(target);
            if (!push_mark({ring_.write_count(), target, g, MarkKind::Start}))
                break;
            segment_start = target;
            segment_frames = 0;
            if (!positioned) {
                log_line("cannot position the source at frame %lld; the stream ends there",
                         static_cast<long long>(target));
                source_ended_.store(true);
                at_end = push_mark({ring_.write_count(), 0, g, MarkKind::End});
            }
            continue;
        }
        if (written < chunk.size() / 2) {
            if (!write_pending(chunk, written, g)) {
                watch_link();
                wait_for_work(played_in(full_ring_pause()));
            }
            continue;
        }
        if (at_end) {
            if ((flags_.load() & BASS_SAMPLE_LOOP) && decoder_->seekable() && decoder_->seek(0)) {
                if (!push_mark({ring_.write_count(), 0, g, MarkKind::Start}))
                    break;
                at_end = false;
                source_ended_.store(false);
                segment_start = 0;
                segment_frames = 0;
                continue;
            }
            // Looping, seeking, freeing: each pokes this thread.
            wait_for_work(std::chrono::seconds(1));
            continue;
        }
        if (const auto pause = refill_pause(caught_up); pause.count() > 0) {
            watch_link();
            wait_for_work(played_in(pause));
            caught_up = false;
            continue;
        }
        set_read_deadline();
        decoder_->set_rate_correction(correction_ppm_.load(std::memory_order_relaxed));
        if (const float notice = drift_notice_ppm_.load(); notice != 0.0f && !drift_logged_) {
            drift_logged_ = true;
            log_line("network stream: the server's clock and the sound card's differ by about %.0f ppm over "
                     "%.0f minutes; the relay is resampled by as much to keep its buffer",
                     std::fabs(notice), 2 * ClockLock::kSpanS / 60);
        }
        const int64_t started = steady_now_ns();
        busy_since_ns_.store(started);
        const int n = decoder_->decode(chunk);
        busy_since_ns_.store(0);
        caught_up = steady_now_ns() - started > kWaitedForDataNs;
        intr_->clear_deadline();
        source_bytes_.store(decoder_->source_bytes_read());
        written = 0;
        if (n > 0) {
            segment_frames += n;
            continue;
        }
        chunk.clear();
        if (intr_->stop_requested())
            break;
        if (n < 0 && setup_.network)
            log_line("network stream ended: %s",
                     intr_->timed_out() ? "no data within the read time-out" : av_error_text(n).c_str());
        if (n == 0 && segment_start == 0 && decoder_->seekable())
            length_frames_.store(segment_frames); // decoded from the start to the end: exact
        source_ended_.store(true);
        if (!push_mark({ring_.write_count(), 0, g, MarkKind::End}))
            break;
        at_end = true;
    }
}

// While the thread rests, the bytes the server sends keep coming in (a pump), so that a server
// that closed the connection, or has sent nothing for the read time-out, is seen at once however
// much audio is still buffered. That audio still plays; the decoder reaches the end after it.
LinkState Stream::watch_link() {
    if (!setup_.network)
        return {};
    const LinkState link = decoder_->pump_source(std::chrono::milliseconds(setup_.read_timeout_ms));
    if (link.pumped && link.down() && !link_down_.exchange(true))
        log_line("network connection lost: %s; %.1f s of audio still buffered",
                 link.closed ? "the server closed it" : "no data within the read time-out",
                 static_cast<double>(ring_.available()) / kOutputRate);
    return link;
}

// A network read gives up after the read time-out without a byte. For a source we pump, the
// last byte may have come in well before this read: count from it. When no byte has been seen
// for a while, look at the socket first, so that bytes waiting there count as arrived.
void Stream::set_read_deadline() {
    if (!setup_.network || setup_.read_timeout_ms <= 0)
        return;
    const std::chrono::milliseconds timeout(setup_.read_timeout_ms);
    LinkState link = decoder_->link_state();
    if (!link.pumped) {
        intr_->set_deadline_in(timeout);
        intr_->set_idle_window(timeout);
        return;
    }
    if (steady_now_ns() - link.silent_since_ns > kLookAgainNs)
        link = watch_link();
    const auto last_byte = SteadyClock::time_point(
        std::chrono::duration_cast<SteadyClock::duration>(std::chrono::nanoseconds(link.silent_since_ns)));
    intr_->set_deadline(last_byte + timeout);
    intr_->set_idle_window(timeout);
}

// How long to rest before decoding more. A file is read in bursts: once the buffer is full, the
// thread rests until a quarter of it has played, then fills it again. A network source is read
// until the socket has nothing more, then rested for part of what is buffered beyond a cushion.
// Either way the thread wakes a few times a second instead of once per packet.
std::chrono::milliseconds Stream::refill_pause(bool caught_up) {
    using std::chrono::milliseconds;
    const size_t free = ring_.free_space();
    if (!setup_.network) {
        const size_t low_water = ring_.capacity() / 4;
        if (refilling_ && free < ring_.capacity() / 16) // full, give or take the next chunk
            refilling_ = false;
        else if (!refilling_ && free >= low_water)
            refilling_ = true;
        if (refilling_)
            return milliseconds(0);
        // Until the output has played down to the low-water mark (a stream that is not playing
        // never does: seeking and freeing poke this thread).
        return milliseconds(
            std::clamp<int64_t>(static_cast<int64_t>((low_water - free) * 1000 / kOutputRate), 10, 1000));
    }
    if (free == 0)
        return full_ring_pause();
    const int64_t ahead_ms = static_cast<int64_t>(ring_.available() * 1000 / kOutputRate);
    if (!caught_up || ahead_ms <= kNetworkCushionMs)
        return milliseconds(0);
    return milliseconds(std::clamp<int64_t>((ahead_ms - kNetworkCushionMs) / 2, 5, 100));
}

// The buffer has no room for the next chunk. A network stream that lags its server has it full
// for as long as it plays: rest as long as the buffer allows (the bytes keep coming in through
// the pump meanwhile) rather than asking a hundred times a second.
std::chrono::milliseconds Stream::full_ring_pause() const {
    using std::chrono::milliseconds;
    if (!setup_.network)
        return milliseconds(10);
    const int64_t ahead_ms = static_cast<int64_t>(ring_.available() * 1000 / kOutputRate);
    return milliseconds(std::clamp<int64_t>((ahead_ms - kNetworkCushionMs) / 2, 10, 100));
}

// ---- output thread ------------------------------------------------------------------------

bool Stream::enter_generation(uint32_t generation) {
    for (;;) {
        const uint64_t written = ring_.write_count(); // before looking at the marks: see below
        const auto m = marks_.peek();
        if (!m) {
            // Everything written so far precedes the mark the decoder has yet to push.
            ring_.skip_to(written);
            return false;
        }
        ring_.skip_to(m->ring_pos);
        marks_.pop();
        if (m->kind == MarkKind::Start && !newer(generation, m->generation)) {
            in_segment_ = true;
            segment_sounding_ = false;
            segment_generation_ = m->generation;
            segment_ring_base_ = m->ring_pos;
            segment_frame_base_ = m->source_frame;
            return true;
        }
    }
}

void Stream::publish_position() {
    if (!in_segment_)
        return;
    const uint64_t pos =
        static_cast<uint64_t>(segment_frame_base_) + (ring_.read_count() - segment_ring_base_);
    published_position_.store((uint64_t(segment_generation_ & 0xFFFF) << 48) | (pos & kPositionMask),
                              std::memory_order_release);
}

void Stream::record_history(const float* frames, size_t count) {
    uint64_t c = history_count_.load(std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i, ++c) {
        const size_t at = static_cast<size_t>(c % kHistory) * 2;
        history_[at].store(frames[i * 2], std::memory_order_relaxed);
        history_[at + 1].store(frames[i * 2 + 1], std::memory_order_relaxed);
    }
    history_count_.store(c, std::memory_order_release);
}

void Stream::record_silence(size_t count) {
    uint64_t c = history_count_.load(std::memory_order_relaxed);
    for (size_t i = 0; i < std::min(count, kHistory); ++i, ++c) {
        const size_t at = static_cast<size_t>(c % kHistory) * 2;
        history_[at].store(0.0f, std::memory_order_relaxed);
        history_[at + 1].store(0.0f, std::memory_order_relaxed);
    }
    history_count_.store(c, std::memory_order_release);
}

void Stream::mix_into(float* out, size_t frames) noexcept {
    if (state_.load(std::memory_order_acquire) != State::Playing) {
        was_playing_ = false;
        return;
    }
    const float target = volume_.load(std::memory_order_relaxed);
    if (!was_playing_) {
        gain_now_ = target; // a start is not a volume change: no ramp
        was_playing_ = true;
        clock_lock_.interrupted(); // what came in while it did not play is no clock's doing
    }
    // A volume change is ramped across this block so that it does not click.
    const float g0 = gain_now_;
    const float step = (target - g0) / static_cast<float>(frames);
    const uint32_t generation = generation_.load(std::memory_order_acquire);
    size_t produced = 0;
    bool starved = false;
    bool ended = false;
    while (produced < frames) {
        if (!in_segment_ || newer(generation, segment_generation_)) {
            in_segment_ = false;
            if (!enter_generation(generation))
                break; // seeking: silence, but not a stall
            continue;
        }
        const auto mark = marks_.peek();
        const uint64_t read = ring_.read_count();
        if (mark && read >= mark->ring_pos) {
            if (mark->generation != segment_generation_) {
                in_segment_ = false;
                continue;
            }
            if (mark->kind == MarkKind::Start) {
                marks_.pop();
                segment_ring_base_ = mark->ring_pos;
                segment_frame_base_ = mark->source_frame;
                continue;
            }
            if (flags_.load(std::memory_order_relaxed) & BASS_SAMPLE_LOOP) {
                if (!marks_.peek(1)) {
                    starved = true; // the decoder is about to restart the source
                    break;
                }
                marks_.pop();
                continue;
            }
            marks_.pop();
            ended = true;
            break;
        }
        if (!segment_sounding_ && !setup_.network) {
            // A file begins once its decoder is well ahead (or has decoded it whole), as the library
            // fills a stream's buffer before playing it: a decoder that waits for a processor just
            // after the start would otherwise leave a hole in the audio. Silence, not a stall.
            if (ring_.available() < ring_.capacity() / 2 && !(mark && mark->kind == MarkKind::End))
                break;
            segment_sounding_ = true;
        }
        if (rebuffering_) {
            // A network stream starts, and resumes after running dry, only with a cushion in hand: a
            // server that sends at its real pace (no burst) would otherwise keep it on the edge, and
            // every late wake of its decoder would cut a hole in the audio. A short wait, then steady
            // sound; a server's burst gives the cushion at once.
            if (!(mark && mark->kind == MarkKind::End) && !cushion_in_hand(frames - produced)) {
                starved = true;
                break;
            }
            rebuffering_ = false;
        }
        size_t want = frames - produced;
        if (mark)
            want = std::min<size_t>(want, static_cast<size_t>(mark->ring_pos - read));
        const size_t got = ring_.consume(want, [&](const float* src, size_t n) {
            float* dst = out + produced * 2;
            for (size_t i = 0; i < n; ++i) {
                const float g = g0 + step * static_cast<float>(produced + i + 1);
                dst[i * 2] += src[i * 2] * g;
                dst[i * 2 + 1] += src[i * 2 + 1] * g;
            }
            record_history(src, n);
            produced += n;
        });
        if (got == 0) {
            starved = true;
            if (setup_.network) {
                rebuffering_ = true;
                clock_lock_.interrupted();
                waited_frames_ = 0;
                wait_write_base_ = ring_.write_count();
            }
            break;
        }
    }
    if (setup_.network && produced == frames)
        hold_to_clock(frames);
    gain_now_ = target;
    if (produced < frames)
        record_silence(frames - produced);
    publish_position();
    starved_.store(starved, std::memory_order_relaxed);
    if (ended && generation_.load() == segment_generation_) {
        ended_.store(true);
        State playing = State::Playing;
        state_.compare_exchange_strong(playing, State::Stopped);
        if (Doorbell* bell = end_bell_.load())
            bell->ring();
    }
}

// Whether the cushion is in hand; counts `frames` of waiting when it is not. The pace is what
// came in while the stream waited (the output took nothing), against the time it waited.
bool Stream::cushion_in_hand(size_t frames) {
    size_t need = kStartCushionFrames;
    if (waited_frames_ >= kPaceMinimumWait) {
        const double pace =
            static_cast<double>(ring_.write_count() - wait_write_base_) / static_cast<double>(waited_frames_);
        if (pace < 1.0)
            need += static_cast<size_t>((1.0 - pace) * kPaceHorizonS * kOutputRate);
    }
    if (ring_.available() >= std::min(need, ring_.capacity() / 2) ||
        (waited_frames_ >= kLongestWait && ring_.available() > 0))
        return true;
    waited_frames_ += frames;
    return false;
}

double ClockLock::update(double buffered_s, double dt) {
    level_s_ =
        level_s_ < 0 ? buffered_s : level_s_ + (buffered_s - level_s_) * std::min(1.0, dt / kFillSmoothingS);
    const double error = level_s_ - target_s_;
    const double proportional = -kGainP * error;
    const double wanted = proportional + integral_;
    // The integral stops while the correction is at its limit the same way (no wind-up): a large
    // excess at the start (a server's burst) is drained by the proportional part alone.
    if (!(wanted >= kMaxPpm && error < 0) && !(wanted <= -kMaxPpm && error > 0))
        integral_ = std::clamp(integral_ - kGainI * error * dt, -kMaxPpm, kMaxPpm);
    correction_ = std::clamp(proportional + integral_, -kMaxPpm, kMaxPpm);

    // Spans begin once the smoothing has settled after a start.
    if (span_level_ < 0) {
        settling_s_ += dt;
        if (settling_s_ < 3 * kFillSmoothingS)
            return correction_;
        span_level_ = level_s_;
    }
    span_s_ += dt;
    span_correction_ += correction_ * dt;
    span_full_ = span_full_ || buffered_s >= full_s_;
    if (span_s_ >= kSpanS) {
        const double offset = (level_s_ - span_level_) / span_s_ * 1e6 - span_correction_ / span_s_;
        const bool off = !span_full_ && std::fabs(offset) >= kNoticePpm;
        spans_off_ = !off ? 0 : spans_off_ > 0 && (offset > 0) == (last_offset_ > 0) ? spans_off_ + 1 : 1;
        if (spans_off_ >= 2 && notice_ == 0.0)
            notice_ = -(offset + last_offset_) / 2;
        last_offset_ = offset;
        span_s_ = span_correction_ = 0.0;
        span_level_ = level_s_;
        span_full_ = false;
    }
    return correction_;
}

void ClockLock::interrupted() {
    level_s_ = span_level_ = -1.0;
    span_s_ = span_correction_ = settling_s_ = 0.0;
    span_full_ = false;
}

// After each block a network stream played whole: the correction the decoder applies to what it
// converts next. Never while it waits for its cushion: a stall is not a clock.
void Stream::hold_to_clock(size_t frames) {
    clock_lock_.update(static_cast<double>(ring_.available()) / kOutputRate,
                       static_cast<double>(frames) / kOutputRate);
    correction_ppm_.store(static_cast<float>(clock_lock_.correction()), std::memory_order_relaxed);
    if (drift_notice_ppm_.load(std::memory_order_relaxed) == 0.0f)
        drift_notice_ppm_.store(static_cast<float>(clock_lock_.notice()), std::memory_order_relaxed);
}

// ---- control ------------------------------------------------------------------------------

void Stream::request_generation(int64_t start_frame) {
    seek_target_.store(start_frame);
    ended_.store(false);
    starved_.store(false);
    generation_.fetch_add(1, std::memory_order_release);
    poke();
}

int Stream::play(bool restart) {
    if (restart || ended_.load()) {
        if (!decoder_->seekable() && ended_.load())
            return BASS_ERROR_ENDED;
        if (decoder_->seekable())
            request_generation(0);
    }
    state_.store(State::Playing, std::memory_order_release);
    return BASS_OK;
}

void Stream::stop() {
    state_.store(State::Stopped, std::memory_order_release);
    starved_.store(false);
}

int Stream::pause() {
    State playing = State::Playing;
    if (!state_.compare_exchange_strong(playing, State::Paused))
        return BASS_ERROR_NOPLAY;
    return BASS_OK;
}

DWORD Stream::active() const {
    switch (state_.load()) {
    case State::Playing:
        // Only a network stream stalls. A file's decoder that has not yet caught up with the output
        // (a thread waiting for a processor, a slow disk) is a moment's silence: the channels stop a
        // file they find stalled, and a file that truly stops coming shows in its position.
        return starved_.load() && setup_.network ? BASS_ACTIVE_STALLED : BASS_ACTIVE_PLAYING;
    case State::Paused:
        return BASS_ACTIVE_PAUSED;
    case State::Stopped:
        break;
    }
    return BASS_ACTIVE_STOPPED;
}

DWORD Stream::change_flags(DWORD flags, DWORD mask) {
    const DWORD changeable = mask & (BASS_SAMPLE_LOOP | BASS_STREAM_AUTOFREE);
    DWORD old = flags_.load();
    DWORD next = (old & ~changeable) | (flags & changeable);
    while (!flags_.compare_exchange_weak(old, next))
        next = (old & ~changeable) | (flags & changeable);
    if ((old ^ next) & BASS_SAMPLE_LOOP)
        poke();
    if ((old ^ next) & next & BASS_STREAM_AUTOFREE)
        if (Doorbell* bell = end_bell_.load())
            bell->ring();
    return next;
}

void Stream::set_volume(float v) {
    volume_.store(v < 0.0f ? 0.0f : v);
}

bool Stream::attribute(DWORD attrib, float& value) const {
    switch (attrib) {
    case BASS_ATTRIB_VOL:
        value = volume();
        return true;
    case BASS_ATTRIB_MIRAVOX_DRIFT:
        value = correction_ppm_.load(std::memory_order_relaxed);
        return true;
    case BASS_ATTRIB_MIRAVOX_DRIFT_NOTICE:
        value = drift_notice_ppm_.load(std::memory_order_relaxed);
        return true;
    case BASS_ATTRIB_MIRAVOX_LINK_LOST:
        value = setup_.network && (link_down_.load() || source_ended_.load()) ? 1.0f : 0.0f;
        return true;
    default:
        return false;
    }
}

uint64_t Stream::position_frames() const {
    const uint32_t g = generation_.load(std::memory_order_acquire);
    const uint64_t p = published_position_.load(std::memory_order_acquire);
    if ((p >> 48) != (g & 0xFFFF))
        return static_cast<uint64_t>(seek_target_.load());
    return p & kPositionMask;
}

int Stream::set_position_frames(uint64_t frame) {
    if (!decoder_->seekable())
        return BASS_ERROR_NOTAVAIL;
    const int64_t len = length_frames_.load();
    if (len >= 0 && frame > static_cast<uint64_t>(len))
        return BASS_ERROR_POSITION;
    request_generation(static_cast<int64_t>(frame));
    return BASS_OK;
}

std::optional<uint64_t> Stream::length_frames() const {
    const int64_t len = length_frames_.load();
    if (len < 0)
        return std::nullopt;
    return static_cast<uint64_t>(len);
}

bool Stream::connected() const {
    if (!setup_.network || source_ended_.load() || link_down_.load())
        return false;
    const int64_t since = busy_since_ns_.load();
    if (since == 0 || ring_.available() > 0)
        return true;
    return steady_now_ns() - since < std::chrono::duration_cast<std::chrono::nanoseconds>(kConnectedGrace).count();
}

std::optional<uint64_t> Stream::file_position(DWORD mode, int& error) const {
    error = BASS_OK;
    switch (mode) {
    case BASS_FILEPOS_CURRENT:
        return source_bytes_.load();
    case BASS_FILEPOS_DOWNLOAD:
        if (!setup_.network && source_size_ >= 0)
            return static_cast<uint64_t>(source_size_);
        return source_bytes_.load();
    case BASS_FILEPOS_END:
        if (setup_.network)
            return ring_.capacity() * kBytesPerFrame;
        if (source_size_ >= 0)
            return static_cast<uint64_t>(source_size_);
        error = BASS_ERROR_NOTAVAIL;
        return std::nullopt;
    case BASS_FILEPOS_START:
        return 0;
    case BASS_FILEPOS_CONNECTED:
        if (!setup_.network) {
            error = BASS_ERROR_NOTAVAIL;
            return std::nullopt;
        }
        return connected() ? 1 : 0;
    case BASS_FILEPOS_BUFFER:
        return ring_.available() * kBytesPerFrame;
    default:
        error = BASS_ERROR_ILLTYPE;
        return std::nullopt;
    }
}

bool Stream::spectrum(float* out) {
    float mono[Spectrum::kSize];
    const uint64_t count = history_count_.load(std::memory_order_acquire);
    for (size_t i = 0; i < Spectrum::kSize; ++i) {
        const uint64_t back = Spectrum::kSize - i; // 512 .. 1 frames ago
        if (back > count) {
            mono[i] = 0.0f;
            continue;
        }
        const size_t at = static_cast<size_t>((count - back) % kHistory) * 2;
        mono[i] = 0.5f * (history_[at].load(std::memory_order_relaxed) +
                          history_[at + 1].load(std::memory_order_relaxed));
    }
    std::lock_guard lock(spectrum_mutex_);
    if (!spectrum_)
        spectrum_ = std::make_unique<Spectrum>();
    return spectrum_->compute(mono, out);
}

std::pair<float, float> Stream::peak() const {
    const uint64_t count = std::min<uint64_t>(history_count_.load(std::memory_order_acquire), kHistory);
    float left = 0.0f, right = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        left = std::max(left, std::fabs(history_[i * 2].load(std::memory_order_relaxed)));
        right = std::max(right, std::fabs(history_[i * 2 + 1].load(std::memory_order_relaxed)));
    }
    return {left, right};
}

void Stream::wait_prebuffer(int percent, SteadyClock::time_point deadline) const {
    const size_t want = ring_.capacity() * static_cast<size_t>(percent) / 100;
    while (ring_.available() < want && !source_ended_.load() && SteadyClock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace miravox::soundlib
