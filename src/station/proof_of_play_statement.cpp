// The statement a station hands to an advertiser: one self-contained HTML page (styles inline,
// nothing fetched) that prints on A4, with the station, the period, each file's airings and
// totals, and the days of the period that have no proof-of-play file at all.

#include "proof_of_play.h"

#include "clock.h"
#include "proof_of_play_report.h"

#include <QSaveFile>

namespace miravox {

namespace {

const char* const kStyle = R"(
  body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 10pt; color: #111; margin: 24px; }
  h1 { font-size: 16pt; margin: 0 0 4px 0; }
  h2 { font-size: 11pt; margin: 18px 0 4px 0; word-break: break-all; }
  .station { font-size: 13pt; font-weight: bold; }
  .meta { color: #444; margin: 2px 0; }
  table { border-collapse: collapse; width: 100%; margin: 4px 0 8px 0; }
  th, td { border: 1px solid #999; padding: 2px 6px; text-align: left; }
  th { background: #e8e8e8; }
  td.n, th.n { text-align: right; }
  table.airings { table-layout: fixed; }
  tr { page-break-inside: avoid; }
  thead { display: table-header-group; }
  tr.cut td { background: #fff4e0; }
  tr.missed td { background: #fde8e8; }
  tr.onair td { background: #e8f0fd; }
  tr.total td { font-weight: bold; background: #f2f2f2; }
  .gap { color: #a00; }
  .none { font-style: italic; }
  footer { margin-top: 16px; color: #666; font-size: 8pt; }
  @page { size: A4; margin: 14mm; }
  @media print { body { margin: 0; } section { page-break-inside: auto; } }
)";

QString esc(const QString& s) {
    return s.toHtmlEscaped();
}

QString date_text(const QDate& d) {
    return d.toString("dd/MM/yyyy");
}

QString row_class(const Airing& a) {
    if (a.outcome == kAiringComplete)
        return {};
    if (a.outcome == kAiringCut)
        return " class=\"cut\"";
    if (a.outcome == kAiringOnAir)
        return " class=\"onair\"";
    return " class=\"missed\"";
}

QString cell(const QString& text, bool number = false) {
    return QString(number ? "<td class=\"n\">" : "<td>") + esc(text) + "</td>";
}

QString totals_cells(const FileTotals& t) {
    return cell(QString::number(t.complete), true) + cell(QString::number(t.cut), true) +
           cell(QString::number(t.missed), true) + cell(QString::number(t.seconds), true);
}

// Consecutive days as one range: "01/12/2026 a 05/12/2026".
QStringList day_ranges(const std::vector<QDate>& days) {
    QStringList out;
    for (size_t i = 0; i < days.size();) {
        size_t j = i;
        while (j + 1 < days.size() && days[j].addDays(1) == days[j + 1])
            ++j;
        out << (i == j ? date_text(days[i]) : date_text(days[i]) + " a " + date_text(days[j]));
        i = j + 1;
    }
    return out;
}

} // namespace

QString commercials_statement_html(const QString& logs_folder, const QDate& from, const QDate& to,
                                   const QString& station) {
    const RangeAirings range = airings_of_range(logs_folder, from, to);
    const QString period = date_text(from) + " a " + date_text(to);
    QString h;
    h += "<!DOCTYPE html>\n<html lang=\"pt-BR\">\n<head>\n<meta charset=\"utf-8\">\n";
    h += "<title>Comprovante de veiculação - " + esc(station.isEmpty() ? QString("Miravox") : station) +
         " - " + esc(period) + "</title>\n";
    h += "<style>" + QString::fromUtf8(kStyle) + "</style>\n</head>\n<body>\n";
    h += "<header>\n<h1>Comprovante de veiculação de comerciais</h1>\n";
    h += "<div class=\"station\">" +
         (station.isEmpty() ? QString("Emissora não informada (ESTACAO= no MIRAVOX.INI)") : esc(station)) +
         "</div>\n";
    h += "<p class=\"meta\">Período: " + esc(period) + "</p>\n";
    h += "<p class=\"meta\">Emitido em: " + esc(clock().now().toString("dd/MM/yyyy HH:mm:ss")) + "</p>\n";
    h += "</header>\n";

    // The summary first: what an advertiser looks for.
    h += "<section>\n<h2>Resumo por arquivo</h2>\n";
    if (range.by_file.empty()) {
        h += "<p class=\"none\">Nenhum comercial registrado no período.</p>\n";
    } else {
        h += "<table>\n<thead><tr><th>Arquivo</th><th class=\"n\">Completos</th><th "
             "class=\"n\">Interrompidos</th>"
             "<th class=\"n\">Não exibidos</th><th class=\"n\">Segundos no ar</th></tr></thead>\n<tbody>\n";
        for (const auto& [file, t] : range.by_file)
            h += "<tr>" + cell(file) + totals_cells(t) + "</tr>\n";
        h += "<tr class=\"total\">" + cell("Total") + totals_cells(range.all) + "</tr>\n";
        h += "</tbody>\n</table>\n";
    }
    h += "</section>\n";

    for (const auto& [file, t] : range.by_file) {
        h += "<section>\n<h2>" + esc(file) + "</h2>\n";
        h += "<table class=\"airings\">\n<colgroup><col style=\"width:13%\"><col style=\"width:12%\">"
             "<col style=\"width:10%\"><col style=\"width:10%\"><col style=\"width:10%\"><col "
             "style=\"width:10%\">"
             "<col style=\"width:35%\"></colgroup>\n";
        h += "<thead><tr><th>Data</th><th>Horário programado</th><th>Início</th><th>Fim</th>"
             "<th class=\"n\">No ar (s)</th><th class=\"n\">Duração (s)</th><th>Resultado</th></tr></thead>\n"
             "<tbody>\n";
        for (const Airing& a : t.airings) {
            const QString outcome = a.detail.isEmpty() ? a.outcome : a.outcome + " (" + a.detail + ")";
            h += "<tr" + row_class(a) + ">" + cell(date_text(a.date)) + cell(a.scheduled) +
                 cell(a.start.isValid() ? a.start.toString("HH:mm:ss") : QString()) +
                 cell(a.start.isValid() && a.end.isValid() ? a.end.toString("HH:mm:ss") : QString()) +
                 cell(QString::number(a.seconds_aired), true) +
                 cell(a.file_seconds < 0 ? QString() : QString::number(a.file_seconds), true) +
                 cell(outcome) + "</tr>\n";
        }
        h += "<tr class=\"total\"><td colspan=\"7\">Completos: " + QString::number(t.complete) +
             " &nbsp; Interrompidos: " + QString::number(t.cut) +
             " &nbsp; Não exibidos: " + QString::number(t.missed) +
             " &nbsp; Segundos no ar: " + QString::number(t.seconds) + "</td></tr>\n";
        h += "</tbody>\n</table>\n</section>\n";
    }

    h += "<section>\n<h2>Dias sem registro</h2>\n";
    if (range.days_without_file.empty())
        h += "<p>Todos os dias do período têm arquivo de registro.</p>\n";
    else
        h += "<p class=\"gap\">Sem arquivo de registro (LOGS/AAAAMMDD.DSP.csv): " +
             esc(day_ranges(range.days_without_file).join("; ")) + ".</p>\n";
    h += "</section>\n";
    h += "<footer>Gerado pelo Miravox a partir de LOGS/AAAAMMDD.DSP.csv. \"interrompido\": o comercial não "
         "foi ao ar até o fim; \"não exibidos\": arquivo não localizado ou com erro.</footer>\n";
    h += "</body>\n</html>\n";
    return h;
}

bool write_statement(const QString& path, const QString& html, QString* error) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(html.toUtf8()) >= 0 && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

} // namespace miravox
