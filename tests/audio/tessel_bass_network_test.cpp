// The channel on network sources served from 127.0.0.1: plain streams, HLS, fallbacks and
// retries, failed opens, lost streams, and the station name.

#include "channel_fixture.h"
#include "test_media.h"
#include "test_stream_server.h"

using namespace miravox;
using miravox::test::AudioMount;
using miravox::test::StreamFault;
using miravox::test::TestStreamServer;
using miravox::testing::ChannelTest;
using miravox::testing::sleep_ms;
using miravox::testing::wait_for;

namespace {

QString url_of(const TestStreamServer& server, const std::string& path) {
    return QString::fromStdString(server.url(path));
}

class NetworkTest : public ChannelTest {
  protected:
    static inline std::string stream_mp3_;
    static inline std::string hls_playlist_;

    static void SetUpTestSuite() {
        ChannelTest::SetUpTestSuite();
        const std::string mp3 = media("stream.mp3").toStdString();
        ASSERT_TRUE(miravox::test::make_stream_mp3(mp3, 430, 2.0));
        stream_mp3_ = miravox::test::read_file(mp3);
        miravox::test::HlsSet hls;
        ASSERT_TRUE(miravox::test::make_hls(media("").toStdString(), 430, 6, 2, hls));
        hls_playlist_ = hls.playlist;
    }

    // A paced ICY radio; with `close_after`, a brief one that ends after that many bytes.
    static AudioMount radio(const std::string& name, size_t close_after = 0) {
        AudioMount mount;
        mount.data = stream_mp3_;
        mount.headers = {"icy-name:" + name, "icy-genre:Variedades"};
        if (close_after > 0) {
            mount.fault = StreamFault::CloseAfter;
            mount.fault_after_bytes = close_after;
        }
        return mount;
    }

    // Opens `url` and waits for the result to be applied (opens run on the channel's thread).
    static void open_url(TTesselBass* c, const QString& url) {
        c->setFileName(url);
        ASSERT_TRUE(wait_for([c] { return !c->IsOpening(); }, 30000));
    }

    TTesselBass* web_channel() {
        TTesselBass* c = channel(1);
        c->setBufferOutNet(3000);
        c->setBufferReadNet(4000);
        return c;
    }
};

TEST_F(NetworkTest, StreamOpensWithTheChannelsNetworkSettingsAndKeepsTheFileLength) {
    TestStreamServer server;
    server.add_audio("/radio", radio("Radio Alfa"));
    TTesselBass* c = web_channel();
    c->setFileName(media("tone.wav"));
    const std::uint32_t local_length = c->FileLength();
    BASS_ERRO_WEB = 1;

    const QString url = url_of(server, "/radio");
    open_url(c, url);
    ASSERT_TRUE(c->IsCarregado()) << log_texts().join(" / ").toStdString();
    EXPECT_TRUE(c->isWeb());
    EXPECT_EQ(c->FileName(), url);
    EXPECT_EQ(c->FilePath(), url);
    EXPECT_EQ(c->FileLength(), local_length);
    EXPECT_EQ(BASS_ERRO_WEB, 0);
    EXPECT_EQ(BASS_ErrorGetCode(), 0); // what the relay reads right after the open
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_TIMEOUT), 3000u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_READTIMEOUT), 4000u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_BUFFER), 5000u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_PREBUF), 0u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_PLAYLIST), 1u);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("User-Agent"), "Miravox");
    EXPECT_EQ(c->GetWebStationName(), "RADIO ALFA");

    c->Play();
    ASSERT_TRUE(wait_for([&] { return c->IsWebConectado() && c->WebLength() > 0; }, 3000));
    ticks(c, 100);
    EXPECT_TRUE(c->isStarted());
    EXPECT_EQ(BASS_ERRO_WEB, 0);
    EXPECT_GE(c->GetWebProgresso(), 0);
    EXPECT_LE(c->GetWebProgresso(), 100);

    // The local file was counted in; the stream is only counted out.
    EXPECT_EQ(wct_canais_carregados, 0);
    c->Stop();
    c->FreeFile();
    EXPECT_EQ(wct_canais_carregados, -1);
    EXPECT_EQ(c->GetWebStationName(), "Streaming");
}

TEST_F(NetworkTest, FailedOpenTriesAacAndOpusAndKeepsThePreviousSource) {
    TestStreamServer server; // every path answers 404
    TTesselBass* c = web_channel();
    c->setFileName(media("tone.wav"));
    c->Play();

    open_url(c, url_of(server, "/radio"));
    EXPECT_EQ(stops, 1); // the playing file was stopped first
    EXPECT_FALSE(c->IsCarregado());
    EXPECT_FALSE(c->isWeb());
    EXPECT_EQ(BASS_ERRO_WEB, 1);
    EXPECT_NE(BASS_ErrorGetCode(), 0);
    EXPECT_EQ(c->FilePath(), media("tone.wav"));
    EXPECT_EQ(c->FileName(), "tone.wav");
    EXPECT_EQ(server.request_count("/radio"), 3u); // plain, then AAC, then Opus
    EXPECT_TRUE(dialogs.shown.isEmpty());
    const auto entries = log_entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "Carregar HTTP");
    EXPECT_EQ(entries[0].file, media("tone.wav"));

    c->Play();
    EXPECT_FALSE(c->isStarted());
    EXPECT_EQ(wct_playing, 0);
}

TEST_F(NetworkTest, WindowsMediaAddressesGetOneAttempt) {
    TestStreamServer server;
    TTesselBass* c = web_channel();
    open_url(c, url_of(server, "/live/video.WMV"));
    EXPECT_FALSE(c->IsCarregado());
    EXPECT_EQ(BASS_ERRO_WEB, 1);
    EXPECT_LE(server.requests().size(), 1u); // no AAC or Opus fallback
}

TEST_F(NetworkTest, HlsPlaylistOpensWithItsOwnBufferAndReadTimeout) {
    TestStreamServer server;
    server.add_directory("/hls", media("").toStdString());
    TTesselBass* c = web_channel();
    open_url(c, url_of(server, "/hls/" + hls_playlist_));
    ASSERT_TRUE(c->IsCarregado()) << log_texts().join(" / ").toStdString();
    EXPECT_TRUE(c->isWeb());
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_READTIMEOUT), 10000u); // not BufferReadNet's 4000
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_NET_BUFFER), 5000u);
    c->Play();
    EXPECT_TRUE(c->isStarted());
}

TEST_F(NetworkTest, HlsPlaylistThatFailsIsRetried31Times) {
    TestStreamServer server;
    TTesselBass* c = web_channel();
    open_url(c, url_of(server, "/radio/playlist.m3u8"));
    EXPECT_FALSE(c->IsCarregado());
    EXPECT_EQ(BASS_ERRO_WEB, 1);
    EXPECT_EQ(server.request_count("/radio/playlist.m3u8"), 32u);
    EXPECT_EQ(log_texts(), QStringList{"Carregar HTTP"});
}

TEST_F(NetworkTest, ServerThatNeverAnswersIsAskedOnceNotOnceADecoder) {
    // Each attempt would hold the main thread for a whole connection time-out.
    TestStreamServer server;
    AudioMount silent = radio("Mudo");
    silent.fault = StreamFault::Silent;
    server.add_audio("/radio", silent);
    server.add_audio("/live.m3u8", silent);
    TTesselBass* c = web_channel();
    c->setBufferOutNet(1000);
    open_url(c, url_of(server, "/radio"));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_TIMEOUT);
    EXPECT_FALSE(c->IsCarregado());
    EXPECT_EQ(server.request_count("/radio"), 1u);
    open_url(c, url_of(server, "/live.m3u8"));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_TIMEOUT);
    EXPECT_EQ(server.request_count("/live.m3u8"), 1u);
}

TEST_F(NetworkTest, PendingOpenIsAbandonedByFreeFileANewerOpenAndTheChannelsEndNeverAppliedLate) {
    TestStreamServer server;
    AudioMount silent = radio("Mudo");
    silent.fault = StreamFault::Silent; // accepts and never answers: each open takes its time-out
    server.add_audio("/mute", silent);
    server.add_audio("/radio", radio("Radio Alfa"));
    TTesselBass* c = web_channel();
    c->setBufferOutNet(1000);
    BASS_ERRO_WEB = 1;

    c->setFileName(url_of(server, "/mute"));
    EXPECT_TRUE(c->IsOpening()); // the call came back before the server gave up
    EXPECT_FALSE(c->IsCarregado());
    c->FreeFile();
    EXPECT_FALSE(c->IsOpening());

    bool late = false;
    int code = -1;
    c->OpenWeb(url_of(server, "/mute"), [&](int) { late = true; });
    c->OpenWeb(url_of(server, "/radio"), [&](int result) { code = result; });
    ASSERT_TRUE(wait_for([c] { return !c->IsOpening(); }, 10000));
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(c->IsCarregado());
    // The abandoned opens give up after their time-out and change nothing.
    ASSERT_TRUE(wait_for([&] { return server.request_count("/mute") == 2u; }, 5000));
    sleep_ms(1500);
    EXPECT_FALSE(late);
    EXPECT_EQ(c->FilePath(), url_of(server, "/radio"));
    EXPECT_EQ(BASS_ERRO_WEB, 0);
    EXPECT_TRUE(log_texts().isEmpty());
    c->Play();
    EXPECT_TRUE(c->isStarted());

    // A channel that goes away with an open pending (the setup dialog closed, the program's end).
    TTesselBass* gone = channel(2);
    gone->setBufferOutNet(1000);
    gone->OpenWeb(url_of(server, "/mute"), [&](int) { late = true; });
    delete gone;
    sleep_ms(1500);
    EXPECT_FALSE(late);
    EXPECT_TRUE(c->isStarted());
}

TEST_F(NetworkTest, LostStreamIsStoppedAfter61UnhealthyTicksAndItsFreeIsRefused) {
    TestStreamServer server;
    server.add_audio("/radio", radio("Radio Beta", 16000)); // one second of audio
    TTesselBass* c = web_channel();
    open_url(c, url_of(server, "/radio"));
    ASSERT_TRUE(c->IsCarregado()) << log_texts().join(" / ").toStdString();
    c->Play();
    // The second of audio plays out and the library frees the stream by itself.
    ASSERT_TRUE(wait_for([&] { return c->GetWebStationName() == "Streaming"; }, 5000));
    EXPECT_FALSE(c->IsWebConectado());

    ticks(c, 60);
    EXPECT_TRUE(c->isStarted());
    EXPECT_EQ(BASS_ERRO_WEB, 0);
    c->Timer_playingTimer(nullptr);
    EXPECT_FALSE(c->isStarted());
    EXPECT_EQ(BASS_ERRO_WEB, 2);
    EXPECT_EQ(stops, 1);

    // The library no longer knows the stream: the free is refused, reported, and the channel
    // stays loaded until the next open lets go of it.
    c->FreeFile();
    EXPECT_EQ(stops, 2);
    EXPECT_TRUE(c->IsCarregado());
    c->setFileName(media("tone.wav"));
    EXPECT_EQ(stops, 3);
    EXPECT_TRUE(c->IsCarregado());
    EXPECT_FALSE(c->isWeb());
}

// A server that closes cleanly while the progress check is due: the library frees the stream
// after its last audio and its position reads 0, which is no progress. The loss is the
// network's (BASS_ERRO_WEB 2, the relay's reconnection and local music), never a stalled
// output, whose device re-initialisation would silence the local music too. The ticks are
// driven here (no event loop runs) so that the progress check falls between the free and the
// 61st unhealthy tick, as it does by chance in a running program.
TEST_F(NetworkTest, StreamWhoseServerClosesIsLostNotTakenForAStalledOutput) {
    TestStreamServer server;
    AudioMount mount = radio("Radio Gama", 32000); // a second at once, then a second paced
    mount.burst_bytes = 16000;
    server.add_audio("/radio", mount);
    TTesselBass* c = web_channel();
    open_url(c, url_of(server, "/radio"));
    ASSERT_TRUE(c->IsCarregado()) << log_texts().join(" / ").toStdString();
    c->Play();
    // A progress check passes and the next one comes near, all while the server still sends.
    ticks(c, 101 + 80);
    ASSERT_TRUE(c->IsWebConectado()) << "the server closed before the ticks were done";
    QElapsedTimer waited;
    waited.start();
    while (c->GetWebStationName() != "Streaming" && waited.elapsed() < 8000)
        QThread::msleep(10);
    ASSERT_EQ(c->GetWebStationName(), "Streaming"); // played out and freed by the library

    ticks(c, 61);
    EXPECT_FALSE(c->isStarted());
    EXPECT_EQ(BASS_ERRO_WEB, 2);
    EXPECT_FALSE(BASS_ERRO_BUFFER);
    EXPECT_FALSE(log_texts().contains("-----------------ERRO DE BUFFER (SEM PROGRESSO EM TIMER)----------------"))
        << log_texts().join(" / ").toStdString();
}

TEST(StationNameTest, IcyNameHeaderGivesTheUpperCasedName) {
    const char alfa[] = "HTTP/1.0 200 OK\0icy-name:Radio Alfa\0icy-genre:Pop\0";
    EXPECT_EQ(station_name_from_tags(alfa), "RADIO ALFA");
    const char blank[] = "icy-name: Radio\0";
    EXPECT_EQ(station_name_from_tags(blank), " RADIO");
    const char upper_header[] = "ICY-NAME:Rádio Ação\0";
    EXPECT_EQ(station_name_from_tags(upper_header), "RÁDIO AÇÃO");
    const char first_wins[] = "icy-name:Um\0icy-name:Dois\0";
    EXPECT_EQ(station_name_from_tags(first_wins), "UM");
    const QByteArray long_name = "icy-name:" + QByteArray(70, 'x');
    EXPECT_EQ(station_name_from_tags(long_name.constData()), QString(60, 'X'));
}

TEST(StationNameTest, WithoutANameItIsStreaming) {
    EXPECT_EQ(station_name_from_tags(nullptr), "Streaming");
    const char none[] = "HTTP/1.0 200 OK\0Content-Type: audio/mpeg\0";
    EXPECT_EQ(station_name_from_tags(none), "Streaming");
    const char empty_name[] = "icy-name:   \0";
    EXPECT_EQ(station_name_from_tags(empty_name), "Streaming");
}

} // namespace
