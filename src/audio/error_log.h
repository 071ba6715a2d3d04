#pragma once
// Texts for the sound library's error codes, and the day's engine error log: one 17-line
// block per library failure in LOGS/ + year, month and day without leading zeros + ".ERR",
// each block recording the engine-wide counters at that moment.
// Thread rules: main thread only (the log shares wlista_erros with every channel).

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace miravox {
class DialogService;
}

// "Cod:BS4 - Buffer Perdido" for a known code, "CODIGO: BS(-1) Erro Indefinido" otherwise.
QString TEXTO_ERRO_BS(std::int16_t code);

namespace miravox {

// The log file of `day`: PASTA_PROGRAMA() + "LOGS/" + 2025 + 8 + 19 + ".ERR".
QString error_log_path(const QDate& day);

// The 17 lines logged for one failure at `now`. `file_path` is the calling channel's source.
QStringList error_log_block(const QString& text, int code, const QString& file_path, const QDateTime& now);

// Appends one block to today's file (reloaded whole, rewritten whole). A folder or file that
// cannot be written, or an existing file that cannot be read (rewriting it would lose the
// day's earlier blocks), ends in the message "Erro ao Salvar LOGS de Erro (BS)"; the caller
// goes on either way.
void append_error_log(const QString& text, int code, const QString& file_path, DialogService& dialogs);

} // namespace miravox
