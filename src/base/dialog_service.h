#pragma once
// Every box and chooser the program shows goes through a DialogService, so that tests can
// answer them. QtDialogService shows real modal boxes; tests use a scripted one.
// Thread rules: main thread only.

#include <QString>

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
};

class QtDialogService final : public DialogService {
public:
    explicit QtDialogService(QWidget* parent = nullptr) : parent_(parent) {}
    void information(const QString& text) override;
    bool CONFIRMA(const QString& text) override;
    void MOSTRA_AVISO(const QString& text) override;
    QString choose_file(const QString& caption, const QString& folder, const QString& filter) override;
    QString choose_folder(const QString& caption, const QString& folder) override;

private:
    QWidget* parent_;
};

} // namespace miravox
