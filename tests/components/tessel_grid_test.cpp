#include "tessel_grid.h"
#include "widget_testing.h"

#include <gtest/gtest.h>

#include <QFontMetrics>

namespace {

using namespace miravox::testing;

// A one-column list like the music grid: header plus `names`.
void fill(TtesselGrid& g, const QStringList& names) {
    g.setColCount(1);
    g.setRowCount(int(names.size()) + 1);
    g.setCells(0, 0, QStringLiteral("Descrição das Músicas"));
    for (int i = 0; i < names.size(); ++i)
        g.setCells(0, i + 1, names[i]);
}

QStringList column(const TtesselGrid& g, int c = 0) {
    QStringList out;
    for (int r = 0; r < g.RowCount(); ++r)
        out << g.Cells(c, r);
    return out;
}

// A schedule-like grid: one header row, no fixed column, 20-pixel rows.
void make_schedule_grid(TtesselGrid& g) {
    g.setColCount(2);
    g.setRowCount(3);
    g.setFixedCols(0);
    g.setDefaultRowHeight(20);
    g.setColWidths(0, 60);
    g.setColWidths(1, 120);
    g.resize(220, 100);
}

// First and last rows holding dark (text) pixels inside a rectangle, or -1, -1.
std::pair<int, int> ink_rows(const QImage& image, const QRect& area, const QColor& background) {
    int first = -1, last = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (QColor(image.pixel(x, y)) != background) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
    return {first, last};
}

} // namespace

TEST(TesselGridRows, GridCountCountsRowsWithTextHeaderIncluded) {
    TtesselGrid g;
    EXPECT_EQ(g.GridCount(), 0);
    g.setCells(2, 3, QStringLiteral(" \t\r\n"));
    EXPECT_EQ(g.GridCount(), 0);
    g.setCells(0, 0, QStringLiteral("Início"));
    EXPECT_EQ(g.GridCount(), 1);
    g.setCells(4, 2, QStringLiteral("  x "));
    g.setCells(3, 2, QStringLiteral("y"));
    EXPECT_EQ(g.GridCount(), 2);
}

TEST(TesselGridRows, BlankGridIgnoresClearInsertAndDelete) {
    TtesselGrid g;
    g.setCells(1, 1, QStringLiteral("   "));
    g.ClearAll();
    EXPECT_EQ(g.Cells(1, 1), "   ");
    g.Insere_linhagrid(1);
    g.Delete_linhagrid(1);
    EXPECT_EQ(g.RowCount(), 5);
    EXPECT_EQ(g.Cells(1, 1), "   ");
}

TEST(TesselGridRows, ClearAllBlanksEveryCellAndKeepsTheRows) {
    TtesselGrid g;
    fill(g, {"A.MP3", "B.MP3"});
    g.ClearAll();
    EXPECT_EQ(column(g), QStringList({"", "", ""}));
    EXPECT_EQ(g.RowCount(), 3);
}

TEST(TesselGridRows, InsertMovesRowsDownAndBlanksTheNewOne) {
    TtesselGrid g;
    fill(g, {"A", "B"});
    g.Insere_linhagrid(1);
    EXPECT_EQ(column(g), QStringList({"Descrição das Músicas", "", "A", "B"}));
    g.Insere_linhagrid(0); // the header itself moves down
    EXPECT_EQ(column(g), QStringList({"", "Descrição das Músicas", "", "A", "B"}));
    g.Insere_linhagrid(5); // at the row count: appended
    EXPECT_EQ(g.RowCount(), 6);
    EXPECT_EQ(g.Cells(0, 5), "");
    g.Insere_linhagrid(7); // beyond it: nothing
    g.Insere_linhagrid(-1);
    EXPECT_EQ(g.RowCount(), 6);
}

TEST(TesselGridRows, DeleteMovesRowsUpAndDropsTheLast) {
    TtesselGrid g;
    fill(g, {"A", "B", "C"});
    g.Delete_linhagrid(2);
    EXPECT_EQ(column(g), QStringList({"Descrição das Músicas", "A", "C"}));
    g.Delete_linhagrid(0); // the first data row replaces the header
    EXPECT_EQ(column(g), QStringList({"A", "C"}));
    g.Delete_linhagrid(2); // at the row count: nothing moves, the last row goes
    EXPECT_EQ(column(g), QStringList({"A"}));
    g.Delete_linhagrid(3);
    EXPECT_EQ(column(g), QStringList({"A"}));
    g.Delete_linhagrid(0); // a grid keeps one row
    EXPECT_EQ(column(g), QStringList({""}));
}

TEST(TesselGridRows, AppendedRowIsBlankEvenWhereARowWasDropped) {
    TtesselGrid g;
    fill(g, {"A", "B"});
    g.Delete_linhagrid(3);
    EXPECT_EQ(g.adiciona_linhagrid(), 3);
    EXPECT_EQ(column(g), QStringList({"Descrição das Músicas", "A", ""}));
}

TEST(TesselGridRows, MoveRowAndMoveColumnCarryTheirText) {
    TtesselGrid g;
    fill(g, {"A", "B", "C"});
    g.MoveRow(0, 2); // the header text moves into the data rows; row 0 stays fixed
    EXPECT_EQ(column(g), QStringList({"A", "B", "Descrição das Músicas", "C"}));
    EXPECT_EQ(g.FixedRows(), 1);
    g.MoveRow(3, 1);
    EXPECT_EQ(column(g), QStringList({"A", "C", "B", "Descrição das Músicas"}));

    // The music shuffle on two files: row 1 stays, row 2 moves to 1, so they swap.
    TtesselGrid two;
    fill(two, {"X", "Y"});
    two.MoveRow(1, 1);
    two.MoveRow(2, 1);
    EXPECT_EQ(column(two), QStringList({"Descrição das Músicas", "Y", "X"}));

    TtesselGrid cols;
    cols.setColWidths(0, 11);
    cols.setCells(0, 1, QStringLiteral("first"));
    cols.MoveColumn(0, 3);
    EXPECT_EQ(cols.Cells(3, 1), "first");
    EXPECT_EQ(cols.ColWidths(3), 11);
    EXPECT_EQ(cols.Cells(0, 1), "");
}

// In a 20-pixel row a 13-pixel line starts at (top + bottom - 13) div 2 when centred and at
// bottom - 13 at the bottom.
TEST(TesselGridDrawing, TextLineIsPlacedByTheVerticalAlignment) {
    TtesselGrid g;
    make_schedule_grid(g);
    QFont font = g.font();
    for (int px = 8; px < 20 && QFontMetrics(font).height() != 13; ++px)
        font.setPixelSize(px);
    g.setFont(font);
    const int line = QFontMetrics(font).height();
    g.setCells(1, 2, QStringLiteral("HHHH"));
    g.setRow(1); // keep the measured row unselected
    const QRect cell = g.CellRect(1, 2);
    ASSERT_EQ(cell.height(), 20);
    const QColor back = g.Color();

    g.setVerticalAlignment(vaTop);
    const auto top_ink = ink_rows(render(*g.viewport()), cell, back);
    g.setVerticalAlignment(vaCenter);
    const auto centre_ink = ink_rows(render(*g.viewport()), cell, back);
    g.setVerticalAlignment(vaBottom);
    const auto bottom_ink = ink_rows(render(*g.viewport()), cell, back);
    ASSERT_GE(top_ink.first, cell.top());
    const int bottom = cell.top() + cell.height();
    EXPECT_EQ(centre_ink.first - top_ink.first, (cell.top() + bottom - line) / 2 - cell.top());
    EXPECT_EQ(bottom_ink.first - top_ink.first, bottom - line - cell.top());
}

TEST(TesselGridDrawing, CellColourHandlerGetsThePreparedBrushAndChangesIt) {
    TtesselGrid g;
    make_schedule_grid(g);
    g.setOptions(g.Options() | goRowSelect);
    g.setRow(2);
    QMap<int, QColor> prepared;
    g.OnGetCellColor = [&](QObject* sender, int ARow, int, TGridDrawState, QBrush& brush,
                           miravox::CanvasFont&) {
        EXPECT_EQ(sender, &g);
        prepared[ARow] = brush.color();
        if (ARow == 1)
            brush.setColor(QColor(255, 0, 0));
    };
    const QImage image = render(*g.viewport());
    EXPECT_EQ(prepared[0], g.FixedColor());
    EXPECT_EQ(prepared[1], g.Color());
    EXPECT_EQ(prepared[2], g.palette().color(QPalette::Highlight));
    EXPECT_EQ(pixel(image, 30, g.CellRect(0, 1).center().y()), QColor(255, 0, 0));
}

TEST(TesselGridDrawing, WithoutDefaultDrawingTheCellIsFilledAndHandedOnNarrowed) {
    TtesselGrid g;
    make_schedule_grid(g);
    g.setDefaultDrawing(false);
    g.OnGetCellColor = [](QObject*, int ARow, int, TGridDrawState, QBrush& brush, miravox::CanvasFont&) {
        if (ARow == 1)
            brush.setColor(QColor(0, 128, 0));
    };
    QRect handed;
    g.OnDrawCell = [&](QObject*, int ACol, int ARow, const QRect& rect, TGridDrawState) {
        if (ACol == 1 && ARow == 1)
            handed = rect;
    };
    const QImage image = render(*g.viewport());
    EXPECT_EQ(handed, g.CellRect(1, 1).adjusted(2, 0, -2, 0));
    EXPECT_EQ(pixel(image, g.CellRect(1, 1).left(), g.CellRect(1, 1).top()), QColor(0, 128, 0));
}

TEST(TesselGridDrawing, AlignmentSettersRepaintOnlyOnChange) {
    TtesselGrid g;
    show_settled(g);
    PaintCounter paints(g.viewport());
    g.setAlignment(taLeftJustify);
    g.setVerticalAlignment(vaCenter);
    g.setMultiLinea(false);
    QApplication::processEvents();
    EXPECT_EQ(paints.count, 0);
    g.setAlignment(taCenter);
    QApplication::processEvents();
    EXPECT_EQ(paints.count, 1);
}
