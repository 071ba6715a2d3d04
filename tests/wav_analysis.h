#pragma once
// Reading what a capture device recorded: a 44100 Hz stereo 16-bit WAV file, and which of a
// few test tones dominates each stretch of it.

#include <QByteArray>
#include <QFile>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace miravox::testing {

struct Capture {
    std::vector<float> left; // the left channel, -1..1
    int rate = 44100;
    double seconds() const { return double(left.size()) / rate; }
};

// Reads the samples after the "data" chunk (the header sizes may lag behind a live recording,
// so everything after the chunk header is taken).
inline Capture read_capture(const QString& path) {
    Capture c;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return c;
    const QByteArray bytes = f.readAll();
    const qsizetype data = bytes.indexOf("data");
    if (data < 0)
        return c;
    const char* p = bytes.constData() + data + 8;
    const qsizetype frames = (bytes.size() - (data + 8)) / 4;
    c.left.resize(size_t(frames));
    for (qsizetype i = 0; i < frames; ++i) {
        int16_t s;
        std::memcpy(&s, p + i * 4, 2);
        c.left[size_t(i)] = s / 32768.0f;
    }
    return c;
}

// Amplitude of a sine of `hz` in samples [from, from + n) (Goertzel); 1.0 = full scale.
inline double tone_level(const Capture& c, double hz, size_t from, size_t n) {
    if (from + n > c.left.size())
        return 0;
    const double w = 2 * M_PI * hz / c.rate;
    const double coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double s0 = c.left[from + i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / double(n);
}

// RMS level of samples [from, from + n).
inline double rms(const Capture& c, size_t from, size_t n) {
    if (from + n > c.left.size() || n == 0)
        return 0;
    double sum = 0;
    for (size_t i = from; i < from + n; ++i)
        sum += double(c.left[i]) * c.left[i];
    return std::sqrt(sum / double(n));
}

// For consecutive windows of `window_s` seconds, the index of the tone in `tones` that is
// loudest there (above `floor`), or -1 for none.
inline std::vector<int> dominant_tones(const Capture& c, const std::vector<double>& tones, double window_s,
                                       double floor = 0.02) {
    std::vector<int> out;
    const size_t n = size_t(window_s * c.rate);
    for (size_t from = 0; from + n <= c.left.size(); from += n) {
        int best = -1;
        double best_level = floor;
        for (size_t t = 0; t < tones.size(); ++t) {
            const double level = tone_level(c, tones[t], from, n);
            if (level > best_level) {
                best_level = level;
                best = int(t);
            }
        }
        out.push_back(best);
    }
    return out;
}

} // namespace miravox::testing
