#include "string_grid.h"
#include "widget_testing.h"

#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

namespace {

using namespace miravox::testing;

// A list like the schedule grids: header row, no fixed column, whole-row selection,
// 20-pixel rows, 50 rows in a viewport showing about six.
struct ListGrid : ::testing::Test {
    ListGrid() {
        g.setColCount(3);
        g.setRowCount(50);
        g.setFixedCols(0);
        g.setDefaultRowHeight(20);
        g.setOptions(g.Options() | goRowSelect);
        g.setScrollBars(ssVertical);
        g.resize(260, 150);
        for (int c = 0; c < 3; ++c)
            g.setCells(c, 0, QStringLiteral("H%1").arg(c));
        for (int r = 1; r < 50; ++r)
            g.setCells(0, r, QString::number(r));
        g.OnClick = [this](QObject*) { ++clicks; };
        g.OnDblClick = [this](QObject*) { ++double_clicks; };
        show_settled(g);
    }
    QWidget* view() { return g.viewport(); }
    QPoint centre_of_row(int r) { return g.CellRect(1, r).center(); }
    void key(int k) {
        QKeyEvent event(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(&g, &event);
    }

    TStringGrid g;
    int clicks = 0;
    int double_clicks = 0;
};

} // namespace

TEST_F(ListGrid, HeaderStaysWhileTheRowsScroll) {
    g.setTopRow(30);
    EXPECT_EQ(g.TopRow(), 30);
    EXPECT_EQ(g.CellRect(0, 0).top(), 0);
    EXPECT_EQ(g.CellRect(0, 30).top(), 21); // right under the header and its line
    EXPECT_TRUE(g.CellRect(0, 29).isEmpty());
    int c = -1, r = -1;
    g.MouseToCell(5, 25, c, r);
    EXPECT_EQ(r, 30);
    g.MouseToCell(5, 5, c, r);
    EXPECT_EQ(r, 0);
    const QImage image = render(*view());
    EXPECT_EQ(pixel(image, 40, 10), g.FixedColor());
    g.setTopRow(1000); // clamped so the last row is the last one shown
    EXPECT_EQ(g.TopRow() + g.VisibleRowCount() - 1, 49);
}

TEST_F(ListGrid, ClicksSelectTheWholeRowAndFireTheirEvents) {
    click(view(), centre_of_row(3));
    EXPECT_EQ(g.Row(), 3);
    EXPECT_EQ(g.Selection(), QRect(QPoint(0, 3), QPoint(2, 3)));
    EXPECT_EQ(clicks, 1);
    click(view(), centre_of_row(3)); // the current row again: still a click
    EXPECT_EQ(clicks, 2);
    click(view(), centre_of_row(0)); // the header cannot be selected
    EXPECT_EQ(g.Row(), 3);
    EXPECT_EQ(clicks, 2);
    const QImage image = render(*view());
    EXPECT_EQ(pixel(image, 150, centre_of_row(3).y()), g.palette().color(QPalette::Highlight));
    EXPECT_EQ(pixel(image, 150, centre_of_row(4).y()), g.Color());

    send_mouse(view(), QEvent::MouseButtonDblClick, centre_of_row(3), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(double_clicks, 1);
}

TEST_F(ListGrid, RightClickLeavesTheSelectionAndOpensThePopupMenu) {
    QMenu menu;
    menu.addAction(QStringLiteral("Play"));
    g.setPopupMenu(&menu);
    g.setRow(2);
    const QPoint p = centre_of_row(5);
    send_mouse(view(), QEvent::MouseButtonPress, p, Qt::RightButton, Qt::RightButton);
    send_mouse(view(), QEvent::MouseButtonRelease, p, Qt::RightButton, Qt::NoButton);
    QContextMenuEvent event(QContextMenuEvent::Mouse, p, view()->mapToGlobal(p));
    QApplication::sendEvent(view(), &event);
    EXPECT_EQ(g.Row(), 2);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
}

TEST_F(ListGrid, RowSetterSelectsScrollsIntoViewAndRefusesBadRows) {
    g.setRow(40);
    EXPECT_EQ(g.Row(), 40);
    EXPECT_FALSE(g.CellRect(0, 40).isEmpty());
    EXPECT_EQ(clicks, 1);
    g.setRow(0);  // fixed
    g.setRow(50); // past the end
    EXPECT_EQ(g.Row(), 40);
    g.setRow(1);
    EXPECT_EQ(g.TopRow(), 1);
}

TEST_F(ListGrid, KeysMoveTheCurrentRow) {
    g.setRow(1);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(g.Row(), 3);
    key(Qt::Key_End);
    EXPECT_EQ(g.Row(), 49);
    EXPECT_FALSE(g.CellRect(0, 49).isEmpty());
    key(Qt::Key_Home);
    EXPECT_EQ(g.Row(), 1);
    key(Qt::Key_Up); // the header is not reachable
    EXPECT_EQ(g.Row(), 1);
}

TEST_F(ListGrid, ShrinkingKeepsTheCurrentRowInside) {
    g.setRow(30);
    g.setRowCount(2);
    EXPECT_EQ(g.Row(), 1);
    EXPECT_EQ(g.TopRow(), 1);
    g.setRowCount(1); // no room for a fixed row and a data row: the header row becomes normal
    EXPECT_EQ(g.FixedRows(), 0);
    EXPECT_EQ(g.Row(), 0);
    g.setRowCount(3);
    EXPECT_EQ(g.Cells(0, 2), "");
}

TEST_F(ListGrid, CurrentRowFollowsAMovedRow) {
    g.setRow(5);
    g.MoveRow(5, 2);
    EXPECT_EQ(g.Row(), 2);
    EXPECT_EQ(g.Cells(0, 2), "5");
    g.MoveRow(1, 4); // a row moving past the current one shifts it up
    EXPECT_EQ(g.Row(), 1);
    g.MoveRow(0, 60); // out of range: ignored
    EXPECT_EQ(g.Cells(0, 0), "H0");
}

TEST_F(ListGrid, DraggingAHeaderLineSizesTheColumn) {
    g.setOptions(g.Options() | goColSizing);
    const int edge = g.ColWidths(0); // line right after column 0
    press(view(), QPoint(edge, 10));
    drag_to(view(), QPoint(edge + 30, 10));
    release(view(), QPoint(edge + 30, 10));
    EXPECT_EQ(g.ColWidths(0), 94);
    EXPECT_EQ(clicks, 0);
}
