#include "format_guard.h"

#include "dialog_service.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

namespace miravox {

namespace {

// Reading a time does not require the morning/afternoon mark of a 12-hour format, so
// "00:00:00" reads as midnight there and such a format fails only when midnight is written
// back ("12:00:00 AM"): the operator gets the question, not a parse error.
QTime parse_time(const QString& text, const QString& format) {
    const QTime time = QTime::fromString(text, format);
    if (time.isValid())
        return time;
    QString without_mark = format;
    without_mark.remove(QRegularExpression(QStringLiteral("\\s*(AP|ap|A|a)\\s*")));
    return without_mark == format ? time : QTime::fromString(text, without_mark.trimmed());
}

} // namespace

bool ProcessFormatSettings::set_time_format(const QString& format) {
    time_ = format;
    return true;
}

bool ProcessFormatSettings::set_short_date_format(const QString& format) {
    date_ = format;
    return true;
}

} // namespace miravox

bool VERIFICA_FORMATOS(miravox::FormatSettings& settings, miravox::DialogService& dialogs) {
    bool result = true;
    const QTime midnight = miravox::parse_time("00:00:00", settings.time_format());
    if (!midnight.isValid()) {
        result = false;
        dialogs.information("Formato de Hora Inválido:" + settings.time_format());
    }
    const QDate test_date = QDate::fromString("01/01/2003", settings.short_date_format());
    if (!test_date.isValid()) {
        result = false;
        dialogs.information("Formato de Data Inválido:" + settings.short_date_format());
    }
    if (!midnight.isValid() || midnight.toString(settings.time_format()) != "00:00:00") {
        if (dialogs.CONFIRMA(
                "O Formato de HORA Padrão do Windows está em modo incompatível com o sistema Oravel"
                "\r\r"
                "DESEJA QUE O SOFTWARE ACERTE O FORMATO PADRÃO PARA HH:mm:ss ??") &&
            !settings.set_time_format("HH:mm:ss"))
            dialogs.information("Não foi possível efetuar a correção - Verifique");
        result = false;
    }
    if (!test_date.isValid() || test_date.toString(settings.short_date_format()) != "01/01/2003") {
        if (dialogs.CONFIRMA(
                "O Formato de DATA Padrão do Windows está em modo incompatível com o sistema Oravel"
                "\r\r"
                "DESEJA QUE O SOFTWARE ACERTE O FORMATO PADRÃO PARA dd/MM/aaaa ??") &&
            !settings.set_short_date_format("dd/MM/yyyy"))
            dialogs.information("Não foi possível efetuar a correção - Verifique");
        result = false;
    }
    return result;
}
