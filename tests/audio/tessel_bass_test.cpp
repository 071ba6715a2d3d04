// The channel on local files: states and counters, volume, position, fades, the playing
// tick, metering and failed opens, against the real engine on silent virtual devices.

#include "channel_fixture.h"

#include <algorithm>
#include <cmath>

using namespace miravox;
using miravox::testing::ChannelTest;
using miravox::testing::sleep_ms;
using miravox::testing::wait_for;

namespace {

// The library no longer reports the channel's stream as playing (spectrum data is only
// read from a playing stream).
bool has_ended(TTesselBass* c) {
    TFFTData data{};
    return c->Getdata(data) == 0;
}

class PlaybackTest : public ChannelTest {};

TEST_F(PlaybackTest, EmptyChannelIgnoresEverything) {
    TTesselBass* c = channel();
    c->setLoop(true);
    c->Play();
    c->Pause();
    c->Stop();
    c->FreeFile();
    c->setVolume(50);
    EXPECT_FALSE(c->loop()); // Stop clears it even on an empty channel
    EXPECT_FALSE(c->isStarted());
    EXPECT_FALSE(c->isPaused());
    EXPECT_TRUE(c->Empty());
    EXPECT_EQ(c->Volume(), 0.0f);
    EXPECT_EQ(c->Position(), 0);
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(wct_playing, 0);
}

TEST_F(PlaybackTest, PlayPauseStopFollowTheStateTableAndCountPlaying) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    ASSERT_TRUE(c->IsCarregado());
    EXPECT_EQ(c->FileName(), "tone.wav");
    EXPECT_EQ(c->FilePath(), media("tone.wav"));
    EXPECT_NEAR(double(c->FileLength()), 2000, 30);
    EXPECT_EQ(wct_canais_carregados, 1);
    EXPECT_FALSE(c->isStarted());

    c->Play();
    EXPECT_TRUE(c->isStarted());
    EXPECT_EQ(wct_playing, 1);
    EXPECT_EQ(wct_play_sem_update, 1);
    ASSERT_TRUE(wait_for([&] { return c->Position() >= 200; }, 3000));
    c->Play(); // already playing: nothing happens
    EXPECT_EQ(wct_playing, 1);

    c->Pause();
    EXPECT_TRUE(c->isPaused());
    EXPECT_TRUE(c->isStarted()); // a paused channel still counts as started
    EXPECT_EQ(wct_playing, 0);
    const int paused_at = c->Position();
    sleep_ms(200);
    EXPECT_NEAR(c->Position(), paused_at, 15);

    c->Play(); // resumes where it paused
    EXPECT_FALSE(c->isPaused());
    EXPECT_EQ(wct_playing, 1);
    EXPECT_GE(c->Position(), paused_at - 15);
    EXPECT_LT(c->Position(), paused_at + 500);
    EXPECT_EQ(stops, 0);

    c->Stop();
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(c->isStarted());
    EXPECT_TRUE(c->IsCarregado());
    EXPECT_EQ(c->Position(), 0); // rewound
    EXPECT_EQ(wct_playing, 0);

    c->FreeFile();
    EXPECT_TRUE(c->Empty());
    EXPECT_EQ(stops, 1); // a successful free raises nothing
    EXPECT_EQ(wct_canais_carregados, 0);
}

TEST_F(PlaybackTest, StoppingAPausedChannelCountsItTwiceSoTheCounterGoesNegative) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    c->Play();
    c->Pause();
    c->Stop();
    EXPECT_EQ(wct_playing, -1);
    EXPECT_EQ(stops, 1);
}

TEST_F(PlaybackTest, VolumeIsStoredPerSourceAndAppliedByPlay) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    EXPECT_FLOAT_EQ(c->Volume(), 100.0f);
    c->setVolume(40);
    EXPECT_NEAR(c->Volume(), 40.0f, 0.01);
    c->Play();
    EXPECT_NEAR(c->Volume(), 40.0f, 0.01);

    // A new source keeps the stored level until Play applies it; reading the volume before
    // that takes the library's value instead.
    c->setFileName(media("long.mp3"));
    c->Play();
    EXPECT_NEAR(c->Volume(), 40.0f, 0.01);
    c->setFileName(media("tone.wav"));
    EXPECT_FLOAT_EQ(c->Volume(), 100.0f);
    c->Play();
    EXPECT_FLOAT_EQ(c->Volume(), 100.0f);
}

TEST_F(PlaybackTest, OpeningOverAPlayingChannelStopsItOnceAndFreesIt) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    c->Play();
    c->setFileName(media("long.mp3"));
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(c->isStarted());
    EXPECT_TRUE(c->IsCarregado());
    EXPECT_EQ(c->FileName(), "long.mp3");
    EXPECT_EQ(wct_playing, 0);
    EXPECT_EQ(wct_canais_carregados, 1);
}

TEST_F(PlaybackTest, DestroyingAChannelRaisesNothingAndUncountsIt) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    c->Play();
    EXPECT_EQ(wct_canais_criados, 1);
    delete c;
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(wct_canais_criados, 0);
    EXPECT_EQ(wct_playing, 1); // destruction changes no other counter
}

TEST_F(PlaybackTest, RejectedStartIsRetriedOnceOnAReopenedSource) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    // The devices are re-initialised under the loaded channel: its stream is gone.
    ATUALIZA_DEVICE(nullptr, dialogs);
    c->Play();
    EXPECT_TRUE(c->isStarted());
    EXPECT_TRUE(c->IsCarregado());
    EXPECT_EQ(wct_erro_play, 0); // the restart worked
    EXPECT_EQ(wct_playing, 1);
    EXPECT_EQ(log_texts(), QStringList{"PLAY"});
    EXPECT_EQ(stops, 2); // the lost stream could not be freed, by FreeFile nor by the reopen
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(PlaybackTest, StartOnALostDeviceFailsTwiceAndLeavesTheChannelEmpty) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    BASS_SetDevice(1);
    BASS_Free();
    c->Play();
    EXPECT_FALSE(c->isStarted());
    EXPECT_FALSE(c->IsCarregado());
    EXPECT_EQ(wct_erro_play, 1);
    EXPECT_EQ(wct_erro_criar, 1);
    EXPECT_EQ(wct_playing, 0);
    EXPECT_EQ(log_texts(), (QStringList{"PLAY", "Carregar Arquivo (MIXAGEM PADRÃO): " + media("tone.wav"),
                                        "Cerregar Canal"}));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].endsWith("Erro " + TEXTO_ERRO_BS(BASS_ERROR_INIT)));
}

class FadeTest : public ChannelTest {
  protected:
    // Ticks until the channel stops, at most `limit`; the number of ticks it took.
    int ticks_until_stopped(TTesselBass* c, int limit) {
        for (int n = 1; n <= limit; ++n) {
            c->Timer_playingTimer(nullptr);
            if (!c->isStarted())
                return n;
        }
        return -1;
    }
};

TEST_F(FadeTest, FadeNearTheEndIsShortenedTo50MsBeforeIt) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    c->Play();
    BASS_Stop(); // hold the output, so that the position stays where it is put
    c->setPosition(int(c->FileLength()) - 500);
    // 450 ms remain before the last 50: 7 ticks of 14 points.
    c->StopFade(700);
    EXPECT_TRUE(c->IsFadind());
    c->Timer_playingTimer(nullptr);
    EXPECT_NEAR(c->Volume(), 86.0f, 0.01);
    EXPECT_EQ(ticks_until_stopped(c, 20), 6);
    EXPECT_FALSE(c->IsFadind());
    // The fade's own stop and the end-of-file check of the same tick both report.
    EXPECT_EQ(stops, 2);
    BASS_Start();
}

TEST_F(FadeTest, FadeShorterThanOneTickStopsAtOnce) {
    TTesselBass* c = channel();
    c->setFileName(media("long.mp3"));
    c->Play();
    c->StopFade(59);
    EXPECT_FALSE(c->isStarted());
    EXPECT_FALSE(c->IsFadind());
    EXPECT_EQ(stops, 1);
}

TEST_F(FadeTest, FadeTooLongForAStepEndsAfter51UnchangedTicks) {
    TTesselBass* c = channel();
    c->setFileName(media("long.mp3"));
    c->Play();
    c->StopFade(6060); // 101 ticks: a step of 0 points
    ticks(c, 51);
    EXPECT_TRUE(c->isStarted());
    EXPECT_FLOAT_EQ(c->Volume(), 100.0f);
    c->Timer_playingTimer(nullptr);
    EXPECT_FALSE(c->isStarted());
}

TEST_F(FadeTest, SecondFadeIsIgnored) {
    TTesselBass* c = channel();
    c->setFileName(media("long.mp3"));
    c->Play();
    c->StopFade(600); // 10 points a tick
    c->StopFade(120); // would be 50
    c->Timer_playingTimer(nullptr);
    EXPECT_NEAR(c->Volume(), 90.0f, 0.01);
}

TEST_F(FadeTest, FadeOfAPausedChannelOnlyClearsTheLoop) {
    TTesselBass* c = channel();
    c->setFileName(media("long.mp3"));
    c->Play();
    c->setLoop(true);
    c->Pause();
    c->StopFade(700);
    EXPECT_FALSE(c->loop());
    EXPECT_FALSE(c->IsFadind());
    EXPECT_TRUE(c->isPaused());
    EXPECT_EQ(stops, 0);
}

TEST_F(FadeTest, FadeOfAFileThatHasEndedStopsIt) {
    TTesselBass* c = channel();
    c->setFileName(media("short.wav"));
    c->Play();
    ASSERT_TRUE(wait_for([&] { return has_ended(c); }, 3000)); // no tick has noticed
    EXPECT_TRUE(c->isStarted());
    c->StopFade(700);
    EXPECT_FALSE(c->isStarted());
    EXPECT_EQ(stops, 1);
}

class TickTest : public ChannelTest {};

TEST_F(TickTest, FileThatReachesItsEndIsStopped) {
    TTesselBass* c = channel();
    c->setFileName(media("short.wav"));
    c->Play();
    c->Timer_playingTimer(nullptr);
    EXPECT_TRUE(c->isStarted());
    ASSERT_TRUE(wait_for([&] { return has_ended(c); }, 3000));
    c->Timer_playingTimer(nullptr);
    EXPECT_FALSE(c->isStarted());
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(wct_playing, 0);
    EXPECT_FALSE(BASS_ERRO_BUFFER);
}

TEST_F(TickTest, PositionThatDoesNotAdvanceStopsTheChannelUnlessItLoops) {
    TTesselBass* looping = channel();
    TTesselBass* plain = channel();
    looping->setFileName(media("long.mp3"));
    plain->setFileName(media("long.mp3"));
    looping->Play();
    plain->Play();
    looping->setLoop(true);
    ASSERT_TRUE(wait_for([&] { return plain->Position() > 100; }, 3000));

    BASS_Stop(); // the device's output halts, and with it both positions
    sleep_ms(100);
    ticks(plain, 101); // the first check after Play always passes
    ticks(looping, 101);
    EXPECT_TRUE(plain->isStarted());
    EXPECT_FALSE(BASS_ERRO_BUFFER);

    ticks(plain, 101);
    ticks(looping, 101);
    EXPECT_TRUE(BASS_ERRO_BUFFER);
    EXPECT_FALSE(plain->isStarted());
    EXPECT_TRUE(looping->isStarted());
    // The watchdog's stop, then the tick's own stop of a channel no longer playing.
    EXPECT_EQ(stops, 2);
    EXPECT_EQ(log_texts(),
              QStringList{"-----------------ERRO DE BUFFER (SEM PROGRESSO EM TIMER)----------------"});
    BASS_Start();
}

TEST_F(TickTest, UnderAFasterClockAPositionIsJudgedStalledOnlyAfterASecondOfRealTime) {
    TTesselBass* c = channel();
    c->setFileName(media("long.mp3"));
    c->Play();
    ASSERT_TRUE(wait_for([&] { return c->Position() > 100; }, 3000));
    // A simulated run: 101 ticks are 25 ms of real time, and the threads that play the file may
    // wait longer than that for a processor on a busy machine.
    ScopedClock fast(std::make_shared<SystemClock>(0, 240));
    BASS_Stop(); // the output waits, and the position with it
    ticks(c, 101); // the first check after Play always passes
    QThread::msleep(100);
    ticks(c, 101);
    EXPECT_FALSE(BASS_ERRO_BUFFER);
    BASS_Start(); // its turn came
    QThread::msleep(1000);
    ticks(c, 1);
    EXPECT_FALSE(BASS_ERRO_BUFFER);
    EXPECT_TRUE(c->isStarted());

    // A position that stays put for a second of real time is a stall, however fast the clock.
    BASS_Stop();
    QThread::msleep(1100);
    ticks(c, 101); // passes if the position moved before the output halted
    QThread::msleep(1100);
    ticks(c, 101);
    EXPECT_TRUE(BASS_ERRO_BUFFER);
    EXPECT_FALSE(c->isStarted());
    BASS_Start();
}

TEST_F(TickTest, LostDeviceFailsTheUpdateAndStopsTheChannel) {
    TTesselBass* c = channel();
    c->setFileName(media("long.mp3"));
    c->Play();
    BASS_SetDevice(1);
    BASS_Free(); // the sound card goes away with the stream on it
    c->Timer_playingTimer(nullptr);
    EXPECT_EQ(BASS_ERRO_HANDLE, 1);
    EXPECT_FALSE(c->isStarted());
    EXPECT_GE(stops, 1);
    ASSERT_FALSE(log_entries().empty());
    EXPECT_EQ(log_entries()[0].text,
              "-----------------ERRO EM BUFFER MANUAL - UPDATE(TIMER)----------------");
    EXPECT_EQ(log_entries()[0].file, media("long.mp3"));
}

class MeterTest : public ChannelTest {};

TEST_F(MeterTest, SpectrumOfA430HzTonePeaksAtBin5) {
    TTesselBass* c = channel();
    TFFTData data;
    data.fill(-1.0f);
    EXPECT_EQ(c->Getdata(data), 0); // nothing loaded: untouched
    EXPECT_EQ(data[5], -1.0f);

    c->setFileName(media("long.mp3"));
    c->Play();
    sleep_ms(300);
    EXPECT_GT(c->Getdata(data), 0);
    const auto peak = std::max_element(data.begin(), data.begin() + 256) - data.begin();
    EXPECT_EQ(peak, 5);

    c->Pause();
    data.fill(-1.0f);
    EXPECT_EQ(c->Getdata(data), 0);
    EXPECT_EQ(data[5], -1.0f);
}

TEST_F(MeterTest, VuLevelsFromElements5And6OnlyWhilePlaying) {
    TTesselBass* c = channel();
    TFFTData data{};
    data[5] = 0.2f;
    data[6] = 0.01f;
    int R = -7, L = -7;
    c->GetVULevel(data, R, L);
    EXPECT_EQ(R, -7);
    EXPECT_EQ(L, -7);

    c->setFileName(media("long.mp3"));
    c->Play();
    c->GetVULevel(data, R, L);
    EXPECT_EQ(L, 114);
    EXPECT_EQ(R, 25);

    data[5] = -3.0f; // magnitude only, capped
    data[6] = std::nanf("");
    c->GetVULevel(data, R, L);
    EXPECT_EQ(L, 114);
    EXPECT_EQ(R, 0);
}

TEST_F(MeterTest, ByteCountsBecomeTimesOfDay) {
    TTesselBass* c = channel();
    EXPECT_EQ(c->Tempo_Audio_bass(352000), QTime(0, 0, 1));
    EXPECT_EQ(c->Tempo_Audio_bass(351), QTime(0, 0, 0));
    EXPECT_EQ(c->Tempo_Audio_bass(-352000), QTime(0, 0, 0));
    EXPECT_EQ(c->Tempo_Audio_bass(352 * 3723999), QTime(1, 2, 3));
}

class OpenFailureTest : public ChannelTest {};

TEST_F(OpenFailureTest, MissingFileIsCountedLoggedAndShown) {
    TTesselBass* c = channel();
    c->setFileName(media("tone.wav"));
    const QString missing = "C:\\AUDIO\\JINGLE.MP3";
    c->setFileName(missing);
    EXPECT_FALSE(c->IsCarregado());
    EXPECT_EQ(c->FileName(), "JINGLE.MP3");
    EXPECT_EQ(c->FilePath(), missing);
    EXPECT_EQ(wct_erro_criar, 1);
    EXPECT_EQ(BASS_ERRO_HANDLE, 0);
    EXPECT_EQ(dialogs.shown, QStringList{"notice: ERRO AO CARREGAR CANAL:\n\nArquivo: " + missing +
                                         "\n\nErro Cod:BS2 - Erro ao Abrir Arquivo"});
    const auto entries = log_entries();
    ASSERT_EQ(entries.size(), 2u);
    // The first attempt is logged while the channel still names the previous source.
    EXPECT_EQ(entries[0].text, "Carregar Arquivo (MIXAGEM PADRÃO): " + missing);
    EXPECT_EQ(entries[0].file, media("tone.wav"));
    EXPECT_EQ(entries[1].text, "Cerregar Canal");
    EXPECT_EQ(entries[1].file, missing);
    EXPECT_EQ(entries[1].code, "2");

    c->Play();
    EXPECT_FALSE(c->isStarted());
    EXPECT_EQ(wct_playing, 0);
}

TEST(NamePartTest, TextAfterTheLastSeparatorOrDriveColon) {
    EXPECT_EQ(name_part("C:\\AUDIO\\JINGLE.MP3"), "JINGLE.MP3");
    EXPECT_EQ(name_part("/srv/audio/vinheta.mp3"), "vinheta.mp3");
    EXPECT_EQ(name_part("C:\\AUDIO/mixed\\x.wav"), "x.wav");
    EXPECT_EQ(name_part("C:JINGLE.MP3"), "JINGLE.MP3");
    EXPECT_EQ(name_part("JINGLE.MP3"), "JINGLE.MP3");
}

} // namespace
