// What reached the air and what the engine reported: the commercials' tone found in the
// transmission device's audio, and the stalled channels of the engine error logs.

#include "soak.h"

#include "text_file.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace miravox::soak {

namespace {

constexpr int kRate = 44100;
// Strength of the tone in a block, as the amplitude of a sine (the commercials play at 0.4, which
// a block that does not hold a whole number of periods reads as about 0.3).
constexpr double kPresent = 0.15;

} // namespace

ToneRuns::ToneRuns(double hz) : coefficient_(2 * std::cos(2 * M_PI * hz / kRate)) {}

std::vector<ToneRuns::Run> ToneRuns::feed(const std::int16_t* frames, size_t count) {
    std::vector<Run> ended;
    for (size_t i = 0; i < count; ++i) {
        const double x = (double(frames[2 * i]) + double(frames[2 * i + 1])) / (2 * 32768.0);
        const double s = x + coefficient_ * s1_ - s2_;
        s2_ = s1_;
        s1_ = s;
        if (++in_block_ < kBlockFrames)
            continue;
        const double power = s1_ * s1_ + s2_ * s2_ - coefficient_ * s1_ * s2_;
        const bool present = 2 * std::sqrt(std::max(power, 0.0)) / kBlockFrames > kPresent;
        in_block_ = 0;
        s1_ = s2_ = 0;
        block_end(present, ended);
    }
    return ended;
}

void ToneRuns::block_end(bool present, std::vector<Run>& ended) {
    const qint64 block = blocks_++;
    if (present) {
        if (run_start_ < 0) {
            run_start_ = block;
            heard_ = 0;
        }
        ++heard_;
        last_heard_ = block;
    } else if (run_start_ >= 0 && block - last_heard_ > kLongestGapBlocks) {
        ended.push_back(run());
    }
}

ToneRuns::Run ToneRuns::run() {
    const Run r{run_start_ * kBlockFrames, heard_ * kBlockFrames, (last_heard_ + 1 - run_start_ - heard_) * kBlockFrames};
    run_start_ = -1;
    return r;
}

std::optional<ToneRuns::Run> ToneRuns::finish() {
    if (run_start_ < 0)
        return std::nullopt;
    return run();
}

double ToneRuns::seconds(qint64 frames) {
    return double(frames) / kRate;
}

std::vector<Stall> read_stalls(const QString& logs_folder) {
    static const QRegularExpression head(R"(^DATA: (\d\d/\d\d/\d{4}) - HORA: (\d\d:\d\d:\d\d))");
    std::vector<Stall> stalls;
    const QStringList files = QDir(logs_folder).entryList({"*.ERR"}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        const auto file = read_text_file(logs_folder + "/" + name);
        if (!file)
            continue;
        QDateTime at;
        bool stalled = false;
        for (const QString& line : file->lines) {
            if (const auto m = head.match(line); m.hasMatch()) {
                at = QDateTime(QDate::fromString(m.captured(1), "dd/MM/yyyy"),
                               QTime::fromString(m.captured(2), "HH:mm:ss"));
                stalled = false;
            } else if (line.startsWith("TEXTO: ")) {
                stalled = line.contains("ERRO DE BUFFER (SEM PROGRESSO EM TIMER)");
            } else if (stalled && line.startsWith("Arquivo: ")) {
                stalls.push_back(Stall{at, line.mid(9)});
                stalled = false;
            }
        }
    }
    std::sort(stalls.begin(), stalls.end(), [](const Stall& a, const Stall& b) { return a.at < b.at; });
    return stalls;
}

} // namespace miravox::soak
