#include "schedule_editing.h"

#include "dialog_service.h"
#include "record_fields.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>

namespace miravox {

namespace {

QString write_failure_text(const QString& path, const QString& error) {
    return "Erro ao gravar o arquivo " + path + ": " + error + " - Nada foi alterado - Verifique";
}

} // namespace

std::optional<QTime> parse_typed_time(const QString& text) {
    static const QRegularExpression pattern(R"(^\d\d:\d\d:\d\d$)");
    return pattern.match(text).hasMatch() ? parse_stored_time(text) : std::nullopt;
}

QString date_read_error(const QString& text) {
    return "'" + text + "' não é uma data válida";
}

bool breaks_record(const QString& text) {
    return text.contains('|') || text.contains('\r') || text.contains('\n');
}

void choose_audio_file(QLineEdit* edit, DialogService& dialogs) {
    const QString current = edit->text().trimmed();
    const QString folder = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
    const QString chosen = dialogs.choose_file("Abrir", folder, kAudioFileFilter);
    if (!chosen.isEmpty())
        edit->setText(chosen);
}

QString read_failure_text(const QString& path, const QString& error) {
    return "Erro ao ler o arquivo " + path + ": " + error + " - Verifique";
}

QString record_breaker_text(const QString& what, const QString& typed) {
    return what + typed + " contém caractere não permitido ( | ou quebra de linha) - Verifique";
}

bool outside_code_page(const QString& text) {
    return decode_cp1252(encode_cp1252(text)) != text;
}

QString code_page_text(const QString& what, const QString& typed) {
    return what + typed + " contém caracteres que não podem ser gravados na grade - Verifique";
}

EditableFile load_for_edit(const QString& path) {
    EditableFile result;
    result.exists = QFileInfo(path).isFile();
    if (!result.exists)
        return result;
    QString error;
    if (auto file = read_text_file(path, &error)) {
        result.lines = file->lines;
        result.encoding = file->encoding;
    } else {
        result.error = error.isEmpty() ? QStringLiteral("leitura falhou") : error;
    }
    return result;
}

bool append_and_save(const QString& path, EditableFile& file, const QString& record, DialogService& dialogs) {
    file.lines.append(record);
    sort_lines(file.lines);
    QString error;
    if (write_text_file(path, file.lines, file.encoding, &error))
        return true;
    dialogs.information(write_failure_text(path, error));
    return false;
}

std::optional<QString> remove_line(const QString& path,
                                   const std::function<qsizetype(const QStringList&)>& pick,
                                   DialogService& dialogs) {
    EditableFile file = load_for_edit(path);
    if (!file.error.isEmpty()) {
        dialogs.information(read_failure_text(path, file.error));
        return std::nullopt;
    }
    if (file.lines.isEmpty())
        return std::nullopt;
    sort_lines(file.lines);
    const qsizetype index = pick(file.lines);
    if (index < 0)
        return QString();
    const QString removed = file.lines.takeAt(index);
    QString error;
    if (!write_text_file(path, file.lines, file.encoding, &error)) {
        dialogs.information(write_failure_text(path, error));
        return std::nullopt;
    }
    return removed;
}

qsizetype last_line_with_start(const QStringList& lines, const QString& start) {
    for (qsizetype i = lines.size() - 1; i >= 0; --i)
        if (PEGA_CAMPO(1, lines[i]) == start)
            return i;
    return -1;
}

qsizetype last_line_with_fields(const QStringList& lines, const QStringList& fields) {
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        bool same = true;
        for (qsizetype f = 0; same && f < fields.size(); ++f)
            same = PEGA_CAMPO(int(f) + 1, lines[i]) == fields[f];
        if (same)
            return i;
    }
    return -1;
}

} // namespace miravox
