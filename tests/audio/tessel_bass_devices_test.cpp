// Device bring-up, re-initialisation and the device list, on twelve silent virtual devices.

#include "channel_fixture.h"

using namespace miravox;
using miravox::testing::ChannelTest;

namespace {

bool initialised(int device) {
    BASS_DEVICEINFO info{};
    return BASS_GetDeviceInfo(DWORD(device), &info) && (info.flags & BASS_DEVICE_INIT) != 0;
}

class DeviceTest : public ChannelTest {};

TEST_F(DeviceTest, FiveChannelsOnOneDeviceInitialiseItOnce) {
    for (int i = 0; i < 5; ++i)
        channel(1);
    EXPECT_EQ(wlista_devices, std::vector<std::int16_t>{1});
    EXPECT_EQ(wct_canais_criados, 5);
    EXPECT_TRUE(dialogs.shown.isEmpty()); // a second initialisation would have failed loudly
    EXPECT_TRUE(initialised(1));
    EXPECT_FALSE(initialised(2));
}

TEST_F(DeviceTest, ChannelOpensOnItsDeviceAndDeviceIdOnlyMakesAnotherCurrent) {
    channel(1);
    TTesselBass* cue = channel(2);
    EXPECT_EQ(cue->DeviceAtual(), "ESCUTA");
    BASS_SetDevice(1);
    cue->setFileName(media("tone.wav"));
    EXPECT_EQ(BASS_GetDevice(), 2u);

    cue->setDeviceId(1);
    EXPECT_EQ(BASS_GetDevice(), 1u);
    EXPECT_EQ(cue->DeviceAtual(), "ESCUTA"); // the description stays
    BASS_SetDevice(2);
    cue->setFileName(media("tone.wav"));
    EXPECT_EQ(BASS_GetDevice(), 1u);
}

TEST_F(DeviceTest, TwoDevicesAreReinitialisedInTheOrderTheyCameUp) {
    TTesselBass* cue = channel(2);
    TTesselBass* main = channel(1);
    EXPECT_EQ(wlista_devices, (std::vector<std::int16_t>{2, 1}));
    cue->setFileName(media("tone.wav"));
    main->setFileName(media("tone.wav"));
    cue->FreeFile();
    main->FreeFile();

    ATUALIZA_DEVICE(nullptr, dialogs);
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_TRUE(initialised(1));
    EXPECT_TRUE(initialised(2));
    EXPECT_EQ(BASS_GetDevice(), 1u); // the last of the list ends current
    EXPECT_EQ(wct_atualiza_device, 1);

    // The channels open and play again on their devices.
    cue->setFileName(media("tone.wav"));
    cue->Play();
    EXPECT_TRUE(cue->isStarted());
}

TEST_F(DeviceTest, ReinitialisationClearsTheErrorStateButNotTheChannelCounts) {
    channel(1);
    BASS_ERRO_BUFFER = true;
    BASS_ERRO_WEB = 2;
    BASS_ERRO_HANDLE = 3;
    wct_playing = -4;
    wct_play_sem_update = 5;
    wct_erro_criar = 6;
    wct_erro_play = 7;
    wct_canais_carregados = -8;
    wct_atualiza_device = 2;

    ATUALIZA_DEVICE(nullptr, dialogs);
    EXPECT_FALSE(BASS_ERRO_BUFFER);
    EXPECT_EQ(BASS_ERRO_WEB, 0);
    EXPECT_EQ(BASS_ERRO_HANDLE, 0);
    EXPECT_EQ(wct_playing, 0);
    EXPECT_EQ(wct_play_sem_update, 0);
    EXPECT_EQ(wct_erro_criar, 0);
    EXPECT_EQ(wct_erro_play, 0);
    EXPECT_EQ(wct_canais_criados, 1);
    EXPECT_EQ(wct_canais_carregados, -8);
    EXPECT_EQ(wct_atualiza_device, 3);
    EXPECT_FALSE(BASS_UPDATING);
}

TEST_F(DeviceTest, ReinitialisationWithoutDevicesChangesNothing) {
    BASS_ERRO_BUFFER = true;
    BASS_ERRO_WEB = 1;
    wct_playing = 2;
    ATUALIZA_DEVICE(nullptr, dialogs);
    EXPECT_TRUE(BASS_ERRO_BUFFER);
    EXPECT_EQ(BASS_ERRO_WEB, 1);
    EXPECT_EQ(wct_playing, 2);
    EXPECT_EQ(wct_atualiza_device, 0);
    EXPECT_FALSE(BASS_UPDATING);
}

TEST_F(DeviceTest, DeviceThatDoesNotComeBackIsReportedAndTheRestGoesOn) {
    channel(1);
    wlista_devices.push_back(42); // a card that has gone
    BASS_ERRO_WEB = 1;

    ATUALIZA_DEVICE(nullptr, dialogs);
    EXPECT_EQ(dialogs.shown, QStringList{"notice: Inicialização da Device (42) com Problemas - UPDATE 2"});
    EXPECT_FALSE(BASS_UPDATING);
    EXPECT_TRUE(initialised(1));
    EXPECT_EQ(BASS_ERRO_WEB, 0);
    EXPECT_EQ(wct_atualiza_device, 1);
}

TEST_F(DeviceTest, DeviceThatDoesNotInitialiseIsShownLoggedAndLeftOut) {
    TTesselBass* c = channel(42);
    EXPECT_EQ(dialogs.shown, QStringList{"notice: Inicialização da Device(PLACA DE SOM) com Problemas\n" +
                                         TEXTO_ERRO_BS(BASS_ERROR_DEVICE)});
    const auto entries = log_entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "Inicialização da Device");
    EXPECT_EQ(entries[0].file, ""); // no source yet
    EXPECT_TRUE(wlista_devices.empty());
    EXPECT_EQ(wct_canais_criados, 1); // the bring-up still counts
    EXPECT_TRUE(c->DeviceAtual().isEmpty());

    // The next channel for the same device tries again, with its own box.
    channel(42);
    EXPECT_EQ(dialogs.shown.size(), 2);
}

TEST_F(DeviceTest, BringUpRunsOnlyBeforeTheFirstOpenOrAfterTheTimerIsDropped) {
    TTesselBass* c = channel(1);
    c->setFileName(media("tone.wav"));
    c->CriaCanal(2, false, nullptr, 0);
    EXPECT_EQ(wct_canais_criados, 1);
    EXPECT_EQ(c->DeviceAtual(), "PRINCIPAL");
    EXPECT_EQ(wlista_devices, std::vector<std::int16_t>{1});

    c->FreeFile_Timer();
    c->CriaCanal(2, false, nullptr, 0);
    EXPECT_EQ(wct_canais_criados, 2);
    EXPECT_EQ(c->DeviceAtual(), "ESCUTA");
    c->setFileName(media("tone.wav"));
    c->Play();
    EXPECT_EQ(BASS_GetDevice(), 2u);
}

TEST_F(DeviceTest, ConstructionClearsTheErrorStateAndDestructionUncounts) {
    channel(1);
    BASS_ERRO_WEB = 2;
    BASS_ERRO_HANDLE = 4;
    wct_erro_criar = 1;
    wct_erro_play = 1;
    BASS_UPDATING = true;
    BASS_ERRO_BUFFER = true;
    auto* player = new TTesselBass(&owner, dialogs); // the setup dialog's channel
    EXPECT_EQ(BASS_ERRO_WEB, 0);
    EXPECT_EQ(BASS_ERRO_HANDLE, 0);
    EXPECT_EQ(wct_erro_criar, 0);
    EXPECT_EQ(wct_erro_play, 0);
    EXPECT_FALSE(BASS_UPDATING);
    EXPECT_TRUE(BASS_ERRO_BUFFER); // left for the main window to act on
    EXPECT_EQ(wct_canais_criados, 1);
    delete player; // never brought up, still uncounted
    EXPECT_EQ(wct_canais_criados, 0);
}

TEST_F(DeviceTest, DeviceListStopsAtTen) {
    TTesselBass* c = channel(1);
    EXPECT_EQ(c->DeviceCount(), 10);
    QStringList names{"stale"};
    CARREGA_DEVICES(names);
    EXPECT_EQ(names, (QStringList{"PRINCIPAL", "ESCUTA", "D3", "D4", "D5", "D6", "D7", "D8", "D9", "D10"}));
    EXPECT_EQ(c->DeviceName(2), "ESCUTA");
    EXPECT_EQ(c->DeviceName(12), "D12");
    EXPECT_EQ(c->BASS_GetDeviceDescription(13), "");
    EXPECT_EQ(c->BASS_GetDeviceDescription(-1), "");
}

} // namespace
