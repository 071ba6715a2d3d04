// The real program against real servers: a stream window relayed from Debian's icecast2 fed by
// the ffmpeg CLI, whose source dies and comes back mid-window; a window of a live HLS playlist
// that ffmpeg writes and a local server serves; and a relay played through a private PulseAudio
// server that is killed and started again mid-window. Each run starts the program's clock a few
// seconds before the window; the operation log and the audio captured from the transmission
// device (or recorded from the sound server) tell what happened.

#include "proof_of_play.h"
#include "pulse_server.h"
#include "station_run.h"
#include "tcp_proxy.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

using namespace miravox;
using namespace miravox::e2e;

namespace {

constexpr double kStreamHz = 440, kMusicAHz = 660, kMusicBHz = 770, kHlsHz = 550;
// Long enough that the reopen, about 34 s after the music started (countdown and connection),
// falls inside a track whatever the engine's loss detection takes.
constexpr double kTrackSeconds = 20;

// A Wednesday (weekday file 04); windows open at 12:00 and the program starts at 11:59:57.
constexpr const char* kClockStart = "2026-12-09T11:59:57";

bool make_tone(const QString& path, double seconds, double hz) {
    const int frames = int(seconds * 44100);
    std::vector<float> samples(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = float(0.5 * std::sin(2 * M_PI * hz * i / 44100.0));
    return test::write_wav(path.toStdString(), samples, 2);
}

// A station with one window from 12:00 to `end` on `link`, without jingles, and two music tracks.
void make_station(const QString& home, const QString& link, const QString& end) {
    QDir().mkpath(home + "/DADOS");
    QDir().mkpath(home + "/MUSICAS");
    ASSERT_TRUE(make_tone(home + "/MUSICAS/TRACK_A.WAV", kTrackSeconds, kMusicAHz));
    ASSERT_TRUE(make_tone(home + "/MUSICAS/TRACK_B.WAV", kTrackSeconds, kMusicBHz));
    ASSERT_TRUE(
        write_text_file(home + "/DADOS/04.WEB", {"|12:00|" + end + "|" + link + "|STREAMING|100|||0|0||"}));
}

// What the program logged, for the reader of a failed run.
void print_log(const QString& home) {
    for (const LogLine& line : read_operation_log(home))
        std::printf("  log %s %s\n", qPrintable(line.time.toString("HH:mm:ss")), qPrintable(line.message));
}

int seconds_between(const LogLine& a, const LogLine& b) {
    return a.time.secsTo(b.time);
}

// The first run of `tone` that begins at or after `from` seconds, or nullptr.
const ToneRun* first_run(const std::vector<ToneRun>& runs, int tone, double from) {
    for (const ToneRun& run : runs)
        if (run.tone == tone && run.from >= from)
            return &run;
    return nullptr;
}

// A station folder whose operation log is printed when the test fails.
class StationTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(home_.isValid()); }
    void TearDown() override {
        if (HasFailure())
            print_log(home_.path());
    }
    QTemporaryDir home_;
};

class IcecastRelay : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        ASSERT_TRUE(server_dir_.isValid());
        QString why;
        if (!icecast_.start(server_dir_.path(), why))
            GTEST_SKIP() << why.toStdString();
    }

    QTemporaryDir server_dir_;
    Icecast icecast_;
};

using HlsWindow = StationTest;

class SoundServerRestart : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        std::string why;
        if (!pulse_.start(why))
            GTEST_SKIP() << why;
    }
    double air_back_after(std::chrono::seconds outage, const QString& window_end);

    test::TempDir pulse_dir_{"pulse-e2e"};
    test::PulseServer pulse_{pulse_dir_.path()};
};

// A raw recording of the sound server (16-bit stereo, 44100 Hz) as a capture.
miravox::testing::Capture read_raw_recording(const QString& path) {
    miravox::testing::Capture c;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return c;
    const QByteArray bytes = f.readAll();
    c.left.resize(size_t(bytes.size() / 4));
    for (size_t i = 0; i < c.left.size(); ++i) {
        int16_t s;
        std::memcpy(&s, bytes.constData() + i * 4, 2);
        c.left[i] = s / 32768.0f;
    }
    return c;
}

// Seconds into `air` at which one of `tones` first dominates for half a second, or -1.
double first_heard(const miravox::testing::Capture& air, const std::vector<double>& tones) {
    const std::vector<ToneRun> runs = tone_runs(air, tones);
    for (const ToneRun& run : runs)
        if (run.tone >= 0)
            return run.from;
    return -1;
}

} // namespace

// The source dies two seconds into the relay and is back five seconds later. Local music must
// take over at once; the stream is reopened only after the countdown that follows a drop (about
// 30 s) and, since local music is playing then, it waits for the end of the track and fades in.
TEST_F(IcecastRelay, SourceDeathFallsBackToLocalMusicAndTheStreamReturnsAfterTheTrack) {
    const QString h = home_.path();
    IcecastSource source(icecast_, "/radio.mp3", "Radio Icecast E2E", kStreamHz);
    ASSERT_TRUE(source.start());
    make_station(h, icecast_.url("/radio.mp3"), "12:03");

    ProgramRun program(h, kClockStart);
    ASSERT_TRUE(program.started());
    const int connected = program.wait_for_line("Conectado à RADIO ICECAST E2E", 30000);
    ASSERT_GE(connected, 0) << "the stream was never relayed";
    QThread::msleep(2000);

    source.kill();
    const double killed_at = program.aired_seconds();
    const int dropped = program.wait_for_line("DESCONECTADO", 20000, connected);
    ASSERT_GE(dropped, 0) << "the source's death went unnoticed";
    ASSERT_GE(program.wait_for_line("PLAY MUSICA LOCAL: ", 10000, dropped), 0)
        << "no local music after the drop";
    QThread::msleep(5000);
    ASSERT_TRUE(source.start());

    const int waiting = program.wait_for_line("Aguardando Término de Música Local", 60000, dropped);
    ASSERT_GE(waiting, 0) << "the stream was not reopened under the local music";
    ASSERT_GE(program.wait_for_line("Conectado à RADIO ICECAST E2E", int(kTrackSeconds + 5) * 1000, waiting),
              0)
        << "the stream did not take over at the end of the local track";
    QThread::msleep(5000); // the fade-in and a little of the stream
    ASSERT_TRUE(program.running());
    program.stop();

    // The log: the drop reported once, music started for it, the reopen after the countdown.
    const std::vector<LogLine> log = program.log();
    EXPECT_EQ(count_lines(log, "DESCONECTADO"), 1);
    EXPECT_GE(find_line(log, "Erro WEB: 2 - Acionando Musicas locais", dropped), dropped);
    const int reopen = find_line(log, "Iniciando Play (WEB)", dropped);
    ASSERT_GT(reopen, dropped);
    EXPECT_GE(seconds_between(log[size_t(dropped)], log[size_t(reopen)]), 28)
        << "reopened before the countdown";
    EXPECT_LE(seconds_between(log[size_t(dropped)], log[size_t(reopen)]), 45);
    EXPECT_EQ(count_lines(log, "Conectado à RADIO ICECAST E2E"), 2);

    // The air: stream, local music, stream again.
    const miravox::testing::Capture air = miravox::testing::read_capture(program.air_path());
    const std::vector<double> tones{kStreamHz, kMusicAHz, kMusicBHz};
    const std::vector<ToneRun> runs = tone_runs(air, tones);
    const auto music_it = std::find_if(runs.begin(), runs.end(), [](const ToneRun& r) { return r.tone > 0; });
    ASSERT_NE(music_it, runs.end()) << "no local music aired";
    const ToneRun* music = &*music_it;
    const auto before_it = std::find_if(std::make_reverse_iterator(music_it), runs.rend(),
                                        [](const ToneRun& r) { return r.tone == 0; });
    ASSERT_NE(before_it, runs.rend()) << "the stream never aired before the music";
    const ToneRun* before = &*before_it;
    const ToneRun* after = first_run(runs, 0, music->to);
    ASSERT_NE(after, nullptr) << "the stream never came back on air";

    // Local music replaced the dead stream long before the reopen (a generous bound: the time
    // it takes is measured by bench/peers.sh), with no long silence between them.
    std::printf("source killed at %.2f s of air: stream heard until +%.2f s, music from +%.2f s\n", killed_at,
                before->to - killed_at, music->from - killed_at);
    EXPECT_LT(music->from - killed_at, 8.0); // about 4 s on a quiet machine
    EXPECT_LT(music->from - before->to, 3.0);

    // While local music played, the reopened stream stayed silent under it. The music's run is
    // known to 50 ms and the device mixes 46 ms at a time, so the first step may still hold the
    // end of the dead stream's fade: the check starts one step in.
    const size_t step = 4410;
    for (size_t at = size_t(music->from * air.rate) + step; at + step <= size_t(after->from * air.rate);
         at += step)
        ASSERT_LT(miravox::testing::tone_level(air, kStreamHz, at, step), 0.02)
            << "stream audible under local music at " << double(at) / air.rate << " s";

    // The stream faded in rather than cutting in at full level.
    const size_t back = size_t(after->from * air.rate);
    const double first_level = miravox::testing::tone_level(air, kStreamHz, back, step / 2);
    const double settled = miravox::testing::tone_level(air, kStreamHz, back + size_t(3.5 * air.rate), step);
    EXPECT_LT(first_level, 0.6 * settled);
}

// A window with a backup link (a second mount, another tone) and RESERVA_RETORNO=3. The main
// source is down when the window opens: the backup must be on the air within 5 s, and a spot
// aired over it names it in the proof of play. The main source comes up but refuses the listener
// after its background check: the return is cancelled and the backup plays on. It takes
// listeners again: the air cross-fades back to it within RESERVA_RETORNO + 10 s, once, and
// stays. It dies: the backup cross-fades in within 5 s with no local music between. The backup
// dies too: music.
TEST_F(IcecastRelay, BackupLinkBeforeLocalMusicAndBackToTheMainLink) {
    constexpr double kMainHz = 440, kBackupHz = 550, kSpotHz = 880;
    constexpr int kReturnS = 3;
    const QString h = home_.path();
    IcecastSource main(icecast_, "/main.mp3", "Radio Principal", kMainHz);
    IcecastSource backup(icecast_, "/backup.mp3", "Radio Reserva", kBackupHz);
    ASSERT_TRUE(backup.start());
    // The main link through a relay that can refuse a listener after the background check.
    miravox::testing::TcpProxy proxy(icecast_.port());
    const QString main_link = QString::fromStdString(proxy.url("/main.mp3"));
    make_station(h, "unused", "12:03");
    ASSERT_TRUE(write_text_file(h + "/DADOS/04.WEB", {"|12:00|12:03|" + main_link +
                                                      "|STREAMING|100|||0|0|" + icecast_.url("/backup.mp3") + "|"}));
    ASSERT_TRUE(write_text_file(h + "/MIRAVOX.INI", {"RESERVA_RETORNO=" + QString::number(kReturnS)}));
    // A spot at 12:01, while the backup has the air: its proof of play names the backup.
    ASSERT_TRUE(make_tone(h + "/spot.wav", 2.0, kSpotHz));
    ASSERT_TRUE(write_text_file(h + "/DADOS/04.DSP", {"|12:01|01/12/2026|31/12/2026|" + h + "/spot.wav|"}));

    // In the middle of the window, ten seconds before the spot.
    ProgramRun program(h, "2026-12-09T12:00:50");
    ASSERT_TRUE(program.started());
    const int opened = program.wait_for_line("*** ACIONAMENTO", 15000);
    ASSERT_GE(opened, 0);
    const double window_at = program.aired_seconds();
    const int first_backup = program.wait_for_line("RESERVA 1: " + icecast_.url("/backup.mp3") + " (principal: Erro", 15000);
    ASSERT_GE(first_backup, 0) << "the backup was not tried after the main link failed";
    const QString proof = proof_of_play_file(h + "/LOGS/", QDate(2026, 12, 9));
    ASSERT_TRUE(wait_until(
        [&] {
            const std::vector<Airing> rows = read_airings(proof);
            return !rows.empty() && rows.back().outcome == kAiringComplete;
        },
        30000))
        << "the spot did not air";
    QThread::msleep(2000); // the backup back to its level

    ASSERT_TRUE(main.start());
    // Its server takes the background check and refuses the next listener: the return is
    // cancelled and the backup keeps the air.
    proxy.allow_only(1);
    const int cancelled = program.wait_for_line("RETORNO CANCELADO: " + main_link, (kReturnS + 20) * 1000, first_backup);
    ASSERT_GE(cancelled, 0) << "a return whose open failed was not cancelled";
    proxy.restore();
    const double main_up_at = program.aired_seconds();
    const int returned = program.wait_for_line("RETORNO PRINCIPAL: ", (kReturnS + 20) * 1000, cancelled);
    ASSERT_GE(returned, 0) << "the air never went back to the main link";
    const double return_logged_at = program.aired_seconds();
    QThread::msleep(8000); // the main link stays up: no switch

    main.kill();
    const double killed_at = program.aired_seconds();
    const int second_backup = program.wait_for_line("RESERVA 1: ", 20000, returned);
    ASSERT_GE(second_backup, 0) << "the main link's loss did not bring the backup";
    QThread::msleep(6000);

    backup.kill();
    const double all_dead_at = program.aired_seconds();
    ASSERT_GE(program.wait_for_line("PLAY MUSICA LOCAL: ", 20000, second_backup), 0)
        << "no local music once every link was dead";
    QThread::msleep(4000);
    ASSERT_TRUE(program.running());
    program.stop();

    const std::vector<LogLine> log = program.log();
    // The cancelled return and the one that took the air, nothing more.
    EXPECT_EQ(count_lines(log, "RETORNO PRINCIPAL"), 2);
    EXPECT_EQ(count_lines(log, "RETORNO CANCELADO"), 1);
    EXPECT_EQ(read_airings(proof).back().link, icecast_.url("/backup.mp3"));
    EXPECT_GE(find_line(log, "Conectado à RADIO PRINCIPAL", returned), 0) << "the main link never took the air";
    EXPECT_EQ(find_line(log, "RESERVA ", returned), second_backup) << "a switch while the main link stayed up";
    EXPECT_EQ(find_line(log, "PLAY MUSICA LOCAL"), find_line(log, "PLAY MUSICA LOCAL", second_backup))
        << "local music while a link worked";

    const miravox::testing::Capture air = miravox::testing::read_capture(program.air_path());
    const std::vector<ToneRun> runs = tone_runs(air, {kMainHz, kBackupHz, kMusicAHz, kMusicBHz, kSpotHz});
    const ToneRun* backup_first = first_run(runs, 1, 0);
    ASSERT_NE(backup_first, nullptr) << "the backup never aired";
    const ToneRun* spot = first_run(runs, 4, 0);
    ASSERT_NE(spot, nullptr) << "the spot never aired";
    const ToneRun* main_run = first_run(runs, 0, main_up_at);
    ASSERT_NE(main_run, nullptr) << "the main link never aired";
    const ToneRun* backup_again = first_run(runs, 1, killed_at);
    ASSERT_NE(backup_again, nullptr) << "the backup did not air after the main link died";
    const ToneRun* music = first_run(runs, 2, all_dead_at);
    if (!music)
        music = first_run(runs, 3, all_dead_at);
    std::printf("backup at window start +%.2f s; main up -> main heard +%.2f s; return logged -> main heard +%.2f s; "
                "main killed -> backup heard +%.2f s (main heard until +%.2f s); every link dead -> music +%.2f s\n",
                backup_first->from - window_at, main_run->from - main_up_at, main_run->from - return_logged_at,
                backup_again->from - killed_at,
                main_run->to - killed_at, music ? music->from - all_dead_at : -1.0);
    EXPECT_LT(backup_first->from - window_at, 5.0);
    EXPECT_LT(main_run->from - main_up_at, kReturnS + 10.0);
    const auto at = [&](const ToneRun* run) { return runs.begin() + (run - runs.data()); };
    const auto main_at = at(main_run);
    // From the spot's end to the main link's return, the backup alone: the cancelled return
    // left it on the air untouched.
    for (auto run = std::next(at(spot)); run < main_at; ++run) {
        EXPECT_EQ(run->tone, 1) << "tone " << run->tone << " at " << run->from << " s, before the return";
    }
    // The return is a cross-fade: the backup is heard up to the main link, no silence between.
    ASSERT_NE(main_at, runs.begin());
    EXPECT_EQ(std::prev(main_at)->tone, 1) << "the main link came back after " << std::prev(main_at)->tone;
    EXPECT_LT(main_run->from - std::prev(main_at)->to, 0.3) << "silence between the backup and the main link";
    // The server's close is seen at once while the main link's buffered audio plays on: the
    // backup is brought in beside it and cross-faded, no silence and no music between them.
    EXPECT_LT(backup_again->from - killed_at, 5.0);
    const auto backup_at = at(backup_again);
    EXPECT_EQ(std::prev(backup_at)->tone, 0) << "the backup came after " << std::prev(backup_at)->tone;
    EXPECT_LT(backup_again->from - std::prev(backup_at)->to, 0.3) << "silence between the main link and the backup";
    EXPECT_NE(music, nullptr) << "no local music on the air once every link was dead";
    // Nothing but the main link and then the backup between the return and the backup's death.
    for (const ToneRun& run : runs) {
        if (run.from >= main_run->from && run.to <= all_dead_at) {
            EXPECT_LE(run.tone, 1) << "tone " << run.tone << " at " << run.from << " s";
        }
    }
    // One return: the main link's run is unbroken until its death.
    EXPECT_GT(main_run->to, killed_at - 1.0);
}

// A window whose link is a live HLS playlist: ffmpeg writes one-second segments into a folder
// and the test server serves it.
TEST_F(HlsWindow, RelaysALocallyServedLivePlaylist) {
    QTemporaryDir segments;
    ASSERT_TRUE(segments.isValid());
    QProcess writer;
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start(MIRAVOX_FFMPEG,
                 live_tone_input(kHlsHz) + QStringList{"-c:a", "aac", "-b:a", "96k", "-f", "hls", "-hls_time",
                                                       "1", "-hls_list_size", "6", "-hls_flags",
                                                       "delete_segments", segments.path() + "/live.m3u8"});
    ASSERT_TRUE(writer.waitForStarted(5000));
    // Three segments published before the window opens.
    ASSERT_TRUE(wait_until([&] { return QDir(segments.path()).entryList({"*.ts"}).size() >= 3; }, 15000));

    test::TestStreamServer server;
    server.add_directory("/hls", segments.path().toStdString());
    const QString h = home_.path();
    make_station(h, QString::fromStdString(server.url("/hls/live.m3u8")), "12:01");

    ProgramRun program(h, kClockStart);
    ASSERT_TRUE(program.started());
    const int connected = program.wait_for_line("Conectado à ", 30000);
    ASSERT_GE(connected, 0) << "the playlist was never relayed";
    const double connected_at = program.aired_seconds();
    QThread::msleep(6000);
    program.stop();
    stop_process(writer);

    const std::vector<LogLine> log = program.log();
    EXPECT_EQ(log[size_t(connected)].message, "Conectado à Streaming"); // HLS carries no station name
    EXPECT_EQ(find_line(log, "DESCONECTADO"), -1);
    EXPECT_EQ(find_line(log, "PLAY MUSICA LOCAL"), -1);

    // The playlist's tone aired steadily from the connection on.
    const miravox::testing::Capture air = miravox::testing::read_capture(program.air_path());
    const std::vector<ToneRun> runs = tone_runs(air, {kHlsHz, kMusicAHz, kMusicBHz});
    const ToneRun* hls = first_run(runs, 0, 0);
    ASSERT_NE(hls, nullptr) << "the playlist's audio never aired";
    EXPECT_LT(hls->from, connected_at + 4.0);
    EXPECT_GT(hls->to - hls->from, 4.0);
}

// The program plays through ALSA's pulse plug-in to a PulseAudio server, as on a Debian desktop.
// The server is killed mid-relay and started again `outage` later: with nobody touching
// anything, the stream (or local music) must be heard again within 10 s of the server's return.
// A short outage is bridged by the engine opening its output again; a longer one outlasts the
// channels' loss detection, whose re-initialisation fails while the server is away, so the
// device is tried again every few seconds: the outage is logged once, not once per attempt.
// Returns the seconds from the server's return to the air heard again (-1: not within 12 s).
double SoundServerRestart::air_back_after(std::chrono::seconds outage, const QString& window_end) {
    const QString h = home_.path();
    test::TestStreamServer server;
    EXPECT_TRUE(test::make_stream_mp3((h + "/radio.mp3").toStdString(), kStreamHz, 5.0));
    test::AudioMount radio;
    radio.data = test::read_file((h + "/radio.mp3").toStdString());
    radio.headers = {"icy-name:Radio Pulse"};
    server.add_audio("/radio", radio);
    make_station(h, QString::fromStdString(server.url("/radio")), window_end);
    const std::vector<double> tones{kStreamHz, kMusicAHz, kMusicBHz};

    ProgramRun program(h, kClockStart, pulse_.client_environment());
    EXPECT_TRUE(program.started());
    if (program.wait_for_line("Conectado à RADIO PULSE", 30000) < 0) {
        ADD_FAILURE() << "the stream was never relayed";
        return -1;
    }
    const QString before_path = h + "/before.raw", after_path = h + "/after.raw";
    EXPECT_TRUE(pulse_.start_recording(before_path.toStdString()));
    // The relay is heard on the server before it is killed.
    if (!wait_until([&] { return first_heard(read_raw_recording(before_path), tones) >= 0; }, 20000)) {
        ADD_FAILURE() << "nothing reached the sound server";
        return -1;
    }
    QThread::msleep(1000);
    pulse_.kill();

    QThread::sleep(static_cast<unsigned long>(outage.count()));
    std::string why;
    if (!pulse_.start(why)) {
        ADD_FAILURE() << why;
        return -1;
    }
    const auto returned = std::chrono::steady_clock::now();
    EXPECT_TRUE(pulse_.start_recording(after_path.toStdString()));
    // A sink with nothing to play may give its monitor nothing either, so the recording's start
    // is no clock: the air is looked for as it arrives, and timed back from the moment it is
    // found by what was recorded since it began.
    double back = -1;
    wait_until(
        [&] {
            const miravox::testing::Capture after = read_raw_recording(after_path);
            const double heard = first_heard(after, tones);
            if (heard < 0)
                return false;
            const double since_return =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - returned).count();
            back = std::max(0.0, since_return - (double(after.left.size()) / 44100 - heard));
            return true;
        },
        12000);
    pulse_.stop_recording();
    EXPECT_TRUE(program.running());
    program.stop();

    const std::vector<LogLine> log = program.log();
    const int lost = count_lines(log, "Inicialização da Device (1) com Problemas - nova tentativa");
    EXPECT_LE(lost, 1) << "an outage logged more than once";
    EXPECT_EQ(count_lines(log, "Device (1) de volta"), lost);
    std::printf("outage of %d s: air heard again %.1f s after the sound server's return\n",
                int(outage.count()), back);
    return back;
}

TEST_F(SoundServerRestart, TheAirComesBackByItselfAfterThreeSeconds) {
    const double back = air_back_after(std::chrono::seconds(3), "12:03");
    ASSERT_GE(back, 0) << "nothing heard in the 12 s after the sound server's return";
    EXPECT_LT(back, 10.0);
}

TEST_F(SoundServerRestart, TheAirComesBackByItselfAfterThirtySeconds) {
    const double back = air_back_after(std::chrono::seconds(30), "12:03");
    ASSERT_GE(back, 0) << "nothing heard in the 12 s after the sound server's return";
    EXPECT_LT(back, 10.0);
}

// Five minutes in real time: labelled "long", so that it runs once, in the normal stage only.
TEST_F(SoundServerRestart, TheAirComesBackByItselfAfterFiveMinutes) {
    const double back = air_back_after(std::chrono::minutes(5), "12:08");
    ASSERT_GE(back, 0) << "nothing heard in the 12 s after the sound server's return";
    EXPECT_LT(back, 10.0);
}
