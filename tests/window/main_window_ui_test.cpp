#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "cool_gauge.h"
#include "rled.h"
#include "scripted_dialogs.h"
#include "tessel_grid.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDataStream>
#include <QDateEdit>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include <memory>

using namespace miravox;

namespace {

// A station folder of its own, a clock standing at a known Monday evening and scripted boxes;
// the window is built the way the program builds it.
class MainWindowUi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        previous_home = qgetenv("MIRAVOX_HOME");
        qputenv("MIRAVOX_HOME", home.path().toUtf8());
        reset_configuration();
    }
    void TearDown() override {
        window.reset();
        reset_configuration();
        qputenv("MIRAVOX_HOME", previous_home);
    }

    Tfrm_miravox& build() {
        window = std::make_unique<Tfrm_miravox>(dialogs);
        window->minimise_application = [this] { ++minimised; };
        return *window;
    }
    QString data_folder() const { return home.path() + "/DADOS/"; }

    QTemporaryDir home;
    QByteArray previous_home;
    std::shared_ptr<ManualClock> manual =
        std::make_shared<ManualClock>(QDateTime(QDate(2026, 12, 7), QTime(18, 0, 0))); // a Monday
    ScopedClock scope{manual};
    miravox::testing::ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_miravox> window;
    int minimised = 0;
};

void send_mouse(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

QString text_of(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* label = qobject_cast<TTimeLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* box = qobject_cast<QGroupBox*>(w))
        return box->title();
    return "<no caption>";
}

QStringList tab_texts(QTabBar* bar) {
    QStringList texts;
    for (int i = 0; i < bar->count(); ++i)
        texts << bar->tabText(i);
    return texts;
}

QStringList header(TtesselGrid* grid) {
    QStringList texts;
    for (int c = 0; c < grid->ColCount(); ++c)
        texts << grid->Cells(c, 0) + "=" + QString::number(grid->ColWidths(c));
    return texts;
}

// Two seconds of 16-bit stereo silence at 44100 Hz.
void write_silent_wav(const QString& path) {
    const quint32 data_bytes = 2 * 44100 * 4;
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + data_bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(44100) << quint32(44100 * 4) << quint16(4)
        << quint16(16);
    out.writeRawData("data", 4);
    out << data_bytes;
    wav.append(QByteArray(int(data_bytes), '\0'));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(wav);
}

const QStringList kWeekdays{"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};

} // namespace

TEST_F(MainWindowUi, EveryNamedControlExistsUnderItsNameWithItsCaption) {
    Tfrm_miravox& w = build();
    const std::pair<QWidget*, QString> captions[] = {
        {w.Label28, "X"},
        {w.Label10, "Status"},
        {w.Label6, "Status"},
        {w.Label5, "00:00:00"},
        {w.Label12, "00:00:00"},
        {w.Label21, "00:00:00"},
        {w.Label8, "00:00:00"},
        {w.Label9, "00:00:00"},
        {w.Label3, "CTRL+Q = DESATIVAR  -  <F10>-CONFIG"},
        {w.Label20, "Status"},
        {w.Label2, "Status"},
        {w.Label23, "Status"},
        {w.Label24, "Status"},
        {w.Label31, "Status"},
        {w.Panel11, ""},
        {w.Panel14, ""},
        {w.Panel19, ""},
        {w.Panel13, ""},
        {w.Button2, "Atualizar Agenda"},
        {w.Edit24, ""},
        {w.BitBtn31, "Play"},
        {w.Edit9, ""},
        {w.BitBtn28, "Procurar"},
        {w.BitBtn1, "Play"},
        {w.Label14, "Vinheta de Abertura:"},
        {w.Edit23, ""},
        {w.BitBtn29, "Procurar"},
        {w.BitBtn2, "Play"},
        {w.MaskEdit1, "19:00:00"},
        {w.MaskEdit2, "20:00:00"},
        {w.BitBtn32, "Adicionar"},
        {w.BitBtn3, "Limpar"},
        {w.Label16, "Status"},
        {w.Label17, "Status"},
        {w.BitBtn33, "Excluir"},
        {w.Panel9, "Status"},
        {w.Panel8, "Status"},
        {w.Edit3, ""},
        {w.BitBtn6, "Procurar"},
        {w.BitBtn8, "Play"},
        {w.BitBtn5, "Adicionar"},
        {w.BitBtn12, "Limpar"},
        {w.BitBtn14, "Excluir"},
        {w.Panel18, "Status"},
        {w.GroupBox1, "<Senha>"},
        {w.Label32, "Digite a Senha:"},
        {w.Edit1, ""},
        {w.SpeedButton1, "OK"},
    };
    for (const auto& [widget, expected] : captions) {
        ASSERT_NE(widget, nullptr) << expected.toStdString();
        const QString name = widget->objectName();
        EXPECT_FALSE(name.isEmpty()) << "unnamed control captioned " << expected.toStdString();
        EXPECT_EQ(w.findChild<QWidget*>(name), widget) << name.toStdString();
        EXPECT_EQ(text_of(widget), expected) << name.toStdString();
    }
    // The title strip carries the version title once the window is created.
    EXPECT_EQ(w.Panel3->Caption(), Tfrm_miravox::version_title());

    QWidget* others[] = {w.Panel3,      w.PageControl1, w.Meter1,      w.VU_GERAL,      w.CoolGauge1,
                         w.tesselGrid1, w.diagnostics,  w.Image1,      w.RxSpinButton1, w.RxSpinButton2,
                         w.semana,      w.tesselGrid2,  w.MaskEdit3,   w.JvSpinButton1, w.DateEdit1,
                         w.DateEdit2,   w.PageControl4, w.tesselGrid3, w.Stringgrid2,   w.bitbtn10,
                         w.bitbtn11,    w.bitbtn13};
    for (QWidget* widget : others) {
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(w.findChild<QWidget*>(widget->objectName()), widget) << widget->objectName().toStdString();
    }
    const std::pair<QObject*, const char*> menus[] = {{w.PopupMenu1, "PopupMenu1"},
                                                      {w.Play1, "Play1"},
                                                      {w.Stop1, "Stop1"},
                                                      {w.PopupMenu2, "PopupMenu2"},
                                                      {w.ControledeVolume1, "ControledeVolume1"},
                                                      {w.Configurao1, "Configurao1"}};
    for (const auto& [object, name] : menus) {
        ASSERT_NE(object, nullptr) << name;
        EXPECT_EQ(object->objectName(), name);
    }
}

TEST_F(MainWindowUi, InitialStatesAndGeometry) {
    Tfrm_miravox& w = build();
    EXPECT_EQ(w.tesselGrid1->toolTip(), "Botão Direito do Mouse (Play / Stop Manual)");
    EXPECT_EQ(w.tesselGrid3->toolTip(), "Duplo Click\nVisualiza dados Completos");
    EXPECT_EQ(w.Image1->toolTip(), "Banner 100x700");

    EXPECT_TRUE(w.bitbtn10->isEnabled());
    EXPECT_FALSE(w.bitbtn11->isEnabled());
    EXPECT_FALSE(w.bitbtn13->isEnabled());
    EXPECT_TRUE(w.BitBtn32->isEnabled());
    EXPECT_EQ(w.Edit1->echoMode(), QLineEdit::Password);
    for (QLineEdit* time : {w.MaskEdit1, w.MaskEdit2, w.MaskEdit3})
        EXPECT_TRUE(time->inputMask().startsWith("99:99:99")) << time->objectName().toStdString();
    for (QDateEdit* date : {w.DateEdit1, w.DateEdit2}) {
        EXPECT_TRUE(date->calendarPopup());
        EXPECT_EQ(date->displayFormat(), "dd/MM/yyyy");
    }
    EXPECT_EQ(w.DateEdit1->text(), "07/12/2026");
    EXPECT_EQ(w.DateEdit2->text(), "06/01/2027");
    EXPECT_EQ(w.CoolGauge1->MaxValue(), 60);
    EXPECT_EQ(w.Meter1->Orientation(), trHorizontal);
    EXPECT_EQ(w.Meter1->BarCount(), 100);
    EXPECT_EQ(w.VU_GERAL->Orientation(), trVertical);
    EXPECT_EQ(w.VU_GERAL->BarCount(), 12);
    EXPECT_EQ(w.Panel11->Color(), 0x002D00u);
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "fixed size";
    EXPECT_EQ(w.Panel3->height(), 30);
}

TEST_F(MainWindowUi, TabsMenusAndShortcuts) {
    Tfrm_miravox& w = build();
    EXPECT_EQ(tab_texts(w.PageControl1->tabBar()),
              QStringList({"Corvane", "Streaming", "Comercial", "Músicas"}));
    EXPECT_EQ(tab_texts(w.semana), kWeekdays);
    EXPECT_EQ(tab_texts(w.PageControl4), kWeekdays);

    EXPECT_EQ(w.Play1->text(), "Play");
    EXPECT_EQ(w.Stop1->text(), "Stop");
    EXPECT_EQ(w.tesselGrid1->PopupMenu(), w.PopupMenu1);
    EXPECT_EQ(w.ControledeVolume1->text(), "Controle de Volume");
    EXPECT_EQ(w.ControledeVolume1->shortcut(), QKeySequence(Qt::Key_F8));
    EXPECT_EQ(w.Configurao1->text(), "Configuração");
    EXPECT_EQ(w.Configurao1->shortcut(), QKeySequence(Qt::Key_F10));
    // Shortcuts of a menu only work while it is open unless the window carries the actions too.
    EXPECT_TRUE(w.actions().contains(w.ControledeVolume1));
    EXPECT_TRUE(w.actions().contains(w.Configurao1));
}

TEST_F(MainWindowUi, GridsHaveTheirColumnsAndRowLook) {
    Tfrm_miravox& w = build();
    EXPECT_EQ(header(w.tesselGrid1),
              QStringList({"Início=64", "Término=71", "Descrição do Evento (Streaming)=615"}));
    EXPECT_EQ(header(w.tesselGrid2),
              QStringList({"Início=64", "Término=71", "Descrição do Evento (Streaming)=606"}));
    EXPECT_EQ(header(w.tesselGrid3),
              QStringList({"Horário=62", "Data/Inicial=79", "Data/Final=80", "Descrição do Disparo=588"}));
    EXPECT_EQ(w.Stringgrid2->ColCount(), 1);
    EXPECT_EQ(w.Stringgrid2->Cells(0, 0), "Descrição das Músicas");
    for (TtesselGrid* grid : {w.tesselGrid1, w.tesselGrid2, w.tesselGrid3, w.Stringgrid2}) {
        SCOPED_TRACE(grid->objectName().toStdString());
        EXPECT_EQ(grid->FixedRows(), 1);
        EXPECT_EQ(grid->FixedCols(), 0);
        EXPECT_EQ(grid->DefaultRowHeight(), 20);
        EXPECT_EQ(grid->RowHeights(1), 20);
        EXPECT_TRUE(grid->Options().testFlag(goRowSelect));
        EXPECT_EQ(grid->ScrollBars(), ssVertical);
    }
}

TEST_F(MainWindowUi, HidingThePageControlUncoversThePasswordPanel) {
    Tfrm_miravox& w = build();
    w.show();
    QApplication::setActiveWindow(&w);
    EXPECT_TRUE(w.PageControl1->isVisible());
    EXPECT_FALSE(w.GroupBox1->isVisible());

    w.PageControl1->hide();
    EXPECT_TRUE(w.GroupBox1->isVisible());
    EXPECT_TRUE(w.Edit1->hasFocus()) << "the password field takes the focus";
    // The clock and the notices stay in sight while locked.
    EXPECT_TRUE(w.Label9->isVisible());
    EXPECT_TRUE(w.Panel13->isVisible());
    EXPECT_TRUE(w.Panel3->isVisible());
    // Both occupy the same place.
    const QRect page(w.PageControl1->mapTo(&w, QPoint()), w.PageControl1->size());
    EXPECT_TRUE(page.contains(QRect(w.GroupBox1->mapTo(&w, QPoint()), w.GroupBox1->size())));

    w.PageControl1->show();
    EXPECT_FALSE(w.GroupBox1->isVisible());
}

TEST_F(MainWindowUi, DiagnosticLinesTakeTheGridsPlaceOnlyWhileItIsHidden) {
    Tfrm_miravox& w = build();
    w.show();
    EXPECT_TRUE(w.tesselGrid1->isVisible());
    EXPECT_FALSE(w.diagnostics->isVisible());

    w.tesselGrid1->hide();
    EXPECT_TRUE(w.diagnostics->isVisible());
    for (QLabel* line : {w.Label20, w.Label2, w.Label23, w.Label24, w.Label31})
        EXPECT_TRUE(line->isVisible());

    w.tesselGrid1->show();
    EXPECT_FALSE(w.diagnostics->isVisible());
}

TEST_F(MainWindowUi, BannerShownWhenTheDataFolderHasOneOtherwiseTheGridGrows) {
    Tfrm_miravox& plain = build();
    plain.show();
    EXPECT_FALSE(plain.Image1->isVisible());
    const int grid_without_banner = plain.tesselGrid1->height();
    window.reset();

    QImage picture(700, 100, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(QDir().mkpath(data_folder()));
    ASSERT_TRUE(picture.save(data_folder() + "LOGO.JPG", "JPG"));
    Tfrm_miravox& with_banner = build();
    with_banner.show();
    ASSERT_TRUE(with_banner.Image1->isVisible());
    EXPECT_EQ(with_banner.Image1->size(), QSize(699, 105));
    EXPECT_TRUE(with_banner.Image1->hasScaledContents());
    EXPECT_FALSE(with_banner.Image1->pixmap().isNull());
    EXPECT_GE(grid_without_banner - with_banner.tesselGrid1->height(), 105);
}

TEST_F(MainWindowUi, AnUnreadableBannerIsHiddenAndLogged) {
    ASSERT_TRUE(QDir().mkpath(data_folder()));
    QFile broken(data_folder() + "LOGO.JPG");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    Tfrm_miravox& w = build();
    EXPECT_TRUE(w.Image1->isHidden());
    EXPECT_TRUE(w.Log.wlista_logs.join('\n').contains("LOGO.JPG"));
}

// ---- Wiring: each control reaches its handler ------------------------------------------------

TEST_F(MainWindowUi, SpinButtonsStepTheirTimeEdits) {
    Tfrm_miravox& w = build();
    const std::tuple<TSpinButton*, QLineEdit*> spins[] = {
        {w.RxSpinButton1, w.MaskEdit1}, {w.RxSpinButton2, w.MaskEdit2}, {w.JvSpinButton1, w.MaskEdit3}};
    for (const auto& [spin, time] : spins) {
        SCOPED_TRACE(spin->objectName().toStdString());
        time->setText("10:20:30");
        time->setCursorPosition(4); // in the minutes
        spin->top->click();
        EXPECT_EQ(time->text(), "10:21:30");
        spin->bottom->click();
        spin->bottom->click();
        EXPECT_EQ(time->text(), "10:19:30");
        EXPECT_EQ(spin->top->focusPolicy(), Qt::NoFocus) << "the edit must keep its caret";
    }
}

TEST_F(MainWindowUi, TitleStripMovesTheWindowAndXAsksToClose) {
    Tfrm_miravox& w = build();
    w.show();
    const QPoint before = w.pos();
    send_mouse(w.Panel3, QEvent::MouseButtonPress, QPoint(100, 10));
    send_mouse(w.Panel3, QEvent::MouseMove, QPoint(140, 35));
    send_mouse(w.Panel3, QEvent::MouseButtonRelease, QPoint(140, 35));
    EXPECT_EQ(w.pos(), before + QPoint(40, 25));
    send_mouse(w.Panel3, QEvent::MouseMove, QPoint(300, 300)); // released: no more moving
    EXPECT_EQ(w.pos(), before + QPoint(40, 25));

    send_mouse(w.Label28, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::RightButton);
    EXPECT_EQ(minimised, 0) << "only the left button clicks";
    send_mouse(w.Label28, QEvent::MouseButtonRelease, QPoint(5, 5));
    EXPECT_EQ(minimised, 1) << "the X minimises instead of closing";
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowUi, PasswordEnterAndOkReachTheLock) {
    Tfrm_miravox& w = build();
    w.show();
    WSENHA = "abc";
    w.apply_lock_state();
    ASSERT_TRUE(w.GroupBox1->isVisible());

    w.Edit1->setText("wrong");
    emit w.Edit1->returnPressed();
    EXPECT_EQ(dialogs.count_containing("Senha Inválida - Verifique"), 1);

    w.Edit1->setText("abc");
    w.SpeedButton1->click();
    EXPECT_TRUE(w.PageControl1->isVisible());
    EXPECT_FALSE(w.GroupBox1->isVisible());
}

TEST_F(MainWindowUi, WeekdayTabsAndButtonsReloadTheirLists) {
    ASSERT_TRUE(QDir().mkpath(data_folder()));
    QFile tuesday(data_folder() + "03.WEB");
    ASSERT_TRUE(tuesday.open(QIODevice::WriteOnly));
    tuesday.write("|07:00|08:00|http://radio.example/stream|STREAMING|100|||0|0||\r\n");
    tuesday.close();
    QFile wednesday(data_folder() + "04.DSP");
    ASSERT_TRUE(wednesday.open(QIODevice::WriteOnly));
    wednesday.write("|07:30|01/11/2026|30/11/2026|/spots/a.mp3|\r\n");
    wednesday.close();

    Tfrm_miravox& w = build();
    w.semana->setCurrentIndex(2);
    EXPECT_EQ(w.tesselGrid2->Cells(0, 1), "07:00");
    w.PageControl4->setCurrentIndex(3);
    EXPECT_EQ(w.tesselGrid3->Cells(0, 1), "07:30");

    // The trigger's range ended before today: the colour handler paints its row red, and is
    // handed the row first, then the column.
    ASSERT_TRUE(bool(w.tesselGrid3->OnGetCellColor));
    QBrush brush(Qt::white);
    CanvasFont font;
    w.tesselGrid3->OnGetCellColor(w.tesselGrid3, 1, 0, TGridDrawState(), brush, font);
    EXPECT_EQ(brush.color(), QColor(255, 0, 0));
    brush.setColor(Qt::white);
    w.tesselGrid3->OnGetCellColor(w.tesselGrid3, 0, 1, TGridDrawState(gdFixed), brush, font);
    EXPECT_EQ(brush.color(), QColor(Qt::white)) << "the header keeps its colour";

    manual->set(QDateTime(QDate(2026, 12, 7), QTime(18, 5, 7)));
    w.Button2->click();
    EXPECT_EQ(w.Label8->text(), "18:05:07");
}

TEST_F(MainWindowUi, JingleCaptionListensAndEachLimparClearsItsOwnTab) {
    const QString jingle = home.path() + "/ABRE.WAV";
    write_silent_wav(jingle);
    Tfrm_miravox& w = build();
    w.Edit9->setText(jingle);
    send_mouse(w.Label14, QEvent::MouseButtonDblClick, QPoint(3, 3));
    EXPECT_EQ(w.BitBtn1->text(), "Stop") << "a double click on the caption pre-listens";
    send_mouse(w.Label14, QEvent::MouseButtonDblClick, QPoint(3, 3));
    EXPECT_EQ(w.BitBtn1->text(), "Play");

    w.Edit24->setText("http://radio.example/stream");
    w.Edit3->setText("/spots/a.mp3");
    w.Panel18->setCaption("Tocando");
    w.BitBtn12->click();
    EXPECT_EQ(w.Edit3->text(), "");
    EXPECT_EQ(w.Panel18->Caption(), "Status");
    EXPECT_EQ(w.Edit24->text(), "http://radio.example/stream") << "the commercial tab's Limpar";
    w.BitBtn3->click();
    EXPECT_EQ(w.Edit24->text(), "");
}

TEST_F(MainWindowUi, GridMenuEnablesPlayForARowWithALink) {
    Tfrm_miravox& w = build();
    w.tesselGrid1->setRowCount(2);
    w.tesselGrid1->setCells(0, 1, "19:00");
    w.tesselGrid1->setCells(2, 1, "http://radio.example/stream");
    w.tesselGrid1->setRow(1);
    emit w.PopupMenu1->aboutToShow();
    EXPECT_TRUE(w.Play1->isEnabled());
    EXPECT_FALSE(w.Stop1->isEnabled());

    w.tesselGrid1->setCells(2, 1, "   ");
    emit w.PopupMenu1->aboutToShow();
    EXPECT_FALSE(w.Play1->isEnabled());
}

TEST(TPanelLook, WindowsColourValuesBecomeTheFace) {
    TPanel panel("Aviso");
    panel.setColor(0x4080FF);
    EXPECT_EQ(panel.Color(), 0x4080FFu);
    EXPECT_EQ(panel.palette().color(QPalette::Window), QColor(255, 128, 64));
    EXPECT_TRUE(panel.autoFillBackground());
    EXPECT_EQ(panel.palette().color(QPalette::WindowText), QColor(Qt::black)) << "readable on orange";

    panel.setColor(0x002D00);
    EXPECT_EQ(panel.palette().color(QPalette::Window), QColor(0, 45, 0));
    EXPECT_NE(panel.palette().color(QPalette::WindowText), QColor(Qt::black));

    panel.resize(40, 20);
    const QImage face = panel.grab().toImage();
    EXPECT_EQ(face.pixelColor(2, 2), QColor(0, 45, 0));

    panel.setCaption("Aviso");
    EXPECT_EQ(panel.Caption(), "Aviso");
}

TEST(TSpinButtonClicks, CallWhatIsSetAndNothingOtherwise) {
    TSpinButton spin;
    spin.top->click(); // no handlers yet
    spin.bottom->click();
    int up = 0, down = 0;
    spin.OnTopClick = [&] { ++up; };
    spin.OnBottomClick = [&] { ++down; };
    spin.top->click();
    spin.bottom->click();
    spin.bottom->click();
    EXPECT_EQ(up, 1);
    EXPECT_EQ(down, 2);
}
