// The operator's keys through the window's key preview, the manual Play/Stop menu, the level
// toggle and the diagnostics dump, on the real window.

#include "main_window_fixture.h"

#include "cool_gauge.h"
#include "tessel_grid.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

using namespace miravox::testing;

namespace {

const QString kLink = "http://radio.example:8000/live";

class OperatorKeys : public MainWindowTest {
  protected:
    void before_window() override {
        write_weekday(kMonday, ".WEB", {"|19:00|20:00|" + kLink + "|STREAMING|100|||0|0||"});
    }
    // A key as the operator types it: to the control that has the focus.
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
        QTest::keyClick(target, Qt::Key(key), modifiers);
    }
    bool shown_and_focused(QWidget* control) {
        if (!show_window())
            return false;
        control->setFocus();
        return QApplication::focusWidget() == control;
    }
};

TEST_F(OperatorKeys, QStopsTheStreamAndAsksToCloseOnlyWhileUnlocked) {
    ASSERT_TRUE(shown_and_focused(window->Button2));
    window->Timer_Reconexao->setEnabled(true);
    window->WENCONTRADO_ACIONAMENTO = window->WACIONADO = true;
    dialogs.answers = {false};
    press(Qt::Key_Q);
    EXPECT_EQ(log_count("SHIFT + Q (Canal Web - Stop)"), 1);
    EXPECT_EQ(dialogs.shown.last(), "confirm: Deseja Realmente Desativar o Sistema ??");
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->Timer_Reconexao->Enabled());
    EXPECT_TRUE(window->WENCONTRADO_ACIONAMENTO && window->WACIONADO);
    EXPECT_EQ(window->Tag, 0);

    WACESSO = false;
    press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(dialogs.count_containing("confirm:"), 1);

    WACESSO = true;
    dialogs.answers = {true};
    press(Qt::Key_Q, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(OperatorKeys, AQTypedIntoAFieldIsTextButCtrlQStillCloses) {
    window->PageControl1->setCurrentIndex(1);
    ASSERT_TRUE(shown_and_focused(window->Edit24));
    QTest::keyClicks(window->Edit24, "aqua");
    press(Qt::Key_Q, Qt::ShiftModifier);
    EXPECT_EQ(window->Edit24->text().toLower(), "aquaq");
    EXPECT_EQ(dialogs.count_containing("confirm:"), 0);
    dialogs.answers = {false};
    press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(dialogs.count_containing("confirm: Deseja Realmente Desativar"), 1);
}

TEST_F(OperatorKeys, IAndUAnswerOnlyToCtrlAloneOrAltAlone) {
    ASSERT_TRUE(shown_and_focused(window->Button2));
    window->Label2->setText("kept");
    window->Label20->setText("x");
    press(Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
    press(Qt::Key_I, Qt::ControlModifier | Qt::AltModifier);
    press(Qt::Key_I, Qt::AltModifier | Qt::ShiftModifier);
    press(Qt::Key_U, Qt::ControlModifier);
    EXPECT_FALSE(window->tesselGrid1->isHidden());
    EXPECT_TRUE(dialogs.shown.isEmpty());

    press(Qt::Key_I, Qt::ControlModifier);
    EXPECT_TRUE(window->tesselGrid1->isHidden());
    EXPECT_TRUE(window->Label20->text().isEmpty());
    EXPECT_EQ(window->Label2->text(), "kept");
    press(Qt::Key_I, Qt::ControlModifier);
    EXPECT_FALSE(window->tesselGrid1->isHidden());

    press(Qt::Key_I, Qt::AltModifier);
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown.last().startsWith("info: " + QString(98, '-') + "\rData Inicio: "));
}

TEST_F(OperatorKeys, AltUReinitialisesTheDevicesOnlyWhenConfirmed) {
    ASSERT_TRUE(shown_and_focused(window->Button2));
    const int updates = wct_atualiza_device;
    window->WTMP_RECONEXAO = 7;
    dialogs.answers = {false, true};
    press(Qt::Key_U, Qt::AltModifier);
    EXPECT_EQ(dialogs.shown.last(), "confirm: Tem certeza que quer Reiniciar Drivers de Placa de Som ??");
    EXPECT_EQ(window->WTMP_RECONEXAO, 7);
    press(Qt::Key_U, Qt::AltModifier);
    EXPECT_EQ(log_count("ATUALIZACAO DEVICE - ALT+U"), 1);
    EXPECT_EQ(window->Label10->text(), "ATUALIZANDO DRIVERS");
    EXPECT_EQ(window->WTMP_RECONEXAO, 30);
    EXPECT_EQ(wct_atualiza_device, updates + 1);
}

TEST_F(OperatorKeys, F8TogglesTheGeneralLevelAndF10OpensTheSetupOnceAndOnlyUnlocked) {
    ASSERT_TRUE(shown_and_focused(window->Button2));
    press(Qt::Key_F10);
    EXPECT_EQ(setup_dialogs, 1);
    press(Qt::Key_F8);
    EXPECT_TRUE(window->timer_DiminuirVolume_geral->Enabled());
    press(Qt::Key_F8); // a ramp is running: nothing
    EXPECT_FALSE(window->timer_aumentarvolume_geral->Enabled());
    window->timer_DiminuirVolume_geral->setEnabled(false);
    WVOL_GERAL = WVOL_MIN;
    press(Qt::Key_F8);
    EXPECT_TRUE(window->timer_aumentarvolume_geral->Enabled());

    window->timer_aumentarvolume_geral->setEnabled(false);
    WACESSO = false;
    window->FormKeyDown(Qt::Key_F8, Qt::NoModifier);
    window->FormKeyDown(Qt::Key_F10, Qt::NoModifier);
    window->ControledeVolume1->trigger();
    EXPECT_EQ(setup_dialogs, 1);
    EXPECT_FALSE(window->timer_aumentarvolume_geral->Enabled() ||
                 window->timer_DiminuirVolume_geral->Enabled());
}

TEST_F(OperatorKeys, TheDumpHas39LinesSeparatedByCarriageReturns) {
    window->WMIN_POS = 50;
    window->WHORA_ABRIR = "19:00";
    const QStringList lines = window->diagnostics_dump().split('\r');
    ASSERT_EQ(lines.size(), 39);
    for (int rule : {0, 2, 9, 13, 18, 25, 30})
        EXPECT_EQ(lines[rule], QString(98, '-'));
    EXPECT_EQ(lines[3], "Playng: " + QString::number(wct_playing));
    EXPECT_EQ(lines[11], "DEVICE WEB: PRINCIPAL");
    EXPECT_EQ(lines[12], "DEVICE CUE: PRINCIPAL");
    EXPECT_EQ(lines[14], "Canal WEB Started: 0  - Fading: 0  - Volume: 0");
    EXPECT_EQ(lines[32], "WHORA ABRIR: 19:00");
    EXPECT_EQ(lines[38], "WMIN_POS: 50");
    EXPECT_FALSE(window->diagnostics_dump().contains('\n'));
}

class ManualPlay : public OperatorKeys {
  protected:
    void SetUp() override {
        OperatorKeys::SetUp();
        window->ATUALIZA_AGENDA();
        window->tesselGrid1->setRow(1);
        window->WHORA_ABRIR = "19:00";
        window->WHORA_FECHAR = "20:00";
        WVOL_GERAL = 80;
    }
};

TEST_F(ManualPlay, InsideTheSelectedWindowTakesItOver) {
    set_now(QDateTime(start_time().date(), QTime(19, 30, 0)));
    window->Play1Click();
    EXPECT_EQ(log_count("ACIONAMENTO: MANUAL  -  19:30:00"), 1);
    EXPECT_EQ(window->WWEB_PLAY, kLink);
    EXPECT_TRUE(window->Timer_Reconexao->Enabled());
    EXPECT_TRUE(window->WENCONTRADO_ACIONAMENTO && window->WACIONADO);
    EXPECT_EQ(WVOL_MAX, 80);
    EXPECT_EQ(window->Label5->text(), "19:00");
    EXPECT_EQ(window->Label12->text(), "20:00");
}

TEST_F(ManualPlay, OutsideTheWindowOnlyArmsTheRelay) {
    window->Play1Click(); // 18:00
    EXPECT_TRUE(window->Timer_Reconexao->Enabled());
    EXPECT_FALSE(window->WENCONTRADO_ACIONAMENTO || window->WACIONADO);
    EXPECT_EQ(WVOL_MAX, 100);
}

TEST_F(ManualPlay, ALinkWithoutHttpOnlyLogs) {
    window->tesselGrid1->setCells(2, 1, "mms://radio.example/live");
    window->WTMP_RECONEXAO = 3;
    window->Play1Click();
    EXPECT_EQ(log_count("ACIONAMENTO: MANUAL  -  18:00:00"), 1);
    EXPECT_EQ(window->WTMP_RECONEXAO, 60);
    EXPECT_FALSE(window->Timer_Reconexao->Enabled());
}

TEST_F(ManualPlay, TheMenuOffersPlayOrStopAndStopTakesTheStreamOff) {
    window->PopupMenu1Popup();
    EXPECT_TRUE(window->Play1->isEnabled());
    EXPECT_FALSE(window->Stop1->isEnabled());
    window->Stop1Click(); // nothing plays: nothing to do
    EXPECT_EQ(log_messages().filter("DESLIGAMENTO MANUAL").size(), 0);

    window->Canal_web->setFileName(media("jingle.wav"));
    window->Canal_web->Play();
    ASSERT_TRUE(window->Canal_web->isStarted());
    window->PopupMenu1Popup();
    EXPECT_FALSE(window->Play1->isEnabled());
    EXPECT_TRUE(window->Stop1->isEnabled());
    window->Timer_Reconexao->setEnabled(true);
    window->Stop1Click();
    EXPECT_FALSE(window->Canal_web->isStarted());
    EXPECT_FALSE(window->Timer_Reconexao->Enabled());
    EXPECT_EQ(log_count("DESLIGAMENTO MANUAL: 18:00:00"), 1);
    EXPECT_EQ(window->Label12->text(), "00:00:00");
    EXPECT_EQ(window->CoolGauge1->BackColor(), QColor(128, 128, 128));

    window->tesselGrid1->setCells(2, 1, "  ");
    window->PopupMenu1Popup();
    EXPECT_FALSE(window->Play1->isEnabled());
}

} // namespace
