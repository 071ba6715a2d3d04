#pragma once
// What a long relay test and its benchmark share: the exact pace of a looped MP3, and the air a
// capture device recorded for hours, read in blocks without holding it in memory.
// Thread rules: plain functions; any thread.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace miravox::test {

// The frames of an MP3 (frames only, as make_stream_mp3 writes it): where each begins and how
// many samples a second it plays. Stops at the first bytes that are not a layer III frame.
struct Mp3Frames {
    std::vector<size_t> starts; // and the end of the last one
    double frame_seconds = 0;
};

inline Mp3Frames mp3_frames(const std::string& data) {
    static const int kBitrates[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                                         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    static const int kRates[3] = {44100, 48000, 32000};
    Mp3Frames f;
    size_t at = 0;
    f.starts.push_back(0);
    while (at + 4 <= data.size()) {
        const auto* h = reinterpret_cast<const unsigned char*>(data.data() + at);
        const int version = (h[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        const int bitrate_index = h[2] >> 4, rate_index = (h[2] >> 2) & 3;
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1 || version == 1 ||
            bitrate_index == 0 || bitrate_index == 15 || rate_index == 3)
            break;
        const bool mpeg1 = version == 3;
        const int rate = kRates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
        const int kbps = kBitrates[mpeg1 ? 0 : 1][bitrate_index];
        const size_t size = static_cast<size_t>((mpeg1 ? 144000 : 72000) * kbps / rate + ((h[2] >> 1) & 1));
        if (at + size > data.size())
            break;
        f.frame_seconds = (mpeg1 ? 1152.0 : 576.0) / rate;
        at += size;
        f.starts.push_back(at);
    }
    return f;
}

// A stream that loops without a seam: `count` frames cut from the middle of `data`, an MP3 of a
// steady tone encoded without a bit reservoir (each frame stands alone) whose frequency makes a
// whole number of cycles in those frames. Looped, it is the tone without a gap or a jump (the
// encoder's delay and padding at the ends of the file are left out). Empty when too short.
inline std::string mp3_loop(const std::string& data, size_t skip, size_t count) {
    const Mp3Frames f = mp3_frames(data);
    if (f.starts.size() < skip + count + 1)
        return {};
    return data.substr(f.starts[skip], f.starts[skip + count] - f.starts[skip]);
}

// Bytes per second at which an MP3 plays in real time: its size against the samples its frames
// hold. A server paced at exactly this rate keeps step with a sound card; one paced at 16000 for
// "128 kbps" does not quite. 0 when the data is not MPEG audio layer III.
inline double mp3_bytes_per_second(const std::string& data) {
    const Mp3Frames f = mp3_frames(data);
    const size_t frames = f.starts.size() - 1;
    return frames ? static_cast<double>(f.starts.back()) / (frames * f.frame_seconds) : 0;
}

// The RMS level of the left channel of a capture file (44100 Hz stereo 16-bit WAV), in blocks of
// `block` frames from frame `from` to frame `to` (or the end of what is written).
inline std::vector<double> air_levels(const std::string& path, size_t from, size_t to, size_t block) {
    std::vector<double> levels;
    std::ifstream file(path, std::ios::binary);
    char head[256] = {};
    file.read(head, sizeof head);
    const char* data = static_cast<const char*>(memmem(head, sizeof head, "data", 4));
    if (!data)
        return levels;
    file.clear();
    file.seekg(static_cast<std::streamoff>((data - head) + 8 + from * 4));
    std::vector<int16_t> frames(block * 2);
    for (size_t at = from; at + block <= to; at += block) {
        if (!file.read(reinterpret_cast<char*>(frames.data()), static_cast<std::streamsize>(block * 4)))
            break;
        double sum = 0;
        for (size_t i = 0; i < block; ++i)
            sum += double(frames[i * 2]) * frames[i * 2];
        levels.push_back(std::sqrt(sum / double(block)) / 32768.0);
    }
    return levels;
}

// Holes in a tone: blocks under 80 % of its level (the median of the blocks from its first
// sound on), counted from the first block at its level (the one where it starts may be partly
// silent).
struct ToneHoles {
    size_t count = 0;
    long first = -1;     // block index of the first hole
    size_t sounding = 0; // the block where the tone began
    double level = 0;    // its median level
};

inline ToneHoles tone_holes(const std::vector<double>& levels) {
    ToneHoles r;
    if (levels.empty())
        return r;
    const double peak = *std::max_element(levels.begin(), levels.end());
    size_t begins = 0;
    while (begins < levels.size() && levels[begins] < peak / 2)
        ++begins;
    std::vector<double> sorted(levels.begin() + static_cast<long>(begins), levels.end());
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
    r.level = sorted[sorted.size() / 2];
    r.sounding = begins;
    while (r.sounding < levels.size() && levels[r.sounding] < 0.8 * r.level)
        ++r.sounding;
    for (size_t i = r.sounding; i < levels.size(); ++i)
        if (levels[i] < 0.8 * r.level) {
            ++r.count;
            if (r.first < 0)
                r.first = static_cast<long>(i);
        }
    return r;
}

} // namespace miravox::test
