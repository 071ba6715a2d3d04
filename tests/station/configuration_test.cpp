#include "configuration.h"

#include "scripted_dialogs.h"
#include "text_file.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace miravox;

namespace {

class ConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override { reset_configuration(); }
    void TearDown() override { reset_configuration(); }
    const QString home = "/station/";
};

} // namespace

TEST(LeChave, KeyAnywhereInALineFirstMatchWins) {
    const QStringList lines{"XTAMBR=1500", "TAMBR_NET=3000", "TAMBR=2000"};
    EXPECT_EQ(LE_CHAVE(lines, "TAMBR", "5000"), "1500");
    EXPECT_EQ(LE_CHAVE({"TAMBR_NET=3000"}, "TAMBR", "5000"), "5000");
    EXPECT_EQ(LE_CHAVE(lines, "TAMBR_NET", "5000"), "3000");
    EXPECT_EQ(LE_CHAVE({}, "VOL_MAX", "100"), "100");
    EXPECT_EQ(LE_CHAVE({"tambr=1"}, "TAMBR", "d"), "d"); // case-sensitive
    EXPECT_EQ(LE_CHAVE({"PATH_DADOS= /x/ "}, "PATH_DADOS", ""), " /x/ "); // not trimmed
    EXPECT_EQ(LE_CHAVE({"A=b=c"}, "A", ""), "b=c");
    EXPECT_EQ(LE_CHAVE({"PATH_DADOS=" + QString(300, 'p')}, "PATH_DADOS", "").size(), 255);
}

TEST_F(ConfigurationTest, MissingFileGivesDefaultsUnderTheProgramFolder) {
    apply_configuration({}, home);
    EXPECT_EQ(WTAMBR, 5000);
    EXPECT_EQ(WTAMBR_NET, 5000);
    EXPECT_EQ(WDVTRA, 0);
    EXPECT_EQ(WDVCUE, 0);
    EXPECT_FALSE(WAUTO_DEVICE);
    EXPECT_EQ(WVOL_MAX, 100);
    EXPECT_EQ(WVOL_MIN, 30);
    EXPECT_EQ(WPATH_DADOS, "/station/DADOS/");
    EXPECT_EQ(WPATH_MUSICAS, "/station/MUSICAS/");
    EXPECT_TRUE(WSENHA.isEmpty());
    EXPECT_TRUE(WACESSO);
}

TEST_F(ConfigurationTest, ReadsEveryKeyAndKeepsHandWrittenFoldersAsPrefixes) {
    apply_configuration({"----", "TAMBR=1500", "TAMBR_NET=0500", "DVTRA=2", "DVCUE=1", "AUTO_DEVICE=1",
                         "VOL_MAX=90", "VOL_MIN=20", "PATH_DADOS=/data/radio", "PATH_MUSICAS=   ", "SISTEMA="},
                        home);
    EXPECT_EQ(WTAMBR, 1500);
    EXPECT_EQ(WTAMBR_NET, 500);
    EXPECT_EQ(WDVTRA, 2);
    EXPECT_EQ(WDVCUE, 1);
    EXPECT_TRUE(WAUTO_DEVICE);
    EXPECT_EQ(WVOL_MAX, 90);
    EXPECT_EQ(WVOL_MIN, 20);
    EXPECT_EQ(WPATH_DADOS, "/data/radio"); // used as a plain prefix
    EXPECT_EQ(WPATH_MUSICAS, "/station/MUSICAS/");
    EXPECT_TRUE(WACESSO); // "SISTEMA=" with nothing after it: unlocked
}

TEST_F(ConfigurationTest, NonNumericValuesTakeTheKeyDefault) {
    apply_configuration({"TAMBR=abc", "VOL_MAX=", "VOL_MIN=0x10", "DVTRA=1.5", "AUTO_DEVICE=yes"}, home);
    EXPECT_EQ(WTAMBR, 5000);
    EXPECT_EQ(WVOL_MAX, 100);
    EXPECT_EQ(WVOL_MIN, 30);
    EXPECT_EQ(WDVTRA, 0);
    EXPECT_FALSE(WAUTO_DEVICE);
}

TEST(PasswordScrambling, RoundTripAndIncompatibleKey) {
    for (const QByteArray& text : {QByteArray(""), QByteArray("1234"), QByteArray("Senha\xE7\xE3o"), QByteArray("a b")}) {
        const QByteArray scrambled = CODIFICA_SENHA(text, kPasswordKey);
        EXPECT_EQ(scrambled.size(), text.size());
        EXPECT_EQ(DECODIFICA_SENHA(scrambled, kPasswordKey), text);
    }
    EXPECT_EQ(CODIFICA_SENHA("abc", 100), "CODIGO INCOMPATIVEL");
    EXPECT_EQ(CODIFICA_SENHA("abc", 1000), "CODIGO INCOMPATIVEL");
    EXPECT_TRUE(is_accepted_key(kPasswordKey));
    int accepted = 0;
    for (int k = 0; k < 2000; ++k)
        accepted += is_accepted_key(k) ? 1 : 0;
    EXPECT_EQ(accepted, 89);
    // The last byte comes first, shifted by the key.
    QByteArray expected;
    expected.append(char('b' + kPasswordKey)).append(char('a' + kPasswordKey));
    EXPECT_EQ(CODIFICA_SENHA("ab", kPasswordKey), expected);
}

TEST_F(ConfigurationTest, PasswordSurvivesTheFileAndLocksTheWindow) {
    QTemporaryDir dir;
    const QString path = dir.filePath("MIRAVOX.INI");
    const QByteArray password = "Rádio#9";
    ASSERT_TRUE(password_storable(password));
    const QStringList lines = configuration_file_lines("1000", "500", 1, 0, 100, 30, "", " /musica ",
                                                       CODIFICA_SENHA(password, kPasswordKey));
    ASSERT_TRUE(write_text_file(path, lines));
    auto back = read_text_file(path, nullptr, false);
    ASSERT_TRUE(back);
    apply_configuration(back->lines, dir.path() + "/");
    EXPECT_EQ(WSENHA.toLatin1(), password);
    EXPECT_FALSE(WACESSO);
}

// MIRAVOX.INI edited by hand on a UTF-8 desktop: the accented folders are read as UTF-8, and
// the password keeps its bytes whether or not they happen to look like UTF-8 themselves.
TEST_F(ConfigurationTest, HandEditedUtf8FileKeepsAccentsAndThePasswordBytes) {
    QTemporaryDir dir;
    const QString path = dir.filePath("MIRAVOX.INI");
    const auto write = [&](const QString& music, const QByteArray& password, bool utf8) {
        QByteArray bytes;
        for (const QString& line : configuration_file_lines("5000", "5000", 0, 0, 100, 30, "", music,
                                                             CODIFICA_SENHA(password, kPasswordKey)))
            bytes += (line.startsWith("SISTEMA=") || !utf8 ? encode_cp1252(line) : line.toUtf8()) + "\r\n";
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const QByteArray looks_like_utf8 = ",F"; // scrambles to C3 A9, "é" in UTF-8
    ASSERT_EQ(CODIFICA_SENHA(looks_like_utf8, kPasswordKey), QByteArray("\xC3\xA9"));
    for (const QByteArray& password : {QByteArray("Rádio#9"), looks_like_utf8}) {
        ASSERT_TRUE(write("/estação/Músicas", password, true));
        apply_configuration(read_configuration_file(path), home);
        EXPECT_EQ(WPATH_MUSICAS, "/estação/Músicas/");
        EXPECT_EQ(encode_cp1252(WSENHA), password);

        // As the program writes it: Windows-1252 throughout, read byte for byte as ever.
        ASSERT_TRUE(write("/estação/Músicas", password, false));
        apply_configuration(read_configuration_file(path), home);
        EXPECT_EQ(WPATH_MUSICAS, "/estação/Músicas/");
        EXPECT_EQ(encode_cp1252(WSENHA), password);
    }
    ASSERT_TRUE(write("/musica", looks_like_utf8, false)); // only the password is not ASCII
    apply_configuration(read_configuration_file(path), home);
    EXPECT_EQ(encode_cp1252(WSENHA), looks_like_utf8);
    EXPECT_TRUE(read_configuration_file(dir.filePath("NONE.INI")).isEmpty());
}

TEST(ConfigurationFile, ElevenLinesInKeyOrderWithoutAutoDevice) {
    const QStringList lines = configuration_file_lines("500", "5000", 2, 0, 100, 30, "  /dados", "", "");
    ASSERT_EQ(lines.size(), 11);
    EXPECT_FALSE(lines[0].contains('='));
    EXPECT_FALSE(lines[1].contains('='));
    EXPECT_EQ(lines.mid(2), (QStringList{"TAMBR=0500", "TAMBR_NET=5000", "DVTRA=2", "DVCUE=0", "VOL_MAX=100",
                                        "VOL_MIN=30", "PATH_DADOS=/dados/", "PATH_MUSICAS=", "SISTEMA="}));
}

TEST(ConfigurationFile, PasswordsWhoseScrambledFormBreaksALineAreRefused) {
    const char breaks_line = char(('\n' - kPasswordKey) & 0xFF);
    EXPECT_FALSE(password_storable(QByteArray(1, breaks_line)));
    EXPECT_TRUE(password_storable("1234"));
}

TEST_F(ConfigurationTest, DeviceDetectionByName) {
    miravox::testing::ScriptedDialogs dialogs;
    WDVTRA = 5;
    WDVCUE = 6;
    DETECTA_DEVICES({"Escuta USB", "Realtek", "Saida principal"}, dialogs);
    EXPECT_EQ(WDVTRA, 2);
    EXPECT_EQ(WDVCUE, 0);

    WDVTRA = 5;
    WDVCUE = 6;
    DETECTA_DEVICES({"Realtek", "PRINCIPAL"}, dialogs); // no cue device: cue on transmission
    EXPECT_EQ(WDVTRA, 1);
    EXPECT_EQ(WDVCUE, 1);

    WDVTRA = 5;
    WDVCUE = 6;
    DETECTA_DEVICES({"Realtek", "HDMI"}, dialogs); // nothing found: the file's values stay
    EXPECT_EQ(WDVTRA, 5);
    EXPECT_EQ(WDVCUE, 6);
    EXPECT_TRUE(dialogs.shown.isEmpty());

    DETECTA_DEVICES({}, dialogs);
    EXPECT_EQ(dialogs.shown, QStringList{"notice: Não foi Detectado placa de som - Verifique"});
    EXPECT_EQ(WDVTRA, 5);
}

TEST_F(ConfigurationTest, DeadAirSettingsAreReadAndKeptByASaveOnlyWhenSet) {
    apply_configuration({}, home);
    EXPECT_EQ(WSILENCIO, 0);
    EXPECT_EQ(WSILENCIO_DB, -50);
    EXPECT_EQ(configuration_file_lines("500", "5000", 0, 0, 100, 30, "", "", "").size(), 11); // as it always was
    apply_configuration({"SILENCIO=30", "SILENCIO_DB=-45"}, home);
    EXPECT_EQ(WSILENCIO, 30);
    EXPECT_EQ(WSILENCIO_DB, -45);
    const QStringList lines = configuration_file_lines("500", "5000", 0, 0, 100, 30, "", "", "");
    ASSERT_EQ(lines.size(), 13);
    EXPECT_EQ(lines.mid(11), (QStringList{"SILENCIO=30", "SILENCIO_DB=-45"}));
    apply_configuration({"SILENCIO=meio minuto", "SILENCIO_DB=alto"}, home);
    EXPECT_EQ(WSILENCIO, 0);
    EXPECT_EQ(WSILENCIO_DB, -50);
    apply_configuration({"SILENCIO=-5"}, home);
    EXPECT_EQ(WSILENCIO, 0);

    EXPECT_EQ(WRESERVA_RETORNO, 30);
    apply_configuration({"RESERVA_RETORNO=12"}, home);
    EXPECT_EQ(WRESERVA_RETORNO, 12);
    EXPECT_EQ(configuration_file_lines("500", "5000", 0, 0, 100, 30, "", "", "").mid(11),
              QStringList{"RESERVA_RETORNO=12"});
    apply_configuration({"RESERVA_RETORNO=0"}, home);
    EXPECT_EQ(WRESERVA_RETORNO, 1);
}

// Values that would cut ordinary pauses in speech, or take every quiet passage for dead air, are
// refused with a reason; the file keeps them as written (a save does not lose what was typed).
TEST_F(ConfigurationTest, HarmfulDeadAirSettingsAreRefusedWithAReason) {
    const auto refusal = [&](const QStringList& lines) {
        apply_configuration(lines, home);
        return silence_settings_refusal();
    };
    EXPECT_EQ(refusal({}), "");                                      // off: nothing to say
    EXPECT_EQ(refusal({"SILENCIO=0", "SILENCIO_DB=-5"}), "");        // off, however odd the threshold
    EXPECT_EQ(refusal({"SILENCIO=5", "SILENCIO_DB=-90"}), "");
    EXPECT_EQ(refusal({"SILENCIO=600", "SILENCIO_DB=-20"}), "");
    EXPECT_EQ(refusal({"SILENCIO=4"}),
              "SILENCIO=4 abaixo de 5 s cortaria as pausas normais da fala - VIGILÂNCIA DE SILÊNCIO DESLIGADA");
    EXPECT_EQ(refusal({"SILENCIO=30", "SILENCIO_DB=-19"}),
              "SILENCIO_DB=-19 fora da faixa de -90 a -20 dBFS - VIGILÂNCIA DE SILÊNCIO DESLIGADA");
    EXPECT_TRUE(refusal({"SILENCIO=30", "SILENCIO_DB=-91"}).startsWith("SILENCIO_DB=-91 fora"));
    EXPECT_TRUE(configuration_file_lines("500", "5000", 0, 0, 100, 30, "", "", "").contains("SILENCIO_DB=-91"));
}

// The alert settings are matched at the start of their line: a command may name other keys
// (and be longer than 255 characters) without being taken for them, or them for it.
TEST_F(ConfigurationTest, AlertSettingsAreReadWholeAndKeptByASave) {
    apply_configuration({}, home);
    EXPECT_EQ(WALERTA_COMANDO, "");
    EXPECT_EQ(WALERTA_ATRASO, 60);
    EXPECT_EQ(WALERTA_INTERVALO, 900);
    EXPECT_EQ(configuration_file_lines("500", "5000", 0, 0, 100, 30, "", "", "").size(), 11);

    const QString command = "curl -d \"ESTACAO=$MIRAVOX_ESTACAO&x=" + QString(300, 'x') + "\" http://h/";
    apply_configuration({"ALERTA_COMANDO=" + command, "ESTACAO=Rádio Beta", "ALERTA_ATRASO=10",
                         "ALERTA_INTERVALO=0"},
                        home);
    EXPECT_EQ(WALERTA_COMANDO, command);
    EXPECT_EQ(WESTACAO, "Rádio Beta");
    EXPECT_EQ(station_name(), "Rádio Beta");
    EXPECT_EQ(WALERTA_ATRASO, 10);
    EXPECT_EQ(WALERTA_INTERVALO, 0);
    EXPECT_EQ(configuration_file_lines("500", "5000", 0, 0, 100, 30, "", "", "").mid(11),
              (QStringList{"ALERTA_COMANDO=" + command, "ALERTA_ATRASO=10", "ALERTA_INTERVALO=0",
                           "ESTACAO=Rádio Beta"}));

    apply_configuration({"ALERTA_ATRASO=um minuto", "ALERTA_INTERVALO=-3"}, home);
    EXPECT_EQ(WALERTA_ATRASO, 60);
    EXPECT_EQ(WALERTA_INTERVALO, 0);
}

TEST_F(ConfigurationTest, StatusPanelSettingsAreReadAndKeptByASaveOnlyWhenSet) {
    apply_configuration({"PAINEL_ENDERECO=   "}, home);
    EXPECT_EQ(WPAINEL_PORTA, 0);
    EXPECT_EQ(WPAINEL_ENDERECO, "127.0.0.1");
    EXPECT_EQ(configuration_file_lines("500", "5000", 0, 0, 100, 30, "", "", "").size(), 11);
    apply_configuration({"PAINEL_PORTA=9300", "PAINEL_ENDERECO= 0.0.0.0 ", "PAINEL_SENHA= s3gr3d0 x "}, home);
    EXPECT_EQ(WPAINEL_PORTA, 9300);
    EXPECT_EQ(WPAINEL_ENDERECO, "0.0.0.0");
    EXPECT_EQ(WPAINEL_SENHA, "s3gr3d0 x");
    EXPECT_EQ(configuration_file_lines("500", "5000", 0, 0, 100, 30, "", "", "").mid(11),
              (QStringList{"PAINEL_PORTA=9300", "PAINEL_ENDERECO=0.0.0.0", "PAINEL_SENHA=s3gr3d0 x"}));
}
