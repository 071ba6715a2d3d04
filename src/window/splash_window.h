#pragma once
// Tform_abertura: the start-up splash. A small black box, always on top, with "AGUARDE..." and
// a gauge that fills in twenty ticks of its timer (about two seconds), then closes itself. The
// program entry shows it modally before it creates the main window; it also makes sure the
// log folder exists before anything wants to write to it.
//
// Thread rules: main thread only. `tempo` delivers its ticks on the main thread.

#include <QDialog>

class QLabel;
class QWidget;
class TCoolGauge;
class TThreadedTimer;

class Tform_abertura : public QDialog {
public:
    explicit Tform_abertura(QWidget* parent = nullptr);
    ~Tform_abertura() override;

    void FormCreate();
    void tempoTimer(QObject* Sender);

    QWidget* Panel17 = nullptr; // the black face that holds the text and the gauge
    QLabel* Panel18 = nullptr; // "AGUARDE..."
    TCoolGauge* CoolGauge1 = nullptr; // fills in twenty ticks of `tempo`
    TThreadedTimer* tempo = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build_ui();
    void centre_on_screen();
};
