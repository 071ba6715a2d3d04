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

QtDialogService::~QtDialogService() {
    delete notice_box_.data();
}

QMessageBox* QtDialogService::open_notice() const {
    return notice_box_.data();
}

void QtDialogService::notice(const QString& text) {
    if ((notice_box_ && notice_box_->text() == text) || waiting_notices_.contains(text) ||
        waiting_notices_.size() >= kMostWaitingNotices)
        return;
    waiting_notices_.enqueue(text);
    show_next_notice();
}

void QtDialogService::notice_aviso(const QString& text) {
    QApplication::beep();
    notice(text);
}

void QtDialogService::show_next_notice() {
    if (notice_box_ || waiting_notices_.isEmpty())
        return;
    auto* box = new QMessageBox(QMessageBox::NoIcon, kApplicationTitle, waiting_notices_.dequeue(),
                                QMessageBox::Ok, parent_);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The box deletes itself once closed; the service deletes one still open with itself.
    QObject::connect(box, &QMessageBox::finished, box, [this] {
        notice_box_ = nullptr;
        show_next_notice();
    });
    notice_box_ = box;
    box->show();
}

QString QtDialogService::choose_folder(const QString& caption, const QString& folder) {
    return QFileDialog::getExistingDirectory(parent_, caption, folder);
}

} // namespace miravox
