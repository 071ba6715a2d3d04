// The reports of a range of days: per audio file, as text or CSV, and the command line that
// prints them or writes the statement.

#include "proof_of_play_report.h"
#include "proof_of_play.h"

#include <QFileInfo>

#include <algorithm>

namespace miravox {

namespace {

QString time_field(const QTime& t) {
    return t.isValid() ? t.toString("HH:mm:ss") : QString();
}

QString quoted(const QString& field) {
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    QString q = field;
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

QString totals_text(const FileTotals& t) {
    return "Completos: " + QString::number(t.complete) + "   Interrompidos: " + QString::number(t.cut) +
           "   Não exibidos: " + QString::number(t.missed) +
           "   Segundos no ar: " + QString::number(t.seconds);
}

QString airing_line(const Airing& a) {
    QString when = a.start.isValid() ? time_field(a.start) + " a " + time_field(a.end) : QString(19, ' ');
    QString line = "  " + a.date.toString("dd/MM/yyyy") + "  " + a.scheduled + "  " + when + "  " +
                   QString::number(a.seconds_aired).rightJustified(4) + " s  " + a.outcome;
    if (!a.detail.isEmpty())
        line += " (" + a.detail + ")";
    if (!a.link.isEmpty())
        line += "  [" + a.link + "]";
    return line;
}

QString csv_airing(const Airing& a) {
    QString text = a.date.toString("dd/MM/yyyy") + ' ' + a.scheduled;
    if (a.start.isValid())
        text += ' ' + time_field(a.start) + '-' + time_field(a.end);
    return text + ' ' + a.outcome + ' ' + QString::number(a.seconds_aired) + 's';
}

} // namespace

void FileTotals::add(const Airing& a) {
    airings.push_back(a);
    if (a.outcome == kAiringOnAir)
        return; // counted once it ends
    if (a.outcome == kAiringComplete)
        ++complete;
    else if (a.outcome == kAiringCut)
        ++cut;
    else
        ++missed;
    seconds += a.seconds_aired;
}

void FileTotals::add(const FileTotals& t) {
    complete += t.complete;
    cut += t.cut;
    missed += t.missed;
    seconds += t.seconds;
}

RangeAirings airings_of_range(const QString& logs_folder, const QDate& from, const QDate& to) {
    RangeAirings r;
    for (QDate day = from; day <= to; day = day.addDays(1)) {
        const QString path = proof_of_play_file(logs_folder, day);
        if (!QFileInfo(path).isFile()) {
            r.days_without_file.push_back(day);
            continue;
        }
        for (const Airing& a : read_airings(path))
            r.by_file[a.file].add(a);
    }
    for (const auto& [file, t] : r.by_file)
        r.all.add(t);
    return r;
}

QString commercials_report(const QString& logs_folder, const QDate& from, const QDate& to, bool csv) {
    const RangeAirings range = airings_of_range(logs_folder, from, to);
    const auto& by_file = range.by_file;

    const QString period = from.toString("dd/MM/yyyy") + " a " + to.toString("dd/MM/yyyy");
    QStringList lines;
    if (csv) {
        lines << "arquivo,completos,interrompidos,não exibidos,segundos no ar,exibições";
        for (const auto& [file, t] : by_file) {
            QStringList list;
            for (const Airing& a : t.airings)
                list << csv_airing(a);
            lines << quoted(file) + ',' + QString::number(t.complete) + ',' + QString::number(t.cut) + ',' +
                         QString::number(t.missed) + ',' + QString::number(t.seconds) + ',' +
                         quoted(list.join("; "));
        }
        return lines.join("\r\n") + "\r\n";
    }

    lines << "RELATÓRIO DE COMERCIAIS - " + period << "";
    if (by_file.empty())
        lines << "Nenhum comercial registrado no período.";
    for (const auto& [file, t] : by_file) {
        lines << file;
        lines << "  " + totals_text(t);
        for (const Airing& a : t.airings)
            lines << airing_line(a);
        lines << "";
    }
    if (!by_file.empty())
        lines << "TOTAL  " + totals_text(range.all);
    return lines.join('\n') + '\n';
}

int commercials_report_command(const QStringList& args, const QString& logs_folder, QString& out,
                               const QString& station) {
    bool csv = false;
    bool bad = false;
    QString html;
    std::vector<QDate> dates;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == "--csv") {
            csv = true;
            continue;
        }
        if (arg == "--html") {
            bad = bad || i + 1 >= args.size() || args[i + 1].trimmed().isEmpty();
            if (i + 1 < args.size())
                html = args[++i];
            continue;
        }
        const QDate d = QDate::fromString(arg.trimmed(), "dd/MM/yyyy");
        bad = bad || !d.isValid();
        dates.push_back(d);
    }
    if (bad || dates.size() != 2) {
        out = "Uso: miravox " + kReportOption +
              " DD/MM/AAAA DD/MM/AAAA [--csv] [--html ARQUIVO]\n"
              "Relatório dos comerciais registrados em LOGS/AAAAMMDD.DSP.csv entre as duas datas;\n"
              "com --html, o comprovante para impressão gravado em ARQUIVO.\n";
        return 2;
    }
    const QDate from = std::min(dates[0], dates[1]);
    const QDate to = std::max(dates[0], dates[1]);
    if (!html.isEmpty()) {
        QString error;
        if (!write_statement(html, commercials_statement_html(logs_folder, from, to, station), &error)) {
            out = "Erro ao gravar relatório de comerciais: " + html + " - " + error + "\n";
            return 1;
        }
        out = "Relatório de comerciais gravado em: " + html + "\n";
        return 0;
    }
    out = commercials_report(logs_folder, from, to, csv);
    return 0;
}

} // namespace miravox
