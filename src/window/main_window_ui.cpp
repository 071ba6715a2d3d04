// The main window's widgets: what each control is called, what it says at creation, where it
// sits and which handler it calls. The look is a dark operator console: a dark blue title strip,
// the page control with the live view first, and a footer with the notices strip and the clock,
// which stay in sight while the window is locked.

#include "main_window.h"

#include "configuration.h"
#include "cool_gauge.h"
#include "dialog_service.h"
#include "file_lookup.h"
#include "rled.h"
#include "tessel_grid.h"
#include "window_drag.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <utility>

namespace miravox {
namespace {

// ---- Look ---------------------------------------------------------------------------------------

constexpr int kWindowWidth = 840;
constexpr int kWindowHeight = 624;
constexpr int kTitleHeight = 30;
constexpr int kRowHeight = 20;
constexpr int kBannerWidth = 699;
constexpr int kBannerHeight = 105;

const QColor kFace(0x1b, 0x20, 0x28);    // window
const QColor kSurface(0x24, 0x2b, 0x36); // status panel, group boxes
const QColor kField(0x10, 0x14, 0x1a);   // edits, grid cells
const QColor kButton(0x2f, 0x38, 0x46);
const QColor kText(0xe4, 0xe8, 0xee);
const QColor kDimText(0x93, 0x9e, 0xad);
const QColor kHighlight(0x2c, 0x5f, 0x9e);
const QColor kHeader(0x33, 0x3d, 0x4c);
const QColor kStatusText(0xf0, 0xc6, 0x74); // the status line until the relay first opens
const QColor kClockText(0x9c, 0xd8, 0xff);

constexpr std::uint32_t kTitleBlue = 0x6B2A10; // dark blue face of the title strip
constexpr std::uint32_t kLampOff = 0x002D00;   // dark green: the channel is not started
constexpr std::uint32_t kStatusStrip = 0x2B2419;
constexpr std::uint32_t kGaugeIdle = 0x808080;

const QStringList kWeekdays{"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};
const QString kGridHint = QStringLiteral("Duplo Click\nVisualiza dados Completos");
const QString kTimeMask = QStringLiteral("99:99:99");

QPalette console_palette() {
    QPalette p;
    p.setColor(QPalette::Window, kFace);
    p.setColor(QPalette::WindowText, kText);
    p.setColor(QPalette::Base, kField);
    p.setColor(QPalette::AlternateBase, kSurface);
    p.setColor(QPalette::Text, kText);
    p.setColor(QPalette::PlaceholderText, kDimText);
    p.setColor(QPalette::Button, kButton);
    p.setColor(QPalette::ButtonText, kText);
    p.setColor(QPalette::Highlight, kHighlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, kSurface);
    p.setColor(QPalette::ToolTipText, kText);
    p.setColor(QPalette::Light, kButton.lighter(140));
    p.setColor(QPalette::Midlight, kButton.lighter(115));
    p.setColor(QPalette::Mid, kButton.darker(130));
    p.setColor(QPalette::Dark, kField);
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, kDimText.darker(140));
    p.setColor(QPalette::Disabled, QPalette::Button, kSurface);
    return p;
}

void set_text_colour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}

void fill_background(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void set_font(QWidget* w, int pixel_size, bool bold, const QString& family = {}) {
    QFont f = w->font();
    if (!family.isEmpty())
        f.setFamily(family);
    f.setPixelSize(pixel_size);
    f.setBold(bold);
    w->setFont(f);
}

template <class T> T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* label(const char* name, const QString& caption) {
    return named(new QLabel(caption), name);
}

// A caption without a name of its own.
QLabel* caption(const QString& text, bool dim = false) {
    auto* l = new QLabel(text);
    if (dim)
        set_text_colour(l, kDimText);
    return l;
}

QPushButton* button(const char* name, const QString& text, const QString& hint = {}) {
    auto* b = named(new QPushButton(text), name);
    b->setToolTip(hint);
    b->setAutoDefault(false);
    return b;
}

QLineEdit* edit(const char* name) {
    return named(new QLineEdit, name);
}

QLineEdit* time_edit(const char* name, const QString& initial) {
    auto* e = edit(name);
    e->setInputMask(kTimeMask);
    e->setText(initial);
    e->setFixedWidth(76);
    e->setAlignment(Qt::AlignCenter);
    return e;
}

QDateEdit* date_edit(const char* name) {
    auto* d = named(new QDateEdit, name);
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    d->setFixedWidth(112);
    return d;
}

QTabBar* weekday_tabs(const char* name) {
    auto* tabs = named(new QTabBar, name);
    for (const QString& day : kWeekdays)
        tabs->addTab(day);
    tabs->setExpanding(false);
    tabs->setDrawBase(false);
    return tabs;
}

TPanel* status_strip(const char* name, const QString& text) {
    auto* p = named(new TPanel(text), name);
    p->setColor(kStatusStrip);
    p->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    p->setIndent(8);
    p->setMinimumHeight(24);
    return p;
}

// A schedule list: one header row, no fixed column, whole rows selected, vertical scroll only.
TtesselGrid* schedule_grid(const char* name, const QList<std::pair<QString, int>>& columns,
                           const QString& hint) {
    auto* g = named(new TtesselGrid, name);
    g->setColCount(int(columns.size()));
    g->setRowCount(2);
    g->setFixedCols(0);
    g->setFixedRows(1);
    g->setDefaultRowHeight(kRowHeight);
    for (int c = 0; c < columns.size(); ++c) {
        g->setColWidths(c, columns[c].second);
        g->setCells(c, 0, columns[c].first);
    }
    g->setOptions(g->Options() | goRowSelect);
    g->setScrollBars(ssVertical);
    g->setColor(kField);
    g->setFixedColor(kHeader);
    g->setFontColor(kText);
    g->setToolTip(hint);
    return g;
}

// A row of controls; a null entry is a stretch.
QWidget* row(std::initializer_list<QWidget*> widgets) {
    auto* w = new QWidget;
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(6);
    for (QWidget* child : widgets) {
        if (child)
            l->addWidget(child);
        else
            l->addStretch(1);
    }
    return w;
}

QWidget* vertical_page() {
    auto* page = new QWidget;
    auto* l = new QVBoxLayout(page);
    l->setContentsMargins(8, 8, 8, 8);
    l->setSpacing(6);
    return page;
}

QVBoxLayout* vlayout(QWidget* w) {
    return static_cast<QVBoxLayout*>(w->layout());
}

// ---- Behaviour helpers ----------------------------------------------------------------------------

// Calls `on_event` for every event of `type` that `watched` receives (left button only for
// mouse events) and consumes it.
class EventHook final : public QObject {
public:
    EventHook(QObject* watched, QEvent::Type type, std::function<void()> on_event)
        : QObject(watched), type_(type), on_event_(std::move(on_event)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != type_)
            return false;
        if (auto* mouse = dynamic_cast<QMouseEvent*>(event); mouse && mouse->button() != Qt::LeftButton)
            return false;
        on_event_();
        return true;
    }

private:
    QEvent::Type type_;
    std::function<void()> on_event_;
};

// Keeps `follower` visible exactly while `watched` is hidden (explicitly, not because a parent
// is): the diagnostic lines take the place of the today grid, the password panel that of the
// page control.
class ShownWhileHidden final : public QObject {
public:
    ShownWhileHidden(QWidget* watched, QWidget* follower, std::function<void()> on_shown = {})
        : QObject(watched), watched_(watched), follower_(follower), on_shown_(std::move(on_shown)) {
        watched->installEventFilter(this);
        follower_->setVisible(watched_->isHidden());
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::HideToParent || event->type() == QEvent::ShowToParent) {
            const bool show = watched_->isHidden();
            follower_->setVisible(show);
            if (show && on_shown_)
                on_shown_();
        }
        return false;
    }

private:
    QWidget* watched_;
    QWidget* follower_;
    std::function<void()> on_shown_;
};

void on_click(QPushButton* b, std::function<void()> handler) {
    QObject::connect(b, &QPushButton::clicked, b, [handler = std::move(handler)] { handler(); });
}

// ---- Title strip ----------------------------------------------------------------------------------

void build_title(Tfrm_miravox& w) {
    w.Panel3 = named(new TPanel, "Panel3");
    w.Panel3->setColor(kTitleBlue);
    w.Panel3->setFixedHeight(kTitleHeight);
    w.Panel3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    w.Panel3->setIndent(12);
    set_font(w.Panel3, 14, true);
    set_text_colour(w.Panel3, Qt::white);

    w.Label28 = label("Label28", "X");
    w.Label28->setAlignment(Qt::AlignCenter);
    w.Label28->setFixedSize(kTitleHeight + 6, kTitleHeight);
    w.Label28->setCursor(Qt::PointingHandCursor);
    set_font(w.Label28, 15, true);
    set_text_colour(w.Label28, Qt::white);

    auto* l = new QHBoxLayout(w.Panel3);
    l->setContentsMargins(0, 0, 0, 0);
    l->addStretch(1);
    l->addWidget(w.Label28);
}

// ---- Live view ("Corvane") ---------------------------------------------------------------------

TPanel* lamp(const char* name) {
    auto* p = named(new TPanel, name);
    p->setColor(kLampOff);
    p->setFixedSize(22, 14);
    p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return p;
}

// A fixed size keeps the every-second text change from asking the layouts around it (and the
// tab widget, which repaints itself whole on a layout request) to lay out again.
TTimeLabel* time_label(const char* name, int pixel_size) {
    auto* l = named(new TTimeLabel("00:00:00"), name);
    set_font(l, pixel_size, true, QStringLiteral("DejaVu Sans Mono"));
    l->setFixedSize(l->sizeHint());
    return l;
}

TTimeLabel* time_value(const char* name) {
    return time_label(name, 13);
}

// Status line, link, stream level, reconnection gauge and the window's times.
QLayout* build_playout_state(Tfrm_miravox& w) {
    w.Label10 = label("Label10", "Status");
    set_font(w.Label10, 20, true);
    set_text_colour(w.Label10, kStatusText);
    w.Label10->setMinimumWidth(10);

    w.Label6 = label("Label6", "Status");
    set_text_colour(w.Label6, kDimText);
    w.Label6->setMinimumWidth(10);
    w.Label6->setTextInteractionFlags(Qt::TextSelectableByMouse);

    w.Meter1 = named(new TRLed, "Meter1");
    w.Meter1->setOrientation(trHorizontal);
    w.Meter1->setFixedSize(302, 23); // sized before the bar size, which must fit
    w.Meter1->setBarSize(3);

    w.CoolGauge1 = named(new TCoolGauge, "CoolGauge1");
    w.CoolGauge1->setFixedSize(302, 18);
    w.CoolGauge1->setMaxValue(60);
    w.CoolGauge1->setBackColor(bgr_color(kGaugeIdle));
    w.CoolGauge1->setForeColor1(QColor(0, 160, 80));
    w.CoolGauge1->setForeColor2(QColor(255, 210, 0));
    w.CoolGauge1->setFontColor(Qt::black);

    auto* levels = new QGridLayout;
    levels->setHorizontalSpacing(8);
    levels->setVerticalSpacing(6);
    levels->addWidget(caption("Nível", true), 0, 0);
    levels->addWidget(w.Meter1, 0, 1);
    levels->addWidget(caption("Reconexão", true), 1, 0);
    levels->addWidget(w.CoolGauge1, 1, 1);
    levels->setColumnStretch(2, 1);

    w.Label5 = time_value("Label5");
    w.Label12 = time_value("Label12");
    w.Label21 = time_value("Label21");
    auto* times = new QHBoxLayout;
    times->setSpacing(8);
    for (const auto& [text, value] :
         {std::pair{"Início:", w.Label5}, {"Término:", w.Label12}, {"Tempo:", w.Label21}}) {
        times->addWidget(caption(QString::fromUtf8(text), true));
        times->addWidget(value);
    }
    times->addStretch(1);

    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    column->addWidget(w.Label10);
    column->addWidget(w.Label6);
    column->addSpacing(4);
    column->addLayout(levels);
    column->addLayout(times);
    column->addStretch(1);
    return column;
}

// The channel lamps, and the reload of today's list with its time.
QLayout* build_lamps_and_reload(Tfrm_miravox& w) {
    w.Panel11 = lamp("Panel11");
    w.Panel14 = lamp("Panel14");
    w.Panel19 = lamp("Panel19");
    auto* lamps = new QGridLayout;
    lamps->setHorizontalSpacing(8);
    lamps->setVerticalSpacing(6);
    int r = 0;
    for (const auto& [panel, text] :
         {std::pair{w.Panel11, "Streaming"}, {w.Panel14, "Música"}, {w.Panel19, "Comercial"}}) {
        lamps->addWidget(panel, r, 0);
        lamps->addWidget(caption(QString::fromUtf8(text)), r++, 1);
    }

    w.Label8 = time_value("Label8");
    auto* updated = new QHBoxLayout;
    updated->setSpacing(6);
    updated->addWidget(caption("Última Atualização:", true));
    updated->addWidget(w.Label8);
    updated->addStretch(1);
    w.Button2 = button("Button2", "Atualizar Agenda");

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addLayout(lamps);
    column->addStretch(1);
    column->addLayout(updated);
    column->addWidget(w.Button2);
    return column;
}

QLayout* build_general_level(Tfrm_miravox& w) {
    w.VU_GERAL = named(new TRLed, "VU_GERAL");
    w.VU_GERAL->setFixedSize(26, 122);
    w.VU_GERAL->setBarSize(10);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(w.VU_GERAL, 0, Qt::AlignHCenter);
    column->addWidget(caption("Geral", true), 0, Qt::AlignHCenter);
    column->addStretch(1);
    return column;
}

QWidget* build_status_panel(Tfrm_miravox& w) {
    auto* panel = named(new QFrame, "status_panel");
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    fill_background(panel, kSurface);

    auto* top = new QHBoxLayout;
    top->setSpacing(18);
    top->addLayout(build_playout_state(w), 1);
    top->addLayout(build_lamps_and_reload(w));
    top->addLayout(build_general_level(w));

    w.Label3 = label("Label3", "CTRL+Q = DESATIVAR  -  <F10>-CONFIG");
    w.Label3->setToolTip(w.Label3->text());
    set_text_colour(w.Label3, kDimText);
    set_font(w.Label3, 11, false);

    auto* outer = new QVBoxLayout(panel);
    outer->setContentsMargins(12, 8, 12, 6);
    outer->setSpacing(4);
    outer->addLayout(top);
    outer->addWidget(w.Label3);
    return panel;
}

QWidget* build_diagnostics(Tfrm_miravox& w) {
    w.diagnostics = named(new QFrame, "diagnostics");
    fill_background(w.diagnostics, kField);
    auto* l = new QVBoxLayout(w.diagnostics);
    l->setContentsMargins(10, 8, 10, 8);
    l->setSpacing(6);
    QLabel** lines[] = {&w.Label20, &w.Label2, &w.Label23, &w.Label24, &w.Label31};
    const char* names[] = {"Label20", "Label2", "Label23", "Label24", "Label31"};
    for (int i = 0; i < 5; ++i) {
        *lines[i] = label(names[i], "Status");
        set_font(*lines[i], 12, false, QStringLiteral("DejaVu Sans Mono"));
        (*lines[i])->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->addWidget(*lines[i]);
    }
    l->addStretch(1);
    return w.diagnostics;
}

QWidget* build_live_tab(Tfrm_miravox& w) {
    QWidget* page = vertical_page();
    vlayout(page)->addWidget(build_status_panel(w));

    w.tesselGrid1 = schedule_grid("tesselGrid1",
                                  {{"Início", 64}, {"Término", 71}, {"Descrição do Evento (Streaming)", 615}},
                                  "Botão Direito do Mouse (Play / Stop Manual)");
    vlayout(page)->addWidget(w.tesselGrid1, 1);
    vlayout(page)->addWidget(build_diagnostics(w), 1);

    w.Image1 = label("Image1", {});
    w.Image1->setFixedSize(kBannerWidth, kBannerHeight);
    w.Image1->setScaledContents(true);
    w.Image1->setToolTip("Banner 100x700");
    vlayout(page)->addWidget(w.Image1, 0, Qt::AlignHCenter);

    w.PopupMenu1 = named(new QMenu(&w), "PopupMenu1");
    w.Play1 = named(w.PopupMenu1->addAction("Play"), "Play1");
    w.Stop1 = named(w.PopupMenu1->addAction("Stop"), "Stop1");
    w.tesselGrid1->setPopupMenu(w.PopupMenu1);
    return page;
}

// ---- Stream window editor ("Streaming") --------------------------------------------------------

QWidget* build_stream_tab(Tfrm_miravox& w) {
    QWidget* page = vertical_page();
    auto* form = new QGridLayout;
    form->setHorizontalSpacing(8);
    form->setVerticalSpacing(6);

    w.Edit24 = edit("Edit24");
    w.BitBtn31 = button("BitBtn31", "Play", "Testar LINK");
    form->addWidget(caption("Link Padrão (ShoutCast / IceCast)"), 0, 0, 1, 4);
    form->addWidget(w.Edit24, 1, 0, 1, 3);
    form->addWidget(w.BitBtn31, 1, 3);

    w.Edit25 = edit("Edit25");
    w.Edit25->setToolTip("Links de reserva, separados por espaço, na ordem em que são tentados");
    w.BitBtn34 = button("BitBtn34", "Play", "Testar o LINK de reserva sob o cursor");
    form->addWidget(caption("Links de Reserva:"), 4, 0);
    form->addWidget(w.Edit25, 4, 1, 1, 2);
    form->addWidget(w.BitBtn34, 4, 3);

    w.Edit9 = edit("Edit9");
    w.BitBtn28 = button("BitBtn28", "Procurar");
    w.BitBtn1 = button("BitBtn1", "Play", "Testar áudio");
    form->addWidget(caption("Vinheta de Abertura:"), 2, 0);
    form->addWidget(w.Edit9, 2, 1);
    form->addWidget(w.BitBtn28, 2, 2);
    form->addWidget(w.BitBtn1, 2, 3);

    w.Edit23 = edit("Edit23");
    w.BitBtn29 = button("BitBtn29", "Procurar");
    w.BitBtn2 = button("BitBtn2", "Play", "Testar áudio");
    form->addWidget(caption("Vinheta Fechamento:"), 3, 0);
    form->addWidget(w.Edit23, 3, 1);
    form->addWidget(w.BitBtn29, 3, 2);
    form->addWidget(w.BitBtn2, 3, 3);
    form->setColumnStretch(1, 1);
    vlayout(page)->addLayout(form);

    w.MaskEdit1 = time_edit("MaskEdit1", "19:00:00");
    w.RxSpinButton1 = named(new TSpinButton, "RxSpinButton1");
    w.MaskEdit2 = time_edit("MaskEdit2", "20:00:00");
    w.RxSpinButton2 = named(new TSpinButton, "RxSpinButton2");
    w.BitBtn32 = button("BitBtn32", "Adicionar", "Adiciona link no horário especificado");
    w.BitBtn3 = button("BitBtn3", "Limpar");
    vlayout(page)->addWidget(row({caption("Início"), w.MaskEdit1, w.RxSpinButton1, caption("   Término"),
                                  w.MaskEdit2, w.RxSpinButton2, nullptr, w.BitBtn32, w.BitBtn3}));

    w.Panel8 = status_strip("Panel8", "Status");
    vlayout(page)->addWidget(w.Panel8);

    w.semana = weekday_tabs("semana");
    w.tesselGrid2 =
        schedule_grid("tesselGrid2",
                      {{"Início", 64}, {"Término", 71}, {"Descrição do Evento (Streaming)", 606}}, kGridHint);
    auto* days = new QVBoxLayout;
    days->setSpacing(0);
    days->addWidget(w.semana);
    days->addWidget(w.tesselGrid2, 1);
    vlayout(page)->addLayout(days, 1);

    w.Label14 = label("Label14", "Vinheta de Abertura:");
    w.Label14->setToolTip("Duplo Click: ouvir a vinheta de abertura");
    w.Label16 = label("Label16", "Status");
    w.Label17 = label("Label17", "Status");
    for (QLabel* path : {w.Label16, w.Label17}) {
        set_text_colour(path, kDimText);
        path->setMinimumWidth(10);
    }
    auto* jingles = new QGridLayout;
    jingles->setHorizontalSpacing(8);
    jingles->setVerticalSpacing(2);
    jingles->addWidget(w.Label14, 0, 0);
    jingles->addWidget(w.Label16, 0, 1);
    jingles->addWidget(caption("Vinheta Fechamento:"), 1, 0);
    jingles->addWidget(w.Label17, 1, 1);
    jingles->setColumnStretch(1, 1);
    vlayout(page)->addLayout(jingles);

    w.BitBtn33 = button("BitBtn33", "Excluir", "Exclui a PROGRAMAÇÃO selecionada");
    w.Panel9 = status_strip("Panel9", "Status");
    auto* bottom = row({w.BitBtn33, w.Panel9});
    static_cast<QHBoxLayout*>(bottom->layout())->setStretch(1, 1);
    vlayout(page)->addWidget(bottom);
    return page;
}

// ---- Commercial trigger editor ("Comercial") ---------------------------------------------------

QWidget* build_commercial_tab(Tfrm_miravox& w) {
    QWidget* page = vertical_page();

    w.Edit3 = edit("Edit3");
    w.BitBtn6 = button("BitBtn6", "Procurar");
    w.BitBtn8 = button("BitBtn8", "Play", "Testar LINK");
    auto* audio = row({caption("Áudio:"), w.Edit3, w.BitBtn6, w.BitBtn8});
    static_cast<QHBoxLayout*>(audio->layout())->setStretch(1, 1);
    vlayout(page)->addWidget(audio);

    w.MaskEdit3 = time_edit("MaskEdit3", {});
    w.JvSpinButton1 = named(new TSpinButton, "JvSpinButton1");
    w.DateEdit1 = date_edit("DateEdit1");
    w.DateEdit2 = date_edit("DateEdit2");
    w.BitBtn5 = button("BitBtn5", "Adicionar", "Adicionar programação de áudio");
    w.BitBtn12 = button("BitBtn12", "Limpar");
    vlayout(page)->addWidget(
        row({caption("Horário:"), w.MaskEdit3, w.JvSpinButton1, caption("   Data Inicial:"), w.DateEdit1,
             caption("   Data Final:"), w.DateEdit2, nullptr, w.BitBtn5, w.BitBtn12}));

    w.PageControl4 = weekday_tabs("PageControl4");
    w.tesselGrid3 = schedule_grid(
        "tesselGrid3",
        {{"Horário", 62}, {"Data/Inicial", 79}, {"Data/Final", 80}, {"Descrição do Disparo", 588}},
        kGridHint);
    auto* days = new QVBoxLayout;
    days->setSpacing(0);
    days->addWidget(w.PageControl4);
    days->addWidget(w.tesselGrid3, 1);
    vlayout(page)->addLayout(days, 1);

    w.BitBtn14 = button("BitBtn14", "Excluir", "Exclui a PROGRAMAÇÃO selecionada");
    w.Panel18 = status_strip("Panel18", "Status");
    w.BitBtnRelatorio = button("BitBtnRelatorio", "Relatório",
                               "Relatório dos comerciais exibidos entre a Data Inicial e a Data Final");
    auto* bottom = row({w.BitBtn14, w.Panel18, w.BitBtnRelatorio});
    static_cast<QHBoxLayout*>(bottom->layout())->setStretch(1, 1);
    vlayout(page)->addWidget(bottom);
    return page;
}

// ---- Local music ("Músicas") ---------------------------------------------------------------------

QWidget* build_music_tab(Tfrm_miravox& w) {
    QWidget* page = vertical_page();
    // One column as wide as the list, less its scroll bar.
    const int column = kWindowWidth - 2 * 8 - 2 * 8 - 22;
    w.Stringgrid2 = schedule_grid("Stringgrid2", {{"Descrição das Músicas", column}}, {});
    vlayout(page)->addWidget(w.Stringgrid2, 1);

    w.bitbtn10 = button("bitbtn10", "Atualizar Lista", "Atualiza a Lista de Músicas");
    w.bitbtn11 = button("bitbtn11", "Play", "Play");
    w.bitbtn13 = button("bitbtn13", "Stop", "Stop");
    w.bitbtn11->setEnabled(false);
    w.bitbtn13->setEnabled(false);
    vlayout(page)->addWidget(row({w.bitbtn10, nullptr, w.bitbtn11, w.bitbtn13}));
    return page;
}

// ---- Password panel ---------------------------------------------------------------------------------

QWidget* build_lock_area(Tfrm_miravox& w) {
    w.GroupBox1 = named(new QGroupBox("<Senha>"), "GroupBox1");
    w.GroupBox1->setFixedSize(300, 110);
    w.Label32 = label("Label32", "Digite a Senha:");
    w.Edit1 = edit("Edit1");
    w.Edit1->setEchoMode(QLineEdit::Password);
    w.SpeedButton1 = button("SpeedButton1", "OK");
    w.SpeedButton1->setFixedWidth(56);
    auto* l = new QGridLayout(w.GroupBox1);
    l->setContentsMargins(14, 16, 14, 14);
    l->addWidget(w.Label32, 0, 0, 1, 2);
    l->addWidget(w.Edit1, 1, 0);
    l->addWidget(w.SpeedButton1, 1, 1);

    auto* area = new QWidget;
    auto* centre = new QGridLayout(area);
    centre->addWidget(w.GroupBox1, 0, 0, Qt::AlignCenter);
    return area;
}

// ---- Footer -------------------------------------------------------------------------------------------

QWidget* build_footer(Tfrm_miravox& w) {
    w.Panel13 = status_strip("Panel13", {});
    w.Label9 = time_label("Label9", 18);
    set_text_colour(w.Label9, kClockText);
    auto* footer = row({w.Panel13, w.Label9});
    static_cast<QHBoxLayout*>(footer->layout())->setStretch(0, 1);
    footer->layout()->setContentsMargins(8, 0, 10, 6);
    footer->layout()->setSpacing(12);
    return footer;
}

// ---- Wiring ---------------------------------------------------------------------------------------------

void wire_live_view(Tfrm_miravox& w) {
    new EventHook(w.Label28, QEvent::MouseButtonRelease, [&w] { w.Label28Click(); });
    on_click(w.Button2, [&w] { w.ATUALIZA_AGENDA(); });

    QObject::connect(w.PopupMenu1, &QMenu::aboutToShow, &w, [&w] { w.PopupMenu1Popup(); });
    QObject::connect(w.Play1, &QAction::triggered, &w, [&w] { w.Play1Click(); });
    QObject::connect(w.Stop1, &QAction::triggered, &w, [&w] { w.Stop1Click(); });

    // The window's own menu; its shortcuts work anywhere in the window.
    w.PopupMenu2 = named(new QMenu(&w), "PopupMenu2");
    w.ControledeVolume1 = named(w.PopupMenu2->addAction("Controle de Volume"), "ControledeVolume1");
    w.ControledeVolume1->setShortcut(Qt::Key_F8);
    w.Configurao1 = named(w.PopupMenu2->addAction("Configuração"), "Configurao1");
    w.Configurao1->setShortcut(Qt::Key_F10);
    w.addAction(w.ControledeVolume1);
    w.addAction(w.Configurao1);
    QObject::connect(w.ControledeVolume1, &QAction::triggered, &w, [&w] { w.ControledeVolume1Click(); });
    QObject::connect(w.Configurao1, &QAction::triggered, &w, [&w] { w.Configurao1Click(); });

    new ShownWhileHidden(w.tesselGrid1, w.diagnostics);
}

void wire_spin(TSpinButton* spin, QLineEdit* time) {
    spin->OnTopClick = [time] { AJUSTA_HORA(time, true); };
    spin->OnBottomClick = [time] { AJUSTA_HORA(time, false); };
}

void wire_stream_editor(Tfrm_miravox& w) {
    on_click(w.BitBtn31, [&w] { w.BitBtn31Click(); });
    on_click(w.BitBtn34, [&w] { w.BitBtn34Click(); });
    on_click(w.BitBtn28, [&w] { w.BitBtn28Click(); });
    on_click(w.BitBtn1, [&w] { w.BitBtn1Click(); });
    on_click(w.BitBtn29, [&w] { w.BitBtn29Click(); });
    on_click(w.BitBtn2, [&w] { w.BitBtn2Click(); });
    on_click(w.BitBtn32, [&w] { w.BitBtn32Click(); });
    on_click(w.BitBtn3, [&w] { w.BitBtn3ClickStreamTab(); });
    on_click(w.BitBtn33, [&w] { w.BitBtn33Click(); });
    wire_spin(w.RxSpinButton1, w.MaskEdit1);
    wire_spin(w.RxSpinButton2, w.MaskEdit2);
    new EventHook(w.Label14, QEvent::MouseButtonDblClick, [&w] { w.BitBtn1Click(); });
    QObject::connect(w.semana, &QTabBar::currentChanged, &w, [&w] { w.semanaChange(); });
    w.tesselGrid2->OnClick = [&w](QObject*) { w.tesselGrid2Click(); };
    w.tesselGrid2->OnDblClick = [&w](QObject*) { w.tesselGrid2DblClick(); };
}

void wire_commercial_editor(Tfrm_miravox& w) {
    on_click(w.BitBtn6, [&w] { w.BitBtn6Click(); });
    on_click(w.BitBtn8, [&w] { w.BitBtn8Click(); });
    on_click(w.BitBtn5, [&w] { w.BitBtn5Click(); });
    on_click(w.BitBtn12, [&w] { w.BitBtn3Click(); });
    on_click(w.BitBtn14, [&w] { w.BitBtn14Click(); });
    on_click(w.BitBtnRelatorio, [&w] { w.BitBtnRelatorioClick(); });
    wire_spin(w.JvSpinButton1, w.MaskEdit3);
    QObject::connect(w.PageControl4, &QTabBar::currentChanged, &w, [&w] { w.PageControl4Change(); });
    w.tesselGrid3->OnDblClick = [&w](QObject*) { w.tesselGrid3DblClick(); };
    w.tesselGrid3->OnGetCellColor = [&w](QObject*, int ARow, int ACol, TGridDrawState, QBrush& ABrush,
                                         miravox::CanvasFont&) {
        w.tesselGrid3GetCellColor(ARow, ACol, ABrush);
    };
}

void wire_music(Tfrm_miravox& w) {
    on_click(w.bitbtn10, [&w] { w.bitbtn10Click(); });
    on_click(w.bitbtn11, [&w] { w.bitbtn11Click(); });
    on_click(w.bitbtn13, [&w] { w.bitbtn13Click(); });
}

void wire_lock(Tfrm_miravox& w, QWidget* lock_area) {
    on_click(w.SpeedButton1, [&w] { w.SpeedButton1Click(); });
    QObject::connect(w.Edit1, &QLineEdit::returnPressed, &w, [&w] { w.SpeedButton1Click(); });
    QLineEdit* password = w.Edit1;
    new ShownWhileHidden(w.PageControl1, lock_area, [password] { password->setFocus(); });
}

void centre_on_screen(QWidget& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame(QPoint(), window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

} // namespace
} // namespace miravox

using namespace miravox;

// ---- TPanel and TSpinButton ---------------------------------------------------------------------------

TPanel::TPanel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setAlignment(Qt::AlignCenter);
}

void TPanel::setColor(std::uint32_t bgr) {
    // The lamps are set on every main tick; a new palette costs a propagation to the children.
    if (bgr == color_ && autoFillBackground())
        return;
    color_ = bgr;
    const QColor face = bgr_color(bgr);
    QPalette p = palette();
    p.setColor(QPalette::Window, face);
    // Keep the caption readable on any face: dark text on light faces (the orange notice
    // strip, a lit lamp), light text on the dark ones.
    p.setColor(QPalette::WindowText, face.lightness() > 150 ? QColor(Qt::black) : kText);
    setPalette(p);
    setAutoFillBackground(true);
}

TSpinButton::TSpinButton(QWidget* parent) : QWidget(parent) {
    top = new QPushButton(QStringLiteral("▲"), this);
    bottom = new QPushButton(QStringLiteral("▼"), this);
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(1);
    for (QPushButton* b : {top, bottom}) {
        // The time edit keeps the focus and its caret, which decides what a click steps.
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        b->setAutoDefault(false);
        b->setFixedSize(20, 12);
        QFont f = b->font();
        f.setPixelSize(7);
        b->setFont(f);
        l->addWidget(b);
    }
    connect(top, &QPushButton::clicked, this, [this] {
        if (OnTopClick)
            OnTopClick();
    });
    connect(bottom, &QPushButton::clicked, this, [this] {
        if (OnBottomClick)
            OnBottomClick();
    });
}

// ---- The window -----------------------------------------------------------------------------------------

void Tfrm_miravox::build_ui() {
    setObjectName(QStringLiteral("frm_miravox"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setWindowTitle(kApplicationTitle);
    setPalette(console_palette());
    setAutoFillBackground(true);
    QFont base = font();
    base.setPixelSize(12);
    setFont(base);
    setFixedSize(kWindowWidth, kWindowHeight);
    centre_on_screen(*this);

    build_title(*this);

    PageControl1 = named(new QTabWidget, "PageControl1");
    PageControl1->setAutoFillBackground(true);
    PageControl1->setDocumentMode(false);
    PageControl1->addTab(build_live_tab(*this), "Corvane");
    PageControl1->addTab(build_stream_tab(*this), "Streaming");
    PageControl1->addTab(build_commercial_tab(*this), "Comercial");
    PageControl1->addTab(build_music_tab(*this), QStringLiteral("Músicas"));

    // The password panel lies in the page control's place and shows while it is hidden.
    QWidget* lock_area = build_lock_area(*this);
    auto* body = new QGridLayout;
    body->setContentsMargins(6, 6, 6, 4);
    body->addWidget(lock_area, 0, 0);
    body->addWidget(PageControl1, 0, 0);

    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    l->addWidget(Panel3);
    l->addLayout(body, 1);
    l->addWidget(build_footer(*this));

    wire_live_view(*this);
    wire_stream_editor(*this);
    wire_commercial_editor(*this);
    wire_music(*this);
    wire_lock(*this, lock_area);
}

void Tfrm_miravox::load_banner() {
    // The exact name first; a station may have saved it as "logo.jpg".
    const QString path = miravox::find_file(WPATH_DADOS, QStringLiteral("LOGO.JPG"));
    QPixmap picture;
    banner_loaded_ = !path.isEmpty() && picture.load(path);
    if (banner_loaded_) {
        Image1->setPixmap(picture);
        Image1->show();
    } else {
        if (!path.isEmpty())
            SALVA_LOGS("Imagem " + path + " não pôde ser carregada");
        Image1->clear();
        Image1->hide(); // the today grid takes its height
    }
}

// A press on the title strip itself (not on its "X") moves the window, as a caption would.
void Tfrm_miravox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && childAt(event->position().toPoint()) == Panel3) {
        miravox::drag_window(this, event->globalPosition());
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

// Right clicks that no control takes open the window's own menu.
void Tfrm_miravox::contextMenuEvent(QContextMenuEvent* event) {
    PopupMenu2->exec(event->globalPos());
    event->accept();
}
