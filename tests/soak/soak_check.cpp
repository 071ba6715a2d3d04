// What a soak run must have left behind, checked from the operation logs and the commercials'
// open counts.

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

void check_spots(const Plan& plan, const QMap<QString, int>& airings, Outcome& out) {
    for (const Spot& s : plan.spots) {
        const int n = airings.value(s.file);
        const QString name = "commercial " + s.day.toString("dd/MM ") + s.minute.toString("HH:mm");
        if (!s.due) {
            out.spots_not_due_aired += n > 0 ? 1 : 0;
            if (n > 0)
                out.failures << name + " (not due) aired " + QString::number(n) + " times";
            continue;
        }
        ++out.spots_due;
        if (n == 1)
            ++out.spots_aired_once;
        else
            out.failures << name + " aired " + QString::number(n) + " times";
    }
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

Outcome check_run(const Plan& plan, const std::vector<Entry>& entries,
                  const QMap<QString, int>& spot_airings) {
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
        if (e.message == "Erro de Buffer - update Device")
            ++out.buffer_recoveries;
        if (e.message == "LIMITE DE RE-CONEXÃO ATINGIDO")
            out.failures << "\"" + e.message + "\" at " + e.at.toString("dd/MM HH:mm:ss");
    }
    const int midnights = int(plan.start.date().daysTo(plan.end.date()));
    if (out.date_changes != midnights)
        out.failures << "the date changed " + QString::number(out.date_changes) + " times, not " +
                            QString::number(midnights);
    check_spots(plan, spot_airings, out);
    check_numbering(entries, out);
    return out;
}

} // namespace miravox::soak
