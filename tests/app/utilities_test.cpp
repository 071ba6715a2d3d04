#include "utilities.h"

#include "scripted_dialogs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
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
    EXPECT_EQ(dialogs.shown, QStringList{"info: Lista de arquivos não foi criada"});
}

TEST(LiberaMemoria, LetsTheWindowProcessMessages) {
    int pumped = 0;
    LIBERA_MEMORIA([&] { ++pumped; });
    EXPECT_EQ(pumped, 1);
}
