// The setup dialog on the real main window and the real engine (two silent devices named
// PRINCIPAL and ESCUTA): what it shows, what "Salvar" writes and logs, the password and
// start-with-session rules, the live sliders, "Simular Evento", moving and closing.

#include "setup_dialog.h"

#include "autostart.h"
#include "components/widget_testing.h"
#include "file_size_limit.h"
#include "main_window_fixture.h"
#include "xi_track_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace miravox;
using namespace miravox::testing;

namespace {

const QString kRecordStart = "=================SALVA CONFIGURACAO========================";
const QString kRecordEnd = "=============FIM SALVA CONFIGURACAO========================";

QString scrambled(const QString& password) {
    return decode_cp1252(CODIFICA_SENHA(encode_cp1252(password), kPasswordKey));
}

class SetupDialog : public MainWindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(config_home.isValid());
        previous_config_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config_home.path().toUtf8());
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        setup.reset();
        MainWindowTest::TearDown();
        qputenv("XDG_CONFIG_HOME", previous_config_);
    }

    void open_setup() {
        dialogs.shown.clear(); // what the window's start-up showed
        setup = std::make_unique<TForm_Setup>(*window, dialogs);
        setup->show();
        QCoreApplication::processEvents();
    }

    QStringList saved_lines() const {
        auto file = read_text_file(program_folder() + kConfigFileName, nullptr, false);
        return file ? file->lines : QStringList();
    }
    bool config_written() const { return QFile::exists(program_folder() + kConfigFileName); }
    QString autostart_entry() const { return config_home.path() + "/autostart/Oravel Mira-Vox.desktop"; }

    void type_passwords(const QString& first, const QString& second) {
        setup->Edit1->setText(first);
        setup->Edit2->setText(second);
    }

    QTemporaryDir config_home;
    std::unique_ptr<TForm_Setup> setup;

  private:
    QByteArray previous_config_;
};

// A station with a configuration of its own.
class ConfiguredStation : public SetupDialog {
  protected:
    void before_window() override {
        write_config({"TAMBR=2500", "TAMBR_NET=1500", "DVTRA=1", "DVCUE=7", "VOL_MAX=60", "VOL_MIN=20",
                      "PATH_DADOS=" + program_folder() + "dados/", "PATH_MUSICAS=/srv/musicas/",
                      "SISTEMA=" + scrambled("abc")});
    }
};

} // namespace

TEST_F(ConfiguredStation, ShowsTheConfigurationWithDevicesByName) {
    open_setup();
    EXPECT_EQ(setup->size(), QSize(714, 437));
    EXPECT_TRUE(setup->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(setup->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(setup->windowTitle(), "Configuração - Oravel Quillet");

    const QStringList names{"PRINCIPAL", "ESCUTA"};
    for (QComboBox* combo : {setup->ComboBox1, setup->ComboBox2}) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        EXPECT_EQ(items, names);
    }
    EXPECT_EQ(setup->ComboBox1->currentIndex(), 1);
    EXPECT_EQ(setup->ComboBox2->currentIndex(), -1); // position 7 is beyond the list
    EXPECT_EQ(setup->XiTrackBar1->Position(), 40);
    EXPECT_EQ(setup->XiTrackBar2->Position(), 80);
    EXPECT_EQ(setup->Label2->text(), "60%");
    EXPECT_EQ(setup->Label3->text(), "20%");
    EXPECT_EQ(setup->DirectoryEdit1->Text(), program_folder() + "dados/");
    EXPECT_EQ(setup->directoryedit2->Text(), "/srv/musicas/");
    EXPECT_EQ(setup->Edit1->text(), "abc");
    EXPECT_EQ(setup->Edit2->text(), "abc");
    EXPECT_EQ(setup->Edit1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(setup->RxSpinEdit12->value(), 2500);
    EXPECT_EQ(setup->JvSpinEdit1->value(), 1500);
    EXPECT_FALSE(setup->CheckBox1->isChecked());
    EXPECT_EQ(dialogs.count_containing("Não foi Detectado"), 0);

    // "Info Device Atual" lists again and returns to the first device.
    setup->BitBtn13Click();
    EXPECT_EQ(setup->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(setup->ComboBox1->count(), 2);
    setup->BitBtn6Click();
    EXPECT_EQ(setup->ComboBox2->currentIndex(), 0);
}

TEST_F(ConfiguredStation, SaveWritesElevenLinesLogsTheRecordAndUpdatesMemory) {
    open_setup();
    setup->BitBtn3Click(); // "Usar Padrão"
    setup->JvSpinEdit1->setValue(3500);
    setup->DirectoryEdit1->setText("  /srv/dados  ");
    setup->directoryedit2->setText("   ");
    type_passwords("segredo", "segredo");
    setup->BitBtn1Click();

    const QStringList keys{"TAMBR=5000",
                           "TAMBR_NET=3500",
                           "DVTRA=1",
                           "DVCUE=-1",
                           "VOL_MAX=60",
                           "VOL_MIN=20",
                           "PATH_DADOS=/srv/dados/",
                           "PATH_MUSICAS=",
                           "SISTEMA=" + scrambled("segredo")};
    const QStringList lines = saved_lines();
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines.mid(2), keys);
    EXPECT_FALSE(lines[0].contains('='));
    EXPECT_FALSE(lines[1].contains('='));
    EXPECT_EQ(dialogs.shown, QStringList({"info: Configuração Salva com Sucesso !"}));

    const QStringList log = log_messages();
    const qsizetype start = log.indexOf(kRecordStart);
    ASSERT_GE(start, 1);
    EXPECT_EQ(log[start - 1], "Configuração Salva com Sucesso");
    EXPECT_EQ(log.mid(start + 1, 9), keys);
    EXPECT_EQ(log.value(start + 10), kRecordEnd);

    EXPECT_EQ(WSENHA, "segredo");
    EXPECT_EQ(WTAMBR, 5000);
    EXPECT_EQ(WTAMBR_NET, 3500);
    EXPECT_EQ(WPATH_DADOS, "/srv/dados/");
    EXPECT_EQ(WPATH_MUSICAS, program_folder() + "MUSICAS/");
    EXPECT_EQ(WDVCUE, 7); // devices change at the next start only
    EXPECT_EQ(setup->result(), QDialog::Accepted);
    EXPECT_FALSE(setup->isVisible());

    // The next start reads back what was saved.
    apply_configuration(lines, program_folder());
    EXPECT_EQ(WSENHA, "segredo");
    EXPECT_EQ(WTAMBR_NET, 3500);
    EXPECT_EQ(WDVCUE, -1);
}

TEST_F(ConfiguredStation, PasswordIsCheckedOnlyWhenTheFirstFieldHasText) {
    open_setup();
    setup->DirectoryEdit1->setText("/srv/dados");
    type_passwords("abc", "abd");
    setup->BitBtn1Click();
    EXPECT_EQ(dialogs.shown, QStringList({"info: Senhas não conferem - Verifique"}));
    EXPECT_TRUE(setup->isVisible());
    EXPECT_EQ(setup->result(), QDialog::Rejected);
    EXPECT_EQ(saved_lines().last(), "SISTEMA=" + scrambled("abc")); // the old file
    EXPECT_EQ(WSENHA, "abc");
    EXPECT_EQ(setup->DirectoryEdit1->Text(), "/srv/dados/"); // done before the check

    // A blank first field saves without a check, and with no password.
    type_passwords("", "anything");
    setup->BitBtn1Click();
    EXPECT_FALSE(setup->isVisible());
    EXPECT_EQ(saved_lines().last(), "SISTEMA=");
    EXPECT_EQ(WSENHA, "");
}

TEST_F(ConfiguredStation, PasswordTheFileCannotHoldIsRefused) {
    // A character outside the file's code page, and one whose scrambled byte would break
    // the line.
    QString unstorable;
    for (int b = 0x20; b < 0x100 && unstorable.isEmpty(); ++b)
        if (!password_storable(QByteArray(1, char(b))))
            unstorable = decode_cp1252(QByteArray(1, char(b)));
    QStringList refused{QString::fromUtf8("senha\u5bc6")};
    if (!unstorable.isEmpty())
        refused << "a" + unstorable + "b";
    open_setup();
    for (const QString& password : refused) {
        dialogs.shown.clear();
        type_passwords(password, password);
        setup->BitBtn1Click();
        EXPECT_EQ(dialogs.shown, QStringList({"info: Senha contém caracteres não permitidos - Verifique"}));
        EXPECT_TRUE(setup->isVisible());
        EXPECT_EQ(WSENHA, "abc");
    }
}

TEST_F(SetupDialog, StartWithSessionFollowsTheBoxEvenWhenThePasswordCheckFails) {
    ASSERT_TRUE(CRIA_ATALHO("/opt/miravox/miravox", "", "/opt/miravox/", kAutostartName));
    open_setup();
    EXPECT_TRUE(setup->CheckBox1->isChecked());
    EXPECT_EQ(setup->Label1->text(), "Inicializar junto com a sessão"); // not "o Windows"

    setup->Label1Click(); // the caption toggles the box
    EXPECT_FALSE(setup->CheckBox1->isChecked());
    type_passwords("abc", "xyz");
    setup->BitBtn1Click();
    EXPECT_FALSE(QFile::exists(autostart_entry()));
    EXPECT_TRUE(setup->isVisible());
    EXPECT_FALSE(config_written());

    // Ticked again: the entry starts this program with this station's folder.
    setup->CheckBox1->setChecked(true);
    type_passwords("", "");
    setup->BitBtn1Click();
    QFile entry(autostart_entry());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(content.contains("MIRAVOX_HOME=" + program_folder())) << content.toStdString();
    EXPECT_TRUE(content.contains(QCoreApplication::applicationFilePath())) << content.toStdString();
    EXPECT_TRUE(content.contains("\nPath=" + home.path() + "\n")) << content.toStdString();
    EXPECT_TRUE(config_written());
}

TEST_F(SetupDialog, EntryThatCannotBeCreatedIsReportedAndStopsTheSave) {
    QFile blocker(config_home.path() + "/autostart"); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    open_setup();
    setup->CheckBox1->setChecked(true);
    setup->BitBtn1Click();
    EXPECT_EQ(dialogs.shown,
              QStringList({"info: Não foi possível criar o atalho de inicialização - Verifique"}));
    EXPECT_EQ(log_messages().filter("Erro ao criar atalho de inicialização").size(), 1);
    EXPECT_TRUE(setup->isVisible());
    EXPECT_FALSE(config_written());
}

TEST_F(SetupDialog, UnwritableFileIsReportedAndTheRestStillHappens) {
    open_setup();
    type_passwords("nova", "nova");
    setup->DirectoryEdit1->setText("/srv/dados");
    {
        FileSizeLimit full(0);
        setup->BitBtn1Click();
    }
    EXPECT_EQ(dialogs.shown, QStringList({"info: Erro ao Gravar arquivo de configuração"}));
    EXPECT_TRUE(window->Log.wlista_logs.filter("Erro ao Gravar arquivo de configuração").size() == 1);
    EXPECT_FALSE(config_written());
    EXPECT_EQ(WSENHA, "nova");
    EXPECT_EQ(WPATH_DADOS, "/srv/dados/");
    EXPECT_FALSE(setup->isVisible());
}

TEST_F(ConfiguredStation, ReleasedSliderTakesEffectAtOnceAndSurvivesCancel) {
    open_setup();
    TXiTrackBar* slider = setup->XiTrackBar1;
    const QPoint top(slider->width() / 2, 0);
    // Dragging alone changes nothing: the level follows the release.
    const QPoint thumb(slider->width() / 2, 5 + slider->Position() * slider->height() / 100);
    press(slider, thumb);
    drag_to(slider, top);
    EXPECT_EQ(WVOL_MAX, 60);
    release(slider, top);
    EXPECT_EQ(slider->Position(), 0);
    EXPECT_EQ(WVOL_MAX, 100);
    EXPECT_EQ(setup->Label2->text(), "100%");
    EXPECT_EQ(slider->toolTip(), "Volume: 100%");

    click(setup->XiTrackBar2, QPoint(setup->XiTrackBar2->width() / 2, setup->XiTrackBar2->height()));
    EXPECT_EQ(WVOL_MIN, 0);
    EXPECT_EQ(setup->Label3->text(), "0%");

    setup->BitBtn2Click(); // "Cancelar"
    EXPECT_EQ(setup->result(), QDialog::Rejected);
    EXPECT_FALSE(setup->isVisible());
    EXPECT_EQ(WVOL_MAX, 100);
    EXPECT_EQ(WVOL_MIN, 0);
    EXPECT_EQ(saved_lines()[4], "VOL_MAX=60"); // the file is untouched
}

TEST_F(SetupDialog, SimulateEventRampsDownThenUpAndIsIgnoredDuringARamp) {
    open_setup();
    window->timer_aumentarvolume_geral->setEnabled(true); // a commercial's ramp under way
    setup->SpeedButton1Click();
    EXPECT_EQ(setup->SpeedButton1->text(), "Simular Evento");
    EXPECT_FALSE(window->timer_DiminuirVolume_geral->Enabled());
    window->timer_aumentarvolume_geral->setEnabled(false);

    // The down ramp stops at the minimum level the slider set a moment ago.
    click(setup->XiTrackBar2,
          QPoint(setup->XiTrackBar2->width() / 2, 5 + 50 * setup->XiTrackBar2->height() / 100));
    const int minimum = WVOL_MIN;
    ASSERT_GT(minimum, 30);
    setup->SpeedButton1Click();
    EXPECT_EQ(setup->SpeedButton1->text(), "Restaurar");
    ASSERT_TRUE(window->timer_DiminuirVolume_geral->Enabled());
    setup->SpeedButton1Click(); // still ramping: ignored
    EXPECT_EQ(setup->SpeedButton1->text(), "Restaurar");
    for (int step = 0; step < 200 && window->timer_DiminuirVolume_geral->Enabled(); ++step)
        window->timer_DiminuirVolume_geralTimer(nullptr);
    EXPECT_FALSE(window->timer_DiminuirVolume_geral->Enabled());
    EXPECT_LE(WVOL_GERAL, minimum);
    EXPECT_GT(WVOL_GERAL, minimum - 6);

    setup->SpeedButton1Click();
    EXPECT_EQ(setup->SpeedButton1->text(), "Simular Evento");
    EXPECT_TRUE(window->timer_aumentarvolume_geral->Enabled());
    EXPECT_FALSE(window->timer_DiminuirVolume_geral->Enabled());
    window->timer_aumentarvolume_geral->setEnabled(false);
}

TEST_F(SetupDialog, PressingEitherPanelMovesTheDialogUntilRelease) {
    open_setup();
    for (QWidget* panel : {static_cast<QWidget*>(setup->Panel1), static_cast<QWidget*>(setup->Panel3)}) {
        const QPoint start = setup->pos();
        const QPoint spot(panel->width() - 5, panel->height() - 5);
        press(panel, spot);
        drag_to(panel, spot + QPoint(30, 20));
        EXPECT_EQ(setup->pos(), start + QPoint(30, 20));
        release(panel, spot + QPoint(30, 20));
        QCoreApplication::processEvents();
        drag_to(panel, spot + QPoint(90, 90)); // after the release the dialog stays put
        EXPECT_EQ(setup->pos(), start + QPoint(30, 20));
    }
}

TEST_F(SetupDialog, LosingActivationToAnotherWindowCancelsButOurOwnBoxesDoNot) {
    open_setup();
    setup->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(setup.get(), 5000));
    // A box of the dialog's own takes activation for a while.
    dialogs.on_show = [] {
        QDialog box;
        box.setModal(true);
        box.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&box, 5000));
    };
    type_passwords("a", "b");
    setup->BitBtn1Click();
    dialogs.on_show = nullptr;
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(setup->isVisible());

    setup->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(setup.get(), 5000));
    QDialog other; // say, a message of the main window's timers
    other.setModal(true);
    other.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !setup->isVisible(); }, 5000));
    EXPECT_EQ(setup->result(), QDialog::Rejected);
    EXPECT_FALSE(config_written());
}
