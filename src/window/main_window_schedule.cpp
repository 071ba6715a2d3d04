// Day lists: today's stream windows for the main tick, the editor grids of the weekday files,
// and the commercial trigger look-up.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "engine_state.h"
#include "record_fields.h"
#include "soundlib.h"
#include "tessel_grid.h"
#include "weekday_files.h"

#include <QTabBar>

namespace {

const QStringList kWebHeader{"Início", "Término", "Descrição do Evento (Streaming)"};
const QStringList kDspHeader{"Horário", "Data/Inicial", "Data/Final", "Descrição do Disparo"};

void reset_grid(TtesselGrid* grid) {
    grid->ClearAll();
    grid->setRowCount(2);
}

void write_header(TtesselGrid* grid, const QStringList& header) {
    for (int c = 0; c < header.size(); ++c)
        grid->setCells(c, 0, header[c]);
}

// Rows 1, 2, ... get the first `columns` fields of every record that has a start time.
void fill_rows(TtesselGrid* grid, const QStringList& lines, int columns) {
    int row = 0;
    for (const QString& line : lines) {
        if (PEGA_CAMPO(1, line).trimmed().isEmpty())
            continue;
        ++row;
        if (grid->RowCount() < row + 1)
            grid->setRowCount(row + 1);
        for (int c = 0; c < columns; ++c)
            grid->setCells(c, row, PEGA_CAMPO(c + 1, line));
        grid->setRowCount(row + 1);
    }
}

} // namespace

QString Tfrm_miravox::weekday_file(int weekday, const QString& extension) const {
    return miravox::weekday_file_name(WPATH_DADOS, weekday, extension);
}

void Tfrm_miravox::ATUALIZA_AGENDA() {
    reset_grid(tesselGrid1);
    wlista_horario.clear();
    const QDateTime now = miravox::clock().now();
    Label8->setText(now.time().toString("HH:mm:ss"));
    const QString path = weekday_file(miravox::weekday_number(now.date()), ".WEB");
    const miravox::WeekdayFile file = miravox::read_weekday_file(path, true);
    if (!file.error.isEmpty())
        SALVA_LOGS("Erro ao ler " + path + ": " + file.error);
    if (!file.lines.isEmpty()) {
        wlista_horario = file.lines;
        write_header(tesselGrid1, kWebHeader);
        fill_rows(tesselGrid1, wlista_horario, 3);
        return;
    }
    // No windows today: the output can rest while nothing plays on it.
    if (!Canal_Musica->isStarted() && !Canal_web->isStarted() && !Canal_Comercial->isStarted() &&
        !canal_vinhetas->isStarted())
        BASS_Stop();
}

void Tfrm_miravox::CARREGA_GRADE_WEB() {
    reset_grid(tesselGrid2);
    const QString path = weekday_file(semana->currentIndex() + 1, ".WEB");
    const miravox::WeekdayFile file = miravox::read_weekday_file(path, true);
    if (!file.error.isEmpty())
        SALVA_LOGS("Erro ao ler " + path + ": " + file.error);
    if (file.exists && file.lines.isEmpty())
        return;
    write_header(tesselGrid2, kWebHeader);
    fill_rows(tesselGrid2, file.lines, 3);
}

QString Tfrm_miravox::BUSCA_DISPARO(const QString& minute) {
    const QDate today = miravox::clock().now().date();
    const QString path = weekday_file(miravox::weekday_number(today), ".DSP");
    const miravox::WeekdayFile file = miravox::read_weekday_file(path, false);
    if (!file.error.isEmpty())
        SALVA_LOGS("Erro ao ler " + path + ": " + file.error);
    return miravox::find_trigger(file.lines, minute, today);
}

void Tfrm_miravox::CARREGA_GRADE_DSP() {
    reset_grid(tesselGrid3);
    const QString path = weekday_file(PageControl4->currentIndex() + 1, ".DSP");
    const miravox::WeekdayFile file = miravox::read_weekday_file(path, true);
    if (!file.error.isEmpty())
        SALVA_LOGS("Erro ao ler " + path + ": " + file.error);
    if (file.exists && file.lines.isEmpty())
        return;
    write_header(tesselGrid3, kDspHeader);
    fill_rows(tesselGrid3, file.lines, 4);
}

void Tfrm_miravox::tesselGrid3GetCellColor(int ARow, int, QBrush& ABrush) {
    const QDate today = miravox::clock().now().date();
    QDate last = miravox::parse_date(tesselGrid3->Cells(2, ARow));
    if (!last.isValid())
        last = today;
    if (today > last)
        ABrush.setColor(QColor(255, 0, 0));
    QDate first = miravox::parse_date(tesselGrid3->Cells(1, ARow));
    if (!first.isValid())
        first = today;
    if (today < first)
        ABrush.setColor(QColor(0, 128, 0));
}
