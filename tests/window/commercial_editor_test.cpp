// The commercial trigger editor on the real window: additions with their checks and the
// date-range conflict test, deletion of the selected trigger, copying and clearing the path.

#include "main_window_fixture.h"

#include "file_size_limit.h"
#include "tessel_grid.h"

#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

using namespace miravox::testing;

namespace {

const QString kAugust = "|19:30|01/08/2024|31/08/2024|/spots/agosto.mp3|";

class CommercialEditor : public MainWindowTest {
  protected:
    void before_window() override { write_weekday(kMonday, ".DSP", {kAugust}); }
    void SetUp() override {
        MainWindowTest::SetUp();
        window->PageControl4->setCurrentIndex(kMonday - 1);
        window->CARREGA_GRADE_DSP();
    }
    void fill(const QString& audio, const QString& time, const QDate& first, const QDate& last) {
        window->Edit3->setText(audio);
        window->MaskEdit3->setText(time);
        window->DateEdit1->setDate(first);
        window->DateEdit2->setDate(last);
    }
    QStringList monday() const { return weekday_lines(kMonday, ".DSP"); }
    TtesselGrid* grid() const { return window->tesselGrid3; }
};

struct Trigger {
    QString time;
    QDate first, last;
    bool accepted;
};
void PrintTo(const Trigger& t, std::ostream* os) {
    *os << (t.time + " " + t.first.toString("dd/MM/yyyy") + " to " + t.last.toString("dd/MM/yyyy"))
               .toStdString();
}

class CommercialRanges : public CommercialEditor, public ::testing::WithParamInterface<Trigger> {};

TEST_P(CommercialRanges, ConflictsOnlyAtTheSameMinuteOverlappingDays) {
    const Trigger t = GetParam();
    fill(media("spot.mp3"), t.time, t.first, t.last);
    window->BitBtn5Click();
    if (t.accepted) {
        EXPECT_EQ(monday().size(), 2);
        EXPECT_EQ(dialogs.count_containing("confirm: Confirma a Inclusão do DISPARO as " + t.time + " ??"),
                  1);
    } else {
        EXPECT_EQ(dialogs.shown.last(), "info: Horário já existente");
        EXPECT_EQ(monday(), QStringList({kAugust}));
    }
}

INSTANTIATE_TEST_SUITE_P(Inclusive, CommercialRanges,
                         ::testing::Values(Trigger{"19:30:00", QDate(2024, 8, 31), QDate(2024, 9, 15), false},
                                           Trigger{"19:30:45", QDate(2024, 7, 1), QDate(2024, 8, 1), false},
                                           Trigger{"19:30:00", QDate(2024, 9, 1), QDate(2024, 9, 15), true},
                                           Trigger{"19:31:00", QDate(2024, 8, 1), QDate(2024, 8, 31), true},
                                           Trigger{"19:30:00", QDate(2024, 7, 31), QDate(2024, 7, 31),
                                                   true}));

TEST_F(CommercialEditor, AddWritesTheRecordWithoutSecondsLogsAndReloadsTheGrid) {
    fill(" " + media("spot.mp3") + " ", "07:15:59", QDate(2024, 9, 1), QDate(2024, 9, 1));
    window->BitBtn5Click();
    const QString record = "|07:15|01/09/2024|01/09/2024|" + media("spot.mp3") + "|";
    EXPECT_EQ(monday(), QStringList({record, kAugust}));
    EXPECT_EQ(log_count("INCLUSAO DSP: " + record), 1);
    EXPECT_EQ(grid()->Cells(3, 1), media("spot.mp3"));
}

TEST_F(CommercialEditor, RefusalsLeaveTheFileUntouched) {
    const QByteArray before = weekday_bytes(kMonday, ".DSP");
    const QDate d(2024, 9, 1);
    // A real file, whose name the Windows-1252 weekday file would store with a "?".
    const QString greek = home.path() + "/spot_Ω.mp3";
    ASSERT_TRUE(QFile::copy(media("spot.mp3"), greek));
    struct Case {
        QString audio, time;
        QDate last;
        QString message;
    };
    for (const Case& c :
         {Case{"", "07:00:00", d, "Arquivo de áudio:  não localizado - Verifique"},
          Case{"  ", "07:00:00", d, "Arquivo de áudio:    não localizado - Verifique"},
          Case{"/nada.mp3", "07:00:00", d, "Arquivo de áudio: /nada.mp3 não localizado - Verifique"},
          Case{"/a|b.mp3", "07:00:00", d, "Arquivo de áudio: /a|b.mp3 contém"},
          Case{greek, "07:00:00", d,
               "Arquivo de áudio: " + greek + " contém caracteres que não podem ser gravados na grade - Verifique"},
          Case{media("spot.mp3"), "07:61:00", d, "Hora inválida - Verifique"},
          Case{media("spot.mp3"), "07:00:00", d.addDays(-1), "Data inválida"}}) {
        fill(c.audio, c.time, d, c.last);
        window->BitBtn5Click();
        EXPECT_TRUE(dialogs.shown.last().startsWith("info: " + c.message))
            << dialogs.shown.last().toStdString();
    }
    EXPECT_EQ(dialogs.count_containing("confirm:"), 0);
    EXPECT_EQ(weekday_bytes(kMonday, ".DSP"), before);
}

TEST_F(CommercialEditor, CancelAndWriteFailuresWriteNothingButReloadTheGrid) {
    write_weekday(kMonday, ".DSP", {"|06:00|01/01/2024|31/12/2024|/x.mp3|", kAugust}); // changed outside
    const QByteArray before = weekday_bytes(kMonday, ".DSP");
    fill(media("spot.mp3"), "08:00:00", QDate(2024, 9, 1), QDate(2024, 9, 2));
    dialogs.answers = {false};
    window->BitBtn5Click();
    EXPECT_EQ(grid()->Cells(0, 1), "06:00");
    {
        FileSizeLimit full_disk(16);
        window->BitBtn5Click();
    }
    EXPECT_TRUE(dialogs.shown.last().startsWith("info: Erro ao gravar o arquivo "));
    EXPECT_TRUE(dialogs.shown.last().endsWith("- Verifique"));
    EXPECT_EQ(weekday_bytes(kMonday, ".DSP"), before);
    EXPECT_EQ(log_messages().filter("INCLUSAO DSP").size(), 0);
}

TEST_F(CommercialEditor, UnreadableLinesAreReportedAndDoNotBlock) {
    write_weekday(kMonday, ".DSP",
                  {"", "|19:30|31/02/2024|31/08/2024|/x.mp3|", "|19:30|01/09/2024|30/09/2024|/y.mp3|"});
    fill(media("spot.mp3"), "19:30:00", QDate(2024, 10, 1), QDate(2024, 10, 2));
    window->BitBtn5Click();
    EXPECT_EQ(dialogs.count_containing("info: Erro ao incluir novo horário\r"), 2);
    EXPECT_EQ(dialogs.count_containing("'31/02/2024' não é uma data válida"), 1);
    EXPECT_EQ(monday().size(), 4);
}

TEST_F(CommercialEditor, DeleteRemovesTheSelectedOfTwoTriggersAtOneMinute) {
    const QString september = "|19:30|01/09/2024|30/09/2024|/spots/setembro.mp3|";
    write_weekday(kMonday, ".DSP", {kAugust, september});
    window->CARREGA_GRADE_DSP();
    grid()->setRow(1); // 01/08 sorts before 01/09
    window->BitBtn14Click();
    EXPECT_EQ(dialogs.shown.last(), "confirm: Confirma a Exclusão do Horário: 19:30 ??");
    EXPECT_EQ(monday(), QStringList({september}));
    EXPECT_EQ(log_count("EXCLUSÃO DSP: " + kAugust), 1);
    EXPECT_EQ(grid()->Cells(3, 1), "/spots/setembro.mp3");

    window->EXCLUI_DISPARO("07:00");
    EXPECT_EQ(log_count("EXCLUSÃO DSP: "), 1);
    window->EXCLUI_DISPARO("19:30");
    EXPECT_TRUE(monday().isEmpty());
}

TEST_F(CommercialEditor, DoubleClickCopiesThePathAndLimparClearsIt) {
    write_weekday(kMonday, ".DSP", {"|19:30|01/08/2024|31/08/2024|  /spots/a.mp3 |"});
    window->CARREGA_GRADE_DSP();
    grid()->setRow(1);
    window->tesselGrid3DblClick();
    EXPECT_EQ(window->Edit3->text(), "/spots/a.mp3");
    window->Panel18->setCaption("x");
    window->BitBtn3Click();
    EXPECT_TRUE(window->Edit3->text().isEmpty());
    EXPECT_EQ(window->Panel18->Caption(), "Status");
    window->Edit3->setText("kept");
    grid()->setCells(0, 1, " ");
    window->tesselGrid3DblClick();
    EXPECT_EQ(window->Edit3->text(), "kept");
}

TEST_F(CommercialEditor, AnOperatorAddsAndDeletesATriggerWithKeyboardAndMouse) {
    ASSERT_TRUE(show_window());
    window->PageControl1->setCurrentIndex(2);
    QTest::mouseClick(window->PageControl4, Qt::LeftButton, {}, window->PageControl4->tabRect(6).center());
    ASSERT_EQ(window->PageControl4->currentIndex(), 6);
    window->Edit3->setFocus();
    QTest::keyClicks(window->Edit3, media("spot.mp3"));
    window->MaskEdit3->setFocus();
    window->MaskEdit3->setCursorPosition(0);
    QTest::keyClicks(window->MaskEdit3, "121500");
    window->DateEdit1->setDate(QDate(2026, 12, 1));
    window->DateEdit2->setDate(QDate(2026, 12, 31));
    QTest::mouseClick(window->BitBtn5, Qt::LeftButton);
    const QString record = "|12:15|01/12/2026|31/12/2026|" + media("spot.mp3") + "|";
    EXPECT_EQ(weekday_lines(7, ".DSP"), QStringList({record}));

    QTest::mouseClick(grid(), Qt::LeftButton, {}, grid()->CellRect(2, 1).center());
    QTest::mouseClick(window->BitBtn14, Qt::LeftButton);
    EXPECT_TRUE(weekday_lines(7, ".DSP").isEmpty());
    EXPECT_EQ(log_messages().filter(record).size(), 2);
}

} // namespace
