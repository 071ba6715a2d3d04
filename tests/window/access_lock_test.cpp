// The access lock on the real window, with the password read from the station's MIRAVOX.INI.

#include "main_window_fixture.h"

#include "tessel_grid.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

using namespace miravox::testing;

namespace {

class AccessLock : public MainWindowTest {
  protected:
    void before_window() override { write_password(password); }
    void type_and_ok(const QString& text) {
        window->Edit1->setText(text);
        window->SpeedButton1Click();
    }
    QString password = "Abc ";
};

TEST_F(AccessLock, ThreeWrongPasswordsMinimiseAndTheCountIsNeverReset) {
    EXPECT_FALSE(WACESSO);
    EXPECT_TRUE(window->PageControl1->isHidden());
    type_and_ok("Abc"); // the trailing blank belongs to the password
    type_and_ok("abc ");
    EXPECT_EQ(minimised, 0);
    EXPECT_EQ(dialogs.count_containing("info: Senha Inválida - Verifique"), 2);
    EXPECT_EQ(log_count("Tentativa de Acesso: Senha Inválida"), 2);
    type_and_ok("x");
    EXPECT_EQ(minimised, 1);
    EXPECT_TRUE(window->Edit1->text().isEmpty());
    EXPECT_FALSE(WACESSO);

    window->PageControl1->setCurrentIndex(2);
    type_and_ok("Abc ");
    EXPECT_TRUE(WACESSO);
    EXPECT_FALSE(window->PageControl1->isHidden());
    EXPECT_EQ(window->PageControl1->currentIndex(), 0);
    EXPECT_EQ(window->Edit1->text(), "Abc "); // kept until the next close request

    type_and_ok("y"); // the fourth wrong one minimises at once
    EXPECT_EQ(window->WTENTATIVAS, 4);
    EXPECT_EQ(minimised, 2);
    EXPECT_TRUE(window->PageControl1->isHidden());
}

TEST_F(AccessLock, ClosingAnUnlockedWindowLocksItAgain) {
    type_and_ok("Abc ");
    window->close();
    EXPECT_FALSE(WACESSO);
    EXPECT_TRUE(window->PageControl1->isHidden());
    EXPECT_TRUE(window->Edit1->text().isEmpty());
    EXPECT_EQ(minimised, 1);
}

TEST_F(AccessLock, LockedKeysAreRefusedButTheUnguardedOnesWork) {
    window->FormKeyDown(Qt::Key_F10, Qt::NoModifier);
    window->FormKeyDown(Qt::Key_F8, Qt::NoModifier);
    window->FormKeyDown(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(setup_dialogs, 0);
    EXPECT_FALSE(window->timer_DiminuirVolume_geral->Enabled());
    EXPECT_TRUE(dialogs.shown.isEmpty());
    window->FormKeyDown(Qt::Key_I, Qt::ControlModifier);
    EXPECT_TRUE(window->tesselGrid1->isHidden());
}

TEST_F(AccessLock, TheOperatorTypesThePasswordAndPressesEnter) {
    ASSERT_TRUE(show_window());
    EXPECT_TRUE(window->GroupBox1->isVisible());
    window->Edit1->setFocus();
    QTest::keyClicks(window->Edit1, "Abc");
    QTest::keyClick(window->Edit1, Qt::Key_Return);
    EXPECT_FALSE(WACESSO);
    window->Edit1->clear();
    QTest::keyClicks(window->Edit1, "Abc ");
    QTest::keyClick(window->Edit1, Qt::Key_Enter);
    EXPECT_TRUE(WACESSO);
    EXPECT_TRUE(window->PageControl1->isVisible());
}

class BlankPassword : public AccessLock {
  protected:
    void before_window() override {
        password = "   ";
        AccessLock::before_window();
    }
};

TEST_F(BlankPassword, NeverLocks) {
    EXPECT_TRUE(WACESSO);
    window->close();
    EXPECT_TRUE(WACESSO);
    EXPECT_FALSE(window->PageControl1->isHidden());
}

} // namespace
