#include "stream_factory.h"

#include "byte_source.h"
#include "decoder.h"
#include "engine.h"
#include "engine_config.h"
#include "engine_log.h"
#include "error_state.h"
#include "http_client.h"
#include "live_format.h"
#include "text_encoding.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace miravox::soundlib {

namespace {

// A local file that keeps FFmpeg busy longer than this is not worth waiting for.
constexpr auto kLocalOpenLimit = std::chrono::seconds(10);
constexpr int kMaxPlaylistDepth = 3;
// An encoder's tag is a few dozen bytes; one with a picture is worth a line.
constexpr uint64_t kLogTagsFrom = 64 * 1024;
constexpr size_t kMaxPlaylistBytes = 64 * 1024;
constexpr DWORD kCreationFlags =
    BASS_SAMPLE_LOOP | BASS_SAMPLE_SOFTWARE | BASS_SAMPLE_FLOAT | BASS_STREAM_AUTOFREE;

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string scheme_of(const std::string& address) {
    const auto sep = address.find("://");
    return sep == std::string::npos ? std::string() : lower(address.substr(0, sep));
}

HSTREAM register_stream(std::unique_ptr<Interrupt> intr, std::unique_ptr<Decoder> decoder,
                        const StreamSetup& setup, std::shared_ptr<Stream>* out = nullptr) {
    intr->clear_deadline();
    intr->reset_timeout();
    auto stream = std::make_shared<Stream>(std::move(intr), std::move(decoder), setup);
    HSTREAM handle = 0;
    const int error = Engine::instance().add_stream(stream, handle);
    if (error != BASS_OK) {
        stream->close();
        return fail<HSTREAM>(error, 0);
    }
    if (out)
        *out = stream;
    return succeed(handle);
}

// ---- network --------------------------------------------------------------------------------

// The options an open goes by, read once at its start: another thread may set them for its own
// open meanwhile.
struct NetOptions {
    std::string agent;
    int timeout_ms = 0;
    bool playlist = false;
};

NetOptions net_options() {
    return {config().agent(), config().net_timeout_ms(), config().net_playlist()};
}

struct NetworkTarget {
    DecoderSpec spec;
    std::vector<std::string> headers;
    int error = BASS_OK;
    std::string reason;
};

NetworkTarget failure(int error, std::string reason) {
    NetworkTarget t;
    t.error = error;
    t.reason = std::move(reason);
    return t;
}

// Playlists that lead to playlists, and redirects between http and https, end somewhere.
constexpr int kMaxHops = 8;

bool is_playlist(const std::string& content_type, const std::string& url) {
    static const char* const types[] = {"application/vnd.apple.mpegurl",
                                        "application/x-mpegurl",
                                        "audio/x-mpegurl",
                                        "audio/mpegurl",
                                        "audio/x-scpls",
                                        "application/pls+xml"};
    const std::string ct = lower(content_type.substr(0, content_type.find(';')));
    for (const char* t : types)
        if (ct == t)
            return true;
    std::string path = lower(url.substr(0, url.find('?')));
    for (const char* ext : {".m3u8", ".m3u", ".pls"})
        if (path.size() > std::strlen(ext) &&
            path.compare(path.size() - std::strlen(ext), std::string::npos, ext) == 0)
            return true;
    return false;
}

bool is_windows_media_server(const std::string& content_type) {
    const std::string ct = lower(content_type.substr(0, content_type.find(';')));
    return ct == "application/x-mms-framed" || ct == "application/vnd.ms.wms-hdr.asfv1";
}

std::string read_body(ByteSource& body) {
    std::string text;
    uint8_t buf[4096];
    while (text.size() < kMaxPlaylistBytes) {
        const int n = body.read(buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
    }
    return text;
}

// First stream address of a .pls or .m3u playlist, resolved against `base`.
std::string first_playlist_entry(const std::string& body, const HttpUrl& base) {
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string line = body.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty() || line[0] == '#' || line[0] == '[')
            continue;
        const std::string l = lower(line);
        if (l.rfind("file", 0) == 0 && line.find('=') != std::string::npos)
            return base.resolve(line.substr(line.find('=') + 1));
        if (line.find('=') == std::string::npos)
            return base.resolve(line);
    }
    return {};
}

// The server of the audio answered. The time-out bounded connecting and that answer; now it
// bounds each silence while we wait for the first audio: a server that sends nothing fails after
// it, one that trickles is waited for, up to three times the time-out.
void answered(Interrupt& intr, const NetOptions& opt) {
    const std::chrono::milliseconds timeout(opt.timeout_ms);
    intr.set_deadline_in(timeout);
    intr.set_idle_window(timeout, SteadyClock::now() + 3 * timeout);
}

// FFmpeg's protocols resolve host names with a call that nothing interrupts. The name is
// resolved here first, within the time-out, so that one that does not resolve fails as with our
// own client; FFmpeg's own lookup that follows is bounded by the open's thread (create_url_stream).
NetworkTarget check_ffmpeg_host(const std::string& address, Interrupt& intr) {
    HttpUrl u;
    if (!HttpUrl::parse(address, u))
        return {}; // FFmpeg says what is wrong with it
    NetworkTarget t;
    t.error = check_host_resolves(u.host, intr, t.reason);
    return t;
}

NetworkTarget follow(const std::string& address, Interrupt& intr, const NetOptions& opt, int hops);

NetworkTarget ffmpeg_url_target(const std::string& address, const char* forced_format, Interrupt& intr) {
    NetworkTarget t = check_ffmpeg_host(address, intr);
    if (t.error == BASS_OK) {
        t.spec.url = address;
        if (forced_format)
            t.spec.forced_format = forced_format;
    }
    return t;
}

// What an answer's body leads to: the audio itself, an HLS playlist, or a playlist whose first
// entry is followed wherever it points.
NetworkTarget answer_target(std::unique_ptr<ByteSource> body, const std::string& url, const std::string& content_type,
                            std::vector<std::string> headers, Interrupt& intr, const NetOptions& opt, int hops) {
    if (is_playlist(content_type, url)) {
        const std::string text = read_body(*body);
        body.reset();
        if (text.find("#EXT-X-") != std::string::npos)
            return ffmpeg_url_target(url, "hls", intr); // FFmpeg reads the playlist and its segments
        HttpUrl base;
        HttpUrl::parse(url, base);
        const std::string next = first_playlist_entry(text, base);
        if (!opt.playlist || next.empty() || hops >= kMaxPlaylistDepth)
            return failure(BASS_ERROR_FILEFORM,
                           next.empty() ? "a playlist without entries" : "a playlist that does not lead to audio");
        return follow(next, intr, opt, hops + 1);
    }
    answered(intr, opt);
    NetworkTarget t;
    t.spec.name_hint = url;
    t.spec.bytes = std::move(body);
    t.headers = std::move(headers);
    return t;
}

// An address FFmpeg's protocols open (https). The body is read through them, so that its format
// is told from its first bytes as that of our own downloads is.
NetworkTarget protocol_target(const std::string& address, Interrupt& intr, const NetOptions& opt, int hops) {
    if (NetworkTarget t = check_ffmpeg_host(address, intr); t.error != BASS_OK)
        return t;
    ProtocolAnswer a = ffmpeg_protocol_source(address, opt.agent, opt.timeout_ms, intr);
    if (!a.body)
        return failure(error_from_open_failure({a.averror, intr.timed_out(), true}), av_error_text(a.averror));
    // A redirect to plain http stays with FFmpeg, which is connected to it already: asking a
    // second time could cost a listener slot, or a one-time address.
    return answer_target(std::move(a.body), a.location, a.content_type, std::move(a.icy_lines), intr, opt, hops);
}

NetworkTarget http_target(const std::string& address, Interrupt& intr, const NetOptions& opt, int hops) {
    HttpOpenResult r = HttpConnection::open(address, opt.agent, intr);
    if (!r.connection) {
        if (!r.redirect_elsewhere.empty())
            return follow(r.redirect_elsewhere, intr, opt, hops + 1);
        return failure(r.error, r.reason);
    }
    if (is_windows_media_server(r.connection->header("Content-Type"))) {
        // A Windows Media server frames its HTTP answer in its own way: FFmpeg's mmsh reads it.
        const std::string& at = r.connection->url();
        NetworkTarget t;
        t.spec.url = "mmsh" + at.substr(at.find("://"));
        return t;
    }
    const std::string url = r.connection->url();
    const std::string content_type = r.connection->header("Content-Type");
    std::vector<std::string> headers = r.connection->header_lines();
    return answer_target(http_body_source(std::move(r.connection), intr), url, content_type, std::move(headers),
                         intr, opt, hops);
}

// Wherever a link leads (typed, a playlist's entry, a redirect): each scheme opens the same way.
NetworkTarget follow(const std::string& address, Interrupt& intr, const NetOptions& opt, int hops) {
    if (hops > kMaxHops)
        return failure(BASS_ERROR_FILEOPEN, "too many redirects and playlists");
    const std::string scheme = scheme_of(address);
    if (scheme == "http")
        return http_target(address, intr, opt, hops);
    if (scheme == "https")
        return protocol_target(address, intr, opt, hops);
    if (scheme == "mmsh" || scheme == "mmst")
        return ffmpeg_url_target(address, nullptr, intr);
    if (scheme == "mms") // a playlist's entry: the transport Windows Media servers still speak
        return ffmpeg_url_target("mmsh" + address.substr(address.find("://")), nullptr, intr);
    if (scheme.empty())
        return failure(BASS_ERROR_FILEOPEN, "not a network address");
    return failure(BASS_ERROR_FILEOPEN, "unsupported address scheme \"" + scheme + "\"");
}

// Reads the first bytes of a download until they tell its format, so that FFmpeg need not probe
// for seconds of a stream that comes at its real pace; the demuxer is served them again.
void choose_live_demuxer(DecoderSpec& spec) {
    auto ahead = std::make_unique<LookAheadSource>(std::move(spec.bytes));
    const LiveFormat format = find_live_format(*ahead);
    if (ahead->skipped() > kLogTagsFrom)
        log_line("passed over %llu bytes of ID3 tags at the start of \"%s\"",
                 static_cast<unsigned long long>(ahead->skipped()), spec.name_hint.c_str());
    if (format.verdict == LiveFormat::Verdict::Found && format.demuxer == "hls") {
        // An HLS playlist whose answer did not name it: FFmpeg reads it and its segments.
        spec.url = spec.name_hint;
        spec.forced_format = "hls";
        return;
    }
    if (format.verdict == LiveFormat::Verdict::Found) {
        spec.forced_format = format.demuxer;
        ahead->drop_head(format.start);
    }
    spec.bytes = std::move(ahead);
}

NetworkTarget network_target(const std::string& address, UrlKind kind, Interrupt& intr, const NetOptions& opt) {
    NetworkTarget t;
    if (scheme_of(address).empty())
        t = failure(BASS_ERROR_FILEOPEN, "not a network address");
    else if (kind == UrlKind::Hls)
        t = ffmpeg_url_target(address, "hls", intr);
    else
        t = follow(address, intr, opt, 0);
    if (!t.spec.bytes)
        t.headers.clear(); // FFmpeg opens it: the decoder collects what its protocols keep
    t.spec.network = true;
    t.spec.user_agent = opt.agent;
    t.spec.connect_timeout_ms = opt.timeout_ms;
    return t;
}

struct NetworkOpen {
    std::unique_ptr<Decoder> decoder;
    int error = BASS_OK;
    std::string reason;
};

NetworkOpen open_network(const std::string& address, UrlKind kind, Interrupt& intr, const NetOptions& opt) {
    NetworkOpen out;
    NetworkTarget t = network_target(address, kind, intr, opt);
    if (t.error != BASS_OK) {
        out.error = t.error;
        out.reason = t.reason;
        return out;
    }
    if (t.spec.bytes && t.spec.forced_format.empty())
        choose_live_demuxer(t.spec);
    out.decoder = Decoder::open(std::move(t.spec), intr, out.error, out.reason);
    if (out.decoder && !t.headers.empty())
        out.decoder->set_http_headers(std::move(t.headers));
    return out;
}

// An open on a thread of its own, which the caller waits for no longer than the open's deadline
// allows. Some steps cannot be interrupted (FFmpeg resolving a host name): when one outlasts the
// deadline, the caller gives up with the time-out and the thread frees what it made once the
// step returns. Shared by the two; the interrupt is the one the stream keeps if the open lands.
struct OpenJob {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    std::unique_ptr<Interrupt> intr = std::make_unique<Interrupt>();
    NetworkOpen result; // destroyed before `intr`, which its decoder refers to
};

// How long past its deadline an open may take to notice it and clean up.
constexpr auto kDeadlineGrace = std::chrono::milliseconds(300);
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

NetworkOpen open_within_deadline(std::vector<std::string> attempts, UrlKind kind, const NetOptions& opt,
                                 SteadyClock::time_point deadline, std::unique_ptr<Interrupt>& intr_out) {
    auto job = std::make_shared<OpenJob>();
    job->intr->set_deadline(deadline);
    auto work = [job, attempts = std::move(attempts), kind, opt] {
        NetworkOpen r;
        for (const std::string& a : attempts) {
            r = open_network(a, kind, *job->intr, opt);
            if (r.decoder || job->intr->should_abort())
                break;
        }
        std::lock_guard lock(job->mutex);
        job->result = std::move(r);
        job->done = true;
        job->done_cv.notify_all();
    };
    try {
        std::thread(work).detach();
    } catch (const std::system_error&) {
        work(); // no thread to be had: open here, as bounded as the steps themselves are
    }

    Interrupt& watched = *job->intr; // its deadline moves while the server sends
    std::unique_lock lock(job->mutex);
    while (!job->done) {
        job->done_cv.wait_for(lock, kWaitSlice);
        if (!job->done && watched.has_deadline() && SteadyClock::now() > watched.deadline() + kDeadlineGrace) {
            watched.request_stop();
            NetworkOpen late;
            late.error = BASS_ERROR_TIMEOUT;
            late.reason = "the open outlasted its time-out (host name not resolved in time?)";
            return late;
        }
    }
    intr_out = std::move(job->intr);
    return std::move(job->result);
}

} // namespace

HSTREAM create_file_stream(bool mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    int device = 0;
    if (int error = Engine::instance().current_initialised(device); error != BASS_OK)
        return fail<HSTREAM>(error, 0);
    if (!file)
        return fail<HSTREAM>(BASS_ERROR_ILLPARAM, 0);
    DecoderSpec spec;
    std::string shown;
    if (mem) {
        if (length == 0)
            return fail<HSTREAM>(BASS_ERROR_ILLPARAM, 0);
        spec.bytes = memory_source(static_cast<const uint8_t*>(file) + offset, length);
        shown = "(memory)";
    } else {
        const std::string path = text_argument(file, flags);
        int averror = 0;
        spec.bytes = open_file_source(path, offset, length, averror);
        if (!spec.bytes) {
            log_line("cannot open \"%s\": %s", path.c_str(), av_error_text(averror).c_str());
            return fail<HSTREAM>(error_from_open_failure({averror, false, false}), 0);
        }
        spec.name_hint = path;
        shown = path;
    }
    auto intr = std::make_unique<Interrupt>();
    intr->set_deadline_in(kLocalOpenLimit);
    int error = BASS_OK;
    std::string reason;
    auto decoder = Decoder::open(std::move(spec), *intr, error, reason);
    if (!decoder) {
        log_line("cannot play \"%s\": %s (error %d)", shown.c_str(), reason.c_str(), error);
        return fail<HSTREAM>(error, 0);
    }
    StreamSetup setup;
    setup.device = device;
    setup.flags = flags & kCreationFlags;
    setup.buffer_ms = config().buffer_ms();
    return register_stream(std::move(intr), std::move(decoder), setup);
}

HSTREAM create_url_stream(const void* url, DWORD offset, DWORD flags, UrlKind kind) {
    int device = 0;
    if (int error = Engine::instance().current_initialised(device); error != BASS_OK)
        return fail<HSTREAM>(error, 0);
    if (!url || offset != 0)
        return fail<HSTREAM>(BASS_ERROR_ILLPARAM, 0); // starting part-way into a download is not supported
    const std::string address = text_argument(url, flags);
    const NetOptions opt = net_options();
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(opt.timeout_ms);

    // mms:// names no transport: FFmpeg knows mmsh and mmst; try them in turn within the time-out.
    std::vector<std::string> attempts{address};
    if (scheme_of(address) == "mms") {
        const std::string rest = address.substr(address.find("://"));
        attempts = {"mmsh" + rest, "mmst" + rest};
    }
    std::unique_ptr<Interrupt> intr;
    NetworkOpen opened = open_within_deadline(std::move(attempts), kind, opt, deadline, intr);
    if (!opened.decoder) {
        log_line("cannot play \"%s\": %s (error %d)", address.c_str(), opened.reason.c_str(), opened.error);
        return fail<HSTREAM>(opened.error, 0);
    }
    StreamSetup setup;
    setup.device = device;
    setup.network = true;
    setup.flags = flags & kCreationFlags;
    setup.buffer_ms = config().net_buffer_ms();
    setup.read_timeout_ms = config().net_read_timeout_ms();
    std::shared_ptr<Stream> stream;
    const HSTREAM handle = register_stream(std::move(intr), std::move(opened.decoder), setup, &stream);
    if (handle && config().net_prebuf_percent() > 0) {
        stream->wait_prebuffer(config().net_prebuf_percent(), deadline);
        set_error(BASS_OK);
    }
    return handle;
}

} // namespace miravox::soundlib
