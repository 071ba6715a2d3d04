// Renders the display controls in several states onto one sheet and checks that each control
// paints its whole area (they are opaque: an unpainted pixel would show garbage on screen).
// With MIRAVOX_COMPONENTS_SHEET set, the sheet is saved to that PNG file for a person to see.

#include "cool_gauge.h"
#include "rled.h"
#include "tessel_grid.h"
#include "widget_testing.h"
#include "xi_track_bar.h"

#include <gtest/gtest.h>

namespace {

using namespace miravox::testing;

template <typename W> W* place(QWidget* sheet, QRect where) {
    auto* w = new W(sheet);
    w->setGeometry(where);
    return w;
}

void add_meters(QWidget* sheet) {
    for (int i = 0; i < 3; ++i) {
        auto* vu = place<TRLed>(sheet, {10 + 35 * i, 10, 26, 122});
        vu->setBarSize(10);
        vu->setPosition(50 * i);
        auto* meter = new TRLed(sheet);
        meter->setOrientation(trHorizontal);
        meter->setGeometry(120, 10 + 30 * i, 302, 23);
        meter->setBarSize(3);
        meter->setPosition(50 * i);
    }
}

void add_gauges(QWidget* sheet) {
    for (int i = 0; i < 3; ++i)
        place<TCoolGauge>(sheet, {440 + 110 * i, 10, 100, 20})->setProgress(50 * i);
    auto* teal = place<TCoolGauge>(sheet, {440, 40, 320, 20});
    teal->setForeColor1(QColor(0, 128, 128));
    teal->setForeColor2(QColor(0, 255, 0));
    teal->setProgress(100);
    auto* splash = place<TCoolGauge>(sheet, {440, 70, 339, 18});
    splash->setBorderStyle(bsNone);
    splash->setBackColor(QColor(0, 0, 128));
    splash->setFontColor(QColor(192, 192, 192));
    splash->setText(QStringLiteral("Atualizando Sistema %d%%"));
    splash->setMaxValue(20);
    splash->setProgress(10);
}

void add_grid(QWidget* sheet) {
    auto* g = place<TtesselGrid>(sheet, {10, 150, 440, 150});
    g->setColCount(4);
    g->setFixedCols(0);
    g->setDefaultRowHeight(20);
    g->setScrollBars(ssVertical);
    g->setOptions(g->Options() | goRowSelect);
    const QStringList header{"Horário", "Data/Inicial", "Data/Final", "Descrição do Disparo"};
    const int widths[] = {62, 79, 80, 200};
    g->setRowCount(9);
    for (int c = 0; c < 4; ++c) {
        g->setColWidths(c, widths[c]);
        g->setCells(c, 0, header[c]);
        for (int r = 1; r < 9; ++r)
            g->setCells(c, r,
                        c == 0 ? QStringLiteral("19:%1").arg(r * 5, 2, 10, QLatin1Char('0'))
                               : QStringLiteral("01/08/2024"));
    }
    g->OnGetCellColor = [](QObject*, int ARow, int, TGridDrawState, QBrush& brush, miravox::CanvasFont&) {
        if (ARow == 2)
            brush.setColor(QColor(255, 0, 0));
    };
    g->setRow(3);
}

void add_sliders(QWidget* sheet) {
    const TColorScheme schemes[] = {csDesert, csGrass, csSilver, csSky, csRose, csSun};
    for (int i = 0; i < 6; ++i) {
        auto* s = place<TXiTrackBar>(sheet, {470 + (i % 3) * 110, 150 + (i / 3) * 40, 100, 28});
        s->setColorScheme(schemes[i]);
        s->setPosition(2 * i);
        s->setEnabled(i != 5);
    }
    auto* level = new TXiTrackBar(sheet);
    level->setOrientation(trVertical);
    level->setGeometry(810, 150, 30, 150);
    level->setMax(100);
    level->setFrequency(10);
    level->setTickMarks(tmBoth);
    press(level, QPoint(15, 8));
    drag_to(level, QPoint(15, 60));
}

} // namespace

TEST(ComponentsSheet, EveryControlPaintsItsWholeArea) {
    QWidget sheet;
    sheet.resize(860, 320);
    add_meters(&sheet);
    add_gauges(&sheet);
    add_grid(&sheet);
    add_sliders(&sheet);

    if (const QByteArray path = qgetenv("MIRAVOX_COMPONENTS_SHEET"); !path.isEmpty())
        render(sheet).save(QString::fromLocal8Bit(path));
    for (QWidget* w : sheet.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QImage own = render(*w);
        for (int y = 0; y < own.height(); ++y)
            for (int x = 0; x < own.width(); ++x)
                ASSERT_NE(own.pixel(x, y), QColor(Qt::magenta).rgb())
                    << w->metaObject()->className() << " left (" << x << ", " << y << ") unpainted";
    }
}
