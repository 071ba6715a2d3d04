// Renders every display control in several states onto one sheet. The test checks that each
// control painted its whole area; with MIRAVOX_COMPONENTS_SHEET set, the sheet is also saved
// to that PNG file so a person can look at it.

#include "cool_gauge.h"
#include "rled.h"
#include "tessel_grid.h"
#include "widget_testing.h"
#include "xi_track_bar.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>

namespace {

using namespace miravox::testing;

void caption(QWidget* sheet, const QString& text, int x, int y) {
    auto* label = new QLabel(text, sheet);
    label->move(x, y);
    label->adjustSize();
}

TRLed* meter(QWidget* sheet, int x, int y, TTrackBarOrientation o, QSize size, int bar, int pos) {
    auto* m = new TRLed(sheet);
    m->setOrientation(o);
    m->setGeometry(x, y, size.width(), size.height());
    m->setBarSize(bar);
    m->setPosition(pos);
    return m;
}

TCoolGauge* gauge(QWidget* sheet, int x, int y, QSize size, int max, int progress) {
    auto* g = new TCoolGauge(sheet);
    g->setGeometry(x, y, size.width(), size.height());
    g->setMaxValue(max);
    g->setProgress(progress);
    return g;
}

TXiTrackBar* slider(QWidget* sheet, int x, int y, TColorScheme scheme, int pos) {
    auto* s = new TXiTrackBar(sheet);
    s->move(x, y);
    s->setColorScheme(scheme);
    s->setPosition(pos);
    return s;
}

void fill_schedule_grid(TtesselGrid* g) {
    g->setColCount(4);
    g->setFixedCols(0);
    g->setDefaultRowHeight(20);
    g->setScrollBars(ssVertical);
    g->setOptions(g->Options() | goRowSelect);
    const int widths[] = {62, 79, 80, 200};
    const char* header[] = {"Horário", "Data/Inicial", "Data/Final", "Descrição do Disparo"};
    for (int c = 0; c < 4; ++c) {
        g->setColWidths(c, widths[c]);
        g->setCells(c, 0, QString::fromUtf8(header[c]));
    }
    g->setRowCount(9);
    for (int r = 1; r < 9; ++r) {
        g->setCells(0, r, QStringLiteral("19:%1").arg(r * 5, 2, 10, QLatin1Char('0')));
        g->setCells(1, r, QStringLiteral("01/08/2024"));
        g->setCells(2, r, QStringLiteral("3%1/08/2024").arg(r % 2));
        g->setCells(3, r, QStringLiteral("/radio/comerciais/SPOT%1.MP3").arg(r));
    }
    g->OnGetCellColor = [](QObject*, int ARow, int, TGridDrawState, QBrush& brush, miravox::CanvasFont&) {
        if (ARow == 2)
            brush.setColor(QColor(255, 0, 0));
        if (ARow == 4)
            brush.setColor(QColor(0, 128, 0));
    };
    g->setRow(3);
}

} // namespace

TEST(ComponentsSheet, EveryControlPaintsItsWholeArea) {
    QWidget sheet;
    sheet.resize(940, 720);
    sheet.setStyleSheet(QStringLiteral("background: #d4d0c8"));
    sheet.setAutoFillBackground(true);

    caption(&sheet, "VU_GERAL 0/50/100", 10, 5);
    meter(&sheet, 10, 25, trVertical, {26, 122}, 10, 0);
    meter(&sheet, 45, 25, trVertical, {26, 122}, 10, 50);
    meter(&sheet, 80, 25, trVertical, {26, 122}, 10, 100);
    caption(&sheet, "new, 70", 122, 5);
    meter(&sheet, 130, 25, trVertical, {25, 152}, 5, 70);
    caption(&sheet, "Meter1 0 / 50 / 100 (TRLed)", 180, 5);
    meter(&sheet, 180, 25, trHorizontal, {302, 23}, 3, 0);
    meter(&sheet, 180, 55, trHorizontal, {302, 23}, 3, 50);
    meter(&sheet, 180, 85, trHorizontal, {302, 23}, 3, 100);

    caption(&sheet, "TCoolGauge default 0/50/100, teal-lime, solid, splash, countdown", 500, 5);
    gauge(&sheet, 500, 25, {100, 20}, 100, 0);
    gauge(&sheet, 610, 25, {100, 20}, 100, 50);
    gauge(&sheet, 720, 25, {100, 20}, 100, 100);
    TCoolGauge* teal = gauge(&sheet, 500, 55, {300, 20}, 100, 100);
    teal->setForeColor1(QColor(0, 128, 128));
    teal->setForeColor2(QColor(0, 255, 0));
    TCoolGauge* solid = gauge(&sheet, 500, 85, {200, 20}, 20, 10);
    solid->setStyle(sSolid);
    solid->setText(QStringLiteral(" "));
    TCoolGauge* splash = gauge(&sheet, 500, 115, {339, 18}, 20, 10);
    splash->setBorderStyle(bsNone);
    splash->setBackColor(QColor(0, 0, 128));
    splash->setFontColor(QColor(192, 192, 192));
    splash->setText(QStringLiteral("Atualizando Sistema %d%%"));
    TCoolGauge* countdown = gauge(&sheet, 720, 85, {200, 20}, 60, 45);
    countdown->setBackColor(QColor(255, 0, 0));

    caption(&sheet, "TtesselGrid: commercial list (row 2 ended, row 4 not begun, row 3 selected)", 10, 160);
    auto* grid = new TtesselGrid(&sheet);
    grid->setGeometry(10, 180, 440, 200);
    fill_schedule_grid(grid);
    auto* focused = new TtesselGrid(&sheet);
    focused->setGeometry(10, 590, 440, 110);
    fill_schedule_grid(focused);
    focused->setTopRow(4);
    focused->setRow(6);
    caption(&sheet, "TtesselGrid scrolled to row 4, row 6 current", 10, 570);

    caption(&sheet, "TtesselGrid: centred, bottom, word wrap", 470, 160);
    auto* wrap = new TtesselGrid(&sheet);
    wrap->setGeometry(470, 180, 300, 200);
    wrap->setColCount(3);
    wrap->setRowCount(4);
    wrap->setDefaultRowHeight(44);
    wrap->setColWidths(0, 70);
    wrap->setColWidths(1, 90);
    wrap->setColWidths(2, 110);
    wrap->setMultiLinea(true);
    wrap->setAlignment(taCenter);
    wrap->OnGetCellAlignment = [](QObject*, int ARow, int, TAlignment& h, TVerticalAlignment& v) {
        if (ARow == 2) {
            h = taRightJustify;
            v = vaBottom;
        }
    };
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            wrap->setCells(c, r,
                           r == 0 ? QStringLiteral("Col %1").arg(c)
                                  : QStringLiteral("texto que quebra em linhas"));

    caption(&sheet, "TXiTrackBar schemes, disabled, vertical 0..100", 10, 400);
    const TColorScheme schemes[] = {csDesert, csGrass, csSilver, csSky, csRose, csSun};
    for (int i = 0; i < 6; ++i)
        slider(&sheet, 10 + (i % 3) * 110, 420 + (i / 3) * 40, schemes[i], i * 2);
    TXiTrackBar* disabled = slider(&sheet, 10, 510, csSky, 7);
    disabled->setEnabled(false);
    TXiTrackBar* none = slider(&sheet, 120, 510, csSilver, 3);
    none->setTickStyle(tsNone);
    TXiTrackBar* both = slider(&sheet, 230, 510, csRose, 5);
    both->setTickMarks(tmBoth);
    TXiTrackBar* vertical = slider(&sheet, 350, 420, csCustom, 30);
    vertical->setOrientation(trVertical);
    vertical->setGeometry(350, 420, 30, 150);
    vertical->setMax(100);
    vertical->setFrequency(10);
    vertical->setPosition(30);
    TXiTrackBar* down = slider(&sheet, 400, 420, csSun, 0);
    down->setOrientation(trVertical);
    down->setGeometry(400, 420, 30, 150);
    down->setMax(100);
    down->setTickMarks(tmBoth);
    down->setFrequency(25);
    press(down, QPoint(15, 8));
    drag_to(down, QPoint(15, 80));

    const QImage image = render(sheet);
    if (const QByteArray path = qgetenv("MIRAVOX_COMPONENTS_SHEET"); !path.isEmpty())
        image.save(QString::fromLocal8Bit(path));

    for (QWidget* w : sheet.findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(w) || !w->isVisibleTo(&sheet) || w->parentWidget() != &sheet)
            continue;
        const QImage own = render(*w);
        for (int y = 0; y < own.height(); ++y)
            for (int x = 0; x < own.width(); ++x)
                ASSERT_NE(own.pixel(x, y), QColor(Qt::magenta).rgb())
                    << w->metaObject()->className() << " left (" << x << ", " << y << ") unpainted";
    }
}
