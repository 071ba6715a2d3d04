#pragma once
// A week in minutes: the schedule of a soak run of the real program, the station folder that
// holds it, and the checks made afterwards on what the program did: its operation logs, the
// commercials heard in the audio of its transmission device, the stalled channels of its engine
// error logs, its memory and descriptor samples.
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

#include <cstdint>
#include <optional>
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

// A commercial trigger, with a file of its own. A trigger whose date range does not hold its day
// is not due and must never air.
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

// Every commercial of the plan is a tone of this pitch (nothing else the station plays has it),
// this long.
inline constexpr double kSpotToneHz = 1320;
inline constexpr double kSpotSeconds = 1.5;

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

// Finds where a tone sounds in 44100 Hz stereo 16-bit audio fed in pieces of any size: runs of
// blocks of kBlockFrames in which it is strong, counted in frames from the first frame fed. A
// silence of up to kLongestGapBlocks inside a run (an output that ran ahead of its decoder) is
// part of it.
class ToneRuns {
  public:
    struct Run {
        qint64 first_frame = 0;
        qint64 frames = 0;     // with the tone
        qint64 gap_frames = 0; // without it, between the first and the last
    };
    static constexpr qint64 kBlockFrames = 1024;
    static constexpr qint64 kLongestGapBlocks = 43; // a second

    explicit ToneRuns(double hz);
    // The runs that ended within `count` frames (interleaved left, right).
    std::vector<Run> feed(const std::int16_t* frames, size_t count);
    // A run still sounding at the end of the audio.
    std::optional<Run> finish();
    qint64 frames_fed() const { return blocks_ * kBlockFrames + in_block_; }
    static double seconds(qint64 frames);

  private:
    void block_end(bool present, std::vector<Run>& ended);
    Run run(); // the run under way, which ends here

    double coefficient_;
    double s1_ = 0, s2_ = 0; // the block's Goertzel filter
    qint64 in_block_ = 0;
    qint64 blocks_ = 0;
    qint64 run_start_ = -1; // blocks
    qint64 last_heard_ = -1;
    qint64 heard_ = 0;
};

// A commercial heard on the air: when it began (program time, to a few seconds), how long it
// sounded and how long it fell silent in between.
struct Airing {
    QDateTime at;
    double seconds = 0;
    double gap_seconds = 0;
};

// A channel the engine found stalled (its position did not move between two checks): when, and
// the source it was playing, from the engine error logs in `logs_folder`.
struct Stall {
    QDateTime at;
    QString source;
};
std::vector<Stall> read_stalls(const QString& logs_folder);

struct Outcome {
    QStringList failures; // empty when the run did everything it should
    int windows_opened_and_closed = 0;
    int windows = 0;
    int spots_aired_once = 0; // whole, once, and nothing else of theirs
    int spots_due = 0;
    int spots_not_due_aired = 0;
    int spots_cut_short = 0; // due commercials of which the air heard less than the whole
    QStringList cut_short;   // "dd/MM HH:mm after 1.02 s of 1.50"
    QStringList dropouts;    // commercials that fell silent for a moment: "dd/MM HH:mm: 0.05 s"
    QStringList late;        // commercials heard more than four minutes after their minute
    int drops_fell_back = 0;
    int drops = 0;
    int date_changes = 0;
    int buffer_recoveries = 0; // "Erro de Buffer": a stalled channel made the program start afresh
    QStringList recoveries;    // each with its time, the stalled channel and what explains it
    int entries = 0;
};

// Checks the logs, the airings heard and the stalls against the plan. A stall is explained only
// by a cut of the stream that the harness made: the stream's channel, during its drop.
Outcome check_run(const Plan& plan, const std::vector<Entry>& entries, const std::vector<Airing>& airings,
                  const std::vector<Stall>& stalls);

} // namespace miravox::soak
