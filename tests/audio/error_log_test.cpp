#include "error_log.h"

#include "clock.h"
#include "engine_state.h"
#include "file_size_limit.h"
#include "scripted_dialogs.h"
#include "text_file.h"
#include "threaded_timer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace miravox;

namespace {

struct ErrorText {
    int code;
    const char* text;
};

class ErrorTextTest : public ::testing::TestWithParam<ErrorText> {};

TEST_P(ErrorTextTest, CodeGivesItsText) {
    EXPECT_EQ(TEXTO_ERRO_BS(std::int16_t(GetParam().code)), QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    KnownAndUnknownCodes, ErrorTextTest,
    ::testing::Values(ErrorText{4, "Cod:BS4 - Buffer Perdido"},
                      ErrorText{1001, "Cod:BS1001 - Windows Media 9 ou Superior não instalado"},
                      ErrorText{41, "Cod:BS41 - Formato não suportado"},
                      ErrorText{38, "Cod:BS38 - O canal -  DECODIFICANDO CANAL"},
                      ErrorText{0, "CODIGO: BS(0) Erro Indefinido"},
                      ErrorText{-1, "CODIGO: BS(-1) Erro Indefinido"},
                      ErrorText{28, "CODIGO: BS(28) Erro Indefinido"},
                      ErrorText{47, "CODIGO: BS(47) Erro Indefinido"},
                      ErrorText{1003, "CODIGO: BS(1003) Erro Indefinido"}));

class ErrorLogTest : public ::testing::Test {
  protected:
    QTemporaryDir home;
    std::shared_ptr<ManualClock> manual =
        std::make_shared<ManualClock>(QDateTime(QDate(2025, 8, 19), QTime(14, 5, 9)));
    ScopedClock scope{manual};
    miravox::testing::ScriptedDialogs dialogs;

    void SetUp() override {
        qputenv("MIRAVOX_HOME", home.path().toUtf8());
        wlista_erros.reset();
        wct_playing = 0;
        wct_canais_criados = 0;
        wct_erro_criar = 0;
        wct_erro_play = 0;
        BASS_ERRO_WEB = 0;
        BASS_ERRO_HANDLE = 0;
        wct_canais_carregados = 0;
        wct_atualiza_device = 0;
        wct_play_sem_update = 0;
    }
    void TearDown() override { qunsetenv("MIRAVOX_HOME"); }

    QStringList lines_of(const QDate& day) {
        auto file = read_text_file(error_log_path(day));
        return file ? file->lines : QStringList{};
    }
};

TEST_F(ErrorLogTest, FileNameHasNoLeadingZerosSoSomeDaysShareAFile) {
    const QString logs = home.path() + "/LOGS/";
    EXPECT_EQ(error_log_path(QDate(2025, 8, 19)), logs + "2025819.ERR");
    EXPECT_EQ(error_log_path(QDate(2025, 11, 1)), logs + "2025111.ERR");
    EXPECT_EQ(error_log_path(QDate(2025, 1, 11)), logs + "2025111.ERR");

    // The eleventh of January appends to the file the first of November started.
    manual->set(QDateTime(QDate(2025, 1, 11), QTime(9, 0, 0)));
    append_error_log("JANEIRO", 2, "", dialogs);
    manual->set(QDateTime(QDate(2025, 11, 1), QTime(9, 0, 0)));
    append_error_log("NOVEMBRO", 2, "", dialogs);
    const QStringList lines = lines_of(QDate(2025, 11, 1));
    ASSERT_EQ(lines.size(), 34);
    EXPECT_EQ(lines[2], "TEXTO: JANEIRO");
    EXPECT_EQ(lines[19], "TEXTO: NOVEMBRO");
}

TEST_F(ErrorLogTest, BlockRecordsTheFailureAndTheCountersOfTheMoment) {
    wct_playing = -2;
    wct_canais_criados = 5;
    wct_erro_criar = 1;
    wct_erro_play = 3;
    BASS_ERRO_WEB = 2;
    BASS_ERRO_HANDLE = 7;
    --wct_canais_carregados; // a network stream freed: never counted up, so below zero
    wct_atualiza_device = 4;
    wct_play_sem_update = 9;

    append_error_log("PLAY", 5, "/musicas/JINGLE.MP3", dialogs);

    const QStringList expected = {
        "DATA: 19/08/2025 - HORA: 14:05:09  -  ERRO AO CARREGAR CANAL",
        "APLICACAO: " + QCoreApplication::applicationFilePath(),
        "TEXTO: PLAY",
        "Arquivo: /musicas/JINGLE.MP3",
        "BS Erro: 5 - Cod:BS5 - Handle inválido",
        "Timer: " + QString::number(wct_timers),
        "Timer Ativos: " + QString::number(wct_timers_ativos),
        "Playng: -2",
        "Canais Criados: 5",
        "Erro ao Criar Canal: 1",
        "Erro Play Canal: 3",
        "Erro Play WEB: 2",
        "Erro Handle: 7",
        "Canais Carregados: -1",
        "Atualiza Device: 4",
        "Canais não Atualizado: 9",
        "----------------------------------------------------------",
    };
    EXPECT_EQ(lines_of(QDate(2025, 8, 19)), expected);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(ErrorLogTest, EntriesAppendOldestFirstAcrossRestartsAndDaysStartFresh) {
    append_error_log("PRIMEIRO", 8, "", dialogs);
    manual->advance_ms(1000);
    append_error_log("SEGUNDO", 8, "", dialogs);

    // A restart of the program on the same day: the working list is gone, the file is not.
    wlista_erros.reset();
    manual->advance_ms(1000);
    append_error_log("TERCEIRO", 8, "", dialogs);
    const QStringList today = lines_of(QDate(2025, 8, 19));
    ASSERT_EQ(today.size(), 51);
    EXPECT_EQ(today[2], "TEXTO: PRIMEIRO");
    EXPECT_EQ(today[19], "TEXTO: SEGUNDO");
    EXPECT_EQ(today[34], "DATA: 19/08/2025 - HORA: 14:05:11  -  ERRO AO CARREGAR CANAL");
    EXPECT_EQ(today[36], "TEXTO: TERCEIRO");

    // The first entry of the next day holds exactly one block, not yesterday's list.
    manual->set(QDateTime(QDate(2025, 8, 20), QTime(0, 0, 1)));
    append_error_log("AMANHA", 8, "", dialogs);
    EXPECT_EQ(lines_of(QDate(2025, 8, 20)).size(), 17);
    EXPECT_EQ(lines_of(QDate(2025, 8, 19)).size(), 51);
}

TEST_F(ErrorLogTest, FailedWriteShowsItsMessageAndKeepsTheFileWhole) {
    append_error_log("ANTES", 2, "", dialogs);
    const QString path = error_log_path(QDate(2025, 8, 19));
    const qint64 size_before = QFileInfo(path).size();
    {
        miravox::testing::FileSizeLimit full_disk(size_before + 100);
        append_error_log("DISCO CHEIO", 2, "", dialogs);
    }
    EXPECT_EQ(dialogs.shown, QStringList{"notice: Erro ao Salvar LOGS de Erro (BS)"});
    EXPECT_EQ(QFileInfo(path).size(), size_before);
    // The working list keeps the block until the next entry reloads the file.
    EXPECT_EQ(wlista_erros->size(), 34);

    append_error_log("DEPOIS", 2, "", dialogs);
    const QStringList lines = lines_of(QDate(2025, 8, 19));
    ASSERT_EQ(lines.size(), 34);
    EXPECT_EQ(lines[19], "TEXTO: DEPOIS");
}

} // namespace
