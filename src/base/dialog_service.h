#pragma once
// Every box and chooser the program shows goes through a DialogService, so that tests can
// answer them. QtDialogService shows real boxes; tests use a scripted one.
// Boxes that answer an operator's own action are modal. What automatic playout finds is shown
// as a notice: nobody may be at the console, so a notice never waits for an answer and the
// timers go on while it is open.
// Thread rules: main thread only.

#include <QPointer>
#include <QQueue>
#include <QString>

class QMessageBox;
class QWidget;

namespace miravox {

// The caption of confirmation questions and of plain messages.
inline const QString kConfirmCaption = QStringLiteral("Dalpe Sistemas");
inline const QString kApplicationTitle = QStringLiteral("Oravel Miravox");

class DialogService {
public:
    virtual ~DialogService() = default;

    // A plain message with an OK button, captioned with the application title.
    virtual void information(const QString& text) = 0;
    // Beep, then an OK/Cancel question captioned "Dalpe Sistemas"; true only for OK
    // (Escape or closing the box count as Cancel).
    virtual bool CONFIRMA(const QString& text) = 0;
    // Beep, then a plain message.
    virtual void MOSTRA_AVISO(const QString& text) = 0;
    // An open-file dialog; empty when cancelled.
    virtual QString choose_file(const QString& caption, const QString& folder, const QString& filter) = 0;
    // A folder chooser; empty when cancelled.
    virtual QString choose_folder(const QString& caption, const QString& folder) = 0;
    // A plain message that does not wait: shown without blocking, captioned with the
    // application title. Notices are shown one at a time, in order; a text already open or
    // waiting is not queued again. The caller logs the event as it would without a box.
    virtual void notice(const QString& text) = 0;
    // Beep, then a notice (the automatic counterpart of MOSTRA_AVISO).
    virtual void notice_aviso(const QString& text) = 0;
};

class QtDialogService final : public DialogService {
public:
    explicit QtDialogService(QWidget* parent = nullptr) : parent_(parent) {}
    void information(const QString& text) override;
    bool CONFIRMA(const QString& text) override;
    void MOSTRA_AVISO(const QString& text) override;
    QString choose_file(const QString& caption, const QString& folder, const QString& filter) override;
    QString choose_folder(const QString& caption, const QString& folder) override;
    void notice(const QString& text) override;
    void notice_aviso(const QString& text) override;
    ~QtDialogService() override;

    // The notice box now open (null when none), and the texts waiting for it to close.
    QMessageBox* open_notice() const;
    const QQueue<QString>& waiting_notices() const { return waiting_notices_; }

private:
    void show_next_notice();

    QWidget* parent_;
    QPointer<QMessageBox> notice_box_;
    QQueue<QString> waiting_notices_;
};

// Notices waiting beyond this many are dropped (they are in the logs).
inline constexpr int kMostWaitingNotices = 20;

} // namespace miravox
