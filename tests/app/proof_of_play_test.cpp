// The proof-of-play file (rows whole through a cut-off write, fields that need quoting), the
// airing in progress against a manual clock, the report and its command line, and the
// dead-air watch's count.

#include "proof_of_play.h"
#include "silence_watch.h"

#include "clock.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

using namespace miravox;

namespace {

class ProofOfPlayTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString logs = dir.path() + "/LOGS/";
    std::shared_ptr<ManualClock> manual =
        std::make_shared<ManualClock>(QDateTime(QDate(2026, 12, 10), QTime(19, 29, 58)));
    ScopedClock scope{manual};
    QStringList logged;
    ProofOfPlay proof{logs, [this](const QString& line) { logged << line; }};

    QString today_file() const { return proof_of_play_file(logs, QDate(2026, 12, 10)); }
    void advance_s(double s) { manual->advance_ms(qint64(s * 1000)); }
    QByteArray bytes(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

Airing airing(const QString& file, const QString& outcome, int aired = 30) {
    Airing a;
    a.date = QDate(2026, 12, 10);
    a.scheduled = "19:30";
    a.start = QTime(19, 30, 2);
    a.end = QTime(19, 30, 32);
    a.seconds_aired = aired;
    a.file_seconds = 30;
    a.file = file;
    a.outcome = outcome;
    return a;
}

} // namespace

TEST_F(ProofOfPlayTest, RowsReadBackWithFieldsThatNeedQuoting) {
    Airing odd = airing("/audio/spot, \"verão\"\nfinal.mp3", kAiringError, 0);
    odd.detail = "Cod:BS2 - Arquivo, não aberto";
    ASSERT_TRUE(append_airing(today_file(), airing("/audio/a.mp3", kAiringComplete)));
    ASSERT_TRUE(append_airing(today_file(), odd));
    EXPECT_TRUE(bytes(today_file()).startsWith(proof_of_play_header()));
    EXPECT_TRUE(
        bytes(today_file()).contains("10/12/2026,19:30,19:30:02,19:30:32,30,30,/audio/a.mp3,completo,\r\n"));
    EXPECT_EQ(read_airings(today_file()),
              (std::vector<Airing>{airing("/audio/a.mp3", kAiringComplete), odd}));
    EXPECT_TRUE(read_airings(logs + "missing.csv").empty());
}

TEST_F(ProofOfPlayTest, ARowCutOffByACrashLeavesTheEarlierRowsWholeAndIsClosedOffByTheNext) {
    ASSERT_TRUE(append_airing(today_file(), airing("/a.mp3", kAiringComplete)));
    ASSERT_TRUE(append_airing(today_file(), airing("/b.mp3", kAiringCut, 12)));
    const QByteArray whole = bytes(today_file());
    // Power lost in the middle of the third write.
    const QByteArray third = airing_row(airing("/c.mp3", kAiringComplete));
    {
        QFile f(today_file());
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(third.left(third.size() / 2));
    }
    const std::vector<Airing> earlier{airing("/a.mp3", kAiringComplete), airing("/b.mp3", kAiringCut, 12)};
    EXPECT_EQ(read_airings(today_file()), earlier);
    // The next row starts on a line of its own; the broken one stays skipped.
    ASSERT_TRUE(append_airing(today_file(), airing("/d.mp3", kAiringComplete)));
    EXPECT_TRUE(bytes(today_file()).startsWith(whole));
    std::vector<Airing> now = earlier;
    now.push_back(airing("/d.mp3", kAiringComplete));
    EXPECT_EQ(read_airings(today_file()), now);
}

TEST_F(ProofOfPlayTest, AnUnwritableFolderIsLoggedAndLosesNothingElse) {
    QFile::remove(logs);
    QDir().mkpath(dir.path());
    ASSERT_TRUE(QFile(logs.chopped(1)).open(QIODevice::WriteOnly)); // a file where the folder should be
    proof.missing("19:30", "/gone.mp3");
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].startsWith("Erro ao gravar " + today_file())) << logged[0].toStdString();
}

TEST_F(ProofOfPlayTest, AiringsFromTriggerToRow) {
    // Due at 19:30, on the air 2 s later, played to its end.
    proof.due("19:30");
    advance_s(4);
    proof.started("/spot.mp3", 30400);
    EXPECT_TRUE(proof.on_air());
    advance_s(29.8); // the stop is seen a little before the clock's full length: still complete
    proof.progress(29700);
    proof.stopped();
    EXPECT_FALSE(proof.on_air());
    // Due at 19:31 and cut 12.4 s into the file by the end of the window.
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 31, 1)));
    proof.due("19:31");
    proof.started("/spot.mp3", 30400);
    advance_s(12.5);
    proof.cut_short(12400);
    proof.cut_short(0); // the channels' stop that follows records nothing more
    proof.stopped();
    // Due at 19:32 with the file gone: one row however often the start looks for it.
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 32, 0)));
    proof.due("19:32");
    proof.missing({}, "/gone.mp3");
    proof.missing({}, "/gone.mp3");
    // Due at 19:33 and not playable.
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 33, 2)));
    proof.due("19:33");
    proof.failed("/bad.mp3", "Cod:BS41 - Formato não suportado");

    const std::vector<Airing> rows = read_airings(today_file());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].scheduled, "19:30");
    EXPECT_EQ(rows[0].start, QTime(19, 30, 2));
    EXPECT_EQ(rows[0].end.toString("HH:mm:ss"), "19:30:31");
    EXPECT_EQ(rows[0].outcome, kAiringComplete);
    EXPECT_EQ(rows[0].seconds_aired, 30);
    EXPECT_EQ(rows[0].file_seconds, 30);
    EXPECT_EQ(rows[1].outcome, kAiringCut);
    EXPECT_EQ(rows[1].seconds_aired, 12);
    EXPECT_EQ(rows[1].end.toString("HH:mm:ss"), "19:31:13");
    EXPECT_EQ(rows[2].outcome, kAiringMissing);
    EXPECT_EQ(rows[2].file, "/gone.mp3");
    EXPECT_FALSE(rows[2].start.isValid());
    EXPECT_EQ(rows[2].file_seconds, -1);
    EXPECT_EQ(rows[3].outcome, kAiringError);
    EXPECT_EQ(rows[3].detail, "Cod:BS41 - Formato não suportado");
    EXPECT_TRUE(logged.isEmpty());
}

TEST_F(ProofOfPlayTest, ReportPerFileOverTheDaysOfARange) {
    Airing other_day = airing("/b.mp3", kAiringComplete, 30);
    other_day.date = QDate(2026, 12, 11);
    Airing missed = airing("/a.mp3", kAiringMissing, 0);
    missed.start = missed.end = QTime();
    missed.file_seconds = -1;
    ASSERT_TRUE(append_airing(today_file(), airing("/a.mp3", kAiringComplete, 30)));
    ASSERT_TRUE(append_airing(today_file(), airing("/a.mp3", kAiringCut, 12)));
    ASSERT_TRUE(append_airing(today_file(), missed));
    ASSERT_TRUE(append_airing(proof_of_play_file(logs, QDate(2026, 12, 11)), other_day));
    ASSERT_TRUE(
        append_airing(proof_of_play_file(logs, QDate(2026, 12, 12)), airing("/c.mp3", kAiringComplete)));

    const QString text = commercials_report(logs, QDate(2026, 12, 9), QDate(2026, 12, 11), false);
    EXPECT_TRUE(text.startsWith("RELATÓRIO DE COMERCIAIS - 09/12/2026 a 11/12/2026\n")) << text.toStdString();
    EXPECT_TRUE(
        text.contains("/a.mp3\n  Completos: 1   Interrompidos: 1   Não exibidos: 1   Segundos no ar: 42\n"));
    EXPECT_TRUE(text.contains("  10/12/2026  19:30  19:30:02 a 19:30:32    12 s  interrompido\n"));
    EXPECT_TRUE(text.contains("não localizado"));
    EXPECT_TRUE(
        text.contains("/b.mp3\n  Completos: 1   Interrompidos: 0   Não exibidos: 0   Segundos no ar: 30\n"));
    EXPECT_FALSE(text.contains("/c.mp3"));
    EXPECT_TRUE(
        text.contains("TOTAL  Completos: 2   Interrompidos: 1   Não exibidos: 1   Segundos no ar: 72"));

    const QString csv = commercials_report(logs, QDate(2026, 12, 9), QDate(2026, 12, 11), true);
    const QStringList lines = csv.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "arquivo,completos,interrompidos,não exibidos,segundos no ar,exibições");
    EXPECT_TRUE(lines[1].startsWith("/a.mp3,1,1,1,42,10/12/2026 19:30 19:30:02-19:30:32 completo 30s; "));

    QString out;
    EXPECT_EQ(commercials_report_command({"11/12/2026", "09/12/2026"}, logs, out), 0);
    EXPECT_EQ(out, text);
    EXPECT_EQ(commercials_report_command({"--csv", "09/12/2026", "11/12/2026"}, logs, out), 0);
    EXPECT_EQ(out, csv);
    for (const QStringList& bad : {QStringList{"09/12/2026"}, QStringList{"2026-12-09", "11/12/2026"},
                                   QStringList{"31/02/2026", "11/12/2026"}}) {
        EXPECT_EQ(commercials_report_command(bad, logs, out), 2);
        EXPECT_TRUE(out.startsWith("Uso: miravox --relatorio-comerciais"));
    }
    EXPECT_TRUE(commercials_report(logs, QDate(2025, 1, 1), QDate(2025, 1, 2), false)
                    .contains("Nenhum comercial registrado no período."));
}

TEST(SilenceWatch, CountsOnlyUnbrokenSilenceOfTheSetLength) {
    const double silent = -std::numeric_limits<double>::infinity();
    SilenceWatch watch;
    qint64 t = 1000;
    auto feed = [&](double db, double seconds, int setting = 3) {
        int fired = 0;
        for (int i = 0; i < int(std::lround(seconds * 10)); ++i, t += 100)
            if (const int s = watch.observe(db, t, setting, -50))
                fired = s;
        return fired;
    };
    EXPECT_EQ(feed(-20, 5), 0);     // sound
    EXPECT_EQ(feed(-55, 2.9), 0);   // quiet, but not for 3 s
    EXPECT_EQ(feed(-49.9, 0.1), 0); // a peak above the threshold starts the count over
    EXPECT_EQ(feed(silent, 2.9), 0);
    EXPECT_EQ(feed(silent, 0.2), 3);   // the third second of silence
    EXPECT_EQ(feed(silent, 2.9), 0);   // and then it starts over
    EXPECT_EQ(feed(silent, 10, 0), 0); // off
    watch.reset();                     // a commercial on the air
    EXPECT_EQ(feed(silent, 2.5), 0);
    watch.reset();
    EXPECT_EQ(feed(silent, 2.5), 0);
    t += 5000; // the meter stopped with the stream
    EXPECT_EQ(feed(silent, 2.9), 0);
    EXPECT_EQ(feed(silent, 0.2), 3);
}
