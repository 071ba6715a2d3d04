#include "utilities.h"

#include "scripted_dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

TEST(ListaAudios, UpperCasedAudioFilesOnlySortedWithWhatWasThere) {
    QTemporaryDir dir;
    for (const char* name : {"a.mp3", "B.Wav", "c.ogg", "e.wma", "noext"})
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    QDir(dir.path()).mkdir("d.mp3");
    QStringList list{"Z.MP3"};
    miravox::testing::ScriptedDialogs dialogs;
    int pumped = 0;
    LISTA_AUDIOS(dir.path() + "/", "*", &list, dialogs, [&] { ++pumped; });
    EXPECT_EQ(list, (QStringList{"A.MP3", "B.WAV", "E.WMA", "Z.MP3"}));
    EXPECT_GE(pumped, 5);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST(ListaAudios, MissingFolderAddsNothingAndNoListIsReported) {
    miravox::testing::ScriptedDialogs dialogs;
    QStringList list;
    LISTA_AUDIOS("/no/such/folder/", "*", &list, dialogs);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(dialogs.shown.isEmpty());
    LISTA_AUDIOS("/tmp/", "*", nullptr, dialogs);
    EXPECT_EQ(dialogs.shown, QStringList{"notice: Lista de arquivos não foi criada"});
}

TEST(LiberaMemoria, LetsTheWindowProcessMessages) {
    int pumped = 0;
    LIBERA_MEMORIA([&] { ++pumped; });
    EXPECT_EQ(pumped, 1);
}

// What automatic playout reports must not wait for a person: a notice returns at once, its box
// stays open beside the window, and the next one waits for it to close; a text already open or
// waiting is not queued again.
TEST(QtDialogService, NoticesNeverWaitAndShowOneBoxAtATime) {
    miravox::QtDialogService dialogs;
    dialogs.notice("ERRO AO CARREGAR CANAL: a");
    QMessageBox* first = dialogs.open_notice();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(first->text(), "ERRO AO CARREGAR CANAL: a");
    EXPECT_EQ(first->windowTitle(), miravox::kApplicationTitle);

    dialogs.notice("ERRO AO CARREGAR CANAL: a"); // the one open
    dialogs.notice("ERRO AO CARREGAR CANAL: b");
    dialogs.notice_aviso("ERRO AO CARREGAR CANAL: b"); // already waiting
    EXPECT_EQ(dialogs.open_notice(), first);
    EXPECT_EQ(QStringList(dialogs.waiting_notices()), QStringList{"ERRO AO CARREGAR CANAL: b"});

    first->button(QMessageBox::Ok)->click();
    QMessageBox* second = dialogs.open_notice();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->text(), "ERRO AO CARREGAR CANAL: b");
    EXPECT_TRUE(dialogs.waiting_notices().isEmpty());

    for (int i = 0; i < miravox::kMostWaitingNotices + 5; ++i)
        dialogs.notice(QString::number(i));
    EXPECT_EQ(dialogs.waiting_notices().size(), miravox::kMostWaitingNotices);
}
