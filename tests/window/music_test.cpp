// The local music list, its shuffle and the fallback's track start.

#include "main_window_fixture.h"

#include "tessel_grid.h"

#include <QPushButton>

using namespace miravox;
using namespace miravox::testing;

namespace {

class MusicTest : public MainWindowTest {
protected:
    QString music(const QString& name) const { return program_folder() + "MUSICAS/" + name; }
    void add_tracks(const QStringList& names) {
        QDir().mkpath(program_folder() + "MUSICAS");
        for (const QString& name : names)
            ASSERT_TRUE(make_wav(music(name), 0.3, 660));
    }
    QStringList rows() const {
        QStringList r;
        for (int i = 1; i < window->Stringgrid2->RowCount(); ++i)
            r << window->Stringgrid2->Cells(0, i);
        return r;
    }
};

} // namespace

TEST_F(MusicTest, OneFileStaysAndTwoFilesAlwaysSwap) {
    add_tracks({"a.wav"});
    window->bitbtn10Click();
    EXPECT_EQ(rows(), QStringList{"A.WAV"});
    EXPECT_EQ(window->Stringgrid2->Cells(0, 0), "Descrição das Músicas");
    EXPECT_TRUE(window->bitbtn11->isEnabled());
    add_tracks({"b.wav"});
    for (int i = 0; i < 5; ++i) {
        window->bitbtn10Click();
        EXPECT_EQ(rows(), (QStringList{"B.WAV", "A.WAV"}));
    }
}

TEST_F(MusicTest, ShuffleKeepsEveryTrackOnce) {
    add_tracks({"a.wav", "b.wav", "c.wav", "d.mp3", "e.wav"});
    QFile(music("notes.txt")).open(QIODevice::WriteOnly);
    window->bitbtn10Click();
    QStringList r = rows();
    EXPECT_EQ(r.size(), 5);
    r.sort();
    EXPECT_EQ(r, (QStringList{"A.WAV", "B.WAV", "C.WAV", "D.MP3", "E.WAV"}));
    EXPECT_EQ(window->Stringgrid2->Row(), 1);
}

TEST_F(MusicTest, MissingFolderWarnsAndDisablesPlay) {
    WPATH_MUSICAS = program_folder() + "NOWHERE/";
    window->bitbtn10Click();
    EXPECT_EQ(dialogs.shown.last(), "aviso notice: Diretório de Músicas:" + WPATH_MUSICAS + "  inexistente - Verifique !!");
    EXPECT_FALSE(window->bitbtn11->isEnabled());
}

TEST_F(MusicTest, TracksPlayInTurnAndTheListRepeats) {
    add_tracks({"a.wav", "b.wav"});
    window->bitbtn10Click();
    const QString first = window->Stringgrid2->Cells(0, 1);
    window->PLAY_MUSICA_LOCAL();
    EXPECT_TRUE(window->Canal_Musica->isStarted());
    EXPECT_EQ(log_count("PLAY MUSICA LOCAL: " + first), 1);
    EXPECT_EQ(window->Stringgrid2->Row(), 2);
    window->PLAY_MUSICA_LOCAL(); // already playing
    EXPECT_EQ(log_count("Canal de Musicas locais já em execução - Operação cancelada"), 1);
    window->Canal_Musica->Stop();
    window->PLAY_MUSICA_LOCAL();
    EXPECT_EQ(window->Stringgrid2->Row(), 1); // wrapped
}

TEST_F(MusicTest, MissingTrackIsLoggedEveryTimeWithANoticeThatWaitsForNobody) {
    add_tracks({"a.wav"});
    window->bitbtn10Click();
    QFile::remove(music("a.wav"));
    window->PLAY_MUSICA_LOCAL();
    window->PLAY_MUSICA_LOCAL(); // the fallback retries at the next tick
    const QString path = program_folder() + "MUSICAS/A.WAV";
    EXPECT_EQ(log_count("Arquivo musical: " + path + " não encontrado !!!"), 2);
    EXPECT_EQ(dialogs.count_containing("aviso notice: Arquivo " + path + " + não encontrado !!!"), 2);
    EXPECT_EQ(dialogs.count_containing("aviso: "), 0); // no box that waits
    EXPECT_EQ(window->Stringgrid2->Row(), 1); // the cursor stays
}

TEST_F(MusicTest, EmptyListIsLogged) {
    window->bitbtn10Click();
    window->PLAY_MUSICA_LOCAL();
    EXPECT_EQ(log_count("Grid musical não contem dados ou linha do grid está vazia"), 1);
}

TEST_F(MusicTest, StopButtonStopsStreamAndMusicAndBlocksTheFallback) {
    add_tracks({"a.wav"});
    window->bitbtn10Click();
    window->bitbtn11Click();
    EXPECT_TRUE(window->Canal_Musica->isStarted());
    EXPECT_TRUE(window->bitbtn13->isEnabled());
    window->bitbtn13Click();
    EXPECT_FALSE(window->Canal_Musica->isStarted());
    EXPECT_TRUE(window->WMUSICA_STOP);
    EXPECT_EQ(window->WERRO_WEB, -1);
    EXPECT_TRUE(window->bitbtn11->isEnabled());
}
