#pragma once
// A label for a clock or a running time ("12:34:56"): the texts that change every second.
//
// A QLabel that changes once a second costs about a millisecond of the main thread on a busy
// machine (its text is laid out and shaped afresh at every paint, through code that has long left
// the caches by the next second). This one draws each character from a small picture made once
// per font and colour, so a new text costs a few image copies. It fills its own background, so a
// change never repaints what lies beneath; given a fixed size, it never re-lays out either.

#include <QHash>
#include <QPixmap>
#include <QWidget>

class TTimeLabel final : public QWidget {
    Q_OBJECT
public:
    explicit TTimeLabel(const QString& text, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent*) override { glyphs_.clear(); } // pictures are as high as the label

private:
    const QPixmap& glyph(QChar c);

    QString text_;
    QHash<QChar, QPixmap> glyphs_;
};
