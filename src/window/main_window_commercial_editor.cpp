// The "Comercial" tab: the editor of the week's commercial triggers. It adds a trigger after
// checking its audio file, its time, its date range and the triggers of the weekday at the same
// minute, deletes the selected trigger, copies a trigger's audio path and pre-listens to it.
// Its "Relatório" button writes the proof-of-play report of the dates in its date fields.

#include "main_window.h"

#include "configuration.h"
#include "dialog_service.h"
#include "proof_of_play.h"
#include "record_fields.h"
#include "schedule_editing.h"
#include "tessel_grid.h"
#include "weekday_files.h"

#include <QDateEdit>
#include <QFileInfo>
#include <QSaveFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

#include <utility>

namespace {

const QString kDateFormat = QStringLiteral("dd/MM/yyyy");

bool audio_acceptable(const QLineEdit* edit, miravox::DialogService& dialogs) {
    const QString typed = edit->text();
    if (miravox::breaks_record(typed)) {
        dialogs.information(miravox::record_breaker_text("Arquivo de áudio: ", typed));
        return false;
    }
    if (miravox::outside_code_page(typed)) {
        dialogs.information(miravox::code_page_text("Arquivo de áudio: ", typed));
        return false;
    }
    const QString trimmed = typed.trimmed();
    if (trimmed.isEmpty() || !QFileInfo(trimmed).isFile()) {
        dialogs.information("Arquivo de áudio: " + typed + " não localizado - Verifique");
        return false;
    }
    return true;
}

// Whether the existing trigger fires at minute `t` on a day of [first, last]. A line whose time
// (or, at the same minute, whose dates) cannot be read is reported and never blocks.
bool conflicts(const QString& line, const QTime& t, const QDate& first, const QDate& last,
               miravox::DialogService& dialogs) {
    QString error;
    const auto u = miravox::parse_stored_time(PEGA_CAMPO(1, line) + ":00", &error);
    if (!u) {
        dialogs.information("Erro ao incluir novo horário\r" + error);
        return false;
    }
    if (*u != t)
        return false;
    const QDate line_first = miravox::parse_date(PEGA_CAMPO(2, line));
    const QDate line_last = miravox::parse_date(PEGA_CAMPO(3, line));
    if (!line_first.isValid() || !line_last.isValid()) {
        const QString bad = line_first.isValid() ? PEGA_CAMPO(3, line) : PEGA_CAMPO(2, line);
        dialogs.information("Erro ao incluir novo horário\r" + miravox::date_read_error(bad));
        return false;
    }
    return first <= line_last && last >= line_first;
}

// Removes the trigger `pick` chooses in the selected weekday's file, logs it and reloads the grid.
void delete_trigger(Tfrm_miravox& w, const std::function<qsizetype(const QStringList&)>& pick) {
    const QString path = w.weekday_file(w.PageControl4->currentIndex() + 1, ".DSP");
    if (const auto removed = miravox::remove_line(path, pick, w.dialogs))
        w.SALVA_LOGS("EXCLUSÃO DSP: " + *removed);
    w.CARREGA_GRADE_DSP();
}

} // namespace

void Tfrm_miravox::BitBtn5Click() {
    if (!audio_acceptable(Edit3, dialogs))
        return;
    if (!miravox::parse_typed_time(MaskEdit3->text())) {
        dialogs.information("Hora inválida - Verifique");
        return;
    }
    const QDate first = DateEdit1->date();
    const QDate last = DateEdit2->date();
    if (last < first) {
        dialogs.information("Data inválida");
        return;
    }

    const QString path = weekday_file(PageControl4->currentIndex() + 1, ".DSP");
    miravox::EditableFile file = miravox::load_for_edit(path);
    if (!file.error.isEmpty()) {
        // Rewriting a file that could not be read would drop every trigger it holds.
        dialogs.information(miravox::read_failure_text(path, file.error));
        return;
    }

    const QString minute = MaskEdit3->text().left(5);
    const QTime t = *miravox::parse_typed_time(minute + ":00");
    for (const QString& line : file.lines) {
        if (conflicts(line, t, first, last, dialogs)) {
            dialogs.information("Horário já existente");
            return;
        }
    }

    if (dialogs.CONFIRMA("Confirma a Inclusão do DISPARO as " + MaskEdit3->text() + " ??")) {
        const QString record = "|" + minute + "|" + first.toString(kDateFormat) + "|" +
                               last.toString(kDateFormat) + "|" + Edit3->text().trimmed() + "|";
        if (miravox::append_and_save(path, file, record, dialogs))
            SALVA_LOGS("INCLUSAO DSP: " + record);
    }
    CARREGA_GRADE_DSP();
}

// The selected row is deleted, not merely a trigger at its minute: two triggers may share a
// minute over different date ranges, and the operator picked one of them.
void Tfrm_miravox::BitBtn14Click() {
    const int row = tesselGrid3->Row();
    const QString minute = tesselGrid3->Cells(0, row);
    if (minute.trimmed().isEmpty())
        return;
    if (!dialogs.CONFIRMA("Confirma a Exclusão do Horário: " + minute + " ??"))
        return;
    const QStringList fields{minute, tesselGrid3->Cells(1, row), tesselGrid3->Cells(2, row),
                             tesselGrid3->Cells(3, row)};
    delete_trigger(*this,
                   [&](const QStringList& lines) { return miravox::last_line_with_fields(lines, fields); });
}

void Tfrm_miravox::EXCLUI_DISPARO(const QString& minute) {
    delete_trigger(*this,
                   [&](const QStringList& lines) { return miravox::last_line_with_start(lines, minute); });
}

void Tfrm_miravox::tesselGrid3DblClick() {
    const int row = tesselGrid3->Row();
    if (!tesselGrid3->Cells(0, row).trimmed().isEmpty())
        Edit3->setText(tesselGrid3->Cells(3, row).trimmed());
}

void Tfrm_miravox::BitBtn6Click() {
    miravox::choose_audio_file(Edit3, dialogs);
}

void Tfrm_miravox::BitBtn8Click() {
    pre_listen(Edit3, BitBtn8);
}

void Tfrm_miravox::BitBtn3Click() {
    Edit3->clear();
    Panel18->setCaption("Status");
}

void Tfrm_miravox::PageControl4Change() {
    CARREGA_GRADE_DSP();
}

void Tfrm_miravox::BitBtnRelatorioClick() {
    QDate from = DateEdit1->date();
    QDate to = DateEdit2->date();
    if (to < from)
        std::swap(from, to);
    // The text report and, beside it, the printable statement for the advertiser.
    const QString base = Log.logs_folder() + "RELATORIO_COMERCIAIS_" + from.toString("yyyyMMdd") + "_" +
                         to.toString("yyyyMMdd");
    const QString path = base + ".txt";
    const QString html = base + ".html";
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(miravox::commercials_report(Log.logs_folder(), from, to, false).toUtf8()) >= 0 &&
                         file.commit() &&
                         miravox::write_statement(
                             html, miravox::commercials_statement_html(Log.logs_folder(), from, to, miravox::station_name()));
    if (!written) {
        SALVA_LOGS("Erro ao gravar relatório de comerciais: " + path);
        dialogs.MOSTRA_AVISO("Erro ao gravar relatório de comerciais: " + path + " - Verifique");
        return;
    }
    SALVA_LOGS("Relatório de comerciais: " + path + " e " + html);
    Panel18->setCaption("Relatório: " + path);
    dialogs.information("Relatório de comerciais gravado em:\n" + path + "\n\nComprovante para impressão:\n" + html);
}
