#pragma once
// TtesselGrid: the string grid of every list of the program (the schedule lists and the local
// music list). It paints each cell itself: the cell is filled with the canvas brush and its
// text drawn 2 pixels in from the left and right, placed by a grid-wide horizontal and vertical
// alignment, optionally wrapped at word boundaries. Before a cell is painted, OnGetCellAlignment
// may change the alignments and OnGetCellColor the brush and font for that cell alone. With
// DefaultDrawing off the cell is still filled, and OnDrawCell receives the narrowed rectangle.
//
// It adds row operations on the text: GridCount (rows holding text), Insere_linhagrid,
// adiciona_linhagrid, Delete_linhagrid and ClearAll; MoveRow and MoveColumn are the base
// grid's. Row 0 is the header row in every grid of the program, and these operations treat it
// like any other row.
//
// Thread rules: main thread only, like every widget.

#include "string_grid.h"

#include <functional>

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TVerticalAlignment { vaTop, vaCenter, vaBottom };

using TtesselGridAlignmentEvent = std::function<void(
    QObject* Sender, int ARow, int ACol, TAlignment& HorAlignment, TVerticalAlignment& VerAlignment)>;
using TtesselGridColorEvent = std::function<void(QObject* Sender, int ARow, int Acol, TGridDrawState AState,
                                                 QBrush& ABrush, miravox::CanvasFont& AFont)>;

class TtesselGrid : public TStringGrid {
    Q_OBJECT

  public:
    explicit TtesselGrid(QWidget* parent = nullptr);

    // Rows with at least one cell that is not blank (characters of code 32 or less do not
    // count); the header row counts like any other.
    int GridCount() const;

    // Each setter repaints only when the value changes.
    TAlignment Alignment() const { return FAlignment; }
    void setAlignment(TAlignment v);
    TVerticalAlignment VerticalAlignment() const { return FVerticalAlignment; }
    void setVerticalAlignment(TVerticalAlignment v);
    bool MultiLinea() const { return FMultiLinea; }
    void setMultiLinea(bool v);

    TtesselGridAlignmentEvent OnGetCellAlignment;
    TtesselGridColorEvent OnGetCellColor;

    // Inserts a blank row at xlin (0 up to RowCount; RowCount appends). Nothing happens when
    // no cell holds text or xlin is out of that range.
    void Insere_linhagrid(int xlin);
    // Appends a blank row; returns the new row count.
    int adiciona_linhagrid();
    // Removes row xlin, the rows below moving up; xlin equal to RowCount drops the last row.
    // Nothing happens when no cell holds text or xlin is out of range.
    void Delete_linhagrid(int xlin);
    // Blanks every cell, header included, unless none holds text; the row count stays.
    void ClearAll();

  protected:
    void DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState) override;

  private:
    void copy_row(int from, int to);
    void blank_row(int row);

    TAlignment FAlignment = taLeftJustify;
    TVerticalAlignment FVerticalAlignment = vaCenter;
    bool FMultiLinea = false;
};
