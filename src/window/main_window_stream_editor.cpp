// The "Streaming" tab: the editor of the week's stream windows. It adds a window after checking
// its jingles, its times and the other windows of the weekday, deletes one, shows and copies
// a listed window, tests the link and pre-listens to the jingles on the cue channel.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "dialog_service.h"
#include "record_fields.h"
#include "schedule_editing.h"
#include "soundlib.h"
#include "tessel_grid.h"
#include "weekday_files.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

#include <algorithm>

namespace {

const QString kDefaultStart = QStringLiteral("19:00:00");
const QString kDefaultEnd = QStringLiteral("20:00:00");

bool is_file(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// A jingle is optional, but one that is named must exist and fit in a record and in the file.
bool jingle_acceptable(const QLineEdit* edit, miravox::DialogService& dialogs) {
    const QString typed = edit->text();
    if (miravox::breaks_record(typed)) {
        dialogs.information(miravox::record_breaker_text("Arquivo: ", typed));
        return false;
    }
    if (miravox::outside_code_page(typed)) {
        dialogs.information(miravox::code_page_text("Arquivo: ", typed));
        return false;
    }
    const QString trimmed = typed.trimmed();
    if (!trimmed.isEmpty() && !is_file(trimmed)) {
        dialogs.information("Arquivo: " + typed + " não localizado - Verifique");
        return false;
    }
    return true;
}

// Both times must read as HH:mm:ss and the start must come first: no window crosses midnight.
bool period_acceptable(const QString& start_text, const QString& end_text, miravox::DialogService& dialogs) {
    const auto start = miravox::parse_typed_time(start_text);
    const auto end = miravox::parse_typed_time(end_text);
    if (!start || !end) {
        dialogs.information("Hora inválida - Verifique");
        return false;
    }
    if (!(*start < *end)) {
        dialogs.information("Período indicado Inválido - Verifique");
        return false;
    }
    return true;
}

// The link as it would be stored, or nothing (with the operator told why) when it cannot be.
std::optional<QString> storable_link(const QString& typed, miravox::DialogService& dialogs) {
    if (typed.trimmed().isEmpty()) {
        dialogs.information("Link de Streaming Inválido - Verifique");
        return std::nullopt;
    }
    if (miravox::breaks_record(typed)) {
        dialogs.information(miravox::record_breaker_text("Link de Streaming: ", typed));
        return std::nullopt;
    }
    if (miravox::outside_code_page(typed)) {
        dialogs.information(miravox::code_page_text("Link de Streaming: ", typed));
        return std::nullopt;
    }
    return typed.trimmed();
}

// The backup links as stored in field 10 (one blank between them; none is fine), or nothing
// (with the operator told why) when they cannot be.
std::optional<QString> storable_backups(const QString& typed, miravox::DialogService& dialogs) {
    if (miravox::breaks_record(typed)) {
        dialogs.information(miravox::record_breaker_text("Links de Reserva: ", typed));
        return std::nullopt;
    }
    if (miravox::outside_code_page(typed)) {
        dialogs.information(miravox::code_page_text("Links de Reserva: ", typed));
        return std::nullopt;
    }
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    return typed.split(blanks, Qt::SkipEmptyParts).join(' ');
}

// Whether the existing line's window meets [ns, ne] (closed intervals, minutes). A line whose
// times cannot be read is reported and never blocks.
bool overlaps(const QString& line, const QTime& ns, const QTime& ne, miravox::DialogService& dialogs) {
    QString error;
    const auto es = miravox::parse_stored_time(PEGA_CAMPO(1, line) + ":00", &error);
    const auto ee = es ? miravox::parse_stored_time(PEGA_CAMPO(2, line) + ":00", &error) : std::nullopt;
    if (!es || !ee) {
        dialogs.information("Erro ao incluir novo horário\r" + error);
        return false;
    }
    return ns <= *ee && ne >= *es;
}

// The line of the weekday file that grid row `row` shows: rows list, in order, only the lines
// that have a start time, so lines without one (blank, "#" header) must not shift the count.
std::optional<QString> line_of_row(const QStringList& sorted_lines, int row) {
    int shown = 0;
    for (const QString& line : sorted_lines) {
        if (PEGA_CAMPO(1, line).trimmed().isEmpty())
            continue;
        if (++shown == row)
            return line;
    }
    return std::nullopt;
}

} // namespace

void Tfrm_miravox::BitBtn32Click() {
    if (!jingle_acceptable(Edit9, dialogs) || !jingle_acceptable(Edit23, dialogs))
        return;
    if (!period_acceptable(MaskEdit1->text(), MaskEdit2->text(), dialogs))
        return;

    const QString path = weekday_file(semana->currentIndex() + 1, ".WEB");
    miravox::EditableFile file = miravox::load_for_edit(path);
    if (!file.error.isEmpty()) {
        // Rewriting a file that could not be read would drop every window it holds.
        dialogs.information(miravox::read_failure_text(path, file.error));
        return;
    }
    if (!file.lines.isEmpty() && file.lines.first().startsWith('#'))
        file.lines.removeFirst();

    const QString start5 = MaskEdit1->text().left(5);
    const QString end5 = MaskEdit2->text().left(5);
    const QTime ns = *miravox::parse_typed_time(start5 + ":00");
    const QTime ne = *miravox::parse_typed_time(end5 + ":00");
    for (const QString& line : file.lines) {
        if (overlaps(line, ns, ne, dialogs)) {
            dialogs.information("Período já existente");
            return;
        }
    }

    if (dialogs.CONFIRMA("Confirma a Inclusão do EVENTO EXTERNO VIA STREAMING:\rLINK: " + Edit24->text() +
                         "\rPeríodo:" + MaskEdit1->text() + " às " + MaskEdit2->text() + " ??")) {
        const auto link = storable_link(Edit24->text(), dialogs);
        const auto backups = link ? storable_backups(Edit25->text(), dialogs) : std::nullopt;
        if (link && backups) {
            const QString record = "|" + start5 + "|" + end5 + "|" + *link + "|STREAMING|100|" +
                                   Edit9->text().trimmed() + "|" + Edit23->text().trimmed() + "|0|0|" + *backups +
                                   "|";
            if (miravox::append_and_save(path, file, record, dialogs))
                SALVA_LOGS("INCLUSAO WEB: " + record);
        }
    }

    // A relay that gave up can be given another chance by editing the schedule.
    if (WCT_ERROWEB >= 10) {
        WCT_ERROWEB = 0;
        WENCONTRADO_ACIONAMENTO = false;
        WACIONADO = false;
    }
    CARREGA_GRADE_WEB();
    ATUALIZA_AGENDA();
}

void Tfrm_miravox::BitBtn31Click() {
    const QString link = Edit24->text().trimmed();
    if (link.isEmpty())
        return;
    if (Canal_cue->isStarted()) {
        Panel9->setCaption(QString());
        Canal_cue->Stop();
        return;
    }
    WVOL_GERAL = WVOL_MAX;
    // The test goes on off the main thread; its result enables the button again.
    BitBtn31->setEnabled(false);
    TESTA_LINK(link);
}

void Tfrm_miravox::BitBtn34Click() {
    if (Canal_cue->isStarted()) {
        Panel9->setCaption(QString());
        Canal_cue->Stop();
        return;
    }
    // The blank-separated link under the cursor, else the first.
    const QString text = Edit25->text();
    const int cursor = std::min(int(text.size()), Edit25->cursorPosition());
    int from = cursor, to = cursor;
    while (from > 0 && !text[from - 1].isSpace())
        --from;
    while (to < text.size() && !text[to].isSpace())
        ++to;
    QString link = text.mid(from, to - from).trimmed();
    if (link.isEmpty())
        link = backup_links("|||||||||" + text + "|").value(0);
    if (link.isEmpty())
        return;
    WVOL_GERAL = WVOL_MAX;
    BitBtn31->setEnabled(false);
    Panel9->setCaption("Reserva: " + link);
    TESTA_LINK(link);
}

void Tfrm_miravox::TESTA_LINK(const QString& link) {
    BASS_SetConfig(BASS_CONFIG_NET_PROXY, 0);
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 20000);
    process_messages();
    if (!Canal_cue->isStarted())
        Canal_cue->FreeFile();
    if (link.trimmed().isEmpty()) {
        testa_link_opened(link, 0, true);
        return;
    }
    Canal_cue->OpenWeb(link, [this, link](int code) { testa_link_opened(link, code, false); });
}

void Tfrm_miravox::testa_link_opened(const QString& link, int code, bool hls_retry) {
    int error = code;
    if (!link.trimmed().isEmpty())
        Canal_cue->setVolume(100);
    // An HLS playlist often answers only the second request.
    if (!hls_retry && (error != 0 || !Canal_cue->IsCarregado()) && link.toUpper().contains(".M3U8")) {
        Canal_cue->FreeFile();
        Canal_cue->OpenWeb(link.trimmed(), [this, link](int again) { testa_link_opened(link, again, true); });
        return;
    }

    if (error != 0 || !Canal_cue->IsCarregado()) {
        Canal_cue->Stop();
        Canal_cue->FreeFile();
        BitBtn31->setEnabled(true);
        // The reason stays in view while the operator decides, and after.
        Panel9->setCaption(miravox::clock().now().time().toString("HH:mm:ss") +
                           " - Erro ao Carregar WEB (cue) -  Erro:" + QString::number(error));
        if (dialogs.CONFIRMA("Endereço de conexão inválido ou Inativo, Deseja Continuar com o Cadastro ??"))
            BitBtn32->setEnabled(true);
        return;
    }

    Canal_cue->setPosition(0);
    Canal_cue->Play();
    Panel9->setCaption("Conectado à " + Canal_cue->GetWebStationName());
    BitBtn31->setEnabled(true);
    BitBtn32->setEnabled(true);
    BitBtn31->setText("Stop");
}

void Tfrm_miravox::BitBtn33Click() {
    const QString start = tesselGrid2->Cells(0, tesselGrid2->Row());
    if (start.trimmed().isEmpty())
        return;
    if (dialogs.CONFIRMA("Confirma a Exclusão do Horário: " + start + " ??"))
        EXCLUI_HORARIO_WEB(start.trimmed());
}

void Tfrm_miravox::EXCLUI_HORARIO_WEB(const QString& start) {
    const QString path = weekday_file(semana->currentIndex() + 1, ".WEB");
    const auto pick = [&](const QStringList& lines) { return miravox::last_line_with_start(lines, start); };
    if (const auto removed = miravox::remove_line(path, pick, dialogs))
        SALVA_LOGS("EXCLUSÃO: " + *removed);
    ATUALIZA_AGENDA();
    CARREGA_GRADE_WEB();
}

void Tfrm_miravox::tesselGrid2Click() {
    const auto file = miravox::read_weekday_file(weekday_file(semana->currentIndex() + 1, ".WEB"), true);
    if (const auto line = line_of_row(file.lines, tesselGrid2->Row())) {
        Label16->setText(PEGA_CAMPO(6, *line));
        Label17->setText(PEGA_CAMPO(7, *line));
    }
}

void Tfrm_miravox::tesselGrid2DblClick() {
    const auto file = miravox::read_weekday_file(weekday_file(semana->currentIndex() + 1, ".WEB"), true);
    if (const auto line = line_of_row(file.lines, tesselGrid2->Row())) {
        Edit24->setText(PEGA_CAMPO(3, *line));
        Edit25->setText(backup_links(*line).join(' '));
        Edit9->setText(PEGA_CAMPO(6, *line));
        Edit23->setText(PEGA_CAMPO(7, *line));
        MaskEdit1->setText(PEGA_CAMPO(1, *line) + ":00");
        MaskEdit2->setText(PEGA_CAMPO(2, *line) + ":00");
    }
    Panel8->setCaption("LINK STREAMING");
}

void Tfrm_miravox::BitBtn28Click() {
    miravox::choose_audio_file(Edit9, dialogs);
}

void Tfrm_miravox::BitBtn29Click() {
    miravox::choose_audio_file(Edit23, dialogs);
}

void Tfrm_miravox::BitBtn1Click() {
    pre_listen(Edit9, BitBtn1);
}

void Tfrm_miravox::BitBtn2Click() {
    pre_listen(Edit23, BitBtn2);
}

// A click toggles between listening and silence; while the cue channel plays, any pre-listen
// button only stops it (its stop handler turns every "Stop" caption back to "Play").
void Tfrm_miravox::pre_listen(QLineEdit* edit, QPushButton* button) {
    if (!is_file(edit->text()) || Canal_cue->isStarted()) {
        button->setText("Play");
        Canal_cue->Stop();
        return;
    }
    // A link test still opening is dropped for the file: the newer request wins.
    if (Canal_cue->IsOpening())
        BitBtn31->setEnabled(true);
    Canal_cue->FreeFile();
    Canal_cue->setFileName(edit->text().trimmed());
    Canal_cue->Play();
    // A file that does not play leaves the button ready for another try.
    button->setText(Canal_cue->isStarted() ? "Stop" : "Play");
}

void Tfrm_miravox::semanaChange() {
    CARREGA_GRADE_WEB();
}

// "Limpar" on the stream tab starts a new window from scratch: no link, no jingles, the usual
// evening times, and the status texts of the tab back to rest.
void Tfrm_miravox::BitBtn3ClickStreamTab() {
    Edit24->clear();
    Edit25->clear();
    Edit9->clear();
    Edit23->clear();
    MaskEdit1->setText(kDefaultStart);
    MaskEdit2->setText(kDefaultEnd);
    Label16->setText("Status");
    Label17->setText("Status");
    Panel9->setCaption("Status");
}

bool AJUSTA_HORA(QLineEdit* edit, bool up) {
    const int caret = edit->cursorPosition();
    if (caret == 2)
        return true;
    const auto time = miravox::parse_typed_time(edit->text());
    if (!time)
        return false;
    // QTime wraps around midnight both ways: 23:30 + 1 h is 00:30, 00:30 - 1 h is 23:30.
    const int step = caret < 2 ? 3600 : 60;
    edit->setText(time->addSecs(up ? step : -step).toString("HH:mm:ss"));
    if (caret > 2)
        edit->setCursorPosition(caret);
    return true;
}
