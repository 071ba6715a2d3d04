#pragma once
// Owning handles for FFmpeg objects, and FFmpeg's error texts.
// Thread rules: plain value types; each object belongs to one thread at a time.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace miravox::soundlib {

struct FormatContextCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecContextFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct SwrFreer {
    void operator()(SwrContext* c) const { swr_free(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct DictionaryFreer {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
struct AvioFreer {
    void operator()(AVIOContext* c) const {
        if (c)
            av_freep(&c->buffer);
        avio_context_free(&c);
    }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using AvioPtr = std::unique_ptr<AVIOContext, AvioFreer>;

inline std::string av_error_text(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

} // namespace miravox::soundlib
