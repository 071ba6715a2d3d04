// The soak schedule and the station folder that holds it.

#include "soak.h"

#include "test_media.h"
#include "text_file.h"
#include "weekday_files.h"

#include <QDir>

#include <cmath>
#include <map>

namespace miravox::soak {

namespace {

QTime hm(int h, int m) {
    return QTime(h, m);
}

Window window(const QDate& day, QTime start, QTime end) {
    return Window{day, start, end, false, {}, {}};
}

Window dropping(const QDate& day, QTime start, QTime end, QTime drop_at, QTime restore_at) {
    return Window{day, start, end, true, drop_at, restore_at};
}

QString spot_file(const QDate& day, const QTime& minute) {
    return "SPOT_" + day.toString("yyyyMMdd") + "_" + minute.toString("HHmm") + ".WAV";
}

Spot spot(const QDate& day, const QTime& minute, bool due = true) {
    return Spot{day, minute, spot_file(day, minute), due};
}

QString hhmm(const QTime& t) {
    return t.toString("HH:mm");
}
QString ddmmyyyy(const QDate& d) {
    return d.toString("dd/MM/yyyy");
}

// A sine at `hz`, 22050 Hz mono: small files, resampled by the engine like any station's.
bool tone(const QString& path, double seconds, double hz) {
    const int rate = 22050;
    std::vector<float> samples(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(0.4 * std::sin(2 * M_PI * hz * double(i) / rate));
    return test::write_wav(path.toStdString(), samples, 1, rate);
}

} // namespace

Plan Plan::week(const QDate& first_day, int days) {
    Plan plan;
    plan.start = QDateTime(first_day.addDays(-1), hm(23, 50));
    plan.end = QDateTime(first_day.addDays(days), hm(0, 5));
    for (int d = 0; d < days; ++d) {
        const QDate day = first_day.addDays(d);
        plan.windows.push_back(dropping(day, hm(6, 0), hm(6, 45), hm(6, 10), hm(6, 22)));
        plan.windows.push_back(window(day, hm(12, 0), hm(13, 0)));
        plan.windows.push_back(dropping(day, hm(18, 0), hm(19, 30), hm(18, 40), hm(18, 52)));
        plan.windows.push_back(window(day, hm(22, 0), hm(22, 40)));
        for (int h = 0; h < 24; ++h)
            plan.spots.push_back(spot(day, hm(h, 30)));
        plan.spots.push_back(spot(day, hm(9, 45), false));
    }
    return plan;
}

Plan Plan::short_run(const QDate& day) {
    const QDate next = day.addDays(1);
    Plan plan;
    plan.start = QDateTime(day, hm(22, 50));
    plan.end = QDateTime(next, hm(1, 50));
    plan.windows = {dropping(day, hm(23, 0), hm(23, 40), hm(23, 12), hm(23, 22)),
                    window(next, hm(0, 30), hm(1, 15))};
    plan.spots = {spot(day, hm(23, 30)), spot(next, hm(0, 0)), spot(next, hm(1, 0)),
                  spot(next, hm(0, 45), false)};
    return plan;
}

bool Plan::quiet_at(const QDateTime& at) const {
    for (const Window& w : windows)
        if (at >= QDateTime(w.day, w.start).addSecs(-120) && at <= QDateTime(w.day, w.end).addSecs(300))
            return false;
    for (const Spot& s : spots)
        if (at >= QDateTime(s.day, s.minute).addSecs(-60) && at <= QDateTime(s.day, s.minute).addSecs(180))
            return false;
    return true;
}

QString spots_folder(const QString& home) {
    return home + "/SPOTS";
}

bool write_station(const Plan& plan, const QString& home, const QString& stream_url) {
    for (const char* folder : {"DADOS", "MUSICAS", "LOGS", "SPOTS", "MEDIA"})
        if (!QDir().mkpath(home + "/" + folder))
            return false;
    if (!write_text_file(home + "/MIRAVOX.INI", {"AUTO_DEVICE=1"}))
        return false;
    std::map<int, QStringList> web, dsp;
    for (const Window& w : plan.windows)
        web[weekday_number(w.day)] << "|" + hhmm(w.start) + "|" + hhmm(w.end) + "|" + stream_url +
                                          "|STREAMING|100|" + home + "/MEDIA/OPEN.WAV|" + home +
                                          "/MEDIA/CLOSE.WAV|0|0||";
    for (const Spot& s : plan.spots) {
        // A spot that is not due ran its course before the run began.
        const QDate first = s.due ? s.day : s.day.addDays(-30);
        const QDate last = s.due ? s.day : s.day.addDays(-20);
        dsp[weekday_number(s.day)] << "|" + hhmm(s.minute) + "|" + ddmmyyyy(first) + "|" + ddmmyyyy(last) +
                                          "|" + spots_folder(home) + "/" + s.file + "|";
    }
    const QString data = home + "/DADOS/";
    for (auto& [weekday, lines] : web) {
        sort_lines(lines);
        if (!write_text_file(weekday_file_name(data, weekday, ".WEB"), lines))
            return false;
    }
    for (auto& [weekday, lines] : dsp) {
        sort_lines(lines);
        if (!write_text_file(weekday_file_name(data, weekday, ".DSP"), lines))
            return false;
    }
    return true;
}

bool write_media(const Plan& plan, const QString& home) {
    bool ok = tone(home + "/MEDIA/OPEN.WAV", 3, 880) && tone(home + "/MEDIA/CLOSE.WAV", 3, 990);
    for (const char* name : {"A.WAV", "B.WAV", "C.WAV"})
        ok = ok && tone(home + "/MUSICAS/" + name, 40, 660);
    for (const Spot& s : plan.spots)
        ok = ok && tone(spots_folder(home) + "/" + s.file, kSpotSeconds, kSpotToneHz);
    return ok;
}

} // namespace miravox::soak
