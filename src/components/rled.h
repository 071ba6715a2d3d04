#pragma once
// TRLed: a row or column of LED-like bars lit up to a position, with a low-colour zone near the
// base of the scale and a high-colour zone at its far end; unlit bars show their colour at half
// brightness. The main window uses it for the stream level and the general level, repainted up
// to ten times a second, so the bars are pre-rendered into two layers (all lit, all dim) that
// are rebuilt only when the size or a look property changes; a paint copies the lit part of one
// layer and the rest of the other, without allocating.
//
// Thread rules: main thread only, like every widget.

#include "track_bar_orientation.h"

#include <QColor>
#include <QPixmap>
#include <QWidget>

class TRLed : public QWidget {
    Q_OBJECT

  public:
    explicit TRLed(QWidget* parent = nullptr);

    QColor ColorLow() const { return FColorLow; }
    void setColorLow(const QColor& v);
    QColor ColorHi() const { return FColorHi; }
    void setColorHi(const QColor& v);
    QColor BackColor() const { return FBackColor; }
    void setBackColor(const QColor& v);

    // Changing the orientation swaps the width and the height.
    TTrackBarOrientation Orientation() const { return FOrientation; }
    void setOrientation(TTrackBarOrientation v);

    // MaxValue must be positive; with 0 nothing is lit.
    int MaxValue() const { return FMaxValue; }
    void setMaxValue(int v);

    // A position above MaxValue is ignored.
    int Position() const { return FPosition; }
    void setPosition(int v);

    // Pixels per bar, one of them the gap. Accepted only while smaller than the length of the
    // meter minus 4 (and, when vertical, different from the current one); 0 is refused.
    quint16 BarSize() const { return FBarSize; }
    void setBarSize(int v);

    // Percent of the bars that are high; accepted from 0 to 154.
    quint8 BreakPos() const { return FBreakPos; }
    void setBreakPos(int v);

    // Bars that fit the current size; bar 1 is at the far end of the scale (the top of a
    // vertical meter, the right of a horizontal one).
    int BarCount() const;
    // Whether bar k is lit.
    bool InPos(int k) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    int lit_bars() const;
    int high_bars() const;
    bool is_high(int k) const;
    QRect bar_rect(int k) const;
    void rebuild_layers();
    void render_layer(QPixmap& layer, bool lit) const;
    void look_changed();
    void redraw();

    QColor FColorLow{0, 255, 0};
    QColor FColorHi{255, 0, 0};
    TTrackBarOrientation FOrientation = trVertical;
    int FMaxValue = 100;
    QColor FBackColor{0, 0, 0};
    quint16 FBarSize = 5;
    int FPosition = 0;
    quint8 FBreakPos = 35;

    QPixmap lit_layer_;
    QPixmap dim_layer_;
    bool layers_stale_ = true;
};
