#include "wav_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace miravox::soundlib {

namespace {
void put_u32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
void put_u16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
constexpr uint32_t kRate = 44100;
constexpr uint16_t kChannels = 2;
constexpr uint16_t kBits = 16;
constexpr uint64_t kMaxData = 0xFFFFFFFFull - 36; // the RIFF size field is 32 bits
} // namespace

WavWriter::~WavWriter() {
    if (file_) {
        sync();
        std::fclose(file_);
    }
}

bool WavWriter::create(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w+b");
    if (!file_)
        return false;
    path_ = path;
    data_bytes_ = 0;
    write_header();
    std::fflush(file_);
    last_sync_ = std::chrono::steady_clock::now();
    return true;
}

void WavWriter::write_header() {
    unsigned char h[44];
    const uint32_t data = static_cast<uint32_t>(std::min(data_bytes_, kMaxData));
    std::memcpy(h, "RIFF", 4);
    put_u32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put_u32(h + 16, 16);
    put_u16(h + 20, 1); // PCM
    put_u16(h + 22, kChannels);
    put_u32(h + 24, kRate);
    put_u32(h + 28, kRate * kChannels * kBits / 8);
    put_u16(h + 32, kChannels * kBits / 8);
    put_u16(h + 34, kBits);
    std::memcpy(h + 36, "data", 4);
    put_u32(h + 40, data);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof h, file_);
    std::fseek(file_, 0, SEEK_END);
}

void WavWriter::write(const float* frames, size_t count) {
    if (!file_)
        return;
    while (count > 0) {
        const size_t n = std::min<size_t>(count, 1024);
        for (size_t i = 0; i < n * 2; ++i) {
            const float v = std::clamp(frames[i], -1.0f, 1.0f);
            buffer_[i] = static_cast<int16_t>(std::lrint(v * 32767.0f));
        }
        data_bytes_ += std::fwrite(buffer_, 4, n, file_) * 4;
        frames += n * 2;
        count -= n;
    }
    if (std::chrono::steady_clock::now() - last_sync_ >= kHeaderPeriod)
        sync();
}

void WavWriter::sync() {
    if (!file_)
        return;
    std::fflush(file_);
    write_header();
    std::fflush(file_);
    last_sync_ = std::chrono::steady_clock::now();
}

} // namespace miravox::soundlib
