// The stream relay driven handler by handler: retry countdown, failure count, limit, the
// web channel's stop handler and the health check of HLS links.

#include "main_window_fixture.h"

#include "cool_gauge.h"
#include "engine_state.h"
#include "test_stream_server.h"

#include <QLabel>

using namespace miravox;
using namespace miravox::testing;

namespace {

class RelayTest : public MainWindowTest {
protected:
    void arm(const QString& link) {
        window->WWEB_PLAY = link;
        window->INICIA_WEB();
    }
    // Reconnection ticks until the next open attempt (inclusive), at most `limit`.
    int ticks_until_attempt(int limit = 200) {
        const int before = log_count("Iniciando Play (WEB)");
        for (int n = 1; n <= limit; ++n) {
            window->Timer_ReconexaoTimer(nullptr);
            if (log_count("Iniciando Play (WEB)") > before)
                return wait_for_opens() ? n : -2;
        }
        return -1;
    }
    QString refused_link() const {
        return "http://127.0.0.1:" + QString::number(test::TestStreamServer::unused_port()) + "/radio";
    }
};

} // namespace

TEST_F(RelayTest, FirstTwoFailuresRetryAfterThirtyTicksLaterOnesAfterSixty) {
    arm(refused_link());
    EXPECT_EQ(window->Label10->text(), "Aguarde...");
    EXPECT_TRUE(window->Timer_Reconexao->Enabled());
    EXPECT_EQ(ticks_until_attempt(), 1); // the countdown starts full: the first tick opens
    EXPECT_EQ(window->WCT_ERROWEB, 1);
    EXPECT_EQ(window->WTMP_RECONEXAO, 30);
    EXPECT_EQ(window->Timer_Reconexao->Interval(), 500);
    EXPECT_EQ(ticks_until_attempt(), 30);
    EXPECT_EQ(window->WCT_ERROWEB, 2);
    EXPECT_EQ(ticks_until_attempt(), 30);
    EXPECT_EQ(window->WCT_ERROWEB, 3);
    EXPECT_EQ(ticks_until_attempt(), 60);
    EXPECT_EQ(window->WCT_ERROWEB, 4);
    // The reason of the failure reaches the status line: connection refused.
    EXPECT_TRUE(window->Label10->text().endsWith(" - Erro ao Carregar WEB -  Erro:32")) << window->Label10->text().toStdString();
    EXPECT_EQ(BASS_ERRO_WEB, 1);
}

TEST_F(RelayTest, EmptyLinkCountsAsAFailureWithNumberMinusOne) {
    arm("   ");
    window->Timer_ReconexaoTimer(nullptr);
    EXPECT_TRUE(window->Label10->text().endsWith(" - Erro ao Carregar WEB -  Erro:-1"));
    EXPECT_EQ(window->WCT_ERROWEB, 1);
}

TEST_F(RelayTest, LimitEndsTheRelayAndQuietTicksClearTheCount) {
    arm(refused_link());
    window->WCT_ERROWEB = 50;
    window->Timer_ReconexaoTimer(nullptr);
    EXPECT_FALSE(window->Timer_Reconexao->Enabled());
    EXPECT_EQ(window->Label10->text(), "LIMITE DE RE-CONEXÃO ATINGIDO");
    EXPECT_EQ(log_count("LIMITE DE RE-CONEXÃO ATINGIDO"), 1);
    EXPECT_EQ(window->Label6->text(), "Status");

    // 361 ticks without a web channel stop clear the count.
    arm(refused_link());
    window->WCT_ERROWEB = 49;
    window->WCT_TEMPOCONEXAO = 360;
    window->WTMP_RECONEXAO = 0;
    window->Timer_ReconexaoTimer(nullptr);
    EXPECT_EQ(window->WCT_ERROWEB, 0);
    EXPECT_EQ(window->WCT_TEMPOCONEXAO, 0);
}

TEST_F(RelayTest, ExplicitStopOfTheStreamIsReportedOnceAsDisconnected) {
    test::TestStreamServer server;
    test::AudioMount radio;
    ASSERT_TRUE(test::make_stream_mp3((home.path() + "/r.mp3").toStdString(), 440, 3.0));
    radio.data = test::read_file((home.path() + "/r.mp3").toStdString());
    radio.headers = {"icy-name:Radio Alfa"};
    server.add_audio("/radio", radio);
    arm(QString::fromStdString(server.url("/radio")));
    ASSERT_EQ(ticks_until_attempt(), 1);
    ASSERT_TRUE(window->Canal_web->isStarted());
    EXPECT_EQ(window->WERRO_WEB, 0);
    EXPECT_TRUE(window->timer_meter->Enabled());
    window->timer_meterTimer(nullptr);
    EXPECT_EQ(window->Label10->text(), "Conectado à RADIO ALFA");

    window->Canal_web->Stop();
    window->Canal_web->Stop();
    EXPECT_EQ(window->Label10->text(), "DESCONECTADO");
    EXPECT_FALSE(window->timer_meter->Enabled());
    const QStringList messages = log_messages();
    EXPECT_EQ(int(std::count_if(messages.begin(), messages.end(),
                                [](const QString& s) { return s.startsWith("DESCONECTADO Código-ws: "); })),
              1);
}

TEST_F(RelayTest, HlsWithoutDownloadProgressIsClosedAndReopenedLater) {
    window->WWEB_PLAY = "http://127.0.0.1:1/live.m3u8";
    window->Label10->setText("Conectado à X");
    for (int i = 0; i < 11; ++i)
        window->timer_meterTimer(nullptr); // not connected, no progress
    EXPECT_EQ(window->Label10->text(), "Instabilidade na Conexão...");
    EXPECT_EQ(log_count("Instabilidade na Conexão...0%"), 1);
    EXPECT_EQ(window->WCT_ZEROPROGRESSO, 0);
    // Other links only count.
    window->WWEB_PLAY = "http://127.0.0.1:1/radio";
    for (int i = 0; i < 30; ++i)
        window->timer_meterTimer(nullptr);
    EXPECT_EQ(window->WCT_ZEROPROGRESSO, 30);
}

TEST_F(RelayTest, FinalizaWebResetsTheDisplayAndFreesEveryChannel) {
    arm(refused_link());
    window->Label5->setText("19:00");
    window->FINALIZA_WEB();
    EXPECT_FALSE(window->Timer_Reconexao->Enabled());
    EXPECT_EQ(window->Label10->text(), "Status");
    EXPECT_EQ(window->Label5->text(), "00:00:00");
    EXPECT_EQ(window->Label12->text(), "00:00:00");
    EXPECT_EQ(window->WERRO_WEB, -1);
    EXPECT_EQ(window->CoolGauge1->Progress(), 0);
    EXPECT_GE(wct_atualiza_device, 1);
}

TEST_F(RelayTest, AnOpenPendingWhenTheRelayEndsIsWaitedForThenNeverApplied) {
    test::TestStreamServer server;
    test::AudioMount silent;
    silent.fault = test::StreamFault::Silent; // accepts and never answers
    server.add_audio("/radio", silent);
    window->Canal_web->setBufferOutNet(1000);
    arm(QString::fromStdString(server.url("/radio")));
    window->Timer_ReconexaoTimer(nullptr);
    ASSERT_TRUE(window->Canal_web->IsOpening());
    // The supervisor waits for the result: no countdown, no second open meanwhile.
    const int countdown = window->WTMP_RECONEXAO;
    for (int i = 0; i < 100; ++i)
        window->Timer_ReconexaoTimer(nullptr);
    EXPECT_EQ(window->WTMP_RECONEXAO, countdown);
    EXPECT_EQ(log_count("Iniciando Play (WEB)"), 1);

    window->FINALIZA_WEB(); // the window's end
    EXPECT_FALSE(window->Canal_web->IsOpening());
    QTest::qWait(2000); // the server's time-out passes, the abandoned open gives up
    EXPECT_EQ(window->WCT_ERROWEB, 0);
    EXPECT_EQ(window->Label10->text(), "Status");
    EXPECT_FALSE(window->Canal_web->IsCarregado());
    const QStringList messages = log_messages();
    EXPECT_FALSE(std::any_of(messages.begin(), messages.end(),
                             [](const QString& s) { return s.contains("Erro ao Carregar WEB"); }));
}
