#pragma once
// Proof of play: every commercial that airs (or was due and could not) is recorded in the
// day's LOGS/YYYYMMDD.DSP.csv, so a station can show when each one aired. The file is UTF-8 CSV
// with a header line and one record per line: no field ever holds a raw line break (CR and LF
// inside a field are written %0D and %0A, and "%" itself %25), so a row cut off anywhere by a
// power cut costs that row alone. It is never rewritten, only appended to.
//
// A commercial that goes on the air is written when it starts (outcome "no ar"), again every
// few seconds while it plays (a progress mark with the seconds heard so far), and once more
// when it ends, with its outcome. The reader keeps the last of them: a commercial whose final
// row never came (the program died) reads "interrompido", "programa parou", with the seconds of
// its last mark. The writing and its syncs run on a thread of their own (proof_of_play_writer.h);
// a row that cannot be written waits in memory, in order, until the folder takes it again.
//
// The same module makes the report of a date range, per audio file (text, CSV, or a printable
// HTML statement).
// Thread rules: ProofOfPlay on the main thread only; the free functions from any thread.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;

namespace miravox {

class AiringWriter;
class DialogService;

// The outcomes of an airing, as written in the file.
inline const QString kAiringComplete = QStringLiteral("completo");
inline const QString kAiringCut = QStringLiteral("interrompido");
inline const QString kAiringMissing = QStringLiteral("não localizado");
inline const QString kAiringError = QStringLiteral("erro");
// A commercial on the air: its start row and its progress marks. The reader turns one whose
// final row never came into kAiringCut with kProgramStopped, unless its last mark is so recent
// that it is still on the air (a report made while it plays).
inline const QString kAiringOnAir = QStringLiteral("no ar");

// Details of a commercial cut short.
inline const QString kProgramStopped = QStringLiteral("programa parou");
inline const QString kOutputFroze = QStringLiteral("áudio parado (sem progresso)");
inline const QString kEndedEarly = QStringLiteral("parou antes do fim");

// Seconds between two progress marks of a commercial on the air.
inline constexpr int kProgressMarkMs = 5000;

// One row: one commercial due at `scheduled` on `date`.
struct Airing {
    QDate date;
    QString scheduled; // "HH:MM" of the trigger
    QTime start;       // invalid when it never went on the air
    QTime end;         // when it ended or was cut (of a progress mark: when it was made)
    int seconds_aired = 0;
    int file_seconds = -1; // the file's length; -1 unknown (never opened)
    QString file;
    QString outcome; // one of the five above
    QString detail;  // the engine's error text, or what cut it short
    QString link;    // the stream link relayed under it; empty with none (local music, no window)

    bool operator==(const Airing&) const = default;
};

// What tells the rows of one airing on the air from those of another (empty for a row that
// never went on the air, which stands alone).
QString airing_key(const Airing& airing);

// LOGS folder + "20261210.DSP.csv".
QString proof_of_play_file(const QString& logs_folder, const QDate& day);

// The header line and one row, each ended by CR LF.
QByteArray proof_of_play_header();
QByteArray airing_row(const Airing& airing);

// Appends `airing` to `path` as one write, synced (after the header when the file is new or
// empty; after a line end when the file ends in a row cut off). On failure nothing of the row
// stays in the file and `error` says why.
bool append_airing(const QString& path, const Airing& airing, QString* error = nullptr);

// The airings of a day file's bytes, in the order they started: the header, blank lines and
// records that are not whole are skipped; of one airing's rows the last counts. An airing left
// on the air is kAiringCut, kProgramStopped, unless `now` is within a few marks of its last one.
std::vector<Airing> read_airings_from(const QByteArray& bytes, const QDateTime& now);
// The same, of a file (a missing one has none), with the program's clock as `now`.
std::vector<Airing> read_airings(const QString& path);

// The report of the days `from` to `to` (inclusive) read from `logs_folder`: per audio file the
// airings complete, cut short and missed (not found or not playable), the seconds aired and
// the list of airings; as text, or as CSV with one row per file.
QString commercials_report(const QString& logs_folder, const QDate& from, const QDate& to, bool csv);

// The same report as a self-contained printable HTML page for an advertiser: `station` (may be
// empty), each file with its airings, the totals, and the days of the range that have no file.
QString commercials_statement_html(const QString& logs_folder, const QDate& from, const QDate& to,
                                   const QString& station);

// Writes `html` to `path` whole (a temporary file renamed over it); false with `error` on failure.
bool write_statement(const QString& path, const QString& html, QString* error = nullptr);

// The command line "--relatorio-comerciais FROM TO [--csv] [--html FILE]" (dates DD/MM/YYYY),
// `args` being what follows the option: the report goes to `out` (with --html, the statement to
// FILE and a line naming it to `out`) and the exit code is 0; unreadable arguments give a usage
// text in `out` and 2; a statement that cannot be written, a message and 1.
inline const QString kReportOption = QStringLiteral("--relatorio-comerciais");
int commercials_report_command(const QStringList& args, const QString& logs_folder, QString& out,
                               const QString& station = {});

// The commercial in progress on the transmission channel, from its trigger to its row.
class ProofOfPlay {
  public:
    // `logs_folder` ends with a separator. `log` receives a line for the operation log when a
    // row cannot be written, and when the held rows are written at last. With `dialogs`, the
    // first failure of an outage also writes the engine error log and shows one notice.
    ProofOfPlay(QString logs_folder, std::function<void(const QString&)> log,
                DialogService* dialogs = nullptr);
    ~ProofOfPlay();
    ProofOfPlay(const ProofOfPlay&) = delete;
    ProofOfPlay& operator=(const ProofOfPlay&) = delete;

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
    // Where the commercial on the air has got to (ms into the file, as played), seen by the
    // main tick; every kProgressMarkMs it is written as a progress mark.
    void progress(int position_ms);
    // The commercial channel stopped with its output at `position_ms`: complete when that is
    // (about) the file's length, else cut short with `reason` (kEndedEarly when empty).
    void stopped(int position_ms, const QString& reason = {});
    // The same with the last position seen by progress().
    void stopped();
    // Something stops the commercial `position_ms` into the file, before its end (the window
    // ended, the devices are re-initialised, the program closes, a newer commercial).
    void cut_short(int position_ms, const QString& reason = {});

    bool on_air() const { return on_air_.has_value(); }
    // The commercial on the air, if any.
    const std::optional<Airing>& current() const { return on_air_; }
    // Sees every row as it is written (the station's watchers keep today's list from it).
    std::function<void(const Airing&)> on_row;
    // The stream link on the air when a row is made (a backup's, when one has the air).
    std::function<QString()> link_on_air;
    // Whether every row handed over so far is on disk (nothing held or being written).
    bool all_written() const;

  private:
    Airing now_due(const QString& path, const QString& outcome) const;
    void finish(const QString& outcome, int aired_ms, const QString& reason);
    void write(const Airing& airing);
    void outage(const QString& path, const QString& error);
    void record_outage(const QString& path, const QString& after);

    QString logs_folder_;
    std::function<void(const QString&)> log_;
    DialogService* dialogs_;
    QString minute_;
    bool missing_written_ = false;
    std::optional<Airing> on_air_;
    std::uint32_t length_ms_ = 0;
    int last_position_ms_ = 0;
    qint64 last_mark_ms_ = 0;
    QString outage_error_;             // an outage not yet in the engine error log
    std::unique_ptr<QObject> context_; // results of the writer come back through it
    std::unique_ptr<AiringWriter> writer_;
};

} // namespace miravox
