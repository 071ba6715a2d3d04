// The live view: channel lamps, the metering timer with its stream health check, the
// diagnostic lines and the cue channel's stop handler.

#include "main_window.h"

#include "configuration.h"
#include "cool_gauge.h"
#include "engine_state.h"
#include "rled.h"
#include "threaded_timer.h"

#include <QFileInfo>
#include <QPushButton>

#include <cmath>

QColor bgr_color(std::uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

namespace {

QString flag(bool b) { return b ? "1" : "0"; }

} // namespace

void Tfrm_miravox::COR_PAINEL(TPanel* Panel, bool State) {
    Panel->setColor(State ? 0x00FF00 : 0x002D00);
    Panel->Tag = State ? 1 : 0;
}

void Tfrm_miravox::timer_meterTimer(QObject*) {
    if (watch_stream_silence())
        return;
    if (Canal_web->isStarted()) {
        int R = 0, L = 0;
        TFFTData buffer{};
        if (Canal_web->Getdata(buffer) > 0)
            Canal_web->GetVULevel(buffer, R, L);
        Meter1->setPosition(R);
    }

    if (Canal_web->IsWebConectado() && Canal_Musica->isStarted()) {
        // The stream is back but waits for the local track to end.
        if (!Label10->text().contains("Aguardando Término")) {
            Label10->setText("Aguardando Término de Música Local");
            SALVA_LOGS(Label10->text() + " - " + QFileInfo(Canal_Musica->FilePath()).fileName());
        }
        CoolGauge1->setMaxValue(int(Canal_Musica->FileLength()));
        CoolGauge1->setProgress(int(Canal_Musica->FileLength()) - Canal_Musica->Position());
        WCT_PRONTO = 0;
        WCT_ZEROPROGRESSO = 0;
        WMIN_POS = 50;
    } else if (Canal_web->IsWebConectado()) {
        if (!Label10->text().contains("Conectado à ")) {
            Label10->setText("Conectado à " + Canal_web->GetWebStationName());
            SALVA_LOGS(Label10->text());
        }
        WCT_PRONTO = 0;
        WCT_ZEROPROGRESSO = 0;
        WMIN_POS = 50;
    } else {
        // Health check: an HLS stream whose download makes no progress is closed and reopened.
        if (Canal_web->GetWebProgresso() > 0)
            WCT_ZEROPROGRESSO = 0;
        else
            ++WCT_ZEROPROGRESSO;
        if (WCT_ZEROPROGRESSO > 10 && WWEB_PLAY.toUpper().contains("M3U8")) {
            if (!Label10->text().contains("Instabilidade na Conexão"))
                SALVA_LOGS("Instabilidade na Conexão..." + QString::number(Canal_web->GetWebProgresso()) + "%");
            Label10->setText("Instabilidade na Conexão...");
            WCT_ZEROPROGRESSO = 0;
            if (Canal_web->isStarted()) {
                timer_meter->setEnabled(false);
                Canal_web->Stop();
                Canal_web->FreeFile();
                WERRO_WEB = 500;
                Timer_Reconexao->setEnabled(true);
            }
        }
    }
}

void Tfrm_miravox::refresh_diagnostic_lines() {
    Label20->setText("WERRO_WEB= " + QString::number(WERRO_WEB) + " - WCT_ERRO_WEB= " + QString::number(WCT_ERROWEB) +
                     " - WTMP_RECONEXAO= " + QString::number(WTMP_RECONEXAO) + "/60");
    Label2->setText("play_MUS = " + flag(Canal_Musica->isStarted()) + " - play_COM = " +
                    flag(Canal_Comercial->isStarted()) + " - Time_COM tg= " + QString::number(Timer_Play_Comercial->Tag) +
                    " - RE-CONEC= " + flag(Timer_Reconexao->Enabled()));
    Label23->setText("progss=  " + QString::number(Canal_web->GetWebProgresso()) + " - Vol_web = " +
                     QString::number(std::lround(Canal_web->Volume())) + " - WVOL_WEB= " + QString::number(WVOL_WEB) +
                     " - WVOL_GERAL= " + QString::number(WVOL_GERAL) + " - WVOL_MIN= " + QString::number(WVOL_MIN));
    Label24->setText("Bass Erro buffer = " + flag(BASS_ERRO_BUFFER) + " - Bass Erro Handle = " +
                     QString::number(BASS_ERRO_HANDLE) + " - Bass Erro WEB = " + QString::number(BASS_ERRO_WEB) +
                     " - Bass updating = " + flag(BASS_UPDATING));
    Label31->setText("Comercial=" + WPATH_AUDIODSP);
}

void Tfrm_miravox::Canal_cueStop(QObject*) {
    Meter1->setPosition(0);
    Panel8->setCaption("Status");
    for (QPushButton* button : {BitBtn31, BitBtn8, BitBtn1, BitBtn2})
        if (button->text() == "Stop")
            button->setText("Play");
}
