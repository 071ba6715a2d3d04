// The soak's verdict must catch a run that went wrong: each case below spoils one thing in the
// logs of an otherwise perfect run and expects the check to name it.

#include "soak.h"

#include "text_file.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace miravox;
using namespace miravox::soak;

namespace {

class SoakCheck : public ::testing::Test {
  protected:
    Plan plan = Plan::short_run(QDate(2026, 12, 5));
    std::vector<Entry> log;
    QMap<QString, int> airings;

    void add(const QDateTime& at, const QString& message) {
        const int number = log.empty() || log.back().at.date() != at.date() ? 0 : log.back().number + 1;
        log.push_back(Entry{at, number, message});
    }

    // The log and the opens of a run that did everything right.
    void perfect_run() {
        add(plan.start.addSecs(5), "INICIADO");
        for (const Window& w : plan.windows) {
            const QString span = w.start.toString("HH:mm") + "  AS " + w.end.toString("HH:mm");
            if (w.day != plan.start.date() && log.back().at.date() == plan.start.date())
                add(QDateTime(w.day, QTime(0, 0, 1)), "NOVA DATA: Atualização de Grade");
            add(QDateTime(w.day, w.start.addSecs(1)), "*** ACIONAMENTO " + span + " ***");
            add(QDateTime(w.day, w.start.addSecs(9)), "Conectado à RADIO SOAK");
            if (w.drop) {
                add(QDateTime(w.day, w.drop_at.addSecs(20)), "Erro WEB: 2 - Acionando Musicas locais");
                add(QDateTime(w.day, w.drop_at.addSecs(21)), "PLAY MUSICA LOCAL: A.WAV");
                add(QDateTime(w.day, w.restore_at.addSecs(60)), "Conectado à RADIO SOAK");
            }
            add(QDateTime(w.day, w.end.addSecs(1)), "*** DESLIGAMENTO " + span + " ***");
        }
        for (const Spot& s : plan.spots)
            airings[s.file] = s.due ? 1 : 0;
    }
    Outcome check() const { return check_run(plan, log, airings); }
    Entry& entry(const QString& message) {
        for (Entry& e : log)
            if (e.message == message)
                return e;
        throw std::runtime_error("no such entry");
    }
    static bool names(const Outcome& out, const QString& part) {
        return std::any_of(out.failures.begin(), out.failures.end(),
                           [&](const QString& f) { return f.contains(part); });
    }
};

} // namespace

TEST_F(SoakCheck, APerfectRunPassesWithEveryCount) {
    perfect_run();
    const Outcome out = check();
    EXPECT_TRUE(out.failures.isEmpty()) << out.failures.join("\n").toStdString();
    EXPECT_EQ(out.windows_opened_and_closed, 2);
    EXPECT_EQ(out.spots_aired_once, 3);
    EXPECT_EQ(out.spots_due, 3);
    EXPECT_EQ(out.drops_fell_back, 1);
    EXPECT_EQ(out.date_changes, 1);
}

TEST_F(SoakCheck, WindowsThatDidNotOpenOrCloseOnceAndOnTimeAreNamed) {
    perfect_run();
    entry("*** DESLIGAMENTO 23:00  AS 23:40 ***").message = "something else";
    entry("*** ACIONAMENTO 00:30  AS 01:15 ***").at = QDateTime(QDate(2026, 12, 6), QTime(0, 31, 30));
    const Outcome out = check();
    EXPECT_TRUE(names(out, "\"*** DESLIGAMENTO 23:00  AS 23:40 ***\" logged 0 times"));
    EXPECT_TRUE(names(out, "\"*** ACIONAMENTO 00:30  AS 01:15 ***\" logged at 00:31:30"));
    EXPECT_EQ(out.windows_opened_and_closed, 0);
}

TEST_F(SoakCheck, DropsWithoutMusicOrReturnAndMusicWithoutDropsAreNamed) {
    perfect_run();
    entry("PLAY MUSICA LOCAL: A.WAV").message = "PLAY";
    EXPECT_TRUE(names(check(), "did not fall back to local music"));

    log.clear();
    perfect_run();
    log.erase(log.begin() + 5); // the stream's return after the drop
    EXPECT_TRUE(names(check(), "did not come back"));

    log.clear();
    perfect_run();
    add(QDateTime(QDate(2026, 12, 6), QTime(0, 40)), "Erro WEB: 1 - Acionando Musicas locais");
    std::swap(log[log.size() - 1], log[log.size() - 2]); // inside the second window
    EXPECT_TRUE(names(check(), "without a drop"));
}

TEST_F(SoakCheck, CommercialsMissedRepeatedOrNotDueAreNamed) {
    perfect_run();
    airings["SPOT_20261205_2330.WAV"] = 0;
    airings["SPOT_20261206_0000.WAV"] = 2;
    airings["SPOT_20261206_0045.WAV"] = 1;
    const Outcome out = check();
    EXPECT_EQ(out.spots_aired_once, 1);
    EXPECT_EQ(out.spots_not_due_aired, 1);
    EXPECT_TRUE(names(out, "05/12 23:30 aired 0 times"));
    EXPECT_TRUE(names(out, "06/12 00:00 aired 2 times"));
    EXPECT_TRUE(names(out, "06/12 00:45 (not due) aired 1 times"));
}

TEST_F(SoakCheck, GapsInTheNumberingAndAMissedDateChangeAreNamed) {
    perfect_run();
    log[2].number = 7;
    entry("NOVA DATA: Atualização de Grade").message = "x";
    const Outcome out = check();
    EXPECT_TRUE(names(out, "skips from 1 to 7"));
    EXPECT_TRUE(names(out, "the date changed 0 times, not 1"));
}

TEST(SoakLogs, DayComesFromTheFileNameAndMessagesKeepTheirBars) {
    QTemporaryDir logs;
    ASSERT_TRUE(
        write_text_file(logs.path() + "/20261206.NET", {"|00:00:01|0|a|b|", "garbage", "|00:00:02|1||"}));
    ASSERT_TRUE(write_text_file(logs.path() + "/20261205.NET", {"|23:59:59|0|Conectado à X|"}));
    QStringList malformed;
    const std::vector<Entry> entries = read_operation_logs(logs.path(), &malformed);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].at, QDateTime(QDate(2026, 12, 5), QTime(23, 59, 59)));
    EXPECT_EQ(entries[0].message, "Conectado à X");
    EXPECT_EQ(entries[1].message, "a|b");
    EXPECT_EQ(entries[2].message, "");
    EXPECT_EQ(entries[2].number, 1);
    EXPECT_EQ(malformed, QStringList{"20261206.NET: garbage"});
}

TEST(SoakSamples, SlopeIsPerDayOverQuietMomentsAfterTheWarmUp) {
    std::vector<Sample> samples;
    for (int i = 0; i <= 10; ++i) {
        samples.push_back(Sample{i * 0.5, i == 0 ? 9999 : 1000 + 100 * i, 20, 15, true});
        samples.push_back(Sample{i * 0.5 + 0.1, 50000, 90, 40, false}); // while playing: not compared
    }
    EXPECT_NEAR(slope_per_day(samples, 0.5, [](const Sample& s) { return s.rss_kb; }), 200, 1e-6);
    EXPECT_NEAR(slope_per_day(samples, 0.5, [](const Sample& s) { return long(s.fds); }), 0, 1e-9);
    EXPECT_EQ(slope_per_day({}, 0, [](const Sample& s) { return s.rss_kb; }), 0);
}
