// The proof-of-play file (one record per line whatever a field holds, a row torn anywhere
// costing itself alone, old quoted rows), the airing in progress against a manual clock, rows
// held through a folder that refuses them, a commercial stopped by the engine with the real
// window and channel, the reports and the HTML statement in a real browser, and the dead-air
// watch's count.

#include "proof_of_play.h"
#include "silence_watch.h"

#include "clock.h"
#include "error_log.h"
#include "window/main_window_fixture.h"
#include "scripted_dialogs.h"

#include <gtest/gtest.h>

#include <QDateEdit>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <limits>

using namespace miravox;
using namespace miravox::testing;

namespace {

// Runs the event loop (the writer's results come back through it) until `done`, at most `ms`.
template <class F> bool wait_for(F done, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

class ProofOfPlayTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString logs = dir.path() + "/LOGS/";
    std::shared_ptr<ManualClock> manual =
        std::make_shared<ManualClock>(QDateTime(QDate(2026, 12, 10), QTime(19, 29, 58)));
    ScopedClock scope{manual};
    QStringList logged;
    ScriptedDialogs dialogs;
    ProofOfPlay proof{logs, [this](const QString& line) { logged << line; }, &dialogs};

    QString today_file() const { return proof_of_play_file(logs, QDate(2026, 12, 10)); }
    void advance_s(double s) { manual->advance_ms(qint64(s * 1000)); }
    QByteArray bytes(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void append_bytes(const QByteArray& b) {
        QFile f(today_file());
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(b);
    }
    std::vector<Airing> written() {
        EXPECT_TRUE(wait_for([&] { return proof.all_written(); }));
        return read_airings(today_file());
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

TEST_F(ProofOfPlayTest, EveryRecordIsOneLineWhateverItsFieldsHold) {
    Airing odd = airing("/audio/spot, \"verão\"\nfinal 100%0A.mp3\r", kAiringError, 0);
    odd.start = odd.end = QTime();
    odd.detail = "Cod:BS2 - Arquivo, não aberto";
    odd.link = "http://mirror/live?a=1,b=2"; // a backup link had the air
    ASSERT_TRUE(append_airing(today_file(), airing("/audio/a.mp3", kAiringComplete)));
    ASSERT_TRUE(append_airing(today_file(), odd));
    EXPECT_TRUE(bytes(today_file()).startsWith(proof_of_play_header()));
    EXPECT_TRUE(
        bytes(today_file()).contains("10/12/2026,19:30,19:30:02,19:30:32,30,30,/audio/a.mp3,completo,,\r\n"));
    EXPECT_EQ(bytes(today_file()).count('\n'), 3); // the header and two rows
    EXPECT_EQ(read_airings(today_file()),
              (std::vector<Airing>{airing("/audio/a.mp3", kAiringComplete), odd}));
    EXPECT_TRUE(read_airings(logs + "missing.csv").empty());
    // A row of a file written before line breaks were escaped, and before the link column:
    // quoted fields as they were.
    append_bytes("10/12/2026,19:30,19:30:02,19:30:32,30,30,\"/audio/old, \"\"one\"\".mp3\",completo,\r\n");
    EXPECT_EQ(read_airings(today_file()).back(), airing("/audio/old, \"one\".mp3", kAiringComplete));
}

// A power cut inside a quoted path: the row is cut with its quote open, and the line the next
// write closes it with ends it; the rows after it are read.
TEST_F(ProofOfPlayTest, ATornRowWithAQuotedPathCostsItselfAlone) {
    ASSERT_TRUE(append_airing(today_file(), airing("/a.mp3", kAiringComplete)));
    const QByteArray torn = airing_row(airing("/audio/spot, two.mp3", kAiringComplete));
    append_bytes(torn.left(torn.indexOf("two")));
    Airing at_1950 = airing("/b.mp3", kAiringComplete);
    at_1950.scheduled = "19:50";
    Airing at_2000 = airing("/c.mp3", kAiringCut, 12);
    at_2000.scheduled = "20:00";
    ASSERT_TRUE(append_airing(today_file(), at_1950));
    ASSERT_TRUE(append_airing(today_file(), at_2000));
    EXPECT_EQ(read_airings(today_file()),
              (std::vector<Airing>{airing("/a.mp3", kAiringComplete), at_1950, at_2000}));
    // Cut off at the very end, with no line end yet: skipped too.
    append_bytes(torn.left(torn.size() - 2));
    EXPECT_EQ(read_airings(today_file()).size(), 3u);
}

TEST_F(ProofOfPlayTest, AiringsFromTriggerToRow) {
    // Due at 19:30, on the air 2 s later, played to its end.
    proof.due("19:30");
    advance_s(4);
    proof.started("/spot.mp3", 30400);
    EXPECT_TRUE(proof.on_air());
    advance_s(29.8);
    proof.progress(29700);
    proof.stopped(30350);
    EXPECT_FALSE(proof.on_air());
    // Due at 19:31 and cut 12.4 s into the file by the end of the window.
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 31, 1)));
    proof.due("19:31");
    proof.started("/spot.mp3", 30400);
    advance_s(12.5);
    proof.cut_short(12400);
    proof.cut_short(0); // the channels' stop that follows records nothing more
    proof.stopped(0);
    // Due at 19:32 with the file gone: one row however often the start looks for it.
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 32, 0)));
    proof.due("19:32");
    proof.missing({}, "/gone.mp3");
    proof.missing({}, "/gone.mp3");
    // Due at 19:33 and not playable.
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 33, 2)));
    proof.due("19:33");
    proof.failed("/bad.mp3", "Cod:BS41 - Formato não suportado");
    // Due at 19:34; its output stopped moving 2.3 s in and the channel gave up on it 6 s later.
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 34, 1)));
    proof.due("19:34");
    proof.started("/spot.mp3", 10000);
    for (int i = 0; i < 28; ++i) {
        advance_s(0.3);
        proof.progress(std::min(2300, 300 * i));
    }
    proof.stopped(2300, kOutputFroze);

    const std::vector<Airing> rows = written();
    ASSERT_EQ(rows.size(), 5u);
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
    EXPECT_EQ(rows[4].outcome, kAiringCut); // not the 8.4 s it stood on the air
    EXPECT_EQ(rows[4].seconds_aired, 2);
    EXPECT_EQ(rows[4].detail, kOutputFroze);
    EXPECT_TRUE(logged.isEmpty());
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

// The program dies while a commercial plays: its start row and its last progress mark are on
// disk; read at once it is still on the air, read later it was cut by the program's end.
TEST_F(ProofOfPlayTest, ACommercialLeftOnTheAirReadsAsCutWhereTheProgramStopped) {
    proof.due("19:30");
    proof.started("/spot.mp3", 20000);
    for (int i = 1; i <= 30; ++i) { // 9 s at the main tick's pace
        advance_s(0.3);
        proof.progress(300 * i);
    }
    std::vector<Airing> rows = written();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, kAiringOnAir);
    EXPECT_EQ(rows[0].seconds_aired, 5); // the mark at 5 s; the next is due at 10 s
    advance_s(60);
    rows = read_airings(today_file());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, kAiringCut);
    EXPECT_EQ(rows[0].detail, kProgramStopped);
    EXPECT_EQ(rows[0].seconds_aired, 5);
    EXPECT_EQ(rows[0].start, QTime(19, 29, 58));
    EXPECT_EQ(rows[0].end, QTime(19, 30, 3));
}

// The day's file cannot be written (a folder stands at its path): the rows wait in memory, the
// operator hears of it once, and when the path is free again every row is written in order.
TEST_F(ProofOfPlayTest, AFolderThatRefusesRowsHoldsThemInOrderUntilItTakesThemAgain) {
    const QByteArray previous_home = qgetenv("MIRAVOX_HOME");
    qputenv("MIRAVOX_HOME", dir.path().toUtf8()); // the engine error log goes beside LOGS
    ASSERT_TRUE(QDir().mkpath(today_file()));
    proof.missing("19:30", "/gone.mp3");
    ASSERT_TRUE(wait_for([&] { return !logged.isEmpty(); }));
    EXPECT_TRUE(logged[0].startsWith("Erro ao gravar " + today_file())) << logged[0].toStdString();
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 31, 0)));
    proof.due("19:31");
    proof.started("/spot.mp3", 3000);
    advance_s(3);
    proof.stopped(3000);
    manual->set(QDateTime(QDate(2026, 12, 10), QTime(19, 32, 0)));
    proof.missing("19:32", "/gone.mp3");
    QCoreApplication::processEvents();
    EXPECT_FALSE(proof.all_written());
    EXPECT_EQ(dialogs.count_containing("Não foi possível gravar o registro dos comerciais"), 1);
    EXPECT_EQ(logged.size(), 1);
    EXPECT_TRUE(bytes(error_log_path(QDate(2026, 12, 10))).contains("ERRO AO GRAVAR REGISTRO DE COMERCIAIS"));

    ASSERT_TRUE(QDir().rmdir(today_file()));
    const std::vector<Airing> rows = written();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].scheduled, "19:30");
    EXPECT_EQ(rows[0].outcome, kAiringMissing);
    EXPECT_EQ(rows[1].scheduled, "19:31");
    EXPECT_EQ(rows[1].outcome, kAiringComplete);
    EXPECT_EQ(rows[2].scheduled, "19:32");
    ASSERT_TRUE(wait_for([&] { return logged.size() == 2; }));
    EXPECT_EQ(logged[1], "Comerciais: 3 registro(s) gravado(s) com atraso em " + today_file());
    // The start row waiting in memory gave way to the final one.
    EXPECT_EQ(bytes(today_file()).count('\n'), 4);
    qputenv("MIRAVOX_HOME", previous_home);
}

TEST_F(ProofOfPlayTest, ReportPerFileOverTheDaysOfARange) {
    Airing other_day = airing("/b.mp3", kAiringComplete, 30);
    other_day.date = QDate(2026, 12, 11);
    Airing missed = airing("/a.mp3", kAiringMissing, 0);
    missed.start = missed.end = QTime();
    missed.file_seconds = -1;
    ASSERT_TRUE(append_airing(today_file(), airing("/a.mp3", kAiringComplete, 30)));
    Airing cut = airing("/a.mp3", kAiringCut, 12);
    cut.start = QTime(19, 40, 2);
    ASSERT_TRUE(append_airing(today_file(), cut));
    ASSERT_TRUE(append_airing(today_file(), missed));
    ASSERT_TRUE(append_airing(proof_of_play_file(logs, QDate(2026, 12, 11)), other_day));
    ASSERT_TRUE(
        append_airing(proof_of_play_file(logs, QDate(2026, 12, 12)), airing("/c.mp3", kAiringComplete)));

    const QString text = commercials_report(logs, QDate(2026, 12, 9), QDate(2026, 12, 11), false);
    EXPECT_TRUE(text.startsWith("RELATÓRIO DE COMERCIAIS - 09/12/2026 a 11/12/2026\n")) << text.toStdString();
    EXPECT_TRUE(
        text.contains("/a.mp3\n  Completos: 1   Interrompidos: 1   Não exibidos: 1   Segundos no ar: 42\n"));
    EXPECT_TRUE(text.contains("  10/12/2026  19:30  19:40:02 a 19:30:32    12 s  interrompido\n"));
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
    for (const QStringList& bad :
         {QStringList{"09/12/2026"}, QStringList{"2026-12-09", "11/12/2026"},
          QStringList{"31/02/2026", "11/12/2026"}, QStringList{"09/12/2026", "11/12/2026", "--html"}}) {
        EXPECT_EQ(commercials_report_command(bad, logs, out), 2);
        EXPECT_TRUE(out.startsWith("Uso: miravox --relatorio-comerciais"));
    }
    EXPECT_TRUE(commercials_report(logs, QDate(2025, 1, 1), QDate(2025, 1, 2), false)
                    .contains("Nenhum comercial registrado no período."));

    // The statement: the same airings, and the day of the range that has no file.
    const QString html_path = dir.path() + "/statement.html";
    EXPECT_EQ(commercials_report_command({"09/12/2026", "11/12/2026", "--html", html_path}, logs, out,
                                         "Rádio <Alfa> FM"),
              0);
    EXPECT_EQ(out, "Relatório de comerciais gravado em: " + html_path + "\n");
    const QString html = QString::fromUtf8(bytes(html_path));
    EXPECT_TRUE(html.contains("Rádio &lt;Alfa&gt; FM"));
    EXPECT_TRUE(html.contains("Sem arquivo de registro (LOGS/AAAAMMDD.DSP.csv): 09/12/2026."));
    EXPECT_EQ(html.count("<tr class=\"cut\">"), 1);
    EXPECT_EQ(html.count("<tr class=\"missed\">"), 1);
    EXPECT_FALSE(html.contains("http")); // nothing fetched
    EXPECT_EQ(commercials_report_command(
                  {"09/12/2026", "11/12/2026", "--html", dir.path() + "/no/such/x.html"}, logs, out),
              1);
}

// The statement as a browser shows and prints it: headless Chromium, when the machine has it.
TEST_F(ProofOfPlayTest, TheStatementRendersAndPrintsInABrowser) {
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    for (int day = 1; day <= 3; ++day) {
        Airing a =
            airing("/audio/spot " + QString::number(day) + ".mp3", day == 2 ? kAiringCut : kAiringComplete);
        a.date = QDate(2026, 12, day);
        ASSERT_TRUE(append_airing(proof_of_play_file(logs, a.date), a));
    }
    const QString html = dir.path() + "/statement.html";
    ASSERT_TRUE(write_statement(
        html, commercials_statement_html(logs, QDate(2026, 12, 1), QDate(2026, 12, 5), "Rádio Alfa FM")));
    const auto run_chromium = [&](const QStringList& what) {
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(chromium,
                QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                            "--disable-component-update", "--disable-sync", "--no-first-run",
                            "--user-data-dir=" + dir.path() + "/chromium"} +
                    what + QStringList{"file://" + html});
        EXPECT_TRUE(p.waitForFinished(60000));
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    // The page as the browser parsed it: every airing row, the totals and the gap.
    const QString dom = run_chromium({"--dump-dom"});
    EXPECT_TRUE(dom.contains("Rádio Alfa FM")) << dom.left(400).toStdString();
    EXPECT_EQ(dom.count("<tr class=\"cut\">"), 1);
    EXPECT_TRUE(dom.contains("04/12/2026 a 05/12/2026"));
    // Printed: a PDF of one A4 page.
    const QString pdf = dir.path() + "/statement.pdf";
    run_chromium({"--print-to-pdf=" + pdf, "--no-pdf-header-footer"});
    const QByteArray printed = bytes(pdf);
    EXPECT_TRUE(printed.startsWith("%PDF"));
    EXPECT_TRUE(printed.contains("/Count 1\n") || printed.contains("/Count 1/") ||
                printed.contains("/Count 1>"))
        << "one page";
}

// The "Relatório" button: the text report and the statement beside it, with the station's name.
class ReportButtonTest : public MainWindowTest {
    void before_window() override { write_config({"ESTACAO=Rádio Beta"}); }
};

TEST_F(ReportButtonTest, WritesTheTextReportAndTheStatement) {
    window->DateEdit1->setDate(QDate(2026, 12, 7));
    window->DateEdit2->setDate(QDate(2026, 12, 1));
    window->BitBtnRelatorio->click();
    const QString base = program_folder() + "LOGS/RELATORIO_COMERCIAIS_20261201_20261207";
    EXPECT_TRUE(QFileInfo(base + ".txt").isFile());
    QFile html(base + ".html");
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(html.readAll());
    EXPECT_TRUE(text.contains("Rádio Beta"));
    EXPECT_TRUE(text.contains("01/12/2026 a 07/12/2026")); // no day has a file
    EXPECT_EQ(dialogs.count_containing("Comprovante para impressão:\n" + base + ".html"), 1);
}

// The real window and channel: the engine stops a commercial 2 s into a 10 s file while the
// clock has run on for 10 s; the row has the 2 s the output played.
class EngineStopTest : public MainWindowTest {};

TEST_F(EngineStopTest, ACommercialStoppedMidAirByTheEngineHasTheSecondsItPlayed) {
    const QString spot = program_folder() + "spot10.wav";
    ASSERT_TRUE(make_wav(spot, 10, 1000));
    Tfrm_miravox& w = *window;
    w.proof_of_play.due("18:00");
    w.WPATH_AUDIODSP = spot;
    WVOL_GERAL = WVOL_MIN;
    w.Timer_Play_ComercialTimer(nullptr);
    ASSERT_TRUE(w.Canal_Comercial->isStarted());
    // The channel's own ticks run with the clock moving along with real time.
    const auto play_for = [&](int ms) {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            advance_ms(20);
            QTest::qWait(20);
        }
    };
    play_for(2000);
    advance_ms(8000);
    BASS_ERRO_BUFFER = true; // what the channel sets when it finds its output no longer moving
    w.Canal_Comercial->Stop();
    BASS_ERRO_BUFFER = false;
    ASSERT_TRUE(wait_for([&] { return w.proof_of_play.all_written(); }));
    const std::vector<Airing> rows =
        read_airings(proof_of_play_file(program_folder() + "LOGS/", start_time().date()));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, kAiringCut);
    EXPECT_EQ(rows[0].detail, kOutputFroze);
    EXPECT_EQ(rows[0].file_seconds, 10);
    EXPECT_GE(rows[0].seconds_aired, 1);
    EXPECT_LE(rows[0].seconds_aired, 3);
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
