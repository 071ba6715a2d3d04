#pragma once
// The real main window for tests: a program folder of its own (MIRAVOX_HOME), the real engine
// on two silent virtual devices ("PRINCIPAL" for transmission, "ESCUTA" for cue), a clock that
// only moves when the test moves it and scripted boxes. The window is built the way the program
// builds it; its timers are then stopped, so that every handler runs only when a test calls it.
// Helpers write and read the weekday files, read the day's operation log and make audio files.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "engine_state.h"
#include "operation_log.h"
#include "scripted_dialogs.h"
#include "soundlib.h"
#include "test_media.h"
#include "text_file.h"
#include "threaded_timer.h"
#include "weekday_files.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <memory>
#include <vector>

namespace miravox::testing {

inline const char* kWindowTestDevices = "silent:PRINCIPAL;silent:ESCUTA";

class MainWindowTest : public ::testing::Test {
  protected:
    // Audio made once per test program: ffmpeg is slow next to a test.
    static inline QTemporaryDir* media_dir_ = nullptr;

    static void SetUpTestSuite() {
        qputenv("MIRAVOX_AUDIO_DEVICES", kWindowTestDevices);
        // A confirmed shutdown closes the window; the test program goes on.
        QApplication::setQuitOnLastWindowClosed(false);
        if (!media_dir_) {
            media_dir_ = new QTemporaryDir;
            ASSERT_TRUE(make_wav(media("jingle.wav"), 1.5, 440));
            ASSERT_TRUE(miravox::test::make_stream_mp3(media("spot.mp3").toStdString(), 660, 1.5));
            ASSERT_TRUE(miravox::test::make_stream_mp3(media("stream.mp3").toStdString(), 550, 3.0));
        }
    }
    static QString media(const QString& name) { return media_dir_->path() + "/" + name; }

    // A stereo sine of `seconds` at `hz`, 44100 Hz, 16-bit PCM.
    static bool make_wav(const QString& path, double seconds, double hz) {
        const int frames = int(seconds * 44100);
        std::vector<float> samples(size_t(frames) * 2);
        for (int i = 0; i < frames; ++i)
            samples[2 * i] = samples[2 * i + 1] = float(0.5 * std::sin(2 * M_PI * hz * i / 44100.0));
        return miravox::test::write_wav(path.toStdString(), samples, 2);
    }

    // Monday 7 December 2026, 18:00:00: weekday 2, before the usual 19:00 window.
    static QDateTime start_time() { return QDateTime(QDate(2026, 12, 7), QTime(18, 0, 0)); }
    static constexpr int kMonday = 2;

    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        previous_home_ = qgetenv("MIRAVOX_HOME");
        qputenv("MIRAVOX_HOME", home.path().toUtf8());
        reset_configuration();
        reset_engine_state();
        before_window();
        open_window();
    }

    void TearDown() override {
        window.reset();
        for (std::int16_t device : wlista_devices)
            if (BASS_SetDevice(DWORD(device)))
                BASS_Free();
        wlista_devices.clear();
        reset_configuration();
        qputenv("MIRAVOX_HOME", previous_home_);
    }

    // Runs before the window is built: write MIRAVOX.INI or weekday files here.
    virtual void before_window() {}

    void open_window() {
        window = std::make_unique<Tfrm_miravox>(dialogs);
        window->minimise_application = [this] { ++minimised; };
        window->open_setup_dialog = [this] { ++setup_dialogs; };
        stop_timers();
    }

    // Stops every timer of the window (the main tick runs from creation).
    void stop_timers() {
        Tfrm_miravox& w = *window;
        for (TThreadedTimer* t :
             {w.Timer_sempre, w.Timer_play_Vinhetas, w.Timer_UpdateDevice, w.Timer_Reconexao, w.timer_meter,
              w.Timer_Play_Comercial, w.timer_DiminuirVolume_geral, w.timer_aumentarvolume_geral,
              w.timer_DiminuirVolume_web, w.timer_aumentarvolume_web})
            t->setEnabled(false);
    }

    // Shows the window and makes it the active one, so that keys reach the focused control
    // through the window's key preview. The first activation fills the lists.
    bool show_window() {
        window->show();
        window->activateWindow();
        const bool active = QTest::qWaitForWindowActive(window.get(), 5000);
        stop_timers();
        return active;
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

    // ---- Network opens ----------------------------------------------------------------------
    // Lets the opens of links under way on the window's channels come in (each runs on a
    // thread of its channel's own and is applied from an event), up to `ms`; true when none
    // is left pending.
    bool wait_for_opens(int ms = 30000) {
        return pump_until(
            [this] { return !window->Canal_web->IsOpening() && !window->Canal_cue->IsOpening(); }, ms);
    }

    // Lets the proof-of-play rows handed to the writer thread reach the file, up to `ms`.
    bool wait_for_rows(int ms = 5000) {
        return pump_until([this] { return window->proof_of_play.all_written(); }, ms);
    }

    // Lets events run until `done` holds or `ms` have passed; returns `done()`.
    template <typename Done> static bool pump_until(Done done, int ms) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!done() && elapsed.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        }
        return done();
    }

    // ---- Clock ----------------------------------------------------------------------------
    void advance_ms(qint64 ms) { manual->advance_ms(ms); }
    void set_now(const QDateTime& t) { manual->set(t); }
    QDateTime now() const { return manual->now(); }

    // ---- Files of the station -------------------------------------------------------------
    QString program_folder() const { return home.path() + "/"; }
    QString data_folder() const { return program_folder() + "DADOS/"; }

    void write_config(const QStringList& lines) {
        ASSERT_TRUE(write_text_file(program_folder() + kConfigFileName, lines));
    }
    // A configuration holding only a password.
    void write_password(const QString& password) {
        const QByteArray scrambled = CODIFICA_SENHA(encode_cp1252(password), kPasswordKey);
        write_config({"SISTEMA=" + decode_cp1252(scrambled)});
    }

    QString weekday_path(int weekday, const QString& extension) const {
        return weekday_file_name(data_folder(), weekday, extension);
    }
    void write_weekday(int weekday, const QString& extension, const QStringList& lines) {
        QDir().mkpath(data_folder());
        ASSERT_TRUE(write_text_file(weekday_path(weekday, extension), lines));
    }
    // The lines of a weekday file as they are on disk; empty when there is no file.
    QStringList weekday_lines(int weekday, const QString& extension) const {
        auto file = read_text_file(weekday_path(weekday, extension));
        return file ? file->lines : QStringList();
    }
    QByteArray weekday_bytes(int weekday, const QString& extension) const {
        QFile file(weekday_path(weekday, extension));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The messages of today's operation log file, in order ("|time|n|message|" lines).
    QStringList log_messages() const {
        QStringList messages;
        auto file = read_text_file(window->Log.file_for(now().date()));
        if (!file)
            return messages;
        for (const QString& line : file->lines) {
            const int third = line.indexOf('|', line.indexOf('|', 1) + 1);
            messages << line.mid(third + 1, line.size() - third - 2);
        }
        return messages;
    }
    int log_count(const QString& message) const { return int(log_messages().count(message)); }

    QTemporaryDir home;
    std::shared_ptr<ManualClock> manual = std::make_shared<ManualClock>(start_time());
    ScopedClock scope{manual};
    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_miravox> window;
    int minimised = 0;
    int setup_dialogs = 0;

  private:
    QByteArray previous_home_;
};

} // namespace miravox::testing
