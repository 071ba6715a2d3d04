#pragma once
// Proof of play: every commercial that airs (or was due and could not) is one row of the day's
// LOGS/YYYYMMDD.DSP.csv, so a station can show when each one aired. The file is UTF-8 CSV
// with a header line. Unlike the other files of the program it is never rewritten: each row is
// appended with one write() to a file opened for appending and synced to the disk, so a crash
// or a power cut leaves every earlier row whole; a row cut off at the very end (power lost in
// the middle of the write) is skipped by the reader and closed off by the next append.
// The same module makes the report of a date range, per audio file.
// Thread rules: main thread only (the report may be made from any single thread).

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace miravox {

// The outcomes of an airing, as written in the file.
inline const QString kAiringComplete = QStringLiteral("completo");
inline const QString kAiringCut = QStringLiteral("interrompido");
inline const QString kAiringMissing = QStringLiteral("não localizado");
inline const QString kAiringError = QStringLiteral("erro");

// One row: one commercial due at `scheduled` on `date`.
struct Airing {
    QDate date;
    QString scheduled; // "HH:MM" of the trigger
    QTime start;       // invalid when it never went on the air
    QTime end;         // when it ended or was cut
    int seconds_aired = 0;
    int file_seconds = -1; // the file's length; -1 unknown (never opened)
    QString file;
    QString outcome; // one of the four above
    QString detail;  // the engine's error text, or what cut it short

    bool operator==(const Airing&) const = default;
};

// LOGS folder + "20261210.DSP.csv".
QString proof_of_play_file(const QString& logs_folder, const QDate& day);

// The header line and one row, each ended by CR LF.
QByteArray proof_of_play_header();
QByteArray airing_row(const Airing& airing);

// Appends `airing` to `path` as one write (after the header when the file is new or empty).
// On failure nothing of the row stays in the file and `error` says why.
bool append_airing(const QString& path, const Airing& airing, QString* error = nullptr);

// The whole rows of one file, in order; the header, blank lines and rows that are not whole
// are skipped. A missing file has none.
std::vector<Airing> read_airings(const QString& path);

// The report of the days `from` to `to` (inclusive) read from `logs_folder`: per audio file the
// airings complete, cut short and missed (not found or not playable), the seconds aired and
// the list of airings; as text, or as CSV with one row per file.
QString commercials_report(const QString& logs_folder, const QDate& from, const QDate& to, bool csv);

// The command line "--relatorio-comerciais FROM TO [--csv]" (dates DD/MM/YYYY), `args` being
// what follows the option: the report goes to `out` and the exit code is 0; unreadable
// arguments give a usage text in `out` and 2.
inline const QString kReportOption = QStringLiteral("--relatorio-comerciais");
int commercials_report_command(const QStringList& args, const QString& logs_folder, QString& out);

// The commercial in progress on the transmission channel, from its trigger to its row.
class ProofOfPlay {
  public:
    // `logs_folder` ends with a separator. `log` receives a line for the operation log when a
    // row cannot be written.
    ProofOfPlay(QString logs_folder, std::function<void(const QString&)> log)
        : logs_folder_(std::move(logs_folder)), log_(std::move(log)) {}

    // A trigger for `minute` came due with its file at hand.
    void due(const QString& minute);
    // The file of the trigger due at `minute` (or of the commercial waiting to start, when
    // `minute` is empty) is missing: one "não localizado" row per due commercial.
    void missing(const QString& minute, const QString& path);
    // The trigger of `minute` was found too late to air (the playout was held past it): an
    // "erro" row whose detail is `reason`.
    void not_aired(const QString& minute, const QString& path, const QString& reason);
    // The commercial went on the air; `length_ms` is the file's length.
    void started(const QString& path, std::uint32_t length_ms);
    // The commercial could not be played; `error` is the engine's text.
    void failed(const QString& path, const QString& error);
    // Where the commercial on the air has got to (ms into the file), seen by the main tick.
    void progress(int position_ms);
    // The commercial channel stopped by itself: complete when it played (about) its length,
    // else cut short.
    void stopped();
    // Something stops the commercial `position_ms` into the file, before its end (the window
    // ended, the devices are re-initialised, the program closes, a newer commercial).
    void cut_short(int position_ms, const QString& reason = {});

    bool on_air() const { return on_air_.has_value(); }

  private:
    Airing now_due(const QString& path, const QString& outcome) const;
    void finish(const QString& outcome, int aired_ms, const QString& reason);
    void write(const Airing& airing);

    QString logs_folder_;
    std::function<void(const QString&)> log_;
    QString minute_;
    bool missing_written_ = false;
    std::optional<Airing> on_air_;
    qint64 started_ms_ = 0;
    int last_position_ms_ = 0;
};

} // namespace miravox
