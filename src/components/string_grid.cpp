#include "string_grid.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QtDebug>

#include <algorithm>

namespace {

const QColor kFixedLineColor(128, 128, 128);
const QColor kLineColor(192, 192, 192);
const QColor kBevelLight(255, 255, 255);
const QColor kBevelShadow(128, 128, 128);
constexpr int kSizingGrip = 2; // pixels either side of a line that start a resize

// Moves an index the way the element it points at moves when FromIndex is moved to ToIndex.
int move_adjust(int pos, int from, int to) {
    if (pos == from)
        return to;
    if (from < to && pos > from && pos <= to)
        return pos - 1;
    if (from > to && pos >= to && pos < from)
        return pos + 1;
    return pos;
}

template <typename T> void move_element(std::vector<T>& v, int from, int to) {
    if (from < to)
        std::rotate(v.begin() + from, v.begin() + from + 1, v.begin() + to + 1);
    else
        std::rotate(v.begin() + to, v.begin() + from, v.begin() + from + 1);
}

} // namespace

TStringGrid::TStringGrid(QWidget* parent) : QAbstractScrollArea(parent) {
    FColor = palette().color(QPalette::Base);
    FFixedColor = palette().color(QPalette::Button);
    FFontColor = palette().color(QPalette::Text);
    FColWidths.assign(5, FDefaultColWidth);
    FRowHeights.assign(5, FDefaultRowHeight);
    FCells.assign(5, std::vector<QString>(5));
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    viewport()->setMouseTracking(true); // sizing cursor over the fixed lines
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);
    setScrollBars(ssBoth);
    resize(320, 120);
}

// ---- cells, counts and sizes ----------------------------------------------------------

QString TStringGrid::Cells(int ACol, int ARow) const {
    if (!valid_col(ACol) || !valid_row(ARow))
        return QString();
    return FCells[ARow][ACol];
}

void TStringGrid::setCells(int ACol, int ARow, const QString& text) {
    if (!valid_col(ACol) || !valid_row(ARow)) {
        qWarning("Grid: cell (%d, %d) is outside the %d x %d grid; text ignored", ACol, ARow, ColCount(),
                 RowCount());
        return;
    }
    FCells[ARow][ACol] = text;
    viewport()->update();
}

void TStringGrid::setColCount(int v) {
    v = std::max(1, v);
    if (v == ColCount())
        return;
    if (v <= FFixedCols)
        FFixedCols = v - 1;
    FColWidths.resize(v, FDefaultColWidth);
    for (auto& row : FCells)
        row.resize(v);
    clamp_current();
    changed();
}

void TStringGrid::setRowCount(int v) {
    v = std::max(1, v);
    if (v == RowCount())
        return;
    if (v <= FFixedRows)
        FFixedRows = v - 1;
    FRowHeights.resize(v, FDefaultRowHeight);
    FCells.resize(v, std::vector<QString>(ColCount()));
    clamp_current();
    changed();
}

void TStringGrid::setFixedCols(int v) {
    if (v < 0 || v >= ColCount()) {
        qWarning("Grid: %d fixed columns do not fit %d columns; ignored", v, ColCount());
        return;
    }
    FFixedCols = v;
    clamp_current();
    changed();
}

void TStringGrid::setFixedRows(int v) {
    if (v < 0 || v >= RowCount()) {
        qWarning("Grid: %d fixed rows do not fit %d rows; ignored", v, RowCount());
        return;
    }
    FFixedRows = v;
    clamp_current();
    changed();
}

void TStringGrid::setDefaultColWidth(int v) {
    FDefaultColWidth = std::max(0, v);
    std::fill(FColWidths.begin(), FColWidths.end(), FDefaultColWidth);
    changed();
}

void TStringGrid::setDefaultRowHeight(int v) {
    FDefaultRowHeight = std::max(0, v);
    std::fill(FRowHeights.begin(), FRowHeights.end(), FDefaultRowHeight);
    changed();
}

int TStringGrid::ColWidths(int ACol) const {
    return valid_col(ACol) ? FColWidths[ACol] : 0;
}

void TStringGrid::setColWidths(int ACol, int v) {
    if (!valid_col(ACol)) {
        qWarning("Grid: no column %d to size", ACol);
        return;
    }
    FColWidths[ACol] = std::max(0, v);
    changed();
}

int TStringGrid::RowHeights(int ARow) const {
    return valid_row(ARow) ? FRowHeights[ARow] : 0;
}

void TStringGrid::setRowHeights(int ARow, int v) {
    if (!valid_row(ARow)) {
        qWarning("Grid: no row %d to size", ARow);
        return;
    }
    FRowHeights[ARow] = std::max(0, v);
    changed();
}

void TStringGrid::setGridLineWidth(int v) {
    FGridLineWidth = std::max(0, v);
    changed();
}

// ---- look --------------------------------------------------------------------------------

void TStringGrid::setOptions(TGridOptions v) {
    FOptions = v;
    verticalScrollBar()->setTracking(v.testFlag(goThumbTracking));
    horizontalScrollBar()->setTracking(v.testFlag(goThumbTracking));
    clamp_current();
    changed();
}

void TStringGrid::setDefaultDrawing(bool v) {
    FDefaultDrawing = v;
    viewport()->update();
}

void TStringGrid::setColor(const QColor& v) {
    FColor = v;
    viewport()->update();
}

void TStringGrid::setFixedColor(const QColor& v) {
    FFixedColor = v;
    viewport()->update();
}

void TStringGrid::setFontColor(const QColor& v) {
    FFontColor = v;
    viewport()->update();
}

void TStringGrid::setScrollBars(TScrollStyle v) {
    FScrollBars = v;
    const bool vertical = v == ssVertical || v == ssBoth;
    const bool horizontal = v == ssHorizontal || v == ssBoth;
    setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

// ---- geometry ----------------------------------------------------------------------------

// Line space is kept when either kind of line is on; the option decides whether it is drawn.
int TStringGrid::vline_width() const {
    return FOptions & (goVertLine | goFixedVertLine) ? FGridLineWidth : 0;
}

int TStringGrid::hline_width() const {
    return FOptions & (goHorzLine | goFixedHorzLine) ? FGridLineWidth : 0;
}

int TStringGrid::fixed_width() const {
    int w = 0;
    for (int c = 0; c < FFixedCols; ++c)
        w += FColWidths[c] + vline_width();
    return w;
}

int TStringGrid::fixed_height() const {
    int h = 0;
    for (int r = 0; r < FFixedRows; ++r)
        h += FRowHeights[r] + hline_width();
    return h;
}

// The top row that shows `row` as the last fully visible one (or `row` itself when it is
// taller than the scrolling area).
int TStringGrid::first_top_row_showing(int row) const {
    const int room = viewport()->height() - fixed_height();
    int used = 0;
    int top = row;
    while (top >= FFixedRows) {
        used += FRowHeights[top] + hline_width();
        if (used > room)
            break;
        --top;
    }
    return std::clamp(top + 1, FFixedRows, std::max(FFixedRows, row));
}

int TStringGrid::first_left_col_showing(int col) const {
    const int room = viewport()->width() - fixed_width();
    int used = 0;
    int left = col;
    while (left >= FFixedCols) {
        used += FColWidths[left] + vline_width();
        if (used > room)
            break;
        --left;
    }
    return std::clamp(left + 1, FFixedCols, std::max(FFixedCols, col));
}

int TStringGrid::max_top_row() const {
    return first_top_row_showing(RowCount() - 1);
}
int TStringGrid::max_left_col() const {
    return first_left_col_showing(ColCount() - 1);
}

int TStringGrid::TopRow() const {
    return FFixedRows + verticalScrollBar()->value();
}
int TStringGrid::LeftCol() const {
    return FFixedCols + horizontalScrollBar()->value();
}

void TStringGrid::setTopRow(int v) {
    verticalScrollBar()->setValue(v - FFixedRows);
}
void TStringGrid::setLeftCol(int v) {
    horizontalScrollBar()->setValue(v - FFixedCols);
}

int TStringGrid::VisibleRowCount() const {
    const int room = viewport()->height() - fixed_height();
    int used = 0, count = 0;
    for (int r = TopRow(); r < RowCount(); ++r) {
        used += FRowHeights[r] + hline_width();
        if (used > room)
            break;
        ++count;
    }
    return count;
}

int TStringGrid::VisibleColCount() const {
    const int room = viewport()->width() - fixed_width();
    int used = 0, count = 0;
    for (int c = LeftCol(); c < ColCount(); ++c) {
        used += FColWidths[c] + vline_width();
        if (used > room)
            break;
        ++count;
    }
    return count;
}

void TStringGrid::update_scrollbars() {
    QScrollBar* vbar = verticalScrollBar();
    vbar->setRange(0, max_top_row() - FFixedRows);
    vbar->setPageStep(std::max(1, VisibleRowCount()));
    QScrollBar* hbar = horizontalScrollBar();
    hbar->setRange(0, max_left_col() - FFixedCols);
    hbar->setPageStep(std::max(1, VisibleColCount()));
}

void TStringGrid::changed() {
    update_scrollbars();
    viewport()->update();
}

QRect TStringGrid::CellRect(int ACol, int ARow) const {
    if (!valid_col(ACol) || !valid_row(ARow))
        return QRect();
    int x = 0;
    if (ACol < FFixedCols) {
        for (int c = 0; c < ACol; ++c)
            x += FColWidths[c] + vline_width();
    } else {
        if (ACol < LeftCol())
            return QRect();
        x = fixed_width();
        for (int c = LeftCol(); c < ACol; ++c)
            x += FColWidths[c] + vline_width();
    }
    int y = 0;
    if (ARow < FFixedRows) {
        for (int r = 0; r < ARow; ++r)
            y += FRowHeights[r] + hline_width();
    } else {
        if (ARow < TopRow())
            return QRect();
        y = fixed_height();
        for (int r = TopRow(); r < ARow; ++r)
            y += FRowHeights[r] + hline_width();
    }
    if (x >= viewport()->width() || y >= viewport()->height())
        return QRect();
    return QRect(x, y, FColWidths[ACol], FRowHeights[ARow]);
}

void TStringGrid::MouseToCell(int X, int Y, int& ACol, int& ARow) const {
    ACol = ARow = -1;
    const auto find = [](int pos, int fixed, int first, int count, const std::vector<int>& sizes, int line) {
        int edge = 0;
        for (int i = 0; i < count; ++i) {
            const int index = i < fixed ? i : first + (i - fixed);
            if (index >= count)
                break;
            edge += sizes[index] + line;
            if (pos < edge)
                return index;
        }
        return -1;
    };
    if (X < 0 || Y < 0)
        return;
    const int c = find(X, FFixedCols, LeftCol(), ColCount(), FColWidths, vline_width());
    const int r = find(Y, FFixedRows, TopRow(), RowCount(), FRowHeights, hline_width());
    if (c >= 0 && r >= 0) {
        ACol = c;
        ARow = r;
    }
}

// ---- current cell and selection ------------------------------------------------------------

void TStringGrid::setRow(int v) {
    if (v == Row())
        return;
    if (v < FFixedRows || v >= RowCount()) {
        qWarning("Grid: row %d cannot be the current row (rows %d to %d)", v, FFixedRows, RowCount() - 1);
        return;
    }
    focus_cell(Col(), v, true);
}

void TStringGrid::setCol(int v) {
    if (v == Col())
        return;
    if (v < FFixedCols || v >= ColCount()) {
        qWarning("Grid: column %d cannot be the current column (columns %d to %d)", v, FFixedCols,
                 ColCount() - 1);
        return;
    }
    focus_cell(v, Row(), true);
}

QRect TStringGrid::Selection() const {
    if (FOptions.testFlag(goRowSelect)) {
        const int top = std::min(FAnchor.y(), FCurrent.y());
        const int bottom = std::max(FAnchor.y(), FCurrent.y());
        return QRect(QPoint(FFixedCols, top), QPoint(ColCount() - 1, bottom));
    }
    return QRect(FAnchor, FCurrent).normalized();
}

void TStringGrid::focus_cell(int c, int r, bool move_anchor) {
    move_current(c, r, move_anchor);
    click();
}

void TStringGrid::move_current(int c, int r, bool move_anchor) {
    if (FOptions.testFlag(goRowSelect))
        c = FFixedCols;
    FCurrent = QPoint(c, r);
    if (move_anchor || !FOptions.testFlag(goRangeSelect))
        FAnchor = FCurrent;
    clamp_in_view(c, r);
    viewport()->update();
}

void TStringGrid::clamp_in_view(int c, int r) {
    if (r >= FFixedRows) {
        if (r < TopRow())
            setTopRow(r);
        else if (r > TopRow() + std::max(0, VisibleRowCount() - 1))
            setTopRow(first_top_row_showing(r));
    }
    if (!FOptions.testFlag(goRowSelect) && c >= FFixedCols) {
        if (c < LeftCol())
            setLeftCol(c);
        else if (c > LeftCol() + std::max(0, VisibleColCount() - 1))
            setLeftCol(first_left_col_showing(c));
    }
}

// Keeps the current cell and the anchor on non-fixed cells inside the grid.
void TStringGrid::clamp_current() {
    const auto clamp_point = [this](QPoint p) {
        return QPoint(std::clamp(p.x(), FFixedCols, ColCount() - 1),
                      std::clamp(p.y(), FFixedRows, RowCount() - 1));
    };
    FCurrent = clamp_point(FCurrent);
    FAnchor = FOptions.testFlag(goRangeSelect) ? clamp_point(FAnchor) : FCurrent;
    if (FOptions.testFlag(goRowSelect))
        FCurrent.setX(FFixedCols);
}

void TStringGrid::click() {
    if (OnClick)
        OnClick(this);
}

// ---- moving rows and columns ----------------------------------------------------------------

void TStringGrid::MoveColumn(int FromIndex, int ToIndex) {
    if (!valid_col(FromIndex) || !valid_col(ToIndex)) {
        qWarning("Grid: cannot move column %d to %d (%d columns)", FromIndex, ToIndex, ColCount());
        return;
    }
    if (FromIndex == ToIndex)
        return;
    for (auto& row : FCells)
        move_element(row, FromIndex, ToIndex);
    move_element(FColWidths, FromIndex, ToIndex);
    FCurrent.setX(move_adjust(FCurrent.x(), FromIndex, ToIndex));
    FAnchor.setX(move_adjust(FAnchor.x(), FromIndex, ToIndex));
    clamp_current();
    changed();
}

void TStringGrid::MoveRow(int FromIndex, int ToIndex) {
    if (!valid_row(FromIndex) || !valid_row(ToIndex)) {
        qWarning("Grid: cannot move row %d to %d (%d rows)", FromIndex, ToIndex, RowCount());
        return;
    }
    if (FromIndex == ToIndex)
        return;
    move_element(FCells, FromIndex, ToIndex);
    move_element(FRowHeights, FromIndex, ToIndex);
    FCurrent.setY(move_adjust(FCurrent.y(), FromIndex, ToIndex));
    FAnchor.setY(move_adjust(FAnchor.y(), FromIndex, ToIndex));
    clamp_current();
    changed();
}

// ---- painting ------------------------------------------------------------------------------

TGridDrawState TStringGrid::draw_state(int c, int r) const {
    if (c < FFixedCols || r < FFixedRows)
        return gdFixed;
    TGridDrawState state;
    if (Selection().contains(c, r))
        state |= gdSelected;
    if (hasFocus() && c == FCurrent.x() && r == FCurrent.y())
        state |= gdFocused;
    return state;
}

// The focused cell shows the selection colour only with goDrawFocusSelected or goRowSelect.
void TStringGrid::prepare_canvas(TGridDrawState state) {
    FCanvas.font.font = font();
    FCanvas.font.color = FFontColor;
    FCanvas.brush = QBrush(FColor, Qt::SolidPattern);
    if (state.testFlag(gdFixed)) {
        FCanvas.brush.setColor(FFixedColor);
    } else if (state.testFlag(gdSelected) &&
               (!state.testFlag(gdFocused) || FOptions & (goDrawFocusSelected | goRowSelect))) {
        FCanvas.brush.setColor(palette().color(QPalette::Highlight));
        FCanvas.font.color = palette().color(QPalette::HighlightedText);
    }
}

void TStringGrid::DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState) {
    if (FDefaultDrawing) {
        QPainter& painter = *FCanvas.painter;
        painter.setFont(FCanvas.font.font);
        painter.setPen(FCanvas.font.color);
        painter.drawText(ARect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         Cells(ACol, ARow));
    }
    if (OnDrawCell)
        OnDrawCell(this, ACol, ARow, ARect, AState);
}

void TStringGrid::paint_cell(QPainter& painter, int c, int r, const QRect& rect) {
    const TGridDrawState state = draw_state(c, r);
    prepare_canvas(state);
    if (FDefaultDrawing)
        painter.fillRect(rect, FCanvas.brush);
    DrawCell(c, r, rect, state);
    if (FDefaultDrawing && state.testFlag(gdFixed) && !rect.isEmpty()) {
        // A raised edge, as fixed cells have on a classic desktop.
        painter.fillRect(rect.left(), rect.top(), rect.width(), 1, kBevelLight);
        painter.fillRect(rect.left(), rect.top(), 1, rect.height(), kBevelLight);
        painter.fillRect(rect.left(), rect.bottom(), rect.width(), 1, kBevelShadow);
        painter.fillRect(rect.right(), rect.top(), 1, rect.height(), kBevelShadow);
    }
}

void TStringGrid::paint_row(QPainter& painter, int r, int y, int view_width) {
    const int h = FRowHeights[r];
    const int vl = vline_width();
    const int hl = hline_width();
    int x = 0;
    for (int i = 0; i < ColCount() && x < view_width; ++i) {
        const int c = i < FFixedCols ? i : LeftCol() + (i - FFixedCols);
        if (c >= ColCount())
            break;
        const int w = FColWidths[c];
        const bool fixed = c < FFixedCols || r < FFixedRows;
        paint_cell(painter, c, r, QRect(x, y, w, h));
        const QColor& background = fixed ? FFixedColor : FColor;
        const bool vertical_line = FOptions.testFlag(fixed ? goFixedVertLine : goVertLine);
        const bool horizontal_line = FOptions.testFlag(fixed ? goFixedHorzLine : goHorzLine);
        const QColor& line = fixed ? kFixedLineColor : kLineColor;
        if (vl > 0)
            painter.fillRect(x + w, y, vl, h + hl, vertical_line ? line : background);
        if (hl > 0)
            painter.fillRect(x, y + h, w, hl, horizontal_line ? line : background);
        x += w + vl;
    }
    if (x < view_width)
        painter.fillRect(x, y, view_width - x, h + hl, FColor);
}

void TStringGrid::paint_focus(QPainter& painter) {
    if (!FDefaultDrawing || !hasFocus())
        return;
    QRect focus = CellRect(FCurrent.x(), FCurrent.y());
    if (FOptions.testFlag(goRowSelect)) {
        for (int c = FFixedCols; c < ColCount(); ++c)
            focus |= CellRect(c, FCurrent.y());
    }
    if (focus.isEmpty())
        return;
    QPen pen(palette().color(QPalette::HighlightedText), 1, Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(focus.adjusted(0, 0, -1, -1));
}

void TStringGrid::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    FCanvas.painter = &painter;
    const int view_width = viewport()->width();
    const int view_height = viewport()->height();
    const int hl = hline_width();
    int y = 0;
    for (int i = 0; i < RowCount() && y < view_height; ++i) {
        const int r = i < FFixedRows ? i : TopRow() + (i - FFixedRows);
        if (r >= RowCount())
            break;
        paint_row(painter, r, y, view_width);
        y += FRowHeights[r] + hl;
    }
    if (y < view_height)
        painter.fillRect(0, y, view_width, view_height - y, FColor);
    paint_focus(painter);
    FCanvas.painter = nullptr;
}

void TStringGrid::resizeEvent(QResizeEvent*) {
    update_scrollbars();
}

void TStringGrid::scrollContentsBy(int, int) {
    viewport()->update();
}

void TStringGrid::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TStringGrid::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

// ---- mouse and keyboard --------------------------------------------------------------------

// A column line inside the fixed rows (goColSizing) or a row line inside the fixed columns
// (goRowSizing) can be dragged.
TStringGrid::Sizing TStringGrid::sizing_at(QPoint p, int& index) const {
    index = -1;
    if (FOptions.testFlag(goColSizing) && p.y() < fixed_height()) {
        for (int c = 0; c < ColCount(); ++c) {
            const QRect cell = CellRect(c, 0);
            if (cell.isEmpty())
                continue;
            if (std::abs(p.x() - (cell.left() + cell.width())) <= kSizingGrip) {
                index = c;
                return Sizing::Column;
            }
        }
    }
    if (FOptions.testFlag(goRowSizing) && p.x() < fixed_width()) {
        for (int r = 0; r < RowCount(); ++r) {
            const QRect cell = CellRect(0, r);
            if (cell.isEmpty())
                continue;
            if (std::abs(p.y() - (cell.top() + cell.height())) <= kSizingGrip) {
                index = r;
                return Sizing::Row;
            }
        }
    }
    return Sizing::None;
}

bool TStringGrid::start_sizing(QPoint p) {
    int index = -1;
    sizing_ = sizing_at(p, index);
    if (sizing_ == Sizing::None)
        return false;
    sizing_index_ = index;
    const QRect cell = sizing_ == Sizing::Column ? CellRect(index, 0) : CellRect(0, index);
    sizing_origin_ = sizing_ == Sizing::Column ? cell.left() : cell.top();
    return true;
}

void TStringGrid::set_sizing_cursor(QPoint p) {
    int index = -1;
    switch (sizing_at(p, index)) {
    case Sizing::Column:
        viewport()->setCursor(Qt::SplitHCursor);
        break;
    case Sizing::Row:
        viewport()->setCursor(Qt::SplitVCursor);
        break;
    case Sizing::None:
        viewport()->unsetCursor();
        break;
    }
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint();
    if (start_sizing(p))
        return;
    int c = -1, r = -1;
    MouseToCell(p.x(), p.y(), c, r);
    if (c < FFixedCols || r < FFixedRows)
        return;
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier) && FOptions.testFlag(goRangeSelect);
    focus_cell(c, r, !extend);
    selecting_ = true;
}

void TStringGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (sizing_ == Sizing::Column) {
        setColWidths(sizing_index_, std::max(1, p.x() - sizing_origin_));
        return;
    }
    if (sizing_ == Sizing::Row) {
        setRowHeights(sizing_index_, std::max(1, p.y() - sizing_origin_));
        return;
    }
    if (selecting_ && (event->buttons() & Qt::LeftButton) && FOptions.testFlag(goRangeSelect)) {
        int c = -1, r = -1;
        MouseToCell(p.x(), p.y(), c, r);
        if (c >= FFixedCols && r >= FFixedRows && QPoint(c, r) != FCurrent)
            move_current(c, r, false);
        return;
    }
    if (event->buttons() == Qt::NoButton)
        set_sizing_cursor(p);
}

void TStringGrid::mouseReleaseEvent(QMouseEvent*) {
    sizing_ = Sizing::None;
    selecting_ = false;
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && OnDblClick)
        OnDblClick(this);
}

void TStringGrid::contextMenuEvent(QContextMenuEvent* event) {
    if (!FPopupMenu) {
        event->ignore();
        return;
    }
    FPopupMenu->popup(event->globalPos());
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
    const bool rows_only = FOptions.testFlag(goRowSelect);
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    const int page = std::max(1, VisibleRowCount());
    int c = Col(), r = Row();
    switch (event->key()) {
    case Qt::Key_Up:
        --r;
        break;
    case Qt::Key_Down:
        ++r;
        break;
    case Qt::Key_PageUp:
        r -= page;
        break;
    case Qt::Key_PageDown:
        r += page;
        break;
    case Qt::Key_Home: // first row with whole-row selection or Ctrl, else first column
        if (rows_only || ctrl)
            r = FFixedRows;
        else
            c = FFixedCols;
        break;
    case Qt::Key_End:
        if (rows_only || ctrl)
            r = RowCount() - 1;
        else
            c = ColCount() - 1;
        break;
    case Qt::Key_Left:
        if (rows_only)
            setLeftCol(LeftCol() - 1);
        else
            --c;
        break;
    case Qt::Key_Right:
        if (rows_only)
            setLeftCol(LeftCol() + 1);
        else
            ++c;
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    c = std::clamp(c, FFixedCols, ColCount() - 1);
    r = std::clamp(r, FFixedRows, RowCount() - 1);
    if (c != Col() || r != Row()) {
        const bool extend =
            event->modifiers().testFlag(Qt::ShiftModifier) && FOptions.testFlag(goRangeSelect);
        focus_cell(c, r, !extend);
    }
}
