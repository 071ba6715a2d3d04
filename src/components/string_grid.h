#pragma once
// TStringGrid: a grid of text cells that paints itself. Fixed rows at the top and fixed
// columns at the left stay put while the rest scrolls a whole row or column at a time; the
// grid keeps a current cell (Row, Col) and a selection, whole rows with goRowSelect; rows and
// columns can be moved, sized by dragging their line in the fixed area (goRowSizing,
// goColSizing) and navigated with the keyboard.
//
// Painting goes cell by cell through the virtual DrawCell, after the grid has prepared the
// canvas brush and font for the cell's look (fixed, selected, normal) and, with DefaultDrawing,
// filled the cell. The base DrawCell writes the text 2 pixels in from the top left (with
// DefaultDrawing) and then fires OnDrawCell.
//
// OnClick fires whenever a cell is made current by a click, a key or the Row and Col setters
// (also when the cell was current already, for clicks); OnDblClick on a double click anywhere
// in the grid. A right click does not move the selection; it opens PopupMenu when one is set.
//
// Bad indexes (a row or column outside the grid) are ignored with a warning.
//
// Thread rules: main thread only, like every widget.

#include "grid_canvas.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFlags>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>
#include <vector>

class QMenu;

enum TGridOption {
    goFixedVertLine = 0x1,
    goFixedHorzLine = 0x2,
    goVertLine = 0x4,
    goHorzLine = 0x8,
    goRangeSelect = 0x10,
    goDrawFocusSelected = 0x20,
    goRowSizing = 0x40,
    goColSizing = 0x80,
    goRowSelect = 0x100,
    goThumbTracking = 0x200,
};
Q_DECLARE_FLAGS(TGridOptions, TGridOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridOptions)

enum TGridDrawStateFlag { gdSelected = 0x1, gdFocused = 0x2, gdFixed = 0x4 };
Q_DECLARE_FLAGS(TGridDrawState, TGridDrawStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridDrawState)

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TStringGrid : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit TStringGrid(QWidget* parent = nullptr);

    // Text of a cell; a cell outside the grid reads as empty.
    QString Cells(int ACol, int ARow) const;
    void setCells(int ACol, int ARow, const QString& text);

    // At least one row and one column; fewer rows than fixed rows lowers FixedRows (and the
    // same for columns). Rows and columns cut off are discarded, so new ones start blank.
    int ColCount() const { return static_cast<int>(FColWidths.size()); }
    void setColCount(int v);
    int RowCount() const { return static_cast<int>(FRowHeights.size()); }
    void setRowCount(int v);
    // Must stay below the count.
    int FixedCols() const { return FFixedCols; }
    void setFixedCols(int v);
    int FixedRows() const { return FFixedRows; }
    void setFixedRows(int v);

    // Setting a default resets every column's width (every row's height).
    int DefaultColWidth() const { return FDefaultColWidth; }
    void setDefaultColWidth(int v);
    int DefaultRowHeight() const { return FDefaultRowHeight; }
    void setDefaultRowHeight(int v);
    int ColWidths(int ACol) const;
    void setColWidths(int ACol, int v);
    int RowHeights(int ARow) const;
    void setRowHeights(int ARow, int v);
    int GridLineWidth() const { return FGridLineWidth; }
    void setGridLineWidth(int v);

    // The current cell; always a non-fixed one.
    int Row() const { return FCurrent.y(); }
    void setRow(int v);
    int Col() const { return FCurrent.x(); }
    void setCol(int v);
    // Selected cells: left and right columns, top and bottom rows, inclusive.
    QRect Selection() const;
    // First non-fixed row and column shown.
    int TopRow() const;
    void setTopRow(int v);
    int LeftCol() const;
    void setLeftCol(int v);
    // Non-fixed rows and columns fully visible.
    int VisibleRowCount() const;
    int VisibleColCount() const;

    TGridOptions Options() const { return FOptions; }
    void setOptions(TGridOptions v);
    bool DefaultDrawing() const { return FDefaultDrawing; }
    void setDefaultDrawing(bool v);
    QColor Color() const { return FColor; }
    void setColor(const QColor& v);
    QColor FixedColor() const { return FFixedColor; }
    void setFixedColor(const QColor& v);
    // Colour of the text (the font's colour); QWidget::font() is the font.
    QColor FontColor() const { return FFontColor; }
    void setFontColor(const QColor& v);
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void setScrollBars(TScrollStyle v);
    // Context menu; not owned. Its aboutToShow signal is the place for an "on popup" handler.
    QMenu* PopupMenu() const { return FPopupMenu; }
    void setPopupMenu(QMenu* menu) { FPopupMenu = menu; }

    miravox::GridCanvas& Canvas() { return FCanvas; }

    // Rectangle of a cell in viewport coordinates, line excluded; empty when scrolled away.
    QRect CellRect(int ACol, int ARow) const;
    // Cell under a viewport point (its right and bottom line included), or -1, -1.
    void MouseToCell(int X, int Y, int& ACol, int& ARow) const;

    // Moves a column (row) with its text and width (height); the others close up behind it.
    // The current cell follows the text it was on.
    void MoveColumn(int FromIndex, int ToIndex);
    void MoveRow(int FromIndex, int ToIndex);

    std::function<void(QObject* Sender)> OnClick;
    std::function<void(QObject* Sender)> OnDblClick;
    std::function<void(QObject* Sender, int ACol, int ARow, const QRect& Rect, TGridDrawState State)>
        OnDrawCell;

  protected:
    // Paints one cell; the canvas brush and font are prepared and `Canvas().painter` is set.
    virtual void DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    enum class Sizing { None, Column, Row };

    bool valid_col(int c) const { return c >= 0 && c < ColCount(); }
    bool valid_row(int r) const { return r >= 0 && r < RowCount(); }
    int vline_width() const;
    int hline_width() const;
    int fixed_width() const;
    int fixed_height() const;
    int first_top_row_showing(int row) const;
    int first_left_col_showing(int col) const;
    int max_top_row() const;
    int max_left_col() const;
    void update_scrollbars();
    void changed();

    void focus_cell(int c, int r, bool move_anchor);
    void move_current(int c, int r, bool move_anchor);
    void clamp_in_view(int c, int r);
    void clamp_current();
    void click();

    TGridDrawState draw_state(int c, int r) const;
    void prepare_canvas(TGridDrawState state);
    void paint_row(QPainter& painter, int r, int y, int view_width);
    void paint_cell(QPainter& painter, int c, int r, const QRect& rect);
    void paint_focus(QPainter& painter);

    bool start_sizing(QPoint p);
    void set_sizing_cursor(QPoint p);
    Sizing sizing_at(QPoint p, int& index) const;

    std::vector<std::vector<QString>> FCells; // [row][column]
    std::vector<int> FColWidths;
    std::vector<int> FRowHeights;
    int FFixedCols = 1;
    int FFixedRows = 1;
    int FDefaultColWidth = 64;
    int FDefaultRowHeight = 24;
    int FGridLineWidth = 1;
    QPoint FCurrent{1, 1}; // (column, row)
    QPoint FAnchor{1, 1};
    TGridOptions FOptions = goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goRangeSelect;
    bool FDefaultDrawing = true;
    QColor FColor;
    QColor FFixedColor;
    QColor FFontColor;
    TScrollStyle FScrollBars = ssBoth;
    QMenu* FPopupMenu = nullptr;
    miravox::GridCanvas FCanvas;

    Sizing sizing_ = Sizing::None;
    int sizing_index_ = -1;
    int sizing_origin_ = 0;
    bool selecting_ = false;
};
