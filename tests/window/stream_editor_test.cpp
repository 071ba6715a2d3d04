// The stream window editor on the real window: additions with every check, deletions, the
// row inspection, pre-listening, the link test against a local stream server and the time spin.

#include "main_window_fixture.h"

#include "file_size_limit.h"
#include "tessel_grid.h"
#include "test_stream_server.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

using namespace miravox::testing;

namespace {

const QString kLink = "http://radio.example:8000/live";
const QString kWindow = "|19:00|20:00|" + kLink + "|STREAMING|100|||0|0||";

class StreamEditor : public MainWindowTest {
  protected:
    void before_window() override { write_weekday(kMonday, ".WEB", {kWindow}); }
    void SetUp() override {
        MainWindowTest::SetUp();
        window->semana->setCurrentIndex(kMonday - 1);
        window->CARREGA_GRADE_WEB();
    }
    void fill(const QString& link, const QString& start, const QString& end, const QString& open = {},
              const QString& close = {}) {
        window->Edit24->setText(link);
        window->MaskEdit1->setText(start);
        window->MaskEdit2->setText(end);
        window->Edit9->setText(open);
        window->Edit23->setText(close);
    }
    QStringList monday() const { return weekday_lines(kMonday, ".WEB"); }
    TtesselGrid* grid() const { return window->tesselGrid2; }
};

struct Period {
    QString start, end, refusal; // empty refusal: accepted
};
void PrintTo(const Period& p, std::ostream* os) {
    *os << (p.start + " to " + p.end).toStdString();
}

class StreamPeriods : public StreamEditor, public ::testing::WithParamInterface<Period> {};

TEST_P(StreamPeriods, RefusesOrAddsAroundAnExistingWindow) {
    const Period p = GetParam();
    const QByteArray before = weekday_bytes(kMonday, ".WEB");
    fill(kLink, p.start, p.end);
    window->BitBtn32Click();
    if (p.refusal.isEmpty()) {
        EXPECT_EQ(dialogs.count_containing("confirm: Confirma a Inclusão"), 1);
        EXPECT_EQ(monday().size(), 2);
    } else {
        EXPECT_EQ(dialogs.shown.last(), "info: " + p.refusal);
        EXPECT_EQ(dialogs.count_containing("confirm:"), 0);
        EXPECT_EQ(weekday_bytes(kMonday, ".WEB"), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Closed, StreamPeriods,
    ::testing::Values(Period{"20:00:00", "21:00:00", "Período já existente"},
                      Period{"18:00:00", "19:00:00", "Período já existente"},
                      Period{"18:00:00", "21:00:00", "Período já existente"},
                      Period{"19:10:00", "19:20:00", "Período já existente"},
                      Period{"20:01:00", "21:00:00", ""}, Period{"17:00:00", "18:59:00", ""},
                      Period{"21:00:00", "21:00:00", "Período indicado Inválido - Verifique"},
                      Period{"23:00:00", "01:00:00", "Período indicado Inválido - Verifique"},
                      Period{"24:00:00", "23:00:00", "Hora inválida - Verifique"},
                      Period{"21:61:00", "22:00:00", "Hora inválida - Verifique"},
                      Period{"21:00:00", "22: 0:00", "Hora inválida - Verifique"}));

TEST_F(StreamEditor, AddWritesTheSortedRecordLogsAndReloadsBothLists) {
    fill("  http://b.example/x  ", "08:00:00", "09:30:00", "  " + media("jingle.wav") + " ",
         media("jingle.wav"));
    window->BitBtn32Click();
    const QString record = "|08:00|09:30|http://b.example/x|STREAMING|100|" + media("jingle.wav") + "|" +
                           media("jingle.wav") + "|0|0||";
    EXPECT_EQ(monday(), QStringList({record, kWindow}));
    EXPECT_EQ(dialogs.shown.last(), "confirm: Confirma a Inclusão do EVENTO EXTERNO VIA STREAMING:\rLINK:   "
                                    "http://b.example/x  \rPeríodo:08:00:00 às 09:30:00 ??");
    EXPECT_EQ(log_count("INCLUSAO WEB: " + record), 1);
    EXPECT_TRUE(weekday_bytes(kMonday, ".WEB").endsWith("||\r\n"));
    EXPECT_EQ(grid()->Cells(0, 1), "08:00");
    EXPECT_EQ(window->wlista_horario.size(), 2); // today is Monday
}

TEST_F(StreamEditor, BackupLinksGoToField10AndComeBackOnDoubleClick) {
    write_weekday(kMonday, ".WEB", {});
    fill(kLink, "06:00:00", "07:00:00");
    window->Edit25->setText("  http://a|b ");
    window->BitBtn32Click();
    EXPECT_TRUE(dialogs.shown.last().startsWith("info: Links de Reserva:   http://a|b  contém"));
    EXPECT_TRUE(monday().isEmpty());
    window->Edit25->setText("  http://mirror/live   https://other/live.m3u8 ");
    window->BitBtn32Click();
    const QString record =
        "|06:00|07:00|" + kLink + "|STREAMING|100|||0|0|http://mirror/live https://other/live.m3u8|";
    EXPECT_EQ(monday(), QStringList{record});
    window->BitBtn3ClickStreamTab();
    EXPECT_EQ(window->Edit25->text(), "");
    window->CARREGA_GRADE_WEB();
    grid()->setRow(1);
    window->tesselGrid2DblClick();
    EXPECT_EQ(window->Edit25->text(), "http://mirror/live https://other/live.m3u8");
}

TEST_F(StreamEditor, SecondsAreDroppedSoAWindowInsideOneMinuteIsStoredEmpty) {
    write_weekday(kMonday, ".WEB", {});
    fill(kLink, "19:00:10", "19:00:50");
    window->BitBtn32Click();
    EXPECT_EQ(monday(), QStringList({"|19:00|19:00|" + kLink + "|STREAMING|100|||0|0||"}));
}

TEST_F(StreamEditor, InputThatWouldBreakTheFileIsRefusedAndTheFileKept) {
    const QByteArray before = weekday_bytes(kMonday, ".WEB");
    const QString missing = home.path() + "/nada.mp3";
    // A real file, whose name the Windows-1252 weekday file would store with a "?".
    const QString greek = home.path() + "/vinheta_Ω.wav";
    ASSERT_TRUE(QFile::copy(media("jingle.wav"), greek));
    const QString unstorable = " contém caracteres que não podem ser gravados na grade - Verifique";
    struct Case {
        QString link, open, close, message;
    };
    for (const Case& c : {Case{kLink, missing, "", "Arquivo: " + missing + " não localizado - Verifique"},
                          Case{kLink, "", greek, "Arquivo: " + greek + unstorable},
                          Case{kLink + "/Ω", "", "", "Link de Streaming: " + kLink + "/Ω" + unstorable},
                          Case{kLink, "", " x|y ", "Arquivo:  x|y  contém"},
                          Case{"http://a|b", "", "", "Link de Streaming: http://a|b contém"},
                          Case{"   ", "", "", "Link de Streaming Inválido - Verifique"}}) {
        fill(c.link, "06:00:00", "07:00:00", c.open, c.close);
        window->BitBtn32Click();
        EXPECT_TRUE(dialogs.shown.last().startsWith("info: " + c.message))
            << dialogs.shown.last().toStdString();
        EXPECT_TRUE(dialogs.shown.last().endsWith("- Verifique"));
    }
    EXPECT_EQ(weekday_bytes(kMonday, ".WEB"), before);
    EXPECT_EQ(log_messages().filter("INCLUSAO WEB").size(), 0);
}

TEST_F(StreamEditor, AFileThatCannotBeWrittenStaysAsItWasAndTheOperatorIsTold) {
    const QByteArray before = weekday_bytes(kMonday, ".WEB");
    fill(kLink, "06:00:00", "07:00:00");
    {
        FileSizeLimit full_disk(16);
        window->BitBtn32Click();
    }
    EXPECT_TRUE(dialogs.shown.last().startsWith("info: Erro ao gravar o arquivo "));
    EXPECT_EQ(weekday_bytes(kMonday, ".WEB"), before);
    EXPECT_EQ(log_messages().filter("INCLUSAO WEB").size(), 0);
}

TEST_F(StreamEditor, CancelWritesNothingButReloadsAndGivesAGivenUpRelayAnotherChance) {
    write_weekday(kMonday, ".WEB", {"|21:00|22:00|x|STREAMING|100|||0|0||"}); // changed outside
    dialogs.answers = {false};
    window->WCT_ERROWEB = 10;
    window->WENCONTRADO_ACIONAMENTO = window->WACIONADO = true;
    fill(kLink, "06:00:00", "07:00:00");
    window->BitBtn32Click();
    EXPECT_EQ(monday().size(), 1);
    EXPECT_EQ(grid()->Cells(0, 1), "21:00");
    EXPECT_EQ(window->wlista_horario.size(), 1);
    EXPECT_EQ(window->WCT_ERROWEB, 0);
    EXPECT_FALSE(window->WENCONTRADO_ACIONAMENTO || window->WACIONADO);

    window->WCT_ERROWEB = 9;
    window->WACIONADO = true;
    dialogs.answers = {false};
    window->BitBtn32Click();
    EXPECT_EQ(window->WCT_ERROWEB, 9);
    EXPECT_TRUE(window->WACIONADO);
}

TEST_F(StreamEditor, UnreadableLinesAreReportedWithoutBlockingAndAHeaderIsDroppedOnAdd) {
    write_weekday(kMonday, ".WEB", {"# semana", "", kWindow});
    fill(kLink, "06:00:00", "07:00:00");
    window->BitBtn32Click();
    EXPECT_EQ(dialogs.count_containing("info: Erro ao incluir novo horário\r':00' não é um horário válido"),
              1);
    EXPECT_EQ(monday(), QStringList({"", "|06:00|07:00|" + kLink + "|STREAMING|100|||0|0||", kWindow}));
}

TEST_F(StreamEditor, DeleteRemovesTheSelectedWindowAndKeepsAHeaderInItsPlace) {
    write_weekday(kMonday, ".WEB", {kWindow, "# semana", "|06:00|07:00|y|STREAMING|100|||0|0||"});
    window->CARREGA_GRADE_WEB();
    grid()->setRow(2);
    window->BitBtn33Click();
    EXPECT_EQ(dialogs.shown.last(), "confirm: Confirma a Exclusão do Horário: 19:00 ??");
    EXPECT_EQ(monday().size(), 2);
    EXPECT_TRUE(monday().contains("# semana"));
    EXPECT_EQ(log_count("EXCLUSÃO: " + kWindow), 1);
    EXPECT_EQ(grid()->RowCount(), 2);

    window->EXCLUI_HORARIO_WEB("12:00"); // nothing matches: logged, nothing written
    EXPECT_EQ(log_count("EXCLUSÃO: "), 1);
    EXPECT_EQ(monday().size(), 2);

    dialogs.answers = {false};
    window->BitBtn33Click();
    EXPECT_EQ(monday().size(), 2);
}

TEST_F(StreamEditor, ClickAndDoubleClickUseTheRowShownEvenBelowAHeaderLine) {
    write_weekday(kMonday, ".WEB",
                  {"# cabeçalho", "", "|06:00|07:00|first|STREAMING|100|/a.mp3|/b.mp3|0|0||", kWindow});
    window->CARREGA_GRADE_WEB();
    grid()->setRow(1);
    window->tesselGrid2Click();
    EXPECT_EQ(window->Label16->text(), "/a.mp3");
    EXPECT_EQ(window->Label17->text(), "/b.mp3");
    grid()->setRow(2);
    window->tesselGrid2DblClick();
    EXPECT_EQ(window->Edit24->text(), kLink);
    EXPECT_EQ(window->MaskEdit1->text(), "19:00:00");
    EXPECT_EQ(window->MaskEdit2->text(), "20:00:00");
    EXPECT_EQ(window->Edit9->text(), "");
    EXPECT_EQ(window->Panel8->Caption(), "LINK STREAMING");
}

TEST_F(StreamEditor, LimparStartsANewWindowFromScratch) {
    fill(kLink, "06:00:00", "07:00:00", "/a.mp3", "/b.mp3");
    window->Panel9->setCaption("Conectado à X");
    window->BitBtn3ClickStreamTab();
    for (QLineEdit* e : {window->Edit24, window->Edit9, window->Edit23})
        EXPECT_TRUE(e->text().isEmpty());
    EXPECT_EQ(window->MaskEdit1->text(), "19:00:00");
    EXPECT_EQ(window->MaskEdit2->text(), "20:00:00");
    EXPECT_EQ(window->Panel9->Caption(), "Status");
}

TEST_F(StreamEditor, BrowsingFillsTheJingleAndCancelChangesNothing) {
    dialogs.files = {"/x/abre.mp3", ""};
    window->BitBtn28Click();
    EXPECT_EQ(window->Edit9->text(), "/x/abre.mp3");
    window->BitBtn28Click();
    EXPECT_EQ(window->Edit9->text(), "/x/abre.mp3");
}

TEST_F(StreamEditor, PreListenTogglesAndAnyButtonStopsTheCueChannel) {
    fill(kLink, "19:00:00", "20:00:00", media("jingle.wav"), home.path() + "/nada.wav");
    window->BitBtn2Click(); // no such file: nothing plays
    EXPECT_FALSE(window->Canal_cue->isStarted());
    EXPECT_EQ(window->BitBtn2->text(), "Play");
    window->BitBtn1Click();
    EXPECT_TRUE(window->Canal_cue->isStarted());
    EXPECT_EQ(window->BitBtn1->text(), "Stop");
    window->BitBtn2Click(); // another button only stops
    EXPECT_FALSE(window->Canal_cue->isStarted());
    EXPECT_EQ(window->BitBtn1->text(), "Play");
}

TEST_F(StreamEditor, TheTimeSpinStepsByTheCaretAndWrapsAroundMidnight) {
    QLineEdit* edit = window->MaskEdit1;
    struct Step {
        QString from;
        int caret;
        bool up;
        QString to;
    };
    for (const Step& s : {Step{"23:30:00", 0, true, "00:30:00"}, Step{"00:30:00", 1, false, "23:30:00"},
                          Step{"19:59:00", 4, true, "20:00:00"}, Step{"00:00:30", 7, false, "23:59:30"}}) {
        edit->setText(s.from);
        edit->setCursorPosition(s.caret);
        EXPECT_TRUE(AJUSTA_HORA(edit, s.up));
        EXPECT_EQ(edit->text(), s.to) << s.from.toStdString() << " caret " << s.caret;
        if (s.caret > 2) {
            EXPECT_EQ(edit->cursorPosition(), s.caret);
        }
    }
    edit->setText("19:3");
    edit->setCursorPosition(0);
    EXPECT_FALSE(AJUSTA_HORA(edit, true));
}

TEST_F(StreamEditor, LinkTestThatFailsAsksWhetherToGoOnAndKeepsTheReasonInView) {
    miravox::test::TestStreamServer server;
    server.add_status("/live.m3u8", 404);
    window->Edit24->setText(" " + QString::fromStdString(server.url("/live.m3u8")) + " ");
    dialogs.answers = {true};
    window->BitBtn32->setEnabled(false);
    BASS_ERRO_WEB = 0;
    window->BitBtn31Click();
    EXPECT_FALSE(window->BitBtn31->isEnabled()); // while the link opens
    ASSERT_TRUE(wait_for_opens());
    EXPECT_GE(server.request_count("/live.m3u8"), 2u); // an HLS playlist gets a second try
    EXPECT_EQ(dialogs.shown.last(),
              "confirm: Endereço de conexão inválido ou Inativo, Deseja Continuar com o Cadastro ??");
    EXPECT_TRUE(window->Panel9->Caption().startsWith("18:00:00 - Erro ao Carregar WEB (cue) -  Erro:"));
    EXPECT_EQ(BASS_ERRO_WEB, 0); // what is on air does not hear of a test on the cue
    EXPECT_TRUE(window->BitBtn31->isEnabled());
    EXPECT_TRUE(window->BitBtn32->isEnabled());
    EXPECT_FALSE(window->Canal_cue->IsCarregado());
}

TEST_F(StreamEditor, LinkTestPlaysTheStreamOnTheCueChannelUntilClickedAgain) {
    miravox::test::TestStreamServer server;
    miravox::test::AudioMount radio;
    radio.data = miravox::test::read_file(media("stream.mp3").toStdString());
    radio.headers = {"icy-name:Radio Teste"};
    server.add_audio("/live", radio);
    window->Edit24->setText(QString::fromStdString(server.url("/live")));
    WVOL_GERAL = 40;
    BASS_ERRO_WEB = 1; // the relay's stream is down: local music on the air
    window->BitBtn31Click();
    ASSERT_TRUE(wait_for_opens());
    EXPECT_EQ(BASS_ERRO_WEB, 1); // and stays so while the cue plays the tested link
    BASS_ERRO_WEB = 0;
    EXPECT_EQ(WVOL_GERAL, WVOL_MAX);
    EXPECT_TRUE(window->Canal_cue->isStarted());
    EXPECT_EQ(window->Panel9->Caption(), "Conectado à RADIO TESTE");
    EXPECT_EQ(window->BitBtn31->text(), "Stop");
    window->BitBtn31Click();
    EXPECT_FALSE(window->Canal_cue->isStarted());
    EXPECT_EQ(window->BitBtn31->text(), "Play");
    EXPECT_EQ(window->Panel9->Caption(), "");
}

// An operator's full round with keyboard and mouse: a window added on Wednesday, then deleted.
TEST_F(StreamEditor, AnOperatorAddsAndDeletesAWindowWithKeyboardAndMouse) {
    ASSERT_TRUE(show_window());
    window->PageControl1->setCurrentIndex(1);
    QTest::mouseClick(window->semana, Qt::LeftButton, {}, window->semana->tabRect(3).center());
    ASSERT_EQ(window->semana->currentIndex(), 3);
    window->Edit24->setFocus();
    QTest::keyClicks(window->Edit24, "http://novo.example/aovivo");
    window->MaskEdit1->setFocus();
    window->MaskEdit1->setCursorPosition(0);
    QTest::keyClicks(window->MaskEdit1, "073000");
    window->MaskEdit2->setCursorPosition(0);
    QTest::keyClicks(window->MaskEdit2, "081500");
    QTest::mouseClick(window->BitBtn32, Qt::LeftButton);
    const QString record = "|07:30|08:15|http://novo.example/aovivo|STREAMING|100|||0|0||";
    EXPECT_EQ(weekday_lines(4, ".WEB"), QStringList({record}));

    QTest::mouseClick(grid(), Qt::LeftButton, {}, grid()->CellRect(1, 1).center());
    QTest::mouseClick(window->BitBtn33, Qt::LeftButton);
    EXPECT_TRUE(weekday_lines(4, ".WEB").isEmpty());
    EXPECT_EQ(log_messages().filter(record).size(), 2); // added, then deleted
}

} // namespace
