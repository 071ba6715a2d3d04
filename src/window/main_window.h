#pragma once
// Tfrm_miravox: the one main window. It owns the five audio channels, the timers that take
// every playout decision, the day list of stream windows and the operation log; its handlers
// hold the control logic. The handlers live beside this header in src/window, one .cpp file
// per concern:
//   main_window_ui.cpp          widgets and layout
//   main_window_lifecycle.cpp   creation, first activation, close, title drag
//   main_window_tick.cpp        main tick, jingle watcher, device refresh
//   main_window_relay.cpp       stream relay and reconnection
//   main_window_silence.cpp     the dead-air watch of a relayed stream
//   main_window_backup.cpp      backup links: failover and return to a preferred link
//   main_window_commercials.cpp commercial start and the volume ramps
//   main_window_music.cpp       local music fallback
//   main_window_status.cpp      status display, metering, diagnostics
//   main_window_schedule.cpp    day lists and weekday files
//   main_window_keys.cpp        operator keys and manual control
//   main_window_station_state.cpp the snapshot and events for outside watchers
//   main_window_stream_editor.cpp, main_window_commercial_editor.cpp, main_window_lock.cpp
//
// Thread rules: main thread only. Timer handlers run on the main thread (see TThreadedTimer).

#include "alerts.h"
#include "operation_log.h"
#include "proof_of_play.h"
#include "silence_watch.h"
#include "station_publisher.h"
#include "station_state.h"
#include "tessel_bass.h"
#include "time_label.h"

#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QLabel>
#include <QStringList>
#include <QTime>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QAction;
class QDateEdit;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QTabWidget;
class QTimer;
class TCoolGauge;
class TRLed;
class TThreadedTimer;
class TtesselGrid;

namespace miravox {
class DialogService;
}

// Level variables shared by the playout (percent, nominal range 0..100).
inline int WVOL_WEB = 100;   // current level of the stream's fade-in
inline int WVOL_GERAL = 100; // current general level applied to the stream and the music

// A panel: a caption on a coloured face, with a free Tag (the lamps keep their state in it).
class TPanel : public QLabel {
public:
    explicit TPanel(const QString& caption = {}, QWidget* parent = nullptr);
    QString Caption() const { return text(); }
    void setCaption(const QString& c) {
        if (text() != c)
            setText(c);
    }
    // Colours are Windows colour values 0x00BBGGRR.
    void setColor(std::uint32_t bgr);
    std::uint32_t Color() const { return color_; }
    int Tag = 0;

private:
    std::uint32_t color_ = 0;
};

// An up/down spin button pair.
class TSpinButton : public QWidget {
public:
    explicit TSpinButton(QWidget* parent = nullptr);
    std::function<void()> OnTopClick;
    std::function<void()> OnBottomClick;
    QPushButton* top;
    QPushButton* bottom;
};

class Tfrm_miravox : public QWidget {
public:
    // `dialogs` shows every box; it must outlive the window.
    explicit Tfrm_miravox(miravox::DialogService& dialogs, QWidget* parent = nullptr);
    ~Tfrm_miravox() override;

    // ---- Lifecycle --------------------------------------------------------------------------
    void FormCreate();
    void FormActivate(); // first activation only; later calls do nothing
    // Decides a close request; true lets the window close (a confirmed shutdown).
    bool FormClose();
    void Label28Click(); // the title strip's "X": asks the window to close
    void LE_CONFIGURACAO();
    void SALVA_LOGS(const QString& message) { Log.SALVA_LOGS(message); }
    static QString version_title();

    // ---- Main tick and playout state ---------------------------------------------------------
    void Timer_sempreTimer(QObject* Sender);
    void Timer_play_VinhetasTimer(QObject* Sender);
    void Timer_UpdateDeviceTimer(QObject* Sender);
    void canal_vinhetasStop(QObject* Sender);
    void stop_and_free_all_channels();
    // How long the device refresh after a closing jingle waits for a commercial to end.
    static constexpr int kDeviceRefreshLongestWaitS = 300;
    // The ten timers of the window.
    std::vector<TThreadedTimer*> timers() const;

    // ---- Stream relay ------------------------------------------------------------------------
    void INICIA_WEB();
    void CONECTA_WEB();
    // The open of the link has come (on the main thread, after the web channel applied it).
    void conecta_web_opened(int code, bool hls_retry);
    void conecta_web_result();
    void Timer_ReconexaoTimer(QObject* Sender);
    void Canal_webStop(QObject* Sender);
    void FINALIZA_WEB();
    // The dead-air watch, every metering tick: true when it has just cut a silent stream.
    bool watch_stream_silence();
    // At start: refuses dead-air settings that would do harm, with the reason in the log.
    void check_silence_settings();

    // ---- Backup links (main_window_backup.cpp) -----------------------------------------------
    // Takes the links of the window `record` (main link, then its backups) for the relay.
    void arm_backup_links(const QString& record);
    // The link opened or relayed now; "" with no window.
    QString current_link() const;
    // The link on the air: the one relayed while the stream sounds, else "".
    QString link_on_air() const;
    // "principal" or "reserva N".
    QString link_role(int index) const;
    // The link in use was lost (`cause`): opens the next backup and returns true, or, with none
    // left, goes back to the main link for the reconnection countdown and returns false.
    bool try_next_link(const QString& cause);
    // A relayed stream has run dry while a backup is left: it is cut and the next link tried.
    bool fail_over_dry_stream();
    // Every half second: hears a preferred link in the background while a backup is on the air
    // and hands the air back to it once it has sounded steadily long enough.
    void watch_link_return();
    void stop_return_check();
    // The relay ended: no failover, no background check.
    void end_backup_links();
    // A backup is being opened after the link on the air was lost: local music waits for it.
    bool failing_over() const { return failing_over_; }
    // The air is being handed from the link on it to another (back to a preferred link, or on
    // to the next backup while a lost link's buffered audio still plays).
    bool handing_over() const { return handover_target_ >= 0; }

    // ---- Commercials and ramps ---------------------------------------------------------------
    void timer_DiminuirVolume_geralTimer(QObject* Sender);
    void timer_aumentarvolume_geralTimer(QObject* Sender);
    void timer_aumentarvolume_webTimer(QObject* Sender);
    void timer_DiminuirVolume_webTimer(QObject* Sender);
    void Timer_Play_ComercialTimer(QObject* Sender);
    void Canal_ComercialStop(QObject* Sender);
    // Writes the commercials report of the dates on the "Comercial" tab and shows its path.
    void BitBtnRelatorioClick();

    // ---- Local music -------------------------------------------------------------------------
    void bitbtn10Click(); // "Atualizar Lista": reads the music folder again, shuffled, and loads the first
    void bitbtn11Click(); // "Play": the operator starts the local music
    void bitbtn13Click(); // "Stop": the operator stops it and holds off the automatic fallback
    void PLAY_MUSICA_LOCAL();
    void Canal_MusicaStop(QObject* Sender);

    // ---- Status display ----------------------------------------------------------------------
    void timer_meterTimer(QObject* Sender);
    void COR_PAINEL(TPanel* Panel, bool State);
    void refresh_diagnostic_lines();
    void Canal_cueStop(QObject* Sender);

    // ---- Day lists and weekday files ---------------------------------------------------------
    void ATUALIZA_AGENDA();
    void CARREGA_GRADE_WEB();
    QString BUSCA_DISPARO(const QString& minute);
    void CARREGA_GRADE_DSP();
    // Colours a row of tesselGrid3: red when its date range is over, green before it begins.
    void tesselGrid3GetCellColor(int ARow, int ACol, QBrush& ABrush);
    QString weekday_file(int weekday, const QString& extension) const;

    // ---- Operator keys and manual control ----------------------------------------------------
    void FormKeyDown(int Key, Qt::KeyboardModifiers Shift);
    void PopupMenu1Popup(); // today's grid's menu opens: Play only on a link while idle, Stop while playing
    void Play1Click(); // "Play" of that menu: relays the clicked row's link by hand
    void Stop1Click(); // "Stop" of that menu: ends the relay by hand
    // F8 "Controle de Volume": ramps the general level down to the ducked level, or back up.
    void ControledeVolume1Click();
    void Configurao1Click(); // F10 "Configuração": the setup dialog (both only while unlocked)
    QString diagnostics_dump() const;

    // ---- Stream window editor ----------------------------------------------------------------
    void BitBtn32Click(); // "Adicionar": writes the edited window into the weekday's .WEB file
    void BitBtn31Click(); // "Play"/"Stop" beside the link: tests the link of Edit24 on the cue
    // Tests the backup link under the cursor of Edit25 (the first one) on the cue.
    void BitBtn34Click();
    void TESTA_LINK(const QString& link);
    void testa_link_opened(const QString& link, int code, bool hls_retry);
    void BitBtn33Click(); // "Excluir": deletes the window selected in tesselGrid2
    void EXCLUI_HORARIO_WEB(const QString& start);
    void tesselGrid2Click();    // shows the clicked window's jingles in Label16 and Label17
    void tesselGrid2DblClick(); // loads the clicked window into the editor's fields
    void BitBtn28Click(); // chooses the opening jingle file (Edit9)
    void BitBtn29Click(); // chooses the closing jingle file (Edit23)
    void BitBtn1Click();  // pre-listens to the opening jingle on the cue (also Label14's double click)
    void BitBtn2Click();  // pre-listens to the closing jingle on the cue
    void semanaChange();  // another weekday tab: shows that day's windows
    void BitBtn3ClickStreamTab(); // "Limpar" of the stream tab (BitBtn3): empties the editor

    // ---- Commercial trigger editor -----------------------------------------------------------
    void BitBtn5Click();  // "Adicionar": writes the edited trigger into the weekday's .DSP files
    void BitBtn14Click(); // "Excluir": deletes the trigger selected in tesselGrid3
    void EXCLUI_DISPARO(const QString& minute);
    void tesselGrid3DblClick(); // takes the clicked trigger's audio file into Edit3
    void BitBtn6Click(); // "Procurar": chooses the commercial's audio file (Edit3)
    void BitBtn8Click(); // "Play"/"Stop": pre-listens to the commercial on the cue
    void BitBtn3Click(); // "Limpar" of the commercial tab (wired to BitBtn12): empties the editor
    void PageControl4Change(); // another weekday tab: shows that day's triggers

    // ---- Access lock -------------------------------------------------------------------------
    void SpeedButton1Click(); // "OK" of the password panel (or Enter in Edit1): unlocks the tabs
    void apply_lock_state();

    // ---- Services and hooks ------------------------------------------------------------------
    miravox::DialogService& dialogs;
    // Opens the setup dialog (set by the program entry; tests may replace it).
    std::function<void()> open_setup_dialog;
    // Minimises the application (tests replace it to count the calls).
    std::function<void()> minimise_application;
    // Lets the window process its pending messages once.
    void process_messages();

    // ---- Channels ----------------------------------------------------------------------------
    TTesselBass* Canal_web = nullptr;
    TTesselBass* Canal_Comercial = nullptr;
    TTesselBass* Canal_Musica = nullptr;
    TTesselBass* canal_vinhetas = nullptr;
    TTesselBass* Canal_cue = nullptr;

    // ---- Timers ------------------------------------------------------------------------------
    TThreadedTimer* Timer_sempre = nullptr;
    TThreadedTimer* Timer_play_Vinhetas = nullptr;
    TThreadedTimer* Timer_UpdateDevice = nullptr;
    TThreadedTimer* Timer_Reconexao = nullptr;
    TThreadedTimer* timer_meter = nullptr;
    TThreadedTimer* Timer_Play_Comercial = nullptr;
    TThreadedTimer* timer_DiminuirVolume_geral = nullptr;
    TThreadedTimer* timer_aumentarvolume_geral = nullptr;
    TThreadedTimer* timer_DiminuirVolume_web = nullptr;
    TThreadedTimer* timer_aumentarvolume_web = nullptr;

    // ---- Playout state -----------------------------------------------------------------------
    miravox::OperationLog Log;
    miravox::SilenceWatch silence_watch;
    // Proof of play: each commercial's airing in the day's LOGS/YYYYMMDD.DSP.csv.
    miravox::ProofOfPlay proof_of_play;
    // What the station is doing, published for the status server, the alerts and the service
    // manager; none of them reads the window itself.
    miravox::StationState station_state;
    // Builds and publishes the snapshot; the first thing of every main tick.
    void publish_station_state();
    // Something happened to the air: counts it and posts it to the watchers.
    void station_event(miravox::StationEventKind kind, const QString& text, const QString& detail = {});
    miravox::StationPublisher station_publisher;
    // Tells someone (ALERTA_COMANDO) when the air is in trouble; none without a command.
    std::unique_ptr<miravox::AlertService> alerts;
    // Today's stream windows, one record per line of the weekday's .WEB file, sorted as text
    // (filled by ATUALIZA_AGENDA).
    QStringList wlista_horario;
    QDate WDATA_ATUAL; // the date the loaded lists belong to; a new day reloads them
    // The main tick has selected the window that contains the current time (the W* fields
    // below hold its record); false while idle between windows.
    bool WENCONTRADO_ACIONAMENTO = false;
    bool WACIONADO = false; // the selected window has been switched on (jingle or relay started)
    // The selected window's record: start and end HH:MM, stream link, opening and closing jingles.
    QString WHORA_ABRIR;
    QString WHORA_FECHAR;
    QString WWEB_PLAY;
    QString WAUDIO_ABRIR;
    QString WAUDIO_FECHAR;
    // End HH:MM of the window switched off last, so the same window is not switched off twice;
    // "---" after a selection, a switch-on or a change of date.
    QString WULTIMO_HORARIO;
    QTime WTIME_ACIONADO; // when the window was switched on (Label21 counts from here)
    QString WULTIMO_TIMEDSP; // the HH:MM whose commercial trigger was looked up last ("" at start)
    QString WPATH_AUDIODSP;  // the commercial due to play, waiting for the music to duck under it
    // State of the stream's open: 0 the link is open and playing; -1 nothing open and an open
    // wanted; 500 closed by the health check after an HLS stream stalled; any other value the
    // engine's error code of the failed open.
    int WERRO_WEB = -1;
    // Reconnection countdown in reconnection-timer ticks (half seconds): the link is opened when
    // it reaches 60, so the first tick after INICIA_WEB opens at once. CoolGauge1 shows it.
    int WTMP_RECONEXAO = 60;
    // Failed opens: at 50 the relay of the window ends; 10 or more stops the editor's link test.
    int WCT_ERROWEB = 0;
    // Reconnection ticks since the count was last cleared; above 360 it clears WCT_ERROWEB too,
    // so a stream that fails now and then is not given up for good.
    int WCT_TEMPOCONEXAO = 0;
    // Meter ticks in a row without download progress while the stream is not connected; above
    // 10 an HLS (.m3u8) stream is closed (WERRO_WEB = 500) and reopened.
    int WCT_ZEROPROGRESSO = 0;
    // Readiness counter, only ever set to 0; CONECTA_WEB skips an open only when the link is
    // open and it is 0. Shown in the diagnostics dump.
    int WCT_PRONTO = 0;
    int WMIN_POS = 0; // 50 once the meter has found the stream connected; diagnostics dump only
    // The operator stopped the local music (bitbtn13): the automatic fallback stays off until
    // they start it again or the next open of the stream link.
    bool WMUSICA_STOP = false;
    // Wrong passwords typed in the lock panel, never reset; from the third on, each one closes
    // (minimises) the window. Stops at its top rather than wrapping to zero.
    std::uint16_t WTENTATIVAS = 0;
    // -1 while the shutdown key asks the window to close.
    int Tag = 0;

    // ---- Widgets -----------------------------------------------------------------------------
    TPanel* Panel3 = nullptr;   // title strip
    QLabel* Label28 = nullptr;  // "X"
    QTabWidget* PageControl1 = nullptr; // the tabs: live view, stream editor, commercials, music
    QGroupBox* GroupBox1 = nullptr; // password panel
    QLabel* Label32 = nullptr; // "Digite a Senha:" above the password field
    QLineEdit* Edit1 = nullptr; // password field
    QPushButton* SpeedButton1 = nullptr; // "OK": tries the password
    TPanel* Panel13 = nullptr; // notices strip
    TTimeLabel* Label9 = nullptr; // clock

    // Live view ("Corvane")
    QLabel* Label10 = nullptr; // status line
    QLabel* Label6 = nullptr;  // link being relayed
    TTimeLabel* Label5 = nullptr; // start of the selected window
    TTimeLabel* Label12 = nullptr; // end of the selected window
    TTimeLabel* Label21 = nullptr; // "Tempo:" time since the window was switched on
    TTimeLabel* Label8 = nullptr; // "Última Atualização:" when today's list was last reloaded
    QLabel* Label3 = nullptr; // key hint "CTRL+Q = DESATIVAR  -  <F10>-CONFIG"
    TPanel* Panel11 = nullptr; // stream lamp
    TPanel* Panel14 = nullptr; // local music lamp
    TPanel* Panel19 = nullptr; // commercial lamp
    TRLed* Meter1 = nullptr; // "Nível": level of the sound on the air
    TRLed* VU_GERAL = nullptr; // "Geral": the general level the ramps set (WVOL_GERAL)
    // "Reconexão": the reconnection countdown, or what is left of the local track while the
    // stream waits for it; red while the relay waits, grey when stopped.
    TCoolGauge* CoolGauge1 = nullptr;
    TtesselGrid* tesselGrid1 = nullptr; // today's stream windows
    QWidget* diagnostics = nullptr; // frame of the five lines below, shown while tesselGrid1 is hidden
    // Diagnostic lines of the relay, refreshed by refresh_diagnostic_lines:
    QLabel* Label20 = nullptr; // WERRO_WEB, WCT_ERROWEB and the reconnection counters
    QLabel* Label2 = nullptr;  // music and commercial playing, the commercial timer's Tag, reconnection on
    QLabel* Label23 = nullptr; // the stream's download progress, its volume and the ramp levels
    QLabel* Label24 = nullptr; // the engine's buffer and handle error flags
    QLabel* Label31 = nullptr; // the commercial due to play (WPATH_AUDIODSP)
    QLabel* Image1 = nullptr; // the station's banner picture, hidden without one
    QPushButton* Button2 = nullptr; // "Atualizar Agenda"
    QMenu* PopupMenu1 = nullptr; // context menu of today's grid (tesselGrid1)
    QAction* Play1 = nullptr;    // its "Play"
    QAction* Stop1 = nullptr;    // its "Stop"
    QMenu* PopupMenu2 = nullptr; // the window's own menu, whose shortcuts work anywhere
    QAction* ControledeVolume1 = nullptr; // "Controle de Volume" (F8)
    QAction* Configurao1 = nullptr;       // "Configuração" (F10)

    // Stream window editor ("Streaming")
    QLineEdit* Edit24 = nullptr; // stream link
    QPushButton* BitBtn31 = nullptr; // link test on the cue: "Play" / "Stop"
    QLineEdit* Edit25 = nullptr; // backup links, separated by blanks
    QPushButton* BitBtn34 = nullptr; // tests a backup link on the cue
    QLineEdit* Edit9 = nullptr; // opening jingle
    QPushButton* BitBtn28 = nullptr; // chooses the opening jingle
    QPushButton* BitBtn1 = nullptr; // pre-listens to the opening jingle
    QLabel* Label14 = nullptr; // "Vinheta de Abertura:"; a double click pre-listens to it
    QLineEdit* Edit23 = nullptr; // closing jingle
    QPushButton* BitBtn29 = nullptr; // chooses the closing jingle
    QPushButton* BitBtn2 = nullptr; // pre-listens to the closing jingle
    QLineEdit* MaskEdit1 = nullptr; // start HH:MM:SS
    TSpinButton* RxSpinButton1 = nullptr; // steps the start time
    QLineEdit* MaskEdit2 = nullptr; // end HH:MM:SS
    TSpinButton* RxSpinButton2 = nullptr; // steps the end time
    QPushButton* BitBtn32 = nullptr; // adds the window
    QPushButton* BitBtn3 = nullptr; // "Limpar": empties the editor
    QTabBar* semana = nullptr; // weekday tabs of the stream editor
    TtesselGrid* tesselGrid2 = nullptr; // the chosen weekday's stream windows
    QLabel* Label16 = nullptr; // opening jingle of the clicked row
    QLabel* Label17 = nullptr; // closing jingle of the clicked row
    QPushButton* BitBtn33 = nullptr; // deletes the selected window
    TPanel* Panel9 = nullptr; // result of the link test
    TPanel* Panel8 = nullptr; // status strip of the stream editor ("Status", "LINK STREAMING")

    // Commercial trigger editor ("Comercial")
    QLineEdit* Edit3 = nullptr; // commercial audio file
    QPushButton* BitBtn6 = nullptr; // "Procurar": chooses the audio file
    QPushButton* BitBtn8 = nullptr; // "Play"/"Stop": pre-listens to it on the cue
    QLineEdit* MaskEdit3 = nullptr; // trigger time HH:MM:SS
    TSpinButton* JvSpinButton1 = nullptr; // steps the trigger time
    QDateEdit* DateEdit1 = nullptr; // first day of the range
    QDateEdit* DateEdit2 = nullptr; // last day of the range
    QPushButton* BitBtn5 = nullptr; // adds the trigger
    QPushButton* BitBtn12 = nullptr; // "Limpar": empties the editor (handler BitBtn3Click)
    QTabBar* PageControl4 = nullptr; // weekday tabs of the commercial editor
    TtesselGrid* tesselGrid3 = nullptr; // the chosen weekday's commercial triggers
    QPushButton* BitBtn14 = nullptr; // "Excluir": deletes the selected trigger
    TPanel* Panel18 = nullptr; // status strip of the commercial editor
    QPushButton* BitBtnRelatorio = nullptr; // "Relatório": the commercials report

    // Local music ("Músicas")
    TtesselGrid* Stringgrid2 = nullptr; // the music folder's files, shuffled: the order they play in
    QPushButton* bitbtn10 = nullptr; // "Atualizar Lista": reads the music folder again
    QPushButton* bitbtn11 = nullptr; // "Play": starts the local music (enabled while it is stopped)
    QPushButton* bitbtn13 = nullptr; // "Stop": stops it (enabled while it plays)

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void build_ui();
    void create_timers();
    void create_channels();
    TTesselBass* create_channel(int device, void (Tfrm_miravox::*on_stop)(QObject*));
    // A channel for links that are not the air's (a cue test, a background check, a link being
    // brought in): the network buffers of the web channel, and no say over its connection state.
    TTesselBass* create_link_channel(int device, void (Tfrm_miravox::*on_stop)(QObject*));
    void load_banner();
    void pre_listen(QLineEdit* edit, QPushButton* button);
    bool scheduled_file_found(const QString& what, const QString& path);
    void look_up_commercials(const QDateTime& now);
    void fill_stream_gap();
    void trigger_commercial(const QString& minute, qint64 late_s);
    void arm_device_refresh();
    void end_device_refresh();
    void start_return_check(int index);
    void return_check_opened(int index, int code);
    // A hand-over of the air to link `index`: it is opened on a second transmission channel
    // while the link on the air plays on, and the two cross-fade once it sounds. `back`: a
    // return to a preferred link; else a failover ahead of a lost link's last buffered audio.
    void begin_handover(int index, bool back);
    // The link on the air is gone while its buffered audio still plays: the next backup is
    // brought in beside it. True when the hand-over began.
    bool fail_over_ahead();
    void handover_opened(int index, int code);
    void handover_step();
    // The new link sounds at full level: it becomes the web channel, the old one is freed.
    void hand_over_air();
    // The hand-over failed (`why` for the log) or the relay ended: the link on the air keeps it.
    void abandon_handover(const QString& why);
    // The link `index` was lost: one lost soon after it got the air back waits longer next time.
    void note_link_lost(int index);
    void Canal_trocaStop(QObject* Sender);
    void show_link_on_air();

    // The device refresh after a closing jingle is dropped when it has not run by then.
    QDateTime device_refresh_deadline_;
    // The stream gap filler: local music put on the air while a relayed stream that was heard
    // has run dry, handed back when the stream has sounded again for a while.
    bool filling_stream_gap_ = false;
    bool stream_heard_ = false;
    int stream_sounding_ticks_ = 0;
    // The last minute whose commercial the tick looked up (invalid before the first).
    QDateTime last_minute_looked_up_;

    // Backup links: the window's links (main first), the one in use, and the background check
    // of a preferred one on a channel of its own on the silent device (never heard).
    QStringList relay_links_;
    int link_index_ = 0;
    bool failing_over_ = false;
    QString loss_cause_;
    TTesselBass* Canal_retorno = nullptr; // background check of a preferred link
    // A link being brought on the air beside the one on it, on the transmission device; it
    // becomes Canal_web once the cross-fade is over (the two swap).
    TTesselBass* Canal_troca = nullptr;
    QTimer* handover_timer_ = nullptr;
    QTimer* return_timer_ = nullptr;
    int checked_link_ = -1;
    qint64 check_sound_since_ms_ = 0;
    int check_last_position_ = -1;
    std::vector<qint64> next_check_ms_;
    std::vector<int> return_wait_factor_;
    std::vector<qint64> returned_at_ms_;
    int handover_target_ = -1; // the link the air is being handed to, while the other keeps it
    bool handover_back_ = false; // a return to a preferred link
    qint64 handover_started_ms_ = 0;
    qint64 handover_fade_started_ms_ = -1; // -1 until the new link sounds
    int handover_last_position_ = -1;
    float handover_fade_from_ = 0; // the backup's level when the cross-fade began

    // The clock-drift line of this window's relay is in the operation log (once per window).
    bool drift_logged_ = false;
    void log_clock_drift();

    bool activated_ = false;
    bool music_start_under_way_ = false;
    bool banner_loaded_ = false;
};

// Steps a masked HH:MM:SS edit by one hour (caret in the hours) or one minute (caret in the
// minutes or seconds); nothing with the caret before the first ":". Returns false when the
// text is not a time.
bool AJUSTA_HORA(QLineEdit* edit, bool up);

// A Windows colour value 0x00BBGGRR as a QColor.
QColor bgr_color(std::uint32_t bgr);

// A record's HH:MM read as a time of day (":00" appended); `fallback` when unreadable.
QTime schedule_time(const QString& hhmm, const QTime& fallback);
