#include "setup_dialog.h"

#include "autostart.h"
#include "configuration.h"
#include "dialog_service.h"
#include "main_window.h"
#include "program_folder.h"
#include "tessel_bass.h"
#include "text_file.h"
#include "threaded_timer.h"
#include "window_drag.h"
#include "xi_track_bar.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

namespace {

const QString kSimulate = QStringLiteral("Simular Evento");
const QString kRestore = QStringLiteral("Restaurar");
const QString kNoDevice = QStringLiteral("Não foi Detectado placa de som - Verifique");

// A label that answers a click (the check box's caption).
class ClickLabel : public QLabel {
  public:
    using QLabel::QLabel;
    std::function<void()> OnClick;

  protected:
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        event->accept();
        if (OnClick && rect().contains(event->position().toPoint()))
            OnClick();
    }
};

QLabel* caption(const QString& text, QWidget* parent, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

QSpinBox* buffer_spin(QWidget* parent, QRect geometry) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(1000, 5000);
    spin->setSingleStep(500);
    spin->setGeometry(geometry);
    return spin;
}

QPushButton* button(const QString& text, QWidget* parent, QRect geometry) {
    auto* b = new QPushButton(text, parent);
    b->setAutoDefault(false); // Enter in a field saves nothing by surprise
    b->setGeometry(geometry);
    return b;
}

QLineEdit* password_field(QWidget* parent, QRect geometry) {
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    edit->setGeometry(geometry);
    return edit;
}

TXiTrackBar* level_slider(QWidget* parent, QRect geometry) {
    auto* slider = new TXiTrackBar(parent);
    slider->setOrientation(trVertical);
    slider->setMin(0);
    slider->setMax(100);
    slider->setFrequency(10);
    slider->setTickMarks(tmBoth);
    slider->setGeometry(geometry);
    return slider;
}

QString percent(int level) {
    return QString::number(level) + '%';
}

// A folder as the configuration keeps it: trimmed, ending with a separator when not blank.
QString folder_with_separator(const QString& text) {
    QString folder = text.trimmed();
    if (!folder.isEmpty() && !folder.endsWith('/') && !folder.endsWith('\\'))
        folder += QDir::separator();
    return folder;
}

} // namespace

TDirectoryEdit::TDirectoryEdit(QWidget* parent) : QWidget(parent) {
    edit = new QLineEdit(this);
    button = new QToolButton(this);
    button->setText(QStringLiteral("..."));
    button->setFocusPolicy(Qt::NoFocus);
}

QString TDirectoryEdit::Text() const {
    return edit->text();
}

void TDirectoryEdit::setText(const QString& text) {
    edit->setText(text);
}

// ---- Construction ---------------------------------------------------------------------------

TForm_Setup::TForm_Setup(Tfrm_miravox& main_window, miravox::DialogService& dialogs)
    : QDialog(&main_window, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      main_window_(main_window), dialogs_(dialogs) {
    setWindowTitle(QStringLiteral("Configuração - Oravel Quillet"));
    setModal(true);
    setFixedSize(714, 437);
    build_ui();
    FormCreate();
}

TForm_Setup::~TForm_Setup() = default;

void TForm_Setup::build_ui() {
    Panel1 = new QFrame(this);
    Panel1->setGeometry(0, 0, 474, 387);
    Panel3 = new QFrame(this);
    Panel3->setGeometry(474, 0, 240, 387);
    Panel2 = new QFrame(this);
    Panel2->setGeometry(0, 387, 714, 50);
    for (QFrame* panel : {Panel1, Panel3, Panel2}) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Raised);
    }
    Panel1->installEventFilter(this);
    Panel3->installEventFilter(this);
    build_settings_panel();
    build_volume_panel();
    build_command_panel();
}

void TForm_Setup::build_settings_panel() {
    caption(QStringLiteral("Tamanho do Buffer:"), Panel1, {12, 16, 130, 20});
    RxSpinEdit12 = buffer_spin(Panel1, {145, 14, 80, 24});
    caption(QStringLiteral("Buffer Internet:"), Panel1, {240, 16, 100, 20});
    JvSpinEdit1 = buffer_spin(Panel1, {345, 14, 80, 24});
    BitBtn3 = button(QStringLiteral("Usar Padrão"), Panel1, {145, 44, 110, 26});
    QObject::connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });

    caption(QStringLiteral("Device Transmissão:"), Panel1, {12, 86, 130, 20});
    ComboBox1 = new QComboBox(Panel1);
    ComboBox1->setGeometry(145, 84, 200, 24);
    ComboBox1->setToolTip(QStringLiteral("Device para músicas"));
    BitBtn13 = button(QStringLiteral("Info Device Atual"), Panel1, {350, 83, 115, 26});
    QObject::connect(BitBtn13, &QPushButton::clicked, this, [this] { BitBtn13Click(); });

    caption(QStringLiteral("Device Escuta (Cue):"), Panel1, {12, 118, 130, 20});
    ComboBox2 = new QComboBox(Panel1);
    ComboBox2->setGeometry(145, 116, 200, 24);
    ComboBox2->setToolTip(QStringLiteral("Device para Escuta (cue) - Placa de som nº 2"));
    BitBtn6 = button(QStringLiteral("Info Device Atual"), Panel1, {350, 115, 115, 26});
    QObject::connect(BitBtn6, &QPushButton::clicked, this, [this] { BitBtn6Click(); });

    caption(QStringLiteral("Local Dados:"), Panel1, {12, 160, 130, 20});
    DirectoryEdit1 = new TDirectoryEdit(Panel1);
    DirectoryEdit1->setToolTip(QStringLiteral("Local onde os arquivos de programações serão salvas"));
    caption(QStringLiteral("Músicas Locais:"), Panel1, {12, 192, 130, 20});
    directoryedit2 = new TDirectoryEdit(Panel1);
    directoryedit2->setToolTip(QStringLiteral("Pasta de músicas locais"));
    int y = 158;
    for (auto [field, title] : {std::pair{DirectoryEdit1, QStringLiteral("Local Dados")},
                                std::pair{directoryedit2, QStringLiteral("Músicas Locais")}}) {
        field->setGeometry(145, y, 320, 24);
        field->edit->setGeometry(0, 0, 294, 24);
        field->edit->setToolTip(field->toolTip());
        field->button->setGeometry(296, 0, 24, 24);
        QObject::connect(field->button, &QToolButton::clicked, this,
                         [this, field, title] { browse_folder(field, title); });
        y += 32;
    }

    CheckBox1 = new QCheckBox(Panel1);
    CheckBox1->setGeometry(145, 230, 20, 20);
    auto* label1 = new ClickLabel(QStringLiteral("Inicializar junto com a sessão"), Panel1);
    label1->setGeometry(167, 230, 250, 20);
    label1->OnClick = [this] { Label1Click(); };
    Label1 = label1;

    caption(QStringLiteral("Definir Senha:"), Panel1, {12, 272, 130, 20});
    Edit1 = password_field(Panel1, {145, 270, 170, 24});
    caption(QStringLiteral("Repetir Senha:"), Panel1, {12, 304, 130, 20});
    Edit2 = password_field(Panel1, {145, 302, 170, 24});
}

void TForm_Setup::build_volume_panel() {
    auto* heading = caption(QStringLiteral("Controle de Volume"), Panel3, {0, 10, 240, 20});
    heading->setAlignment(Qt::AlignCenter);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    caption(QStringLiteral("Máx"), Panel3, {40, 38, 60, 18})->setAlignment(Qt::AlignCenter);
    caption(QStringLiteral("Min"), Panel3, {140, 38, 60, 18})->setAlignment(Qt::AlignCenter);
    XiTrackBar1 = level_slider(Panel3, {45, 60, 50, 250});
    XiTrackBar2 = level_slider(Panel3, {145, 60, 50, 250});
    XiTrackBar1->OnChange = [this](QObject* sender) { XiTrackBar1Change(sender); };
    XiTrackBar2->OnChange = [this](QObject* sender) { XiTrackBar2Change(sender); };
    Label2 = caption(QString(), Panel3, {40, 314, 60, 20});
    Label3 = caption(QString(), Panel3, {140, 314, 60, 20});
    Label2->setAlignment(Qt::AlignCenter);
    Label3->setAlignment(Qt::AlignCenter);

    SpeedButton1 = button(kSimulate, Panel3, {30, 344, 180, 30});
    QObject::connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
}

void TForm_Setup::build_command_panel() {
    BitBtn1 = button(QStringLiteral("Salvar"), Panel2, {484, 10, 105, 30});
    BitBtn2 = button(QStringLiteral("Cancelar"), Panel2, {599, 10, 105, 30});
    QObject::connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    QObject::connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
}

void TForm_Setup::FormCreate() {
    player = new TTesselBass(this, dialogs_);
    player->CriaCanal(WDVTRA + 1, false, reinterpret_cast<void*>(winId()), 0);
    player->setDeviceId(std::int8_t(WDVTRA + 1));
    player->setBuffer(1500);
}

// ---- Showing --------------------------------------------------------------------------------

void TForm_Setup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm_Setup::FormShow() {
    Atualiza_componentes();
    CheckBox1->setChecked(EXISTE_ATALHO(miravox::kAutostartName));
}

void TForm_Setup::Atualiza_componentes() {
    lista_devices(ComboBox1);
    lista_devices(ComboBox2);
    // A position beyond the list leaves no selection.
    ComboBox1->setCurrentIndex(WDVTRA < ComboBox1->count() ? WDVTRA : -1);
    ComboBox2->setCurrentIndex(WDVCUE < ComboBox2->count() ? WDVCUE : -1);
    XiTrackBar1->setPosition(100 - WVOL_MAX);
    XiTrackBar2->setPosition(100 - WVOL_MIN);
    Label2->setText(percent(WVOL_MAX));
    Label3->setText(percent(WVOL_MIN));
    DirectoryEdit1->setText(WPATH_DADOS);
    directoryedit2->setText(WPATH_MUSICAS);
    Edit1->setText(WSENHA);
    Edit2->setText(WSENHA);
    RxSpinEdit12->setValue(WTAMBR);
    JvSpinEdit1->setValue(WTAMBR_NET);
}

void TForm_Setup::lista_devices(QComboBox* combo) {
    combo->clear();
    const int count = player->DeviceCount();
    if (count == 0) {
        show_box(kNoDevice);
        return;
    }
    for (int device = 1; device <= count; ++device)
        combo->addItem(player->DeviceName(device));
    combo->setCurrentIndex(0);
}

void TForm_Setup::BitBtn13Click() {
    lista_devices(ComboBox1);
}

void TForm_Setup::BitBtn6Click() {
    lista_devices(ComboBox2);
}

void TForm_Setup::BitBtn3Click() {
    RxSpinEdit12->setValue(5000);
    JvSpinEdit1->setValue(5000);
}

void TForm_Setup::Label1Click() {
    CheckBox1->toggle();
}

void TForm_Setup::browse_folder(TDirectoryEdit* field, const QString& title) {
    ++boxes_open_;
    const QString chosen = dialogs_.choose_folder(title, field->Text().trimmed());
    --boxes_open_;
    if (!chosen.isEmpty())
        field->setText(folder_with_separator(QDir::toNativeSeparators(chosen)));
}

// ---- Volume ---------------------------------------------------------------------------------

void TForm_Setup::slider_changed(TXiTrackBar* slider, QLabel* label, int& level) {
    const int p = slider->Position();
    const int m = slider->Max();
    slider->setToolTip("Volume: " + percent(100 - p * 100 / m));
    label->setText(percent(100 - p));
    level = 100 - p;
}

void TForm_Setup::XiTrackBar1Change(QObject*) {
    slider_changed(XiTrackBar1, Label2, WVOL_MAX);
}

void TForm_Setup::XiTrackBar2Change(QObject*) {
    slider_changed(XiTrackBar2, Label3, WVOL_MIN);
}

void TForm_Setup::SpeedButton1Click() {
    // A ramp under way (a real commercial, or the previous press) is left to finish.
    if (main_window_.timer_DiminuirVolume_geral->Enabled() ||
        main_window_.timer_aumentarvolume_geral->Enabled())
        return;
    if (SpeedButton1->text() != kRestore) {
        SpeedButton1->setText(kRestore);
        main_window_.timer_DiminuirVolume_geral->setEnabled(true);
    } else {
        SpeedButton1->setText(kSimulate);
        main_window_.timer_aumentarvolume_geral->setEnabled(true);
    }
}

// ---- Saving ---------------------------------------------------------------------------------

// Creates or removes the start-with-the-session entry as the box says. A failure is shown and
// logged and stops the save, so the operator never leaves believing it was done.
bool TForm_Setup::apply_autostart_choice() {
    const QString& name = miravox::kAutostartName;
    const bool exists = EXISTE_ATALHO(name);
    QString reason;
    if (CheckBox1->isChecked() && !exists) {
        if (CRIA_ATALHO(QCoreApplication::applicationFilePath(), QString(), PASTA_PROGRAMA(), name, &reason))
            return true;
        main_window_.SALVA_LOGS(
            "Erro ao criar atalho de inicialização: " + miravox::autostart_entry_path(name) + " - " + reason);
        show_box(QStringLiteral("Não foi possível criar o atalho de inicialização - Verifique"));
        return false;
    }
    if (!CheckBox1->isChecked() && exists) {
        if (APAGA_ATALHO(name, &reason))
            return true;
        main_window_.SALVA_LOGS("Erro ao apagar atalho de inicialização: " +
                                miravox::autostart_entry_path(name) + " - " + reason);
        show_box(QStringLiteral("Não foi possível apagar o atalho de inicialização - Verifique"));
        return false;
    }
    return true;
}

// The password must match its repetition (unless the first field is blank) and survive the
// file: every character must exist in the file's code page, and no scrambled byte may be a
// line break or zero.
bool TForm_Setup::password_acceptable() {
    const QString password = Edit1->text();
    if (password.trimmed().isEmpty())
        return true;
    if (password != Edit2->text()) {
        show_box(QStringLiteral("Senhas não conferem - Verifique"));
        return false;
    }
    const QByteArray bytes = miravox::encode_cp1252(password);
    if (miravox::decode_cp1252(bytes) != password || !miravox::password_storable(bytes)) {
        show_box(QStringLiteral("Senha contém caracteres não permitidos - Verifique"));
        return false;
    }
    return true;
}

void TForm_Setup::BitBtn1Click() {
    if (!apply_autostart_choice())
        return;
    // Folder fields: trimmed, with the separator the configuration expects.
    for (TDirectoryEdit* field : {DirectoryEdit1, directoryedit2})
        if (!field->Text().trimmed().isEmpty())
            field->setText(folder_with_separator(field->Text()));
    if (!password_acceptable())
        return;

    RxSpinEdit12->interpretText();
    JvSpinEdit1->interpretText();
    const QString dados = DirectoryEdit1->Text().trimmed();
    const QString musicas = directoryedit2->Text().trimmed();
    const QStringList lines = miravox::configuration_file_lines(
        QString::number(RxSpinEdit12->value()), QString::number(JvSpinEdit1->value()),
        ComboBox1->currentIndex(), ComboBox2->currentIndex(), 100 - XiTrackBar1->Position(),
        100 - XiTrackBar2->Position(), dados, musicas,
        CODIFICA_SENHA(miravox::encode_cp1252(Edit1->text()), miravox::kPasswordKey));

    WSENHA = Edit1->text();
    WTAMBR = RxSpinEdit12->value();
    WTAMBR_NET = JvSpinEdit1->value();

    if (miravox::write_text_file(PASTA_PROGRAMA() + miravox::kConfigFileName, lines)) {
        show_box(QStringLiteral("Configuração Salva com Sucesso !"));
        main_window_.SALVA_LOGS(QStringLiteral("Configuração Salva com Sucesso"));
    } else {
        main_window_.SALVA_LOGS(QStringLiteral("Erro ao Gravar arquivo de configuração"));
        show_box(QStringLiteral("Erro ao Gravar arquivo de configuração"));
    }

    WPATH_DADOS = dados.isEmpty() ? PASTA_PROGRAMA() + "DADOS/" : dados;
    WPATH_MUSICAS = musicas.isEmpty() ? PASTA_PROGRAMA() + "MUSICAS/" : musicas;

    main_window_.SALVA_LOGS(QStringLiteral("=================SALVA CONFIGURACAO========================"));
    for (qsizetype i = 2; i < lines.size(); ++i)
        main_window_.SALVA_LOGS(lines[i]);
    main_window_.SALVA_LOGS(QStringLiteral("=============FIM SALVA CONFIGURACAO========================"));
    accept();
}

void TForm_Setup::BitBtn2Click() {
    reject();
}

// ---- Moving and closing ---------------------------------------------------------------------

void TForm_Setup::Panel1MouseDown(QPointF global_position) {
    miravox::drag_window(this, global_position);
}

bool TForm_Setup::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == Panel1 || watched == Panel3) && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            Panel1MouseDown(mouse->globalPosition());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// Losing activation to another window of the program closes the dialog unsaved; our own boxes
// (questions, messages, the folder chooser) and switching to another application do not.
// Activation moves in steps (a closing box hands it back through the windowing system), so
// the decision waits until the moves have settled.
void TForm_Setup::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    if (isActiveWindow()) {
        been_active_ = true;
        return;
    }
    if (been_active_ && boxes_open_ == 0)
        QTimer::singleShot(0, this, [this] {
            if (lost_to_another_window())
                FormDeactivate();
        });
}

bool TForm_Setup::lost_to_another_window() const {
    const QWidget* active = QApplication::activeWindow();
    return boxes_open_ == 0 && isVisible() && !isActiveWindow() && active && active != this;
}

void TForm_Setup::FormDeactivate() {
    reject();
}

void TForm_Setup::show_box(const QString& text) {
    ++boxes_open_;
    dialogs_.information(text);
    --boxes_open_;
}
