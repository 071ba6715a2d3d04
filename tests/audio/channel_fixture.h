#pragma once
// Shared set-up for the channel tests: the real engine on twelve silent virtual devices
// (PRINCIPAL, ESCUTA, D3 .. D12), audio generated once per test program with the ffmpeg CLI,
// a program folder of its own for the error log, scripted dialogs and a clock that stands
// still, so that the channels' own 60 ms timers never fire and each test drives the playing
// tick by calling Timer_playingTimer itself.

#include "clock.h"
#include "engine_state.h"
#include "error_log.h"
#include "scripted_dialogs.h"
#include "soundlib.h"
#include "tessel_bass.h"
#include "test_media.h"
#include "text_file.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace miravox::testing {

// Twelve devices, so that the ten-device limits show.
inline const char* kTestDevices = "silent:PRINCIPAL;silent:ESCUTA;silent:D3;silent:D4;silent:D5;silent:D6;"
                                  "silent:D7;silent:D8;silent:D9;silent:D10;silent:D11;silent:D12";

// Runs ffmpeg with `args` (after the common quiet options); true when it succeeded. Through the
// fixtures' fork and exec rather than QProcess: Qt starts processes with a raw clone that
// ThreadSanitizer cannot follow, which spoils its view of every later lock in the process.
inline bool run_ffmpeg(const QStringList& args) {
    std::vector<std::string> argv;
    for (const QString& a : args)
        argv.push_back(a.toStdString());
    return miravox::test::run_ffmpeg(argv);
}

// A sine of `hz` for `seconds`, 44100 Hz stereo, encoded by the file's extension.
inline bool make_tone(const QString& path, double seconds, int hz = 430) {
    return run_ffmpeg({"-f", "lavfi", "-i",
                       QString("sine=frequency=%1:duration=%2:sample_rate=44100").arg(hz).arg(seconds), "-ac",
                       "2", path});
}

// Waits, letting events run, until `done` holds or `ms` have passed. Returns `done()`.
inline bool wait_for(const std::function<bool()>& done, int ms) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < ms) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return done();
}

inline void sleep_ms(int ms) {
    wait_for([] { return false; }, ms);
}

class ChannelTest : public ::testing::Test {
  protected:
    static inline QTemporaryDir* media_ = nullptr;
    static inline QTemporaryDir* home_ = nullptr;

    static void SetUpTestSuite() {
        qputenv("MIRAVOX_AUDIO_DEVICES", kTestDevices);
        home_ = new QTemporaryDir;
        media_ = new QTemporaryDir;
        qputenv("MIRAVOX_HOME", home_->path().toUtf8());
        ASSERT_TRUE(make_tone(media("tone.wav"), 2.0));
        ASSERT_TRUE(make_tone(media("long.mp3"), 8.0));
        ASSERT_TRUE(make_tone(media("short.wav"), 0.3));
    }
    static void TearDownTestSuite() {
        delete media_;
        delete home_;
        media_ = home_ = nullptr;
    }
    static QString media(const QString& name) { return media_->path() + "/" + name; }

    std::shared_ptr<ManualClock> manual =
        std::make_shared<ManualClock>(QDateTime(QDate(2025, 8, 19), QTime(10, 0, 0)));
    ScopedClock scope{manual};
    ScriptedDialogs dialogs;
    QObject owner;
    int stops = 0;

    void SetUp() override {
        QDir(home_->path() + "/LOGS").removeRecursively();
        reset_engine_state();
    }

    void TearDown() override {
        qDeleteAll(owner.children());
        // Bring the engine back to "no device up", so that every test starts from scratch.
        for (std::int16_t device : wlista_devices) {
            if (BASS_SetDevice(DWORD(device)))
                BASS_Free();
        }
        wlista_devices.clear();
    }

    static void reset_engine_state() {
        BASS_UPDATING = false;
        BASS_ERRO_BUFFER = false;
        BASS_ERRO_WEB = 0;
        BASS_ERRO_HANDLE = 0;
        wct_canais_criados = 0;
        wct_playing = 0;
        wct_play_sem_update = 0;
        wct_atualiza_device = 0;
        wct_canais_carregados = 0;
        wct_erro_criar = 0;
        wct_erro_play = 0;
    }

    // A channel on `device`, brought up as the main window does, counting its stops.
    TTesselBass* channel(int device = 1, int canal_flag = 1) {
        auto* c = new TTesselBass(&owner, dialogs);
        c->CriaCanal(device, false, nullptr, canal_flag);
        c->OnStop = [this](QObject*) { ++stops; };
        return c;
    }

    // Runs the playing tick `n` times.
    static void ticks(TTesselBass* c, int n) {
        for (int i = 0; i < n; ++i)
            c->Timer_playingTimer(nullptr);
    }

    // The "TEXTO: " and "Arquivo: " lines of today's engine error log, block by block.
    struct Entry {
        QString text;
        QString file;
        QString code;
    };
    std::vector<Entry> log_entries() const {
        std::vector<Entry> entries;
        auto file = read_text_file(error_log_path(manual->now().date()));
        if (!file)
            return entries;
        for (qsizetype i = 0; i + 16 < file->lines.size(); i += 17)
            entries.push_back({file->lines[i + 2].mid(7), file->lines[i + 3].mid(9),
                               file->lines[i + 4].section(' ', 2, 2)});
        return entries;
    }
    QStringList log_texts() const {
        QStringList texts;
        for (const Entry& e : log_entries())
            texts << e.text;
        return texts;
    }
};

} // namespace miravox::testing
