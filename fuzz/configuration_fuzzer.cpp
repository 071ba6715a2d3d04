// MIRAVOX.INI as it comes from disk (any bytes), the key reader and the password scrambling.

#include "configuration.h"
#include "fuzz_check.h"
#include "text_file.h"

#include <cstddef>
#include <cstdint>

using miravox::fuzz::check;

namespace {

const QString kProgramFolder = QStringLiteral("/station/");

void check_read(const QStringList& lines) {
    miravox::reset_configuration();
    miravox::apply_configuration(lines, kProgramFolder);
    check(!WPATH_DADOS.trimmed().isEmpty(), "there is always a data folder");
    check(!WPATH_MUSICAS.trimmed().isEmpty(), "there is always a music folder");
    check(WACESSO == WSENHA.trimmed().isEmpty(), "the window is locked exactly when there is a password");
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            check(LE_CHAVE(lines, line.left(eq), "").size() <= 255, "a value is at most 255 characters");
    }
}

// Scrambling and unscrambling undo each other for every accepted key.
void check_scrambling(const QByteArray& bytes) {
    const int key = 101 + 9 * (bytes.isEmpty() ? 0 : quint8(bytes[0]) % 89);
    check(miravox::is_accepted_key(key), "the key is accepted");
    check(DECODIFICA_SENHA(CODIFICA_SENHA(bytes, key), key) == bytes, "unscrambling undoes scrambling");
    check(CODIFICA_SENHA(DECODIFICA_SENHA(bytes, key), key) == bytes, "scrambling undoes unscrambling");
    check(miravox::encode_cp1252(miravox::decode_cp1252(bytes)) == bytes, "any byte survives Windows-1252");
}

// A password the setup dialog accepts as storable comes back from the file it writes.
void check_password_round_trip(const QByteArray& password) {
    if (password.size() > 255 || !miravox::password_storable(password))
        return;
    const QStringList written = miravox::configuration_file_lines(
        "5000", "5000", 0, 0, 100, 30, "/d/", "/m/", CODIFICA_SENHA(password, miravox::kPasswordKey));
    const QByteArray file =
        miravox::encode_text(written.join("\r\n") + "\r\n", miravox::TextEncoding::Windows1252);
    miravox::TextEncoding encoding{};
    const QStringList read = miravox::split_lines(miravox::decode_text(file, &encoding, false));
    miravox::reset_configuration();
    miravox::apply_configuration(read, kProgramFolder);
    check(miravox::encode_cp1252(WSENHA) == password, "a storable password reads back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    miravox::TextEncoding encoding{};
    const QStringList lines = miravox::split_lines(miravox::decode_text(bytes, &encoding, false));
    check_read(lines);
    check_scrambling(bytes);
    check_password_round_trip(bytes.left(300));
    return 0;
}
