#pragma once
// The regional-format guard. Times and dates are stored as text ("HH:mm:ss", "dd/MM/yyyy") in
// the schedule files and the logs and read back with the process's formats; before anything
// else runs, the guard makes sure those formats turn midnight into "00:00:00" and 1 January
// 2003 into "01/01/2003". The program itself always formats and parses with those fixed
// formats, so in practice the guard passes; it checks through an interface so that an
// incompatible setting (a 12-hour clock, month-first dates, "-" separators) is caught.
// It never changes system-wide settings.
// Thread rules: main thread only, before the main window exists.

#include <QString>

namespace miravox {

class DialogService;

// The time and short date formats the process uses (Qt format strings).
class FormatSettings {
public:
    virtual ~FormatSettings() = default;
    virtual QString time_format() const = 0;
    virtual QString short_date_format() const = 0;
    // Correct the format for this program; false when that is refused.
    virtual bool set_time_format(const QString& format) = 0;
    virtual bool set_short_date_format(const QString& format) = 0;
};

// The process's own formats: fixed, and nothing outside the program is changed.
class ProcessFormatSettings final : public FormatSettings {
public:
    QString time_format() const override { return time_; }
    QString short_date_format() const override { return date_; }
    bool set_time_format(const QString& format) override;
    bool set_short_date_format(const QString& format) override;

private:
    QString time_ = QStringLiteral("HH:mm:ss");
    QString date_ = QStringLiteral("dd/MM/yyyy");
};

} // namespace miravox

// True when start-up may continue. Asks to correct an incompatible format and ends the start
// in every case of a mismatch (a correction applies from the next start).
bool VERIFICA_FORMATOS(miravox::FormatSettings& settings, miravox::DialogService& dialogs);
