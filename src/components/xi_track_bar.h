#pragma once
// TXiTrackBar: a self-drawn slider, a track with a gradient face and a gradient thumb that can
// be dragged or clicked into place, with optional tick marks and colour sets for the thumb's
// normal, hovered, pressed and disabled looks. The owner hears of a new position only when the
// mouse button is released (OnChange), never while the thumb is dragged nor when Position is
// set in code. It takes no keyboard input.
//
// Offset 0 is the top of a vertical slider and the left of a horizontal one, so Min sits there.
// The background, the track and the ticks are cached in one pixmap rebuilt when the size, the
// range or a look property changes; a paint copies it and draws the thumb.
//
// Thread rules: main thread only, like every widget.

#include "track_bar_orientation.h"

#include <QColor>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <functional>

class QPainter;

enum TColorScheme { csCustom, csDesert, csGrass, csSilver, csSky, csRose, csSun };
enum TTickMark { tmBottomRight, tmTopLeft, tmBoth };
enum TTickStyle { tsNone, tsAuto, tsManual };
enum TBtnState { bsUp, bsOver, bsDown, bsOut };

class TXiTrackBar : public QWidget {
    Q_OBJECT

  public:
    explicit TXiTrackBar(QWidget* parent = nullptr);

    // Setting any single colour switches ColorScheme to csCustom.
    QColor BackColor() const { return FBackColor; }
    void setBackColor(const QColor& v) { set_colour(FBackColor, v); }
    QColor TickColor() const { return FTickColor; }
    void setTickColor(const QColor& v) { set_colour(FTickColor, v); }
    QColor DisabledTickColor() const { return FDisabledTickColor; }
    void setDisabledTickColor(const QColor& v) { set_colour(FDisabledTickColor, v); }
    QColor SlideBorderColor() const { return FSlideBorderColor; }
    void setSlideBorderColor(const QColor& v) { set_colour(FSlideBorderColor, v); }
    QColor SlideFaceColor() const { return FSlideFaceColor; }
    void setSlideFaceColor(const QColor& v) { set_colour(FSlideFaceColor, v); }
    QColor SlideGradColor() const { return FSlideGradColor; }
    void setSlideGradColor(const QColor& v) { set_colour(FSlideGradColor, v); }
    QColor DisabledSlideBorderColor() const { return FDisabledSlideBorderColor; }
    void setDisabledSlideBorderColor(const QColor& v) { set_colour(FDisabledSlideBorderColor, v); }
    QColor DisabledSlideFaceColor() const { return FDisabledSlideFaceColor; }
    void setDisabledSlideFaceColor(const QColor& v) { set_colour(FDisabledSlideFaceColor, v); }
    QColor DisabledSlideGradColor() const { return FDisabledSlideGradColor; }
    void setDisabledSlideGradColor(const QColor& v) { set_colour(FDisabledSlideGradColor, v); }
    QColor ThumbBorderColor() const { return FThumbBorderColor; }
    void setThumbBorderColor(const QColor& v) { set_colour(FThumbBorderColor, v); }
    QColor ThumbFaceColor() const { return FThumbFaceColor; }
    void setThumbFaceColor(const QColor& v) { set_colour(FThumbFaceColor, v); }
    QColor ThumbGradColor() const { return FThumbGradColor; }
    void setThumbGradColor(const QColor& v) { set_colour(FThumbGradColor, v); }
    QColor OverThumbBorderColor() const { return FOverThumbBorderColor; }
    void setOverThumbBorderColor(const QColor& v) { set_colour(FOverThumbBorderColor, v); }
    QColor OverThumbFaceColor() const { return FOverThumbFaceColor; }
    void setOverThumbFaceColor(const QColor& v) { set_colour(FOverThumbFaceColor, v); }
    QColor OverThumbGradColor() const { return FOverThumbGradColor; }
    void setOverThumbGradColor(const QColor& v) { set_colour(FOverThumbGradColor, v); }
    QColor DownThumbBorderColor() const { return FDownThumbBorderColor; }
    void setDownThumbBorderColor(const QColor& v) { set_colour(FDownThumbBorderColor, v); }
    QColor DownThumbFaceColor() const { return FDownThumbFaceColor; }
    void setDownThumbFaceColor(const QColor& v) { set_colour(FDownThumbFaceColor, v); }
    QColor DownThumbGradColor() const { return FDownThumbGradColor; }
    void setDownThumbGradColor(const QColor& v) { set_colour(FDownThumbGradColor, v); }
    QColor DisabledThumbBorderColor() const { return FDisabledThumbBorderColor; }
    void setDisabledThumbBorderColor(const QColor& v) { set_colour(FDisabledThumbBorderColor, v); }
    QColor DisabledThumbFaceColor() const { return FDisabledThumbFaceColor; }
    void setDisabledThumbFaceColor(const QColor& v) { set_colour(FDisabledThumbFaceColor, v); }
    QColor DisabledThumbGradColor() const { return FDisabledThumbGradColor; }
    void setDisabledThumbGradColor(const QColor& v) { set_colour(FDisabledThumbGradColor, v); }

    // A named scheme sets every track, tick and thumb colour (not BackColor); csCustom keeps
    // the colours as they are.
    TColorScheme ColorScheme() const { return FColorScheme; }
    void setColorScheme(TColorScheme v);

    // Clamped to Min ... Max. Does not raise OnChange.
    int Position() const { return FPosition; }
    void setPosition(int v);
    // Not compared with each other; the range must not be empty.
    int Min() const { return FMin; }
    void setMin(int v);
    int Max() const { return FMax; }
    void setMax(int v);
    // Tick spacing in steps; 0 ticks every step.
    int Frequency() const { return FFrequency; }
    void setFrequency(int v);
    TTrackBarOrientation Orientation() const { return FOrientation; }
    void setOrientation(TTrackBarOrientation v);
    TTickMark TickMarks() const { return FTickMarks; }
    void setTickMarks(TTickMark v);
    TTickStyle TickStyle() const { return FTickStyle; }
    void setTickStyle(TTickStyle v);
    // Paints the four corner pixels of the track and the thumb in BackColor.
    bool SmoothCorners() const { return FSmoothCorners; }
    void setSmoothCorners(bool v);

    // Raised after every mouse-button release on the enabled slider, moved or not.
    std::function<void(QObject* Sender)> OnChange;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    struct BoxColours {
        QColor border;
        QColor face;
        QColor grad;
    };

    void set_colour(QColor& field, const QColor& v);
    void look_changed();
    void update_geometry();
    int offset_of(int position) const;
    int position_of(int offset) const;
    void place_thumb();
    void follow_pointer(QPoint p);
    bool inside_thumb(QPoint p) const;
    BoxColours thumb_colours() const;
    BoxColours slide_colours() const;
    void rebuild_layer();
    void paint_ticks(QPainter& painter) const;
    void paint_box(QPainter& painter, const QRect& box, const BoxColours& colours, bool lines_across) const;

    QColor FBackColor;
    QColor FTickColor, FDisabledTickColor;
    QColor FSlideBorderColor, FSlideFaceColor, FSlideGradColor;
    QColor FDisabledSlideBorderColor, FDisabledSlideFaceColor, FDisabledSlideGradColor;
    QColor FThumbBorderColor, FThumbFaceColor, FThumbGradColor;
    QColor FOverThumbBorderColor, FOverThumbFaceColor, FOverThumbGradColor;
    QColor FDownThumbBorderColor, FDownThumbFaceColor, FDownThumbGradColor;
    QColor FDisabledThumbBorderColor, FDisabledThumbFaceColor, FDisabledThumbGradColor;
    TColorScheme FColorScheme = csCustom;
    int FPosition = 0;
    int FMin = 0;
    int FMax = 10;
    int FFrequency = 1;
    TTrackBarOrientation FOrientation = trHorizontal;
    TTickMark FTickMarks = tmBottomRight;
    TTickStyle FTickStyle = tsAuto;
    bool FSmoothCorners = true;
    TBtnState FThumbState = bsOut;
    QRect FSlideRect, FThumbRect;
    int FAbsLength = 0;
    int FAbsPos = 0;
    int FThumbWidth = 0;
    int FThumbLength = 0;

    QPixmap layer_;
    bool layer_stale_ = true;
};
