#include "configuration.h"

#include "dialog_service.h"
#include "program_folder.h"
#include "record_fields.h"
#include "text_file.h"

#include <QDir>

#include <algorithm>
#include <array>
#include <optional>

namespace miravox {

namespace {

// The accepted scrambling keys: 89 distinct three-digit numbers.
constexpr std::array<int, 89> kAcceptedKeys = [] {
    std::array<int, 89> keys{};
    for (int i = 0; i < 89; ++i)
        keys[i] = 101 + 9 * i;
    return keys;
}();
static_assert(kAcceptedKeys.back() <= 999);

// A numeric value that is not a decimal integer takes the key's default.
std::int32_t read_int(const QStringList& lines, const QString& key, std::int32_t fallback) {
    bool ok = false;
    const int value = LE_CHAVE(lines, key, QString::number(fallback)).trimmed().toInt(&ok, 10);
    return ok ? value : fallback;
}

// Settings of our own are looked up by the start of their line: a command line may hold any
// text, another key's name included, and may be longer than the classic 255 characters.
std::optional<QString> own_setting(const QStringList& lines, const QString& key) {
    const QString prefix = key + '=';
    for (const QString& line : lines)
        if (line.trimmed().startsWith(prefix))
            return line.trimmed().mid(prefix.size());
    return std::nullopt;
}

std::int32_t own_int(const QStringList& lines, const QString& key, std::int32_t fallback) {
    bool ok = false;
    const int value = own_setting(lines, key).value_or(QString()).trimmed().toInt(&ok, 10);
    return ok ? value : fallback;
}

QString folder_setting(const QString& typed) {
    QString folder = typed.trimmed();
    if (!folder.isEmpty() && !folder.endsWith('\\') && !folder.endsWith('/'))
        folder += '/';
    return folder;
}

} // namespace

bool is_accepted_key(int key) {
    return std::find(kAcceptedKeys.begin(), kAcceptedKeys.end(), key) != kAcceptedKeys.end();
}

void reset_configuration() {
    WTAMBR = 5000;
    WTAMBR_NET = 5000;
    WDVTRA = 0;
    WDVCUE = 0;
    WAUTO_DEVICE = false;
    WVOL_MAX = 100;
    WVOL_MIN = 30;
    WPATH_DADOS.clear();
    WPATH_MUSICAS.clear();
    WSENHA.clear();
    WACESSO = true;
    WSILENCIO = 0;
    WSILENCIO_DB = kDefaultSilenceDb;
    WRESERVA_RETORNO = kDefaultBackupReturnS;
    WPAINEL_PORTA = 0;
    WPAINEL_ENDERECO = kDefaultPanelAddress;
    WPAINEL_SENHA.clear();
    WALERTA_COMANDO.clear();
    WALERTA_ATRASO = kDefaultAlertDelayS;
    WALERTA_INTERVALO = kDefaultAlertIntervalS;
    WESTACAO.clear();
}

QStringList read_configuration_file(const QString& path) {
    const auto file = read_text_file(path, nullptr, false);
    if (!file)
        return {};
    if (file->encoding != TextEncoding::Windows1252)
        return file->lines; // a byte-order mark said what it is
    const auto is_password = [](const QString& line) { return line.contains("SISTEMA="); };
    QByteArray text;
    for (const QString& line : file->lines)
        if (!is_password(line))
            text += encode_cp1252(line) + '\n';
    if (!is_valid_utf8_with_non_ascii(text))
        return file->lines;
    QStringList lines;
    for (const QString& line : file->lines)
        lines << (is_password(line) ? line : QString::fromUtf8(encode_cp1252(line)));
    return lines;
}

void apply_configuration(const QStringList& lines, const QString& program_folder) {
    WTAMBR = read_int(lines, "TAMBR", 5000);
    WTAMBR_NET = read_int(lines, "TAMBR_NET", 5000);
    WDVTRA = read_int(lines, "DVTRA", 0);
    WDVCUE = read_int(lines, "DVCUE", 0);
    WAUTO_DEVICE = read_int(lines, "AUTO_DEVICE", 0) == 1;
    WVOL_MAX = read_int(lines, "VOL_MAX", 100);
    WVOL_MIN = read_int(lines, "VOL_MIN", 30);
    WPATH_DADOS = LE_CHAVE(lines, "PATH_DADOS", QString());
    if (WPATH_DADOS.trimmed().isEmpty())
        WPATH_DADOS = program_folder + "DADOS/";
    WPATH_MUSICAS = LE_CHAVE(lines, "PATH_MUSICAS", QString());
    // The scrambled bytes were read one char per byte (Windows-1252), so they go back that way.
    WSENHA = decode_cp1252(DECODIFICA_SENHA(encode_cp1252(LE_CHAVE(lines, "SISTEMA", QString())), kPasswordKey));
    if (WPATH_MUSICAS.trimmed().isEmpty())
        WPATH_MUSICAS = program_folder + "MUSICAS/";
    WACESSO = WSENHA.trimmed().isEmpty();
    WSILENCIO = std::max(0, read_int(lines, "SILENCIO", 0));
    WSILENCIO_DB = read_int(lines, "SILENCIO_DB", kDefaultSilenceDb);
    WRESERVA_RETORNO = std::max(1, read_int(lines, "RESERVA_RETORNO", kDefaultBackupReturnS));
    WPAINEL_PORTA = read_int(lines, "PAINEL_PORTA", 0);
    WPAINEL_ENDERECO = LE_CHAVE(lines, "PAINEL_ENDERECO", QString()).trimmed();
    if (WPAINEL_ENDERECO.isEmpty())
        WPAINEL_ENDERECO = kDefaultPanelAddress;
    WPAINEL_SENHA = LE_CHAVE(lines, "PAINEL_SENHA", QString()).trimmed();
    WALERTA_COMANDO = own_setting(lines, "ALERTA_COMANDO").value_or(QString());
    WALERTA_ATRASO = std::max(0, own_int(lines, "ALERTA_ATRASO", kDefaultAlertDelayS));
    WALERTA_INTERVALO = std::max(0, own_int(lines, "ALERTA_INTERVALO", kDefaultAlertIntervalS));
    WESTACAO = own_setting(lines, "ESTACAO").value_or(QString());
}

QString silence_settings_refusal() {
    if (WSILENCIO <= 0)
        return {};
    const QString off = QStringLiteral(" - VIGILÂNCIA DE SILÊNCIO DESLIGADA");
    if (WSILENCIO < kMinSilenceSeconds)
        return "SILENCIO=" + QString::number(WSILENCIO) + " abaixo de " + QString::number(kMinSilenceSeconds) +
               " s cortaria as pausas normais da fala" + off;
    if (WSILENCIO_DB < kMinSilenceDb || WSILENCIO_DB > kMaxSilenceDb)
        return "SILENCIO_DB=" + QString::number(WSILENCIO_DB) + " fora da faixa de " +
               QString::number(kMinSilenceDb) + " a " + QString::number(kMaxSilenceDb) + " dBFS" + off;
    return {};
}

AlertSettings alert_settings(const QString& program_folder) {
    return AlertSettings{WALERTA_COMANDO, WALERTA_ATRASO, WALERTA_INTERVALO, station_name(), program_folder + "LOGS/"};
}

QString station_name() {
    const QString name = WESTACAO.trimmed();
    return name.isEmpty() ? QDir(PASTA_PROGRAMA()).dirName() : name;
}

QStringList configuration_file_lines(const QString& tambr, const QString& tambr_net, int dvtra, int dvcue,
                                     int vol_max, int vol_min, const QString& path_dados,
                                     const QString& path_musicas, const QByteArray& scrambled_password) {
    QStringList lines{
        QStringLiteral("-------------------------------------------------"),
        QStringLiteral("------------ ORAVEL MIRAVOX - CONFIGURACAO ------------"),
        "TAMBR=" + PREENCHE_ZEROS(tambr, 4),
        "TAMBR_NET=" + PREENCHE_ZEROS(tambr_net, 4),
        "DVTRA=" + QString::number(dvtra),
        "DVCUE=" + QString::number(dvcue),
        "VOL_MAX=" + QString::number(vol_max),
        "VOL_MIN=" + QString::number(vol_min),
        "PATH_DADOS=" + folder_setting(path_dados),
        "PATH_MUSICAS=" + folder_setting(path_musicas),
        "SISTEMA=" + decode_cp1252(scrambled_password),
    };
    if (WSILENCIO != 0 || WSILENCIO_DB != kDefaultSilenceDb) {
        lines << "SILENCIO=" + QString::number(WSILENCIO);
        lines << "SILENCIO_DB=" + QString::number(WSILENCIO_DB);
    }
    if (WRESERVA_RETORNO != kDefaultBackupReturnS)
        lines << "RESERVA_RETORNO=" + QString::number(WRESERVA_RETORNO);
    if (WPAINEL_PORTA != 0)
        lines << "PAINEL_PORTA=" + QString::number(WPAINEL_PORTA);
    if (WPAINEL_ENDERECO != kDefaultPanelAddress)
        lines << "PAINEL_ENDERECO=" + WPAINEL_ENDERECO;
    if (!WPAINEL_SENHA.isEmpty())
        lines << "PAINEL_SENHA=" + WPAINEL_SENHA;
    if (!WALERTA_COMANDO.trimmed().isEmpty())
        lines << "ALERTA_COMANDO=" + WALERTA_COMANDO;
    if (WALERTA_ATRASO != kDefaultAlertDelayS)
        lines << "ALERTA_ATRASO=" + QString::number(WALERTA_ATRASO);
    if (WALERTA_INTERVALO != kDefaultAlertIntervalS)
        lines << "ALERTA_INTERVALO=" + QString::number(WALERTA_INTERVALO);
    if (!WESTACAO.trimmed().isEmpty())
        lines << "ESTACAO=" + WESTACAO;
    return lines;
}

bool password_storable(const QByteArray& password) {
    const QByteArray scrambled = CODIFICA_SENHA(password, kPasswordKey);
    return std::none_of(scrambled.begin(), scrambled.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

} // namespace miravox

QString LE_CHAVE(const QStringList& list, const QString& key, const QString& default_value) {
    const QString needle = key + '=';
    for (const QString& line : list) {
        if (!line.contains(needle))
            continue;
        return line.mid(line.indexOf('=') + 1, 255);
    }
    return default_value;
}

QByteArray CODIFICA_SENHA(const QByteArray& text, int key) {
    if (!miravox::is_accepted_key(key))
        return QByteArrayLiteral("CODIGO INCOMPATIVEL");
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = char((quint8(text[text.size() - 1 - i]) + key) & 0xFF);
    return out;
}

QByteArray DECODIFICA_SENHA(const QByteArray& text, int key) {
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = char((quint8(text[text.size() - 1 - i]) - key) & 0xFF);
    return out;
}

void DETECTA_DEVICES(const QStringList& device_names, miravox::DialogService& dialogs) {
    if (device_names.isEmpty()) {
        dialogs.notice(QStringLiteral("Não foi Detectado placa de som - Verifique"));
        return;
    }
    for (int p = 0; p < device_names.size(); ++p)
        if (device_names[p].toUpper().contains("PRINCIPAL")) {
            WDVTRA = WDVCUE = p;
            break;
        }
    for (int p = 0; p < device_names.size(); ++p)
        if (device_names[p].toUpper().contains("ESCUTA")) {
            WDVCUE = p;
            break;
        }
}
