// Devices and the engine-wide calls: the virtual device list, initialisation and its errors,
// freeing and re-initialising repeatedly, the capture file, options, plug-ins, bad handles.

#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>

using namespace miravox::test;

namespace {

const VirtualDevices devices;

size_t open_descriptors() {
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

size_t thread_count() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::stoul(line.substr(8));
    return 0;
}

std::string tone_file() {
    const std::string p = devices.dir().file("tone.wav");
    if (read_file(p).empty())
        write_wav_mono(p, 44100, sine(440, 0.5));
    return p;
}

// Runs first (alphabetical suites are not guaranteed, so this suite does its own set-up).
TEST(EngineBeforeInit, CallsNeedAnInitialisedDevice) {
    EXPECT_EQ(BASS_GetDevice(), static_cast<DWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, tone_file().c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Start());
    EXPECT_FALSE(BASS_Update(120));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_SetDevice(kSilentDevice));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

TEST(Devices, VirtualDevicesReplaceTheSystemOnes) {
    BASS_DEVICEINFO info{};
    ASSERT_TRUE(BASS_GetDeviceInfo(0, &info));
    EXPECT_STREQ(info.name, "No sound");
    ASSERT_TRUE(BASS_GetDeviceInfo(kCaptureDevice, &info));
    EXPECT_STREQ(info.name, "CAPTURE");
    EXPECT_EQ(info.flags & (BASS_DEVICE_ENABLED | BASS_DEVICE_DEFAULT),
              BASS_DEVICE_ENABLED | BASS_DEVICE_DEFAULT);
    ASSERT_TRUE(BASS_GetDeviceInfo(kSilentDevice, &info));
    EXPECT_STREQ(info.name, "SILENT");
    EXPECT_EQ(info.flags & BASS_DEVICE_DEFAULT, 0u);
    EXPECT_FALSE(BASS_GetDeviceInfo(3, &info));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    EXPECT_FALSE(BASS_GetDeviceInfo(1, nullptr));
}

TEST(Devices, InitErrors) {
    EXPECT_FALSE(BASS_Init(9, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    ASSERT_TRUE(BASS_Init(kSilentDevice, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    BASS_DEVICEINFO info{};
    BASS_GetDeviceInfo(kSilentDevice, &info);
    EXPECT_TRUE(info.flags & BASS_DEVICE_INIT);
    EXPECT_EQ(BASS_GetDevice(), static_cast<DWORD>(kSilentDevice));
    EXPECT_FALSE(BASS_Init(kSilentDevice, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_FALSE(BASS_SetDevice(kCaptureDevice)) << "not initialised";
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_SetDevice(42));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    EXPECT_TRUE(BASS_Update(120));
    EXPECT_TRUE(BASS_Free());
    BASS_GetDeviceInfo(kSilentDevice, &info);
    EXPECT_FALSE(info.flags & BASS_DEVICE_INIT);
}

TEST(Devices, FreeAndInitRepeatedlyReleaseEverything) {
    // Warm up once so that lazily created engine threads are counted in the baseline.
    ASSERT_TRUE(BASS_Init(kSilentDevice, 44100, 0, nullptr, nullptr));
    ASSERT_TRUE(BASS_Free());
    const size_t fds = open_descriptors();
    const size_t threads = thread_count();
    std::vector<HSTREAM> old;
    for (int round = 0; round < 15; ++round) {
        ASSERT_TRUE(BASS_Init(kSilentDevice, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        for (int i = 0; i < 3; ++i) {
            const HSTREAM h =
                BASS_StreamCreateFile(FALSE, tone_file().c_str(), 0, 0, i == 0 ? BASS_SAMPLE_LOOP : 0);
            ASSERT_NE(h, 0u);
            ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
            old.push_back(h);
        }
        sleep_ms(20);
        ASSERT_TRUE(BASS_Free());
    }
    for (HSTREAM h : old) {
        EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE) << "BASS_Free freed the device's streams";
    }
    EXPECT_EQ(open_descriptors(), fds);
    EXPECT_EQ(thread_count(), threads);
}

TEST(Devices, CaptureFileHeaderStaysCurrent) {
    ASSERT_TRUE(BASS_Init(kCaptureDevice, 44100, 0, nullptr, nullptr));
    StreamHandle h(BASS_StreamCreateFile(FALSE, tone_file().c_str(), 0, 0, BASS_SAMPLE_LOOP));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    for (int check = 0; check < 3; ++check) {
        sleep_ms(400);
        const std::string bytes = read_file(devices.capture_path());
        ASSERT_GE(bytes.size(), 44u);
        const uint32_t header_data = uint32_t(uint8_t(bytes[40])) | uint32_t(uint8_t(bytes[41])) << 8 |
                                     uint32_t(uint8_t(bytes[42])) << 16 | uint32_t(uint8_t(bytes[43])) << 24;
        const size_t file_data = bytes.size() - 44;
        EXPECT_LE(header_data, file_data);
        EXPECT_LT(file_data - header_data, 44100u * 4u) << "the header lags less than a second";
    }
    Wav wav;
    ASSERT_TRUE(read_wav(devices.capture_path(), wav));
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.channels, 2);
    h.release();
    ASSERT_TRUE(BASS_Free());

    // Re-initialising appends to the same recording rather than starting a new one.
    const size_t before = captured_frames(devices.capture_path());
    ASSERT_TRUE(BASS_Init(kCaptureDevice, 44100, 0, nullptr, nullptr));
    sleep_ms(300);
    ASSERT_TRUE(BASS_Free());
    EXPECT_GT(captured_frames(devices.capture_path()), before);
}

TEST(Options, ConfigurationRoundTrips) {
    EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u);
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 1234));
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_TIMEOUT), 1234u);
    for (DWORD option : {BASS_CONFIG_BUFFER, BASS_CONFIG_UPDATEPERIOD, BASS_CONFIG_NET_BUFFER,
                         BASS_CONFIG_NET_PREBUF, BASS_CONFIG_NET_PASSIVE, BASS_CONFIG_REC_BUFFER,
                         BASS_CONFIG_NET_PLAYLIST, BASS_CONFIG_UPDATETHREADS, BASS_CONFIG_DEV_DEFAULT,
                         BASS_CONFIG_NET_READTIMEOUT, BASS_CONFIG_DEV_NONSTOP, BASS_CONFIG_WMA_PREBUF})
        EXPECT_TRUE(BASS_SetConfig(option, BASS_GetConfig(option))) << option;
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_NET_PROXY, 0));
    EXPECT_FALSE(BASS_SetConfig(BASS_CONFIG_NET_PROXY, 1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_FALSE(BASS_SetConfig(9999, 1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_EQ(BASS_GetConfig(9999), static_cast<DWORD>(-1));
    EXPECT_TRUE(BASS_SetConfigPtr(BASS_CONFIG_NET_AGENT, "Miravox"));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
}

TEST(Options, PluginsAreAcceptedAndHarmless) {
    const HPLUGIN p = BASS_PluginLoad(tone_file().c_str(), 0);
    EXPECT_NE(p, 0u);
    EXPECT_EQ(BASS_PluginLoad(devices.dir().file("bass_aac.dll").c_str(), 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
    EXPECT_TRUE(BASS_PluginFree(p));
    EXPECT_FALSE(BASS_PluginFree(p));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_TRUE(BASS_PluginFree(0));
}

TEST(Handles, EveryChannelCallRefusesAnUnknownHandle) {
    const DWORD bad = 12345;
    float f = 0;
    char buf[1024];
    EXPECT_FALSE(BASS_ChannelPlay(bad, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_ChannelStop(bad));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_ChannelPause(bad));
    EXPECT_EQ(BASS_ChannelIsActive(bad), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_EQ(BASS_ChannelFlags(bad, 4, 4), static_cast<DWORD>(-1));
    EXPECT_FALSE(BASS_ChannelGetAttribute(bad, BASS_ATTRIB_VOL, &f));
    EXPECT_FALSE(BASS_ChannelSetAttribute(bad, BASS_ATTRIB_VOL, 1));
    EXPECT_EQ(BASS_ChannelGetPosition(bad, BASS_POS_BYTE), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ChannelGetLength(bad, BASS_POS_BYTE), static_cast<QWORD>(-1));
    EXPECT_FALSE(BASS_ChannelSetPosition(bad, 0, BASS_POS_BYTE));
    EXPECT_LT(BASS_ChannelBytes2Seconds(bad, 0), 0);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(bad, 1), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_StreamGetFilePosition(bad, BASS_FILEPOS_CONNECTED), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ChannelGetTags(bad, BASS_TAG_HTTP), nullptr);
    EXPECT_EQ(BASS_ChannelGetData(bad, buf, BASS_DATA_FFT512), static_cast<DWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_StreamFree(0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST(Handles, VolumeAndFlagsOfAStream) {
    ASSERT_TRUE(BASS_Init(kSilentDevice, 44100, 0, nullptr, nullptr));
    StreamHandle h(BASS_StreamCreateFile(FALSE, tone_file().c_str(), 0, 0, 0));
    float v = -1;
    ASSERT_TRUE(BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v));
    EXPECT_EQ(v, 1.0f);
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.3f));
    BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v);
    EXPECT_FLOAT_EQ(v, 0.3f);
    BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, -0.2f);
    BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v);
    EXPECT_EQ(v, 0.0f) << "negative volume is silence";
    EXPECT_FALSE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, std::nanf("")));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_FALSE(BASS_ChannelSetAttribute(h, 99, 1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
    EXPECT_EQ(BASS_ChannelFlags(h, BASS_SAMPLE_LOOP, BASS_SAMPLE_LOOP) & BASS_SAMPLE_LOOP, BASS_SAMPLE_LOOP);
    EXPECT_EQ(BASS_ChannelFlags(h, 0, BASS_SAMPLE_LOOP) & BASS_SAMPLE_LOOP, 0u);
    EXPECT_EQ(BASS_ChannelFlags(h, 0, 0) & BASS_SAMPLE_LOOP, 0u);
    h.release();
    ASSERT_TRUE(BASS_Free());
}

} // namespace
