// What a soak run must have done, checked from its operation logs, the commercials heard on the
// air and the stalls of its engine error logs.

#include "soak.h"

#include "text_file.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace miravox::soak {

namespace {

const QString kFallback = QStringLiteral("Acionando Musicas locais");
const QString kMusic = QStringLiteral("PLAY MUSICA LOCAL: ");
const QString kNewDate = QStringLiteral("NOVA DATA: Atualização de Grade");
// The harness knows the program's time only to a few seconds; a drop's traces are looked for
// from this much before its planned moment.
constexpr int kDropSlackSeconds = 60;
// A commercial starts once the stream is ducked, a couple of seconds into its minute, and at
// the latest 30 s in. The harness dates what it hears to a few seconds, and under a fast clock
// a call that blocks the program for a second of real time (a network open) holds a commercial
// back by minutes: what sounds from a minute before a trigger's minute on, until the next
// trigger's, is that trigger's airing, late when it began more than four minutes after.
constexpr int kSpotEarliestSeconds = -60;
constexpr int kSpotLateSeconds = 240;
constexpr int kSpotLatestSeconds = 30 * 60;
// The tone is found block by block: a whole commercial measures within a block of its length.
constexpr double kWholeSpotSeconds = kSpotSeconds - 0.2;
// A stalled stream is declared some seconds after its cut and can be until its reconnection
// after the source came back.
constexpr int kStallAfterRestoreSeconds = 180;
// The main tick takes up a stall at its next tick, 300 ms of program time later on a machine that
// keeps pace; a loaded one may take a few dozen seconds.
constexpr int kRecoveryAfterStallSeconds = 60;

QString connected() {
    return "Conectado à " + kStationName;
}

QString window_name(const Window& w) {
    return w.day.toString("ddd dd/MM ") + w.start.toString("HH:mm") + "-" + w.end.toString("HH:mm");
}

// Index of the first entry in [from, to) that satisfies `match`, or -1.
template <class F> int find(const std::vector<Entry>& entries, int from, int to, F match) {
    for (int i = std::max(from, 0); i < to && i < int(entries.size()); ++i)
        if (match(entries[size_t(i)]))
            return i;
    return -1;
}

// The only entry with `message` on `day`, if it came between `earliest` and a minute later.
int single_timely(const std::vector<Entry>& entries, const QDate& day, const QString& message,
                  const QTime& earliest, QStringList& failures, const QString& what) {
    std::vector<int> found;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].at.date() == day && entries[i].message == message)
            found.push_back(int(i));
    if (found.size() != 1) {
        failures << what + ": \"" + message + "\" logged " + QString::number(found.size()) + " times";
        return -1;
    }
    const QTime at = entries[size_t(found[0])].at.time();
    if (at < earliest || at >= earliest.addSecs(60)) {
        failures << what + ": \"" + message + "\" logged at " + at.toString("HH:mm:ss");
        return -1;
    }
    return found[0];
}

void check_drop(const Window& w, const std::vector<Entry>& entries, int open, int close, Outcome& out) {
    const QDateTime drop(w.day, w.drop_at.addSecs(-kDropSlackSeconds));
    const QDateTime restore(w.day, w.restore_at.addSecs(-kDropSlackSeconds));
    const int fallback = find(entries, open, close, [&](const Entry& e) {
        return e.at >= drop && e.message.startsWith("Erro WEB: ") && e.message.endsWith(kFallback);
    });
    const int music =
        find(entries, fallback, close, [&](const Entry& e) { return e.message.startsWith(kMusic); });
    const int back = find(entries, music, close,
                          [&](const Entry& e) { return e.at >= restore && e.message == connected(); });
    if (fallback < 0 || music < 0)
        out.failures << window_name(w) + ": the stream drop did not fall back to local music";
    else if (back < 0)
        out.failures << window_name(w) + ": the stream did not come back after its drop";
    else
        ++out.drops_fell_back;
}

void check_window(const Window& w, const std::vector<Entry>& entries, Outcome& out) {
    const QString name = window_name(w);
    const QString span = w.start.toString("HH:mm") + "  AS " + w.end.toString("HH:mm");
    const int open =
        single_timely(entries, w.day, "*** ACIONAMENTO " + span + " ***", w.start, out.failures, name);
    const int close =
        single_timely(entries, w.day, "*** DESLIGAMENTO " + span + " ***", w.end, out.failures, name);
    if (open < 0 || close < 0 || close < open)
        return;
    ++out.windows_opened_and_closed;
    if (find(entries, open, close, [](const Entry& e) { return e.message == connected(); }) < 0)
        out.failures << name + ": the stream was never relayed";
    if (w.drop)
        check_drop(w, entries, open, close, out);
    else if (find(entries, open, close, [](const Entry& e) { return e.message.endsWith(kFallback); }) >= 0)
        out.failures << name + ": fell back to local music without a drop";
}

bool inside_a_window(const Plan& plan, const QDateTime& at) {
    return std::any_of(plan.windows.begin(), plan.windows.end(), [&](const Window& w) {
        return at >= QDateTime(w.day, w.start) && at <= QDateTime(w.day, w.end).addSecs(60);
    });
}

QString spot_name(const Spot& s) {
    return "commercial " + s.day.toString("dd/MM ") + s.minute.toString("HH:mm");
}

// Each airing belongs to the trigger whose minute it follows; one that follows none is a failure.
std::vector<std::vector<double>> airings_per_spot(const Plan& plan, const std::vector<Airing>& airings,
                                                  Outcome& out) {
    std::vector<std::vector<double>> heard(plan.spots.size());
    for (const Airing& a : airings) {
        if (a.gap_seconds > 0)
            out.dropouts << a.at.toString("dd/MM HH:mm:ss") + ": " + QString::number(a.gap_seconds, 'f', 2) +
                                " s of silence inside";
        int latest = -1; // the last trigger whose minute came before
        for (size_t i = 0; i < plan.spots.size(); ++i) {
            const QDateTime minute(plan.spots[i].day, plan.spots[i].minute);
            if (a.at >= minute.addSecs(kSpotEarliestSeconds) && a.at <= minute.addSecs(kSpotLatestSeconds) &&
                (latest < 0 || minute > QDateTime(plan.spots[size_t(latest)].day, plan.spots[size_t(latest)].minute)))
                latest = int(i);
        }
        if (latest < 0) {
            out.failures << "a commercial sounded at " + a.at.toString("dd/MM HH:mm:ss") + " where none was due";
            continue;
        }
        const Spot& s = plan.spots[size_t(latest)];
        heard[size_t(latest)].push_back(a.seconds);
        if (a.at > QDateTime(s.day, s.minute).addSecs(kSpotLateSeconds))
            out.late << s.day.toString("dd/MM ") + s.minute.toString("HH:mm") + " heard at " +
                            a.at.toString("HH:mm:ss");
    }
    return heard;
}

void check_spots(const Plan& plan, const std::vector<Airing>& airings, Outcome& out) {
    const std::vector<std::vector<double>> heard = airings_per_spot(plan, airings, out);
    for (size_t i = 0; i < plan.spots.size(); ++i) {
        const Spot& s = plan.spots[i];
        const int n = int(heard[i].size());
        if (!s.due) {
            out.spots_not_due_aired += n > 0 ? 1 : 0;
            if (n > 0)
                out.failures << spot_name(s) + " (not due) aired " + QString::number(n) + " times";
            continue;
        }
        ++out.spots_due;
        const int whole = int(std::count_if(heard[i].begin(), heard[i].end(),
                                            [](double seconds) { return seconds >= kWholeSpotSeconds; }));
        for (double seconds : heard[i])
            if (seconds < kWholeSpotSeconds)
                out.cut_short << s.day.toString("dd/MM ") + s.minute.toString("HH:mm") + " after " +
                                     QString::number(seconds, 'f', 2) + " s of " +
                                     QString::number(kSpotSeconds, 'f', 2);
        if (whole < n)
            ++out.spots_cut_short;
        if (n == 1 && whole == 1)
            ++out.spots_aired_once;
        else if (n != 1)
            out.failures << spot_name(s) + " aired " + QString::number(n) + " times";
        else
            out.failures << spot_name(s) + " was cut short";
    }
}

// Which of the station's channels played `source`.
QString channel_of(const QString& source) {
    if (source.contains("://"))
        return "the stream";
    if (source.contains("/SPOTS/"))
        return "a commercial";
    if (source.contains("/MUSICAS/"))
        return "local music";
    if (source.contains("/MEDIA/"))
        return "a jingle";
    return source.isEmpty() ? "no source" : source;
}

// The injected fault that explains a stall: a cut of the stream, for the stream's channel.
QString explanation(const Plan& plan, const Stall& stall) {
    if (!stall.source.contains("://"))
        return {};
    for (const Window& w : plan.windows)
        if (w.drop && stall.at >= QDateTime(w.day, w.drop_at).addSecs(-kDropSlackSeconds) &&
            stall.at <= QDateTime(w.day, w.restore_at).addSecs(kStallAfterRestoreSeconds))
            return "the stream cut at " + w.drop_at.toString("HH:mm");
    return {};
}

// Every recovery from a stalled channel, with the stall that caused it; the ones that no cut of
// the stream explains fail the run.
void check_recoveries(const Plan& plan, const std::vector<Entry>& entries, const std::vector<Stall>& stalls,
                      Outcome& out) {
    std::vector<bool> taken(stalls.size(), false);
    for (const Entry& e : entries) {
        if (e.message != "Erro de Buffer - update Device")
            continue;
        ++out.buffer_recoveries;
        QStringList causes;
        bool explained = false;
        for (size_t i = 0; i < stalls.size(); ++i) {
            if (taken[i] || stalls[i].at > e.at || stalls[i].at < e.at.addSecs(-kRecoveryAfterStallSeconds))
                continue;
            taken[i] = true;
            const QString why = explanation(plan, stalls[i]);
            explained = explained || !why.isEmpty();
            causes << channel_of(stalls[i].source) + " stalled (" + stalls[i].source + ")" +
                          (why.isEmpty() ? QString() : ", explained by " + why);
        }
        const QString line = e.at.toString("dd/MM HH:mm:ss") + ": " +
                             (causes.isEmpty() ? QString("no stall in the engine error log") : causes.join("; "));
        out.recoveries << line;
        if (!explained)
            out.failures << "recovery from a stalled channel that no injected fault explains, " + line;
    }
    for (size_t i = 0; i < stalls.size(); ++i)
        if (!taken[i] && explanation(plan, stalls[i]).isEmpty())
            out.failures << channel_of(stalls[i].source) + " stalled at " + stalls[i].at.toString("dd/MM HH:mm:ss") +
                                " (" + stalls[i].source + ") without a recovery";
}

void check_numbering(const std::vector<Entry>& entries, Outcome& out) {
    QDate day;
    int expected = 0;
    for (const Entry& e : entries) {
        if (e.at.date() != day) {
            day = e.at.date();
            expected = 0;
        }
        if (e.number != expected++) {
            out.failures << "the log of " + day.toString("dd/MM") + " skips from " +
                                QString::number(expected - 2) + " to " + QString::number(e.number);
            expected = e.number + 1;
        }
    }
}

} // namespace

std::vector<Entry> read_operation_logs(const QString& logs_folder, QStringList* malformed) {
    static const QRegularExpression line_shape(R"(^\|(\d\d:\d\d:\d\d)\|(\d+)\|(.*)\|$)");
    std::vector<Entry> entries;
    const QStringList files = QDir(logs_folder).entryList({"*.NET"}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        const QDate day = QDate::fromString(name.left(8), "yyyyMMdd");
        const auto file = read_text_file(logs_folder + "/" + name);
        if (!day.isValid() || !file) {
            if (malformed)
                *malformed << name;
            continue;
        }
        for (const QString& line : file->lines) {
            const auto m = line_shape.match(line);
            if (!m.hasMatch()) {
                if (malformed)
                    *malformed << name + ": " + line;
                continue;
            }
            entries.push_back(Entry{QDateTime(day, QTime::fromString(m.captured(1), "HH:mm:ss")),
                                    m.captured(2).toInt(), m.captured(3)});
        }
    }
    return entries;
}

double slope_per_day(const std::vector<Sample>& samples, double from_days, long (*value)(const Sample&)) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample& s : samples) {
        if (s.program_days < from_days || !s.quiet)
            continue;
        const double x = s.program_days, y = double(value(s));
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double d = n * sxx - sx * sx;
    return n < 2 || d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

Outcome check_run(const Plan& plan, const std::vector<Entry>& entries, const std::vector<Airing>& airings,
                  const std::vector<Stall>& stalls) {
    Outcome out;
    out.entries = int(entries.size());
    out.windows = int(plan.windows.size());
    for (const Window& w : plan.windows) {
        out.drops += w.drop ? 1 : 0;
        check_window(w, entries, out);
    }
    for (const Entry& e : entries) {
        if (e.message.endsWith(kFallback) && !inside_a_window(plan, e.at))
            out.failures << "fell back to local music outside every window at " +
                                e.at.toString("dd/MM HH:mm:ss");
        if (e.message == kNewDate)
            ++out.date_changes;
        if (e.message == "LIMITE DE RE-CONEXÃO ATINGIDO")
            out.failures << "\"" + e.message + "\" at " + e.at.toString("dd/MM HH:mm:ss");
    }
    const int midnights = int(plan.start.date().daysTo(plan.end.date()));
    if (out.date_changes != midnights)
        out.failures << "the date changed " + QString::number(out.date_changes) + " times, not " +
                            QString::number(midnights);
    check_spots(plan, airings, out);
    check_recoveries(plan, entries, stalls, out);
    check_numbering(entries, out);
    return out;
}

} // namespace miravox::soak
