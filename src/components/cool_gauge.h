#pragma once
// TCoolGauge: a progress bar filled with a colour ramp, with an optional centred text that can
// carry the percentage ("%d%%" shows "50%" half way). The splash window shows the start-up
// progress with it and the main window the reconnection countdown.
//
// The ramp is one image shared by every gauge of the program; it is rebuilt only when a gauge
// of another size, other colours or another style paints, so an ordinary progress change costs
// a fill, a partial copy of the ramp, the text and the frame. The text is laid out when it,
// the percentage or the font changes, never during a paint.
//
// Thread rules: main thread only, like every widget.

#include <QColor>
#include <QPen>
#include <QStaticText>
#include <QString>
#include <QWidget>

enum tCoolGaugeStyle { sSolid, sDithered };
enum TBorderStyle { bsNone, bsSingle };

class TCoolGauge : public QWidget {
    Q_OBJECT

  public:
    explicit TCoolGauge(QWidget* parent = nullptr);

    // A minimum at or above MaxValue is refused, but Progress is still raised to it.
    int MinValue() const { return FMinValue; }
    void setMinValue(int v);
    // A maximum at or below MinValue is refused, but Progress is still lowered to it.
    int MaxValue() const { return FMaxValue; }
    void setMaxValue(int v);
    // Values outside MinValue ... MaxValue are ignored.
    int Progress() const { return FCurValue; }
    void setProgress(int v);

    QColor BackColor() const { return FBackColor; }
    void setBackColor(const QColor& v);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void setBorderStyle(TBorderStyle v);
    // Start and end of the ramp.
    QColor ForeColor1() const { return FForeColor1; }
    void setForeColor1(const QColor& v);
    QColor ForeColor2() const { return FForeColor2; }
    void setForeColor2(const QColor& v);
    tCoolGaugeStyle Style() const { return FStyle; }
    void setStyle(tCoolGaugeStyle v);
    // A format with at most one integer argument, the rounded percentage: "%d" (also with a
    // width, "%3d") is the number, "%%" a percent sign. An empty text draws nothing.
    QString Text() const { return FText; }
    void setText(const QString& v);

    // Colour of the text and of the frame (the font's colour); QWidget::font() is the font.
    QColor FontColor() const { return FFontColor; }
    void setFontColor(const QColor& v);

    // The text as drawn now: Text formatted with the current percentage.
    QString DisplayText() const { return shown_text_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    double fill_width() const;
    int percent() const;
    void update_text(bool force = false);
    void redraw();

    bool Updategradient = false;
    int FMinValue = 0;
    int FMaxValue = 100;
    int FCurValue = 0;
    QColor FBackColor{255, 255, 255};
    TBorderStyle FBorderStyle = bsSingle;
    QColor FForeColor1{0, 0, 255};
    QColor FForeColor2{255, 0, 0};
    tCoolGaugeStyle FStyle = sDithered;
    QString FText = QStringLiteral("%d%%");
    QColor FFontColor{0, 0, 0};

    int shown_percent_ = 0;
    QString shown_text_;
    QStaticText text_layout_;
    QPen text_pen_{QColor(0, 0, 0)}; // made once: a pen built from a colour in paint allocates
    QSize text_size_;
};

namespace miravox {

// Formats `format` with one integer: "%d" with an optional "-" and width becomes the number,
// "%%" a percent sign; any other "%" sequence is kept as written.
QString format_with_int(const QString& format, int value);

} // namespace miravox
