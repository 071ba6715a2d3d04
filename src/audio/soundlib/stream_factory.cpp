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
#include <cstring>

namespace miravox::soundlib {

namespace {

// A local file that keeps FFmpeg busy longer than this is not worth waiting for.
constexpr auto kLocalOpenLimit = std::chrono::seconds(10);
constexpr int kMaxPlaylistDepth = 3;
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

struct NetworkTarget {
    DecoderSpec spec;
    std::vector<std::string> headers;
    int error = BASS_OK;
    std::string reason;
};

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

std::string read_body(HttpConnection& conn, Interrupt& intr) {
    std::string body;
    uint8_t buf[4096];
    while (body.size() < kMaxPlaylistBytes) {
        const int n = conn.read(buf, sizeof buf, intr);
        if (n <= 0)
            break;
        body.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
    }
    return body;
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
void answered(Interrupt& intr) {
    const std::chrono::milliseconds timeout(config().net_timeout_ms());
    intr.set_deadline_in(timeout);
    intr.set_idle_window(timeout, SteadyClock::now() + 3 * timeout);
}

// An address FFmpeg's protocols open (https). The body is read through them, so that its format
// is told from its first bytes as that of our own downloads is.
NetworkTarget protocol_target(const std::string& address, Interrupt& intr) {
    NetworkTarget t;
    int averror = 0;
    t.spec.bytes = ffmpeg_protocol_source(address, config().agent(), config().net_timeout_ms(), intr, averror,
                                          t.headers);
    if (!t.spec.bytes) {
        t.error = error_from_open_failure({averror, intr.timed_out(), true});
        t.reason = av_error_text(averror);
        return t;
    }
    answered(intr);
    t.spec.name_hint = address;
    return t;
}

NetworkTarget http_target(const std::string& address, Interrupt& intr, int depth) {
    NetworkTarget t;
    HttpOpenResult r = HttpConnection::open(address, config().agent(), intr);
    if (!r.connection) {
        if (scheme_of(r.redirect_elsewhere) == "https")
            return protocol_target(r.redirect_elsewhere, intr);
        if (!r.redirect_elsewhere.empty()) {
            t.spec.url = r.redirect_elsewhere;
            return t;
        }
        t.error = r.error;
        t.reason = r.reason;
        return t;
    }
    t.headers = r.connection->header_lines();
    if (is_windows_media_server(r.connection->header("Content-Type"))) {
        // A Windows Media server frames its HTTP answer in its own way: FFmpeg's mmsh reads it.
        const std::string& at = r.connection->url();
        t.spec.url = "mmsh" + at.substr(at.find("://"));
        t.headers.clear();
        return t;
    }
    if (is_playlist(r.connection->header("Content-Type"), r.connection->url())) {
        const std::string body = read_body(*r.connection, intr);
        if (body.find("#EXT-X-") != std::string::npos) {
            t.spec.url = r.connection->url(); // HLS: FFmpeg reads the playlist and its segments
            t.spec.forced_format = "hls";
            t.headers.clear();
            return t;
        }
        HttpUrl base;
        HttpUrl::parse(r.connection->url(), base);
        const std::string next = first_playlist_entry(body, base);
        if (!config().net_playlist() || next.empty() || depth >= kMaxPlaylistDepth) {
            t.error = BASS_ERROR_FILEFORM;
            t.reason = next.empty() ? "a playlist without entries" : "a playlist that does not lead to audio";
            return t;
        }
        return http_target(next, intr, depth + 1);
    }
    answered(intr);
    t.spec.name_hint = r.connection->url();
    t.spec.bytes = http_body_source(std::move(r.connection), intr);
    return t;
}

// Reads the first bytes of a download until they tell its format, so that FFmpeg need not probe
// for seconds of a stream that comes at its real pace; the demuxer is served them again.
void choose_live_demuxer(DecoderSpec& spec) {
    auto ahead = std::make_unique<LookAheadSource>(std::move(spec.bytes));
    LiveFormat format;
    for (bool more = true;;) {
        const std::string& head = ahead->head();
        format = detect_live_format(reinterpret_cast<const uint8_t*>(head.data()), head.size(), !more);
        if (format.verdict != LiveFormat::Verdict::NeedMore)
            break;
        more = ahead->read_more();
    }
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

NetworkTarget network_target(const std::string& address, UrlKind kind, Interrupt& intr) {
    NetworkTarget t;
    const std::string scheme = scheme_of(address);
    if (scheme.empty()) {
        t.error = BASS_ERROR_FILEOPEN;
        t.reason = "not a network address";
    } else if (kind == UrlKind::Hls) {
        t.spec.url = address;
        t.spec.forced_format = "hls";
    } else if (scheme == "http") {
        t = http_target(address, intr, 0);
    } else if (scheme == "https") {
        t = protocol_target(address, intr);
    } else if (scheme == "mmsh" || scheme == "mmst") {
        t.spec.url = address;
    } else {
        t.error = BASS_ERROR_FILEOPEN;
        t.reason = "unsupported address scheme \"" + scheme + "\"";
    }
    t.spec.network = true;
    t.spec.user_agent = config().agent();
    t.spec.connect_timeout_ms = config().net_timeout_ms();
    return t;
}

std::unique_ptr<Decoder> open_network(const std::string& address, UrlKind kind, Interrupt& intr, int& error,
                                      std::string& reason) {
    NetworkTarget t = network_target(address, kind, intr);
    if (t.error != BASS_OK) {
        error = t.error;
        reason = t.reason;
        return nullptr;
    }
    if (t.spec.bytes && t.spec.forced_format.empty())
        choose_live_demuxer(t.spec);
    auto decoder = Decoder::open(std::move(t.spec), intr, error, reason);
    if (decoder && !t.headers.empty())
        decoder->set_http_headers(std::move(t.headers));
    return decoder;
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
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(config().net_timeout_ms());
    auto intr = std::make_unique<Interrupt>();
    intr->set_deadline(deadline);

    // mms:// names no transport: FFmpeg knows mmsh and mmst; try them in turn within the time-out.
    std::vector<std::string> attempts{address};
    if (scheme_of(address) == "mms") {
        const std::string rest = address.substr(address.find("://"));
        attempts = {"mmsh" + rest, "mmst" + rest};
    }
    int error = BASS_OK;
    std::string reason;
    std::unique_ptr<Decoder> decoder;
    for (const std::string& a : attempts) {
        decoder = open_network(a, kind, *intr, error, reason);
        if (decoder || intr->should_abort())
            break;
    }
    if (!decoder) {
        log_line("cannot play \"%s\": %s (error %d)", address.c_str(), reason.c_str(), error);
        return fail<HSTREAM>(error, 0);
    }
    StreamSetup setup;
    setup.device = device;
    setup.network = true;
    setup.flags = flags & kCreationFlags;
    setup.buffer_ms = config().net_buffer_ms();
    setup.read_timeout_ms = config().net_read_timeout_ms();
    std::shared_ptr<Stream> stream;
    const HSTREAM handle = register_stream(std::move(intr), std::move(decoder), setup, &stream);
    if (handle && config().net_prebuf_percent() > 0) {
        stream->wait_prebuffer(config().net_prebuf_percent(), deadline);
        set_error(BASS_OK);
    }
    return handle;
}

} // namespace miravox::soundlib
