#include "decoder.h"

#include "soundlib.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
}

namespace miravox::soundlib {

namespace {

constexpr int kMaxBadPacketsWhileOpening = 64;
constexpr int kMaxBadPacketsInARow = 500;
constexpr AVRational kOutputTimeBase{1, kOutputRate};
// The highest sample rate audio is made at. A file claiming more (a damaged header) would make the
// resampler build a filter bank of gigabytes for a few bytes of input.
constexpr int kMaxInputRate = 768000;
// A rate correction is given to the resampler as so many extra frames over this many output
// frames (about 100 s): 0.23 ppm per frame, and it is set again well before it runs out.
constexpr int kCorrectionSpan = 100 * kOutputRate;

bool is_pcm(AVCodecID id) {
    return id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

} // namespace

Decoder::~Decoder() {
    av_channel_layout_uninit(&swr_in_layout_);
}

std::unique_ptr<Decoder> Decoder::open(DecoderSpec spec, Interrupt& intr, int& error, std::string& reason) {
    std::unique_ptr<Decoder> d(new Decoder());
    d->intr_ = &intr;
    d->network_ = spec.network;
    d->name_hint_ = spec.name_hint;
    d->forced_format_ = spec.forced_format;
    d->bytes_ = std::move(spec.bytes);
    int averror = 0;
    if (!d->open_format(spec, averror)) {
        error = error_from_open_failure({averror, intr.timed_out(), spec.network});
        reason = av_error_text(averror);
        return nullptr;
    }
    if ((error = d->select_stream()) != BASS_OK) {
        reason = "no audio track";
        return nullptr;
    }
    if ((error = d->open_codec()) != BASS_OK) {
        reason = std::string("no decoder for ") +
                 avcodec_get_name(d->fmt_->streams[d->stream_index_]->codecpar->codec_id);
        return nullptr;
    }
    d->frame_.reset(av_frame_alloc());
    d->packet_.reset(av_packet_alloc());
    if (!d->frame_ || !d->packet_) {
        error = BASS_ERROR_MEM;
        return nullptr;
    }
    d->seekable_ = !spec.network && d->bytes_ && d->bytes_->seekable();
    if (d->seekable_ && !spec.skip_length)
        d->compute_length();

    // Decode the first audio now: only then do we know the source really is audio we can play.
    std::vector<float> first;
    const int n = d->decode(first);
    if (n < 0 || (n == 0 && d->bad_packets_ > 0)) {
        const int cause = n < 0 ? n : AVERROR_INVALIDDATA;
        if (cause == AVERROR(EINVAL))
            error = BASS_ERROR_FORMAT; // decoded, but not convertible to the output format
        else if (cause == AVERROR_EXIT)
            error = intr.timed_out() ? BASS_ERROR_TIMEOUT : BASS_ERROR_UNKNOWN;
        else
            error = error_from_open_failure({cause, intr.timed_out(), spec.network});
        reason = n < 0 ? av_error_text(n) : "no decodable audio";
        return nullptr;
    }
    d->primed_ = std::move(first);
    if (spec.network && !d->bytes_)
        d->collect_icy_headers();
    return d;
}

bool Decoder::open_format(DecoderSpec& spec, int& averror) {
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        averror = AVERROR(ENOMEM);
        return false;
    }
    raw->interrupt_callback = intr_->callback();
    if (bytes_) {
        avio_.reset(make_avio(*bytes_));
        if (!avio_) {
            avformat_free_context(raw);
            averror = AVERROR(ENOMEM);
            return false;
        }
        raw->pb = avio_.get();
        raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    AVDictionary* opts = nullptr;
    if (!network_) {
        // A local file must never make FFmpeg open network addresses (a playlist file could).
        av_dict_set(&opts, "protocol_whitelist", "file,crypto,data", 0);
    } else if (!bytes_) {
        if (!spec.user_agent.empty())
            av_dict_set(&opts, "user_agent", spec.user_agent.c_str(), 0);
        if (spec.connect_timeout_ms > 0)
            av_dict_set_int(&opts, "timeout", int64_t(spec.connect_timeout_ms) * 1000, 0);
    }
    const AVInputFormat* forced =
        forced_format_.empty() ? nullptr : av_find_input_format(forced_format_.c_str());
    const std::string& target = bytes_ ? name_hint_ : spec.url;
    averror = avformat_open_input(&raw, target.c_str(), forced, &opts);
    av_dict_free(&opts);
    if (averror < 0)
        return false; // FFmpeg freed the context
    fmt_.reset(raw);
    if (!network_)
        avformat_find_stream_info(fmt_.get(), nullptr);
    return true;
}

int Decoder::select_stream() {
    int idx = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (idx < 0 && network_) {
        // A live track whose header names its codec but not its rate or channels (raw MP3 or
        // ADTS): the decoder learns them from the first frame. Asking FFmpeg to look into the
        // data would read two seconds of audio, at the pace the server sends it.
        for (unsigned i = 0; idx < 0 && i < fmt_->nb_streams; ++i)
            if (fmt_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                fmt_->streams[i]->codecpar->codec_id != AV_CODEC_ID_NONE)
                idx = static_cast<int>(i);
    }
    if (idx >= 0 && fmt_->streams[idx]->codecpar->codec_id == AV_CODEC_ID_NONE && network_) {
        // A network container that did not name its codec in the header: look at the data.
        fmt_->probesize = 256 * 1024;
        fmt_->max_analyze_duration = 2 * AV_TIME_BASE;
        avformat_find_stream_info(fmt_.get(), nullptr);
        idx = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    } else if (idx < 0 && network_) {
        fmt_->probesize = 256 * 1024;
        fmt_->max_analyze_duration = 2 * AV_TIME_BASE;
        avformat_find_stream_info(fmt_.get(), nullptr);
        idx = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    }
    for (unsigned i = 0; idx < 0 && i < fmt_->nb_streams; ++i)
        if (fmt_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            idx = static_cast<int>(i); // FFmpeg found nothing it rates: decoding will tell
    if (idx < 0)
        return fmt_->nb_streams > 0 ? BASS_ERROR_NOTAUDIO : BASS_ERROR_FILEFORM;
    stream_index_ = idx;
    time_base_ = fmt_->streams[idx]->time_base;
    for (unsigned i = 0; i < fmt_->nb_streams; ++i)
        if (static_cast<int>(i) != idx)
            fmt_->streams[i]->discard = AVDISCARD_ALL;
    return BASS_OK;
}

int Decoder::open_codec() {
    const AVCodecParameters* par = fmt_->streams[stream_index_]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return BASS_ERROR_CODEC;
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_)
        return BASS_ERROR_MEM;
    if (avcodec_parameters_to_context(codec_.get(), par) < 0)
        return BASS_ERROR_CODEC;
    codec_->pkt_timebase = time_base_;
    if (avcodec_open2(codec_.get(), codec, nullptr) < 0)
        return BASS_ERROR_CODEC;
    return BASS_OK;
}

// PCM lengths come from the container, MPEG audio lengths from its packets (whose trimming
// FFmpeg marks exactly as its decoder applies it). Other codecs trim in ways no packet walk
// reproduces (priming of AAC in MP4, Vorbis' first block): the container's duration is an
// estimate until a full decode counts the frames (see Stream).
void Decoder::compute_length() {
    const AVStream* st = fmt_->streams[stream_index_];
    const int rate = st->codecpar->sample_rate;
    const AVCodecID id = st->codecpar->codec_id;
    if (rate > 0 && is_pcm(id) && st->duration > 0) {
        const int64_t samples = av_rescale_q(st->duration, st->time_base, AVRational{1, rate});
        length_frames_ = av_rescale_rnd(samples, kOutputRate, rate, AV_ROUND_NEAR_INF);
        length_exact_ = rate == kOutputRate;
        return;
    }
    if (rate > 0 && (id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_MP2)) {
        length_frames_ = scan_length_frames();
        length_exact_ = length_frames_.has_value() && rate == kOutputRate;
        if (length_frames_)
            return;
    }
    if (fmt_->duration > 0)
        length_frames_ = av_rescale_q(fmt_->duration, AV_TIME_BASE_Q, kOutputTimeBase);
}

DecoderSpec Decoder::copy_spec() const {
    DecoderSpec spec;
    spec.bytes = bytes_ ? bytes_->clone() : nullptr;
    spec.name_hint = name_hint_;
    spec.forced_format = forced_format_;
    spec.skip_length = true;
    return spec;
}

// Reads every packet of the audio track once (no decoding) and adds their durations, less the
// samples the decoder will trim at the start and the end. Exact where the container is.
std::optional<int64_t> Decoder::scan_length_frames() {
    auto src = bytes_->clone();
    if (!src)
        return std::nullopt;
    AvioPtr avio(make_avio(*src));
    AVFormatContext* raw = avformat_alloc_context();
    if (!avio || !raw) {
        avformat_free_context(raw);
        return std::nullopt;
    }
    raw->pb = avio.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->interrupt_callback = intr_->callback();
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "protocol_whitelist", "file,crypto,data", 0);
    const AVInputFormat* forced =
        forced_format_.empty() ? nullptr : av_find_input_format(forced_format_.c_str());
    const int rc = avformat_open_input(&raw, name_hint_.c_str(), forced, &opts);
    av_dict_free(&opts);
    if (rc < 0)
        return std::nullopt;
    FormatContextPtr scan(raw);
    // Read the header the same way as for playing, so the packets carry the same trimming.
    avformat_find_stream_info(scan.get(), nullptr);
    if (stream_index_ >= static_cast<int>(scan->nb_streams))
        return std::nullopt;
    const AVStream* st = scan->streams[stream_index_];
    const int rate = st->codecpar->sample_rate;
    PacketPtr pkt(av_packet_alloc());
    int64_t total = 0;
    int64_t trimmed = 0;
    bool complete = rate > 0;
    while (complete && av_read_frame(scan.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == stream_index_) {
            if (pkt->duration <= 0)
                complete = false;
            total += pkt->duration;
            size_t size = 0;
            const uint8_t* skip = av_packet_get_side_data(pkt.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (skip && size >= 8)
                trimmed += int64_t(AV_RL32(skip)) + int64_t(AV_RL32(skip + 4));
        }
        av_packet_unref(pkt.get());
    }
    if (!complete || total <= 0)
        return std::nullopt;
    const int64_t samples =
        std::max<int64_t>(0, av_rescale_q(total, st->time_base, AVRational{1, rate}) - trimmed);
    return av_rescale_rnd(samples, kOutputRate, rate, AV_ROUND_NEAR_INF);
}

// FFmpeg's http keeps the ICY header lines (normalised to "name: value").
void Decoder::collect_icy_headers() {
    if (fmt_->pb)
        http_headers_ = icy_header_lines(fmt_->pb);
}

int64_t Decoder::source_size() const {
    return bytes_ ? bytes_->size() : -1;
}

uint64_t Decoder::source_bytes_read() const {
    if (bytes_)
        return bytes_->bytes_read();
    return fmt_ && fmt_->pb ? static_cast<uint64_t>(std::max<int64_t>(fmt_->pb->bytes_read, 0)) : 0;
}

bool Decoder::ensure_resampler(const AVFrame* f) {
    const int rate = f->sample_rate > 0 ? f->sample_rate : codec_->sample_rate;
    AVChannelLayout in{};
    if (f->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC && f->ch_layout.nb_channels > 0)
        av_channel_layout_copy(&in, &f->ch_layout);
    else
        av_channel_layout_default(&in, f->ch_layout.nb_channels > 0 ? f->ch_layout.nb_channels
                                                                    : codec_->ch_layout.nb_channels);
    if (swr_ && rate == swr_in_rate_ && f->format == swr_in_format_ &&
        av_channel_layout_compare(&in, &swr_in_layout_) == 0) {
        av_channel_layout_uninit(&in);
        return true;
    }
    swr_.reset();
    av_channel_layout_uninit(&swr_in_layout_);
    if (rate <= 0 || rate > kMaxInputRate || in.nb_channels <= 0) {
        av_channel_layout_uninit(&in);
        return false;
    }
    SwrContext* s = nullptr;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&s, &stereo, AV_SAMPLE_FMT_FLT, kOutputRate, &in,
                            static_cast<AVSampleFormat>(f->format), rate, 0, nullptr) < 0) {
        av_channel_layout_uninit(&in);
        return false;
    }
    swr_.reset(s);
    if (network_) {
        // Always through the filter, even at the output's own rate, so that a rate correction
        // moves smoothly from one frame to the next instead of rebuilding the resampler.
        av_opt_set_int(s, "flags", SWR_FLAG_RESAMPLE, 0);
        since_applied_ = INT64_MAX;
    }
    if (in.nb_channels == 1) {
        // Mono plays at full level on both sides (FFmpeg's default would lower it by 3 dB).
        const double both[2] = {1.0, 1.0};
        swr_set_matrix(s, both, 1);
    }
    if (swr_init(s) < 0) {
        swr_.reset();
        av_channel_layout_uninit(&in);
        return false;
    }
    swr_in_rate_ = rate;
    swr_in_format_ = f->format;
    swr_in_layout_ = in;
    return true;
}

// The correction changes the resampler's step, never its phase: no click, and a change of a few
// ppm a second is far below a pitch anyone hears (1000 ppm is under two cents).
void Decoder::apply_correction(int output_frames) {
    if (!network_ || !swr_)
        return;
    if (since_applied_ != INT64_MAX)
        since_applied_ += output_frames;
    if (std::fabs(correction_ppm_ - applied_ppm_) < 0.25 && since_applied_ < kCorrectionSpan / 2)
        return;
    const int delta = static_cast<int>(std::lround(correction_ppm_ * kCorrectionSpan / 1e6));
    if (swr_set_compensation(swr_.get(), delta, kCorrectionSpan) < 0)
        return;
    applied_ppm_ = correction_ppm_;
    since_applied_ = 0;
}

int Decoder::convert(AVFrame* f, std::vector<float>& out) {
    if (!ensure_resampler(f))
        return AVERROR(EINVAL);
    apply_correction(static_cast<int>(int64_t(f->nb_samples) * kOutputRate / swr_in_rate_));
    const int max_out = swr_get_out_samples(swr_.get(), f->nb_samples) + 16;
    const size_t first = out.size() / 2;
    out.resize((first + static_cast<size_t>(max_out)) * 2);
    auto* dst = reinterpret_cast<uint8_t*>(out.data() + first * 2);
    const int n =
        swr_convert(swr_.get(), &dst, max_out, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    out.resize((first + static_cast<size_t>(std::max(n, 0))) * 2);
    return n;
}

int Decoder::flush_resampler(std::vector<float>& out) {
    if (!swr_)
        return 0;
    const int max_out = swr_get_out_samples(swr_.get(), 0) + 16;
    const size_t first = out.size() / 2;
    out.resize((first + static_cast<size_t>(max_out)) * 2);
    auto* dst = reinterpret_cast<uint8_t*>(out.data() + first * 2);
    const int n = swr_convert(swr_.get(), &dst, max_out, nullptr, 0);
    out.resize((first + static_cast<size_t>(std::max(n, 0))) * 2);
    swr_.reset();
    return std::max(n, 0);
}

// After a seek the decoder restarts at a key frame at or before the target: drop what lies
// before the target.
void Decoder::apply_pending_discard(AVFrame* f, std::vector<float>& out, size_t first_new) {
    if (!discard_to_)
        return;
    const int64_t ts = f->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) {
        discard_to_.reset();
        return;
    }
    const int64_t pos = av_rescale_q(ts - start_pts_.value_or(0), time_base_, kOutputTimeBase);
    const int64_t drop = *discard_to_ - pos;
    const size_t produced = out.size() / 2 - first_new;
    if (drop <= 0) {
        discard_to_.reset();
        return;
    }
    const size_t n = static_cast<size_t>(std::min<int64_t>(drop, static_cast<int64_t>(produced)));
    out.erase(out.begin() + static_cast<ptrdiff_t>(first_new * 2),
              out.begin() + static_cast<ptrdiff_t>((first_new + n) * 2));
    if (n < produced)
        discard_to_.reset();
}

int Decoder::decode(std::vector<float>& out) {
    out.clear();
    if (!primed_.empty()) {
        out.swap(primed_);
        return static_cast<int>(out.size() / 2);
    }
    if (finished_)
        return 0;
    const int bad_limit = start_pts_ ? kMaxBadPacketsInARow : kMaxBadPacketsWhileOpening;
    for (;;) {
        int ret = avcodec_receive_frame(codec_.get(), frame_.get());
        if (ret == 0) {
            if (!start_pts_)
                start_pts_ =
                    frame_->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : frame_->best_effort_timestamp;
            const size_t first_new = out.size() / 2;
            const int n = convert(frame_.get(), out);
            if (n >= 0)
                apply_pending_discard(frame_.get(), out, first_new);
            av_frame_unref(frame_.get());
            if (n < 0)
                return n;
            if (!out.empty())
                return static_cast<int>(out.size() / 2);
            continue;
        }
        if (ret == AVERROR_EOF) {
            finished_ = true;
            return flush_resampler(out);
        }
        if (ret != AVERROR(EAGAIN)) {
            // A broken frame: the decoder recovers with the next packets.
            if (++bad_packets_ > bad_limit)
                return ret;
            continue;
        }
        if (draining_)
            return 0;
        ret = av_read_frame(fmt_.get(), packet_.get());
        if (ret == AVERROR_EXIT)
            return ret;
        if (ret < 0) {
            // End of file, or a network source that broke off: play out what the decoder holds.
            draining_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            continue;
        }
        if (packet_->stream_index != stream_index_) {
            av_packet_unref(packet_.get());
            continue;
        }
        ret = avcodec_send_packet(codec_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (ret < 0 && ret != AVERROR(EAGAIN)) {
            if (++bad_packets_ > bad_limit)
                return ret;
        } else {
            bad_packets_ = 0;
        }
    }
}

bool Decoder::reopen_from_start() {
    auto src = bytes_ ? bytes_->clone() : nullptr;
    if (!src)
        return false;
    fmt_.reset();
    avio_.reset();
    bytes_ = std::move(src);
    DecoderSpec spec;
    spec.name_hint = name_hint_;
    int averror = 0;
    if (!open_format(spec, averror) || stream_index_ >= static_cast<int>(fmt_->nb_streams))
        return false;
    for (unsigned i = 0; i < fmt_->nb_streams; ++i)
        if (static_cast<int>(i) != stream_index_)
            fmt_->streams[i]->discard = AVDISCARD_ALL;
    avcodec_flush_buffers(codec_.get());
    swr_.reset();
    draining_ = false;
    finished_ = false;
    bad_packets_ = 0;
    primed_.clear();
    discard_to_.reset();
    return true;
}

bool Decoder::seek(int64_t frame) {
    if (!seekable_)
        return false;
    if (frame <= 0)
        return reopen_from_start();
    const int64_t ts = start_pts_.value_or(0) + av_rescale_q(frame, kOutputTimeBase, time_base_);
    if (avformat_seek_file(fmt_.get(), stream_index_, INT64_MIN, ts, ts, 0) < 0) {
        // No index to seek with: decode from the start and drop up to the target.
        if (!reopen_from_start())
            return false;
        discard_to_ = frame;
        return true;
    }
    avcodec_flush_buffers(codec_.get());
    swr_.reset();
    draining_ = false;
    finished_ = false;
    bad_packets_ = 0;
    primed_.clear();
    discard_to_ = frame;
    return true;
}

} // namespace miravox::soundlib
