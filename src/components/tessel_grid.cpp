#include "tessel_grid.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

bool is_blank(const QString& s) {
    for (const QChar c : s)
        if (c.unicode() > 32)
            return false;
    return true;
}

int horizontal_flag(TAlignment a) {
    switch (a) {
    case taRightJustify:
        return Qt::AlignRight;
    case taCenter:
        return Qt::AlignHCenter;
    case taLeftJustify:
        break;
    }
    return Qt::AlignLeft;
}

int floor_div2(int v) {
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

// Where a text block of height `text_height` goes in a cell spanning [top, bottom): centred
// (rounded down) or at the bottom when it fits, otherwise at the top. Returns the new top.
int aligned_text_top(int top, int bottom, int text_height, TVerticalAlignment alignment) {
    if (text_height >= bottom - top + 1)
        return top;
    switch (alignment) {
    case vaCenter:
        return floor_div2(bottom + top - text_height);
    case vaBottom:
        return bottom - text_height;
    case vaTop:
        break;
    }
    return top;
}

} // namespace

TtesselGrid::TtesselGrid(QWidget* parent) : TStringGrid(parent) {
    setOptions(goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goRangeSelect | goRowSizing |
               goColSizing);
}

void TtesselGrid::setAlignment(TAlignment v) {
    if (v == FAlignment)
        return;
    FAlignment = v;
    viewport()->update();
}

void TtesselGrid::setVerticalAlignment(TVerticalAlignment v) {
    if (v == FVerticalAlignment)
        return;
    FVerticalAlignment = v;
    viewport()->update();
}

void TtesselGrid::setMultiLinea(bool v) {
    if (v == FMultiLinea)
        return;
    FMultiLinea = v;
    viewport()->update();
}

// The text is drawn from the top of the (possibly narrowed) rectangle: without a single-line
// mode the vertical placement comes from the measured height alone.
void TtesselGrid::DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState) {
    const QString text = Cells(ACol, ARow);
    TAlignment h = FAlignment;
    TVerticalAlignment v = FVerticalAlignment;
    if (OnGetCellAlignment)
        OnGetCellAlignment(this, ARow, ACol, h, v);
    miravox::GridCanvas& canvas = Canvas();
    if (OnGetCellColor)
        OnGetCellColor(this, ARow, ACol, AState, canvas.brush, canvas.font);
    QPainter& painter = *canvas.painter;
    painter.fillRect(ARect, canvas.brush);

    QRect r = ARect.adjusted(2, 0, -2, 0);
    const int flags = horizontal_flag(h) | Qt::AlignTop | (FMultiLinea ? Qt::TextWordWrap : 0);
    if (!DefaultDrawing()) {
        TStringGrid::DrawCell(ACol, ARow, r, AState);
        return;
    }
    const int bottom = r.top() + r.height();
    const int text_height = QFontMetrics(canvas.font.font).boundingRect(r, flags, text).height();
    const int top = aligned_text_top(r.top(), bottom, text_height, v);
    if (top != r.top())
        r = QRect(r.left(), top, r.width(), std::min(text_height, bottom - top));
    painter.setFont(canvas.font.font);
    painter.setPen(canvas.font.color);
    painter.drawText(r, flags, text);
}

int TtesselGrid::GridCount() const {
    int count = 0;
    for (int r = 0; r < RowCount(); ++r) {
        for (int c = 0; c < ColCount(); ++c) {
            if (!is_blank(Cells(c, r))) {
                ++count;
                break;
            }
        }
    }
    return count;
}

void TtesselGrid::copy_row(int from, int to) {
    for (int c = 0; c < ColCount(); ++c)
        setCells(c, to, Cells(c, from));
}

void TtesselGrid::blank_row(int row) {
    for (int c = 0; c < ColCount(); ++c)
        setCells(c, row, QString());
}

void TtesselGrid::Insere_linhagrid(int xlin) {
    if (GridCount() == 0 || xlin < 0 || xlin > RowCount())
        return;
    setRowCount(RowCount() + 1);
    for (int r = RowCount() - 1; r > xlin; --r)
        copy_row(r - 1, r);
    blank_row(xlin);
}

int TtesselGrid::adiciona_linhagrid() {
    setRowCount(RowCount() + 1);
    return RowCount();
}

void TtesselGrid::Delete_linhagrid(int xlin) {
    if (GridCount() == 0 || xlin < 0 || xlin > RowCount())
        return;
    if (RowCount() == 1) { // a grid keeps one row: deleting it blanks it
        blank_row(0);
        return;
    }
    for (int r = xlin; r < RowCount() - 1; ++r)
        copy_row(r + 1, r);
    setRowCount(RowCount() - 1);
}

void TtesselGrid::ClearAll() {
    if (GridCount() == 0)
        return;
    for (int r = 0; r < RowCount(); ++r)
        blank_row(r);
}
