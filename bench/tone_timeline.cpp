// Reads a 16-bit PCM WAV recording of what went on air and tells, after given moments, how long
// it took for local music or the stream to be heard and how long the air stayed silent.
// Built and run by bench/peers.sh (plain C++, no dependencies):
//
//   tone_timeline FILE.wav STREAM_HZ MUSIC_HZ,MUSIC_HZ,... NAME=BYTES...
//
// Each NAME=BYTES is a moment given as the file's size in bytes at that moment (the recorders
// write as they play). For each it prints
//   NAME to_music S      seconds until local music dominated (for at least 0.3 s)
//   NAME to_stream S     seconds until the stream dominated again
//   NAME stream_tail S   seconds the stream was still heard after the moment
//   NAME silence S       the longest silence between the moment and the next tone change
// with -1 for what never happened.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kWindow = 0.05;  // seconds per analysed window
constexpr double kFloor = 0.01;   // a tone quieter than this (1.0 = full scale) counts as absent
constexpr int kSteadyWindows = 6; // 0.3 s: a tone must hold this long to count as on air

enum Label { kSilence = -1, kStream = 0, kMusic = 1 };

struct Recording {
    std::vector<float> left;
    size_t data_offset = 0;
};

bool read_wav(const char* path, Recording& out) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t data = bytes.find("data");
    if (data == std::string::npos)
        return false;
    out.data_offset = data + 8;
    const size_t frames = (bytes.size() - out.data_offset) / 4;
    out.left.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        int16_t s;
        std::memcpy(&s, bytes.data() + out.data_offset + i * 4, 2);
        out.left[i] = float(s) / 32768.0f;
    }
    return true;
}

// Goertzel amplitude of `hz` over n samples from `from`.
double tone_level(const std::vector<float>& x, double hz, size_t from, size_t n) {
    const double coeff = 2 * std::cos(2 * M_PI * hz / kRate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double s0 = x[from + i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return 2 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2)) / double(n);
}

std::vector<Label> label_windows(const Recording& rec, double stream_hz,
                                 const std::vector<double>& music_hz) {
    const size_t n = size_t(kWindow * kRate);
    std::vector<Label> labels;
    for (size_t from = 0; from + n <= rec.left.size(); from += n) {
        Label best = kSilence;
        double best_level = kFloor;
        if (const double level = tone_level(rec.left, stream_hz, from, n); level > best_level) {
            best = kStream;
            best_level = level;
        }
        for (double hz : music_hz)
            if (const double level = tone_level(rec.left, hz, from, n); level > best_level) {
                best = kMusic;
                best_level = level;
            }
        labels.push_back(best);
    }
    return labels;
}

// First window at or after `from` that starts `kSteadyWindows` windows of `label`, or -1.
long first_steady(const std::vector<Label>& labels, size_t from, Label label) {
    for (size_t i = from; i + kSteadyWindows <= labels.size(); ++i) {
        size_t k = 0;
        while (k < size_t(kSteadyWindows) && labels[i + k] == label)
            ++k;
        if (k == size_t(kSteadyWindows))
            return long(i);
    }
    return -1;
}

double seconds(long windows) {
    return windows < 0 ? -1 : double(windows) * kWindow;
}

void report(const std::string& name, const std::vector<Label>& labels, size_t mark) {
    const long music = first_steady(labels, mark, kMusic);
    long stream = first_steady(labels, mark, kStream);
    // "Back" means after the music that replaced it, when music came at all.
    if (music >= 0 && stream >= 0 && stream < music)
        stream = first_steady(labels, size_t(music), kStream);
    long tail = -1;
    for (size_t i = mark; i < labels.size() && labels[i] == kStream; ++i)
        tail = long(i - mark + 1);
    // Longest silence until whichever came first after the moment.
    size_t until = labels.size();
    for (long at : {music, stream})
        if (at >= 0)
            until = std::min(until, size_t(at));
    long silence = 0, run = 0;
    for (size_t i = mark; i < until; ++i) {
        run = labels[i] == kSilence ? run + 1 : 0;
        silence = std::max(silence, run);
    }
    std::printf("%s to_music %.2f\n", name.c_str(), music < 0 ? -1.0 : seconds(music - long(mark)));
    std::printf("%s to_stream %.2f\n", name.c_str(), stream < 0 ? -1.0 : seconds(stream - long(mark)));
    std::printf("%s stream_tail %.2f\n", name.c_str(), seconds(tail < 0 ? 0 : tail));
    std::printf("%s silence %.2f\n", name.c_str(), seconds(silence));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FILE.wav STREAM_HZ MUSIC_HZ,... NAME=BYTES...\n", argv[0]);
        return 2;
    }
    Recording rec;
    if (!read_wav(argv[1], rec)) {
        std::fprintf(stderr, "%s: not a WAV recording\n", argv[1]);
        return 1;
    }
    std::vector<double> music_hz;
    const std::string list = argv[3];
    for (size_t pos = 0; pos < list.size();) {
        const size_t comma = list.find(',', pos);
        music_hz.push_back(std::atof(list.substr(pos, comma - pos).c_str()));
        pos = comma == std::string::npos ? list.size() : comma + 1;
    }
    const std::vector<Label> labels = label_windows(rec, std::atof(argv[2]), music_hz);
    for (int i = 4; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        if (eq == std::string::npos)
            continue;
        const double bytes = std::atof(arg.c_str() + eq + 1) - double(rec.data_offset);
        const size_t mark = size_t(std::max(0.0, bytes / 4 / kRate / kWindow));
        report(arg.substr(0, eq), labels, std::min(mark, labels.size()));
    }
    return 0;
}
