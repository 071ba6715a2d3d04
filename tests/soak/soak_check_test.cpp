// The soak's verdict must catch a run that went wrong: each case below spoils one thing in the
// logs of an otherwise perfect run and expects the check to name it.

#include "soak.h"

#include "text_file.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>

using namespace miravox;
using namespace miravox::soak;

namespace {

class SoakCheck : public ::testing::Test {
  protected:
    Plan plan = Plan::short_run(QDate(2026, 12, 5));
    std::vector<Entry> log;
    std::vector<Airing> airings;
    std::vector<Stall> stalls;

    void add(const QDateTime& at, const QString& message) {
        const int number = log.empty() || log.back().at.date() != at.date() ? 0 : log.back().number + 1;
        log.push_back(Entry{at, number, message});
    }

    // The log and the airings of a run that did everything right.
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
            if (s.due)
                airings.push_back(Airing{QDateTime(s.day, s.minute.addSecs(2)), kSpotSeconds});
    }
    Outcome check() const { return check_run(plan, log, airings, stalls); }
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

TEST_F(SoakCheck, CommercialsMissedRepeatedCutOrNotDueAreNamed) {
    perfect_run();
    airings.erase(airings.begin());                                                  // 23:30 missed
    airings.push_back(Airing{QDateTime(QDate(2026, 12, 6), QTime(0, 1, 10)), 1.5});   // 00:00 again
    airings.push_back(Airing{QDateTime(QDate(2026, 12, 6), QTime(0, 45, 2)), 1.5});   // not due
    airings[1].seconds = 0.9;                                                         // 01:00 cut
    airings[0].gap_seconds = 0.05; // 00:00 fell silent for a moment: reported, still whole
    airings.push_back(Airing{QDateTime(QDate(2026, 12, 5), QTime(22, 55)), 1.5});     // unexplained
    const Outcome out = check();
    EXPECT_EQ(out.spots_aired_once, 0);
    EXPECT_EQ(out.spots_cut_short, 1);
    EXPECT_EQ(out.cut_short, QStringList{"06/12 01:00 after 0.90 s of 1.50"});
    EXPECT_EQ(out.spots_not_due_aired, 1);
    EXPECT_EQ(out.dropouts, QStringList{"06/12 00:00:02: 0.05 s of silence inside"});
    EXPECT_TRUE(names(out, "05/12 23:30 aired 0 times"));
    EXPECT_TRUE(names(out, "06/12 00:00 aired 2 times"));
    EXPECT_TRUE(names(out, "06/12 01:00 was cut short"));
    EXPECT_TRUE(names(out, "06/12 00:45 (not due) aired 1 times"));
    EXPECT_TRUE(names(out, "sounded at 05/12 22:55:00 where none was due"));
    EXPECT_TRUE(out.late.isEmpty()); // 00:00 heard again 70 s after its minute

    airings.push_back(Airing{QDateTime(QDate(2026, 12, 6), QTime(1, 20)), 1.5}); // held back
    EXPECT_EQ(check().late, QStringList{"06/12 01:00 heard at 01:20:00"});
    EXPECT_TRUE(names(check(), "06/12 01:00 aired 2 times"));
}

TEST_F(SoakCheck, EveryRecoveryIsReportedAndOnlyTheCutStreamExplainsOne) {
    perfect_run();
    const Window& dropping = plan.windows.front();
    const QDateTime in_drop(dropping.day, dropping.drop_at.addSecs(30));
    const QString stream = "http://127.0.0.1:5000/radio";
    stalls.push_back(Stall{in_drop, stream});
    add(in_drop.addMSecs(300), "Erro de Buffer - update Device");
    const QDateTime later(QDate(2026, 12, 6), QTime(0, 50, 7));
    stalls.push_back(Stall{later, "/station/MUSICAS/B.WAV"});
    add(later, "Erro de Buffer - update Device");
    add(later.addSecs(600), "Erro de Buffer - update Device");
    stalls.push_back(Stall{later.addSecs(900), "/station/SPOTS/SPOT_20261206_0100.WAV"});
    std::sort(log.begin(), log.end(), [](const Entry& a, const Entry& b) { return a.at < b.at; });
    for (size_t i = 0; i < log.size(); ++i)
        log[i].number = i == 0 || log[i - 1].at.date() != log[i].at.date() ? 0 : log[i - 1].number + 1;

    const Outcome out = check();
    EXPECT_EQ(out.buffer_recoveries, 3);
    ASSERT_EQ(out.recoveries.size(), 3);
    EXPECT_EQ(out.recoveries[0], "05/12 23:12:30: the stream stalled (" + stream +
                                     "), explained by the stream cut at 23:12");
    EXPECT_EQ(out.recoveries[1], "06/12 00:50:07: local music stalled (/station/MUSICAS/B.WAV)");
    EXPECT_EQ(out.recoveries[2], "06/12 01:00:07: no stall in the engine error log");
    EXPECT_EQ(out.failures.size(), 3) << out.failures.join("\n").toStdString();
    EXPECT_TRUE(names(out, "no injected fault explains, 06/12 00:50:07: local music stalled"));
    EXPECT_TRUE(names(out, "no injected fault explains, 06/12 01:00:07"));
    EXPECT_TRUE(names(out, "a commercial stalled at 06/12 01:05:07"));
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

// A tone as the capture device writes it: 44100 Hz stereo 16-bit.
static void add_tone(std::vector<std::int16_t>& audio, double seconds, double hz, double amplitude) {
    const size_t frames = size_t(seconds * 44100);
    for (size_t i = 0; i < frames; ++i) {
        const auto v = std::int16_t(std::lround(amplitude * 32767 * std::sin(2 * M_PI * hz * double(i) / 44100)));
        audio.push_back(v);
        audio.push_back(v);
    }
}

TEST(SoakAir, TheCommercialsToneIsFoundWithItsStartAndLengthAmongTheOtherSounds) {
    std::vector<std::int16_t> audio;
    add_tone(audio, 2, 440, 0.4);                      // the stream
    add_tone(audio, kSpotSeconds, kSpotToneHz, 0.4);  // a commercial
    add_tone(audio, 3, 990, 0.4);                      // a closing jingle
    add_tone(audio, 0.6, kSpotToneHz, 0.4);           // a commercial cut short
    add_tone(audio, 1.5, 660, 0.4);                    // local music
    add_tone(audio, 0.1, kSpotToneHz, 0.4);           // a commercial whose output ran ahead
    add_tone(audio, 0.2, 0, 0);                        // of its decoder for a moment
    add_tone(audio, 1.4, kSpotToneHz, 0.4);
    add_tone(audio, 1.2, 660, 0.4);
    ToneRuns tone(kSpotToneHz);
    std::vector<ToneRuns::Run> runs;
    // In pieces of odd sizes, as a growing file is read.
    for (size_t at = 0, piece = 777; at < audio.size() / 2; at += piece, piece = piece * 3 % 10007 + 1) {
        const size_t n = std::min(piece, audio.size() / 2 - at);
        for (const ToneRuns::Run& r : tone.feed(audio.data() + 2 * at, n))
            runs.push_back(r);
    }
    EXPECT_FALSE(tone.finish());
    ASSERT_EQ(runs.size(), 3u);
    const double block = ToneRuns::seconds(ToneRuns::kBlockFrames);
    EXPECT_NEAR(ToneRuns::seconds(runs[0].first_frame), 2, block);
    EXPECT_NEAR(ToneRuns::seconds(runs[0].frames), kSpotSeconds, block);
    EXPECT_EQ(runs[0].gap_frames, 0);
    EXPECT_NEAR(ToneRuns::seconds(runs[1].first_frame), 2 + kSpotSeconds + 3, block);
    EXPECT_NEAR(ToneRuns::seconds(runs[1].frames), 0.6, block);
    EXPECT_NEAR(ToneRuns::seconds(runs[2].first_frame), 2 + kSpotSeconds + 3 + 0.6 + 1.5, block);
    EXPECT_NEAR(ToneRuns::seconds(runs[2].frames), kSpotSeconds, 2 * block);
    EXPECT_NEAR(ToneRuns::seconds(runs[2].gap_frames), 0.2, 2 * block);
    EXPECT_EQ(tone.frames_fed(), qint64(audio.size() / 2));
}

TEST(SoakAir, StallsComeFromTheEngineErrorLogsWithTheirTimeAndSource) {
    QTemporaryDir logs;
    const auto block = [](const QString& time, const QString& text, const QString& file) {
        return QStringList{"DATA: 06/12/2026 - HORA: " + time + "  -  ERRO AO CARREGAR CANAL",
                           "APLICACAO: /x/miravox", "TEXTO: " + text, "Arquivo: " + file,
                           "BS Erro: 0 - Cod:BS0", QString(58, '-')};
    };
    const QString stall = "-----------------ERRO DE BUFFER (SEM PROGRESSO EM TIMER)----------------";
    ASSERT_TRUE(write_text_file(logs.path() + "/2026126.ERR",
                                block("18:41:07", stall, "http://x/radio") + block("18:42:00", "PLAY", "/a.wav") +
                                    block("05:00:01", stall, "/S/MUSICAS/A.WAV")));
    const std::vector<Stall> stalls = read_stalls(logs.path());
    ASSERT_EQ(stalls.size(), 2u);
    EXPECT_EQ(stalls[0].at, QDateTime(QDate(2026, 12, 6), QTime(5, 0, 1)));
    EXPECT_EQ(stalls[0].source, "/S/MUSICAS/A.WAV");
    EXPECT_EQ(stalls[1].at, QDateTime(QDate(2026, 12, 6), QTime(18, 41, 7)));
    EXPECT_EQ(stalls[1].source, "http://x/radio");
}
