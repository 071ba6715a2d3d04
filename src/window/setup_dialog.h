#pragma once
// TForm_Setup: the one dialog in which the operator edits the station's configuration
// (buffers, transmission and cue devices, data and music folders, access password, the two
// volume levels, start with the session) and tries the volume dip of a commercial without
// one. "Salvar" rewrites MIRAVOX.INI whole and records the new settings in the operation log.
//
// The volume sliders take effect the moment they are released, before any save, because the
// main window's ramps read WVOL_MAX and WVOL_MIN at every step. Devices and channel buffers
// take effect at the next start; password, folders and buffers are updated in memory at once.
//
// The owner creates the dialog, runs it modally and destroys it; it keeps nothing between
// openings.
//
// Thread rules: main thread only. The main window's timers keep ticking while it is open.

#include <QDialog>
#include <QPointF>
#include <QString>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;
class TTesselBass;
class TXiTrackBar;
class Tfrm_miravox;

namespace miravox {
class DialogService;
}

// A folder field with a browse button beside it.
class TDirectoryEdit : public QWidget {
  public:
    explicit TDirectoryEdit(QWidget* parent = nullptr);
    QString Text() const;
    void setText(const QString& text);

    QLineEdit* edit;
    QToolButton* button;
};

class TForm_Setup : public QDialog {
  public:
    // `main_window` receives the log records and owns the volume ramps; `dialogs` shows every
    // box. Both must outlive the dialog.
    TForm_Setup(Tfrm_miravox& main_window, miravox::DialogService& dialogs);
    ~TForm_Setup() override;

    // ---- Handlers ----------------------------------------------------------------------------
    void FormCreate();
    void FormShow();
    void Atualiza_componentes();
    void lista_devices(QComboBox* combo);
    void BitBtn1Click();  // "Salvar"
    void BitBtn2Click();  // "Cancelar"
    void BitBtn3Click();  // "Usar Padrão"
    void BitBtn6Click();  // "Info Device Atual" of the cue device
    void BitBtn13Click(); // "Info Device Atual" of the transmission device
    void Label1Click(); // the caption beside CheckBox1: toggles it
    void XiTrackBar1Change(QObject* Sender); // the full level slider moved: sets WVOL_MAX
    void XiTrackBar2Change(QObject* Sender); // the ducked level slider moved: sets WVOL_MIN
    void SpeedButton1Click(); // "Simular Evento" / "Restaurar"
    void Panel1MouseDown(QPointF global_position);
    void FormDeactivate();

    // ---- Widgets -----------------------------------------------------------------------------
    QFrame* Panel1 = nullptr; // settings
    QFrame* Panel3 = nullptr; // volume controls
    QFrame* Panel2 = nullptr; // command buttons
    QSpinBox* RxSpinEdit12 = nullptr; // "Tamanho do Buffer:" the channels' buffer, ms (WTAMBR)
    QSpinBox* JvSpinEdit1 = nullptr;  // "Buffer Internet:" the stream's buffer, ms (WTAMBR_NET)
    QPushButton* BitBtn3 = nullptr;   // "Usar Padrão": both buffers back to 5000
    QComboBox* ComboBox1 = nullptr;   // "Device Transmissão:" the device on the air (WDVTRA)
    QPushButton* BitBtn13 = nullptr;  // "Info Device Atual" of ComboBox1
    QComboBox* ComboBox2 = nullptr;   // "Device Escuta (Cue):" the pre-listening device (WDVCUE)
    QPushButton* BitBtn6 = nullptr;   // "Info Device Atual" of ComboBox2
    TDirectoryEdit* DirectoryEdit1 = nullptr; // "Local Dados:" the data folder (WPATH_DADOS)
    TDirectoryEdit* directoryedit2 = nullptr; // "Músicas Locais:" the music folder (WPATH_MUSICAS)
    QCheckBox* CheckBox1 = nullptr;   // start with the session (autostart)
    QLabel* Label1 = nullptr;         // "Inicializar junto com a sessão", CheckBox1's caption
    QLineEdit* Edit1 = nullptr;       // "Definir Senha:" the access password
    QLineEdit* Edit2 = nullptr;       // "Repetir Senha:" the same again, to confirm
    TXiTrackBar* XiTrackBar1 = nullptr; // full level of the music and stream (WVOL_MAX)
    QLabel* Label2 = nullptr;         // XiTrackBar1's level in percent
    TXiTrackBar* XiTrackBar2 = nullptr; // ducked level under a commercial (WVOL_MIN)
    QLabel* Label3 = nullptr;         // XiTrackBar2's level in percent
    QPushButton* SpeedButton1 = nullptr; // "Simular Evento" / "Restaurar": tries the volume dip
    QPushButton* BitBtn1 = nullptr;   // "Salvar"
    QPushButton* BitBtn2 = nullptr;   // "Cancelar"

    // Lists the sound devices; nothing is played on it.
    TTesselBass* player = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build_ui();
    void build_settings_panel();
    void build_volume_panel();
    void build_command_panel();
    void slider_changed(TXiTrackBar* slider, QLabel* label, int& level);
    void show_box(const QString& text);
    void browse_folder(TDirectoryEdit* field, const QString& caption);
    bool apply_autostart_choice();
    bool password_acceptable();
    bool lost_to_another_window() const;

    Tfrm_miravox& main_window_;
    miravox::DialogService& dialogs_;
    int boxes_open_ = 0;       // our own boxes take activation without closing the dialog
    bool been_active_ = false; // losing activation counts only after having had it
};
