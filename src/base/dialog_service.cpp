#include "dialog_service.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace miravox {

void QtDialogService::information(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, parent_);
    box.exec();
}

bool QtDialogService::CONFIRMA(const QString& text) {
    QApplication::beep();
    QMessageBox box(QMessageBox::Question, kConfirmCaption, text, QMessageBox::Ok | QMessageBox::Cancel,
                    parent_);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void QtDialogService::MOSTRA_AVISO(const QString& text) {
    QApplication::beep();
    information(text);
}

QString QtDialogService::choose_file(const QString& caption, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileName(parent_, caption, folder, filter);
}

QString QtDialogService::choose_folder(const QString& caption, const QString& folder) {
    return QFileDialog::getExistingDirectory(parent_, caption, folder);
}

} // namespace miravox
