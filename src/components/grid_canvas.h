#pragma once
// What a grid paints a cell with: the brush that fills it and the font (with its colour) its
// text is drawn in. The grid prepares both for each cell (fixed, selected or normal look)
// before it paints the cell, and cell-painting hooks may change them or draw with `painter`.
//
// Thread rules: main thread only; `painter` is valid only while the grid paints.

#include <QBrush>
#include <QColor>
#include <QFont>

class QPainter;

namespace miravox {

struct CanvasFont {
    QFont font;
    QColor color;
};

struct GridCanvas {
    QBrush brush{Qt::white, Qt::SolidPattern};
    CanvasFont font;
    QPainter* painter = nullptr;
};

} // namespace miravox
