#pragma once
// A week in minutes: the schedule of a soak run of the real program, the station folder that
// holds it, and the checks made afterwards on what the program left behind (its operation logs,
// how often it opened each commercial, its memory and descriptor samples).
//
// The program runs on a clock MIRAVOX_CLOCK_RATE times as fast as real time and on silent
// virtual devices that keep the same pace, so a week of windows, commercials and stream drops
// plays in well under an hour.
// Thread rules: plain functions and values; any thread.

#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTime>

#include <vector>

namespace miravox::soak {

// A stream window of the schedule; `drop` windows lose their stream from `drop_at` until
// `restore_at` (the source is cut) and must fall back to local music meanwhile.
struct Window {
    QDate day;
    QTime start, end;
    bool drop = false;
    QTime drop_at, restore_at;
};

// A commercial trigger; each has a file of its own, so how often the program takes that file up
// counts its airings.
// A trigger whose date range does not hold its day is not due and must never air.
struct Spot {
    QDate day;
    QTime minute;
    QString file; // name inside the spots folder
    bool due = true;
};

struct Plan {
    QDateTime start; // the program's clock starts here
    QDateTime end;   // the run is over here
    std::vector<Window> windows;
    std::vector<Spot> spots;

    // `days` days from `first_day` 00:00: four windows a day (two of them losing their stream
    // for a while), a commercial every hour and one trigger a day that is not due.
    static Plan week(const QDate& first_day, int days);
    // Three hours across a midnight: two windows (one losing its stream), three commercials
    // (one at midnight) and one trigger that is not due.
    static Plan short_run(const QDate& day);

    // True when nothing is scheduled to play around `at`: the moments at which the program's
    // resources are compared with each other.
    bool quiet_at(const QDateTime& at) const;
};

// The station's link to its stream and the station name the stream server announces.
inline const QString kStationName = QStringLiteral("RADIO SOAK");

// Writes MIRAVOX.INI, the weekday files of `plan`, and creates the folders. The media (jingles,
// music, one file per commercial) is written by `write_media`.
bool write_station(const Plan& plan, const QString& home, const QString& stream_url);
bool write_media(const Plan& plan, const QString& home);
QString spots_folder(const QString& home);

// One operation log entry, with its day taken from the file name.
struct Entry {
    QDateTime at;
    int number = 0;
    QString message;
};

// Every entry of every day file in `logs_folder`, in day order then file order. Entries whose
// line is not "|HH:MM:SS|N|message|" are reported in `malformed`.
std::vector<Entry> read_operation_logs(const QString& logs_folder, QStringList* malformed = nullptr);

// One resource sample of the running program.
struct Sample {
    double program_days = 0;
    long rss_kb = 0;
    int fds = 0;
    int threads = 0;
    bool quiet = false; // taken while nothing was scheduled to play
};

// Least-squares slope of `value` per program day over the quiet samples from `from_days` on.
double slope_per_day(const std::vector<Sample>& samples, double from_days, long (*value)(const Sample&));

struct Outcome {
    QStringList failures; // empty when the run did everything it should
    int windows_opened_and_closed = 0;
    int windows = 0;
    int spots_aired_once = 0;
    int spots_due = 0;
    int spots_not_due_aired = 0;
    int drops_fell_back = 0;
    int drops = 0;
    int date_changes = 0;
    int buffer_recoveries = 0; // "Erro de Buffer": a stalled channel made the program start afresh
    int entries = 0;
};

// Checks the logs against the plan; `spot_airings` counts how often each commercial file was
// taken up for playing.
Outcome check_run(const Plan& plan, const std::vector<Entry>& entries,
                  const QMap<QString, int>& spot_airings);

} // namespace miravox::soak
