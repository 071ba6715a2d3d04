// The system's own devices on a real sound server: a private PulseAudio reached through ALSA's
// pulse plug-in, as on a Debian desktop. The server is killed and started again under playing
// streams, and the device list is read again once nothing of the system's is open. Skipped where
// pulseaudio is not installed. Each test runs in a process of its own (the engine keeps its
// device list per process).

#include "engine_test_support.h"
#include "pulse_server.h"

#include <gtest/gtest.h>

#include <future>

using namespace miravox::test;
using namespace std::chrono_literals;

namespace {

constexpr DWORD kDefaultDevice = 1;

std::string device_name(DWORD device) {
    BASS_DEVICEINFO info{};
    return BASS_GetDeviceInfo(device, &info) ? info.name : "";
}

// Whether the stream's position moves within `within`.
bool advances(HSTREAM h, std::chrono::milliseconds within) {
    const double from = position_s(h);
    return wait_until([&] { return position_s(h) > from + 0.2; }, within);
}

class SystemDevices : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!pulse_.start(why))
            GTEST_SKIP() << why;
        pulse_.export_client_environment();
        write_wav_mono(dir_.file("tone.wav"), 44100, sine(440, 0.5));
    }
    void TearDown() override {
        while (BASS_Free()) {
        }
    }

    HSTREAM looping_tone() {
        return BASS_StreamCreateFile(FALSE, dir_.file("tone.wav").c_str(), 0, 0, BASS_SAMPLE_LOOP);
    }

    TempDir dir_{"pulse"};
    PulseServer pulse_{dir_.path()};
};

} // namespace

// The sound server dies under a playing stream and is back 3 s later: the output is opened again
// by itself and the stream goes on with nobody calling anything. While the server is away, a
// stream whose output cannot start reports the failure and does not read as playing, so that
// its next Play tries again, and succeeds once the server is back.
TEST_F(SystemDevices, AnOutputTheSoundServerDroppedComesBackByItself) {
    ASSERT_TRUE(BASS_Init(kDefaultDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    EXPECT_EQ(device_name(kDefaultDevice), "Default");
    StreamHandle air(looping_tone());
    StreamHandle later(looping_tone());
    ASSERT_NE(air.get(), 0u);
    ASSERT_NE(later.get(), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(air, FALSE));
    ASSERT_TRUE(advances(air, 10000ms)) << "nothing played on the sound server: position " << position_s(air)
                                        << " s, state " << BASS_ChannelIsActive(air);

    pulse_.kill();
    // The output is gone once the position stands still.
    ASSERT_TRUE(wait_until([&] { return !advances(air, 500ms); }, 5000ms));
    EXPECT_FALSE(BASS_ChannelPlay(later, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_START);
    EXPECT_EQ(BASS_ChannelIsActive(later), static_cast<DWORD>(BASS_ACTIVE_STOPPED));

    sleep_ms(3000);
    std::string why;
    ASSERT_TRUE(pulse_.start(why)) << why;
    const auto back = std::chrono::steady_clock::now();
    EXPECT_TRUE(advances(air, 10000ms)) << "the output did not come back by itself";
    std::printf("output playing again %.1f s after the server's return\n", elapsed_ms(back) / 1000);
    EXPECT_TRUE(BASS_ChannelPlay(later, FALSE)) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_ChannelIsActive(later), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    EXPECT_TRUE(advances(later, 5000ms));
}

// Freeing the last of the system's devices makes the engine read the system's list again at
// the next device call: a device that appeared since start-up is offered and plays, device 1
// stays the system default, and nothing is re-read while a device is open.
TEST_F(SystemDevices, TheListIsReadAgainOnceNoSystemDeviceIsOpen) {
    ASSERT_TRUE(BASS_Init(kDefaultDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    const auto listed = [] {
        std::vector<std::string> names;
        for (DWORD d = 1; !device_name(d).empty(); ++d)
            names.push_back(device_name(d));
        return names;
    };
    const std::vector<std::string> before = listed();
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before[0], "Default");

    pulse_.add_alsa_config("pcm.station_card { type pulse }");
    EXPECT_EQ(listed(), before) << "read again while a device was open";

    ASSERT_TRUE(BASS_SetDevice(kDefaultDevice));
    ASSERT_TRUE(BASS_Free());
    const std::vector<std::string> after = listed();
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after[0], "Default");
    const auto card = std::find(after.begin(), after.end(), "station_card");
    ASSERT_NE(card, after.end());

    const int device = int(card - after.begin()) + 1;
    ASSERT_TRUE(BASS_Init(device, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_GetDevice(), DWORD(device));
    StreamHandle tone(looping_tone());
    ASSERT_TRUE(BASS_ChannelPlay(tone, FALSE));
    EXPECT_TRUE(advances(tone, 5000ms));
}

// A re-initialisation while the sound server is away finds no output: device 1 stays the
// system default (not a silent device put in its place) and fails to come up, at once and
// without reading the list again at each attempt; once the server is back the engine finds it
// by itself within a few seconds and the next attempt plays.
TEST_F(SystemDevices, AReinitialisationWhileTheServerIsAwayKeepsTheListAndFailsUntilItIsBack) {
    ASSERT_TRUE(BASS_Init(kDefaultDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    const std::string name = device_name(kDefaultDevice);
    pulse_.kill();
    ASSERT_TRUE(BASS_SetDevice(kDefaultDevice));
    ASSERT_TRUE(BASS_Free());

    EXPECT_EQ(device_name(kDefaultDevice), name);
    EXPECT_FALSE(BASS_Init(kDefaultDevice, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);

    std::string why;
    ASSERT_TRUE(pulse_.start(why)) << why;
    const auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(
        wait_until([] { return BASS_Init(kDefaultDevice, 44100, 0, nullptr, nullptr) != FALSE; }, 10000ms))
        << BASS_ErrorGetCode();
    std::printf("device 1 up again %.1f s after the server's return\n", elapsed_ms(back) / 1000);
    EXPECT_EQ(device_name(kDefaultDevice), name);
    StreamHandle tone(looping_tone());
    ASSERT_TRUE(BASS_ChannelPlay(tone, FALSE));
    EXPECT_TRUE(advances(tone, 5000ms));
}

// The sound server comes back slowly: its socket takes connections and does not answer yet. The
// watch that opens the lost output again waits on it, and so does a reading of the device list;
// no device or stream call may wait with them (the program's main thread makes them every few
// milliseconds). Once the server is really up, the device comes up again.
TEST_F(SystemDevices, NoCallWaitsForASoundServerThatIsStillStarting) {
    ASSERT_TRUE(BASS_Init(kDefaultDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    StreamHandle air(looping_tone());
    ASSERT_TRUE(BASS_ChannelPlay(air, FALSE));
    ASSERT_TRUE(advances(air, 10000ms));

    pulse_.kill();
    std::string why;
    ASSERT_TRUE(pulse_.hang(why)) << why;
    ASSERT_TRUE(wait_until([&] { return pulse_.hung_clients() > 0; }, 10000ms))
        << "the lost output was not opened again";

    // The calls run on a thread of their own, so that a call held until the client gives up on
    // the server (half a minute) fails the test instead of holding it.
    auto calls = std::async(std::launch::async, [&] {
        StreamHandle later(looping_tone());
        BASS_DEVICEINFO info{};
        const bool listed = BASS_GetDeviceInfo(kDefaultDevice, &info) != FALSE;
        const bool known = BASS_ChannelIsActive(air) == BASS_ACTIVE_PLAYING; // its output is away
        const bool played = BASS_ChannelPlay(later, FALSE) != FALSE;
        const bool freed = BASS_SetDevice(kDefaultDevice) && BASS_Free();
        const bool up = BASS_Init(kDefaultDevice, 44100, 0, nullptr, nullptr) != FALSE;
        return std::vector<bool>{listed, known, played, freed, up};
    });
    ASSERT_EQ(calls.wait_for(5s), std::future_status::ready) << "a call waited for the sound server";
    // Listed still; a stream cannot start; the device is freed; it cannot come up while the
    // server is not.
    EXPECT_EQ(calls.get(), (std::vector<bool>{true, true, false, true, false}));

    pulse_.stop_hanging();
    ASSERT_TRUE(pulse_.start(why)) << why;
    ASSERT_TRUE(
        wait_until([] { return BASS_Init(kDefaultDevice, 44100, 0, nullptr, nullptr) != FALSE; }, 15000ms))
        << BASS_ErrorGetCode();
    StreamHandle tone(looping_tone());
    ASSERT_TRUE(BASS_ChannelPlay(tone, FALSE));
    EXPECT_TRUE(advances(tone, 5000ms));
}
