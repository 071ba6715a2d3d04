// Backup links of a stream window. A link that fails to open or is lost on the air (a drop, a
// stream run dry, the dead-air watch) hands over to the next backup at once, before any local
// music. A server that closes is seen while its buffered audio still plays: the next backup is
// then brought in beside it and cross-faded, as on a return (below). Music plays only once every
// link has failed, and then the reconnection countdown starts again from the main link as it
// always did. While a backup is on the air, the links
// preferred to it are heard in the background, one at a time, on a channel of their own on the
// silent device at volume 0. One that delivers audio steadily for RESERVA_RETORNO seconds gets
// the air back: it is opened on a second channel on the transmission device while the backup
// plays on, and the two cross-fade once it sounds, so the air never falls silent. A link lost
// again within a few minutes of getting the air back must prove itself twice as long the next
// time, so a link that comes and goes does not take the air back and forth.

#include "main_window.h"

#include "clock.h"
#include "configuration.h"
#include "engine_state.h"
#include "record_fields.h"
#include "soundlib.h"
#include "threaded_timer.h"

#include <QTimer>

#include <algorithm>

namespace {

constexpr int kReturnTickMs = 500;
// A link that failed its background check is heard again after this long.
constexpr qint64 kRecheckMs = 5000;
// A link lost this soon after it got the air back waits longer before its next return.
constexpr qint64 kFlapWindowMs = 5 * 60 * 1000;
constexpr int kLongestWaitFactor = 8;
// The cross-fade from the backup to the link coming back, in steps, and how long that link may
// take to sound once its open on the air is asked for.
constexpr qint64 kHandoverFadeMs = 1000;
constexpr int kFadeStepMs = 50;
constexpr qint64 kHandoverSoundLimitMs = 8000;
// The silent device: a background check is never heard on the transmission device.
constexpr int kSilentDevice = 0;

qint64 now_ms() { return miravox::clock().now_ms(); }

} // namespace

void Tfrm_miravox::arm_backup_links(const QString& record) {
    relay_links_ = QStringList{PEGA_CAMPO(3, record).trimmed()} + backup_links(record);
    const auto count = size_t(relay_links_.size());
    next_check_ms_.assign(count, 0);
    return_wait_factor_.assign(count, 1);
    returned_at_ms_.assign(count, -1);
    end_backup_links();
    if (!return_timer_) {
        return_timer_ = new QTimer(this);
        return_timer_->setInterval(kReturnTickMs);
        QObject::connect(return_timer_, &QTimer::timeout, this, [this] { watch_link_return(); });
    }
    return_timer_->start();
}

QString Tfrm_miravox::current_link() const {
    // A relay started by hand, or a window armed before its links were known, uses its link.
    if (link_index_ <= 0 || link_index_ >= relay_links_.size())
        return WWEB_PLAY;
    return relay_links_[link_index_];
}

QString Tfrm_miravox::link_on_air() const {
    if (!Timer_Reconexao->Enabled() || WERRO_WEB != 0 || !Canal_web->isStarted())
        return {};
    return current_link();
}

QString Tfrm_miravox::link_role(int index) const {
    return index <= 0 ? QStringLiteral("principal") : "reserva " + QString::number(index);
}

void Tfrm_miravox::show_link_on_air() {
    Label6->setText(link_index_ <= 0 ? current_link()
                                     : "RESERVA " + QString::number(link_index_) + ": " + current_link());
}

void Tfrm_miravox::note_link_lost(int index) {
    if (index >= 0 && size_t(index) < returned_at_ms_.size() && returned_at_ms_[size_t(index)] >= 0 &&
        now_ms() - returned_at_ms_[size_t(index)] < kFlapWindowMs) {
        int& factor = return_wait_factor_[size_t(index)];
        factor = std::min(kLongestWaitFactor, factor * 2);
        returned_at_ms_[size_t(index)] = -1;
    }
}

bool Tfrm_miravox::try_next_link(const QString& cause) {
    const int lost = link_index_;
    note_link_lost(lost);
    if (link_index_ + 1 >= relay_links_.size()) {
        // Every link has failed: local music, and the countdown reopens the main link.
        failing_over_ = false;
        if (link_index_ != 0) {
            link_index_ = 0;
            show_link_on_air();
        }
        return false;
    }
    ++link_index_;
    failing_over_ = true;
    SALVA_LOGS("RESERVA " + QString::number(link_index_) + ": " + current_link() + " (" + link_role(lost) + ": " +
               cause + ")");
    show_link_on_air();
    WERRO_WEB = -1;
    WCT_PRONTO = 0;
    WVOL_WEB = 0;
    Canal_web->setVolume(0);
    CONECTA_WEB();
    return true;
}

bool Tfrm_miravox::fail_over_dry_stream() {
    if (link_index_ + 1 >= relay_links_.size() || failing_over_)
        return false;
    loss_cause_ = "sem dados";
    // As a source lost while playing: the channel's stop takes the next link.
    BASS_ERRO_WEB = 2;
    Canal_web->Stop();
    Canal_web->FreeFile();
    return true;
}

bool Tfrm_miravox::fail_over_ahead() {
    if (link_index_ + 1 >= relay_links_.size() || failing_over_ || handing_over() || !Timer_Reconexao->Enabled() ||
        WERRO_WEB != 0 || !Canal_web->isStarted() || Canal_web->IsOpening() || !Canal_web->IsLinkLost())
        return false;
    const int lost = link_index_;
    note_link_lost(lost);
    station_event(miravox::StationEventKind::stream_lost, "DESCONECTADO", current_link());
    SALVA_LOGS("RESERVA " + QString::number(lost + 1) + ": " + relay_links_[lost + 1] + " (" + link_role(lost) +
               ": DESCONECTADO)");
    begin_handover(lost + 1, false);
    return true;
}

void Tfrm_miravox::watch_link_return() {
    if (handing_over())
        return; // the fade runs
    if (fail_over_ahead())
        return;

    const bool on_backup = Timer_Reconexao->Enabled() && link_index_ > 0 && !failing_over_ && WERRO_WEB == 0 &&
                           Canal_web->isStarted() && !Canal_web->IsOpening();
    if (!on_backup) {
        if (checked_link_ >= 0)
            stop_return_check();
        return;
    }
    const qint64 now = now_ms();
    if (checked_link_ < 0) {
        for (int i = 0; i < link_index_; ++i)
            if (now >= next_check_ms_[size_t(i)]) {
                start_return_check(i);
                return;
            }
        return;
    }
    if (Canal_retorno->IsOpening())
        return;
    if (!Canal_retorno->isStarted()) {
        // Lost again while being heard.
        next_check_ms_[size_t(checked_link_)] = now + kRecheckMs;
        stop_return_check();
        return;
    }
    const int position = Canal_retorno->Position();
    const bool sounding = !Canal_retorno->IsDry() && position > check_last_position_;
    check_last_position_ = position;
    if (!sounding) {
        check_sound_since_ms_ = now; // steadily means without a break
        return;
    }
    const qint64 needed = qint64(WRESERVA_RETORNO) * 1000 * return_wait_factor_[size_t(checked_link_)];
    if (now - check_sound_since_ms_ < needed)
        return;
    // The air changes hands between commercials and jingles, never under one.
    if (Canal_Comercial->isStarted() || Timer_Play_Comercial->Enabled() || canal_vinhetas->isStarted() ||
        timer_DiminuirVolume_geral->Enabled() || timer_aumentarvolume_geral->Enabled() || Canal_Musica->isStarted())
        return;
    const int index = checked_link_;
    SALVA_LOGS("RETORNO " + link_role(index).toUpper() + ": " + relay_links_[index] + " (" +
               QString::number(WRESERVA_RETORNO * return_wait_factor_[size_t(index)]) + " s estável; " +
               link_role(link_index_) + " no ar)");
    begin_handover(index, true);
}

void Tfrm_miravox::start_return_check(int index) {
    if (!Canal_retorno)
        Canal_retorno = create_link_channel(kSilentDevice, nullptr);
    checked_link_ = index;
    check_last_position_ = -1;
    Canal_retorno->OpenWeb(relay_links_[index], [this, index](int code) { return_check_opened(index, code); });
}

void Tfrm_miravox::return_check_opened(int index, int code) {
    if (checked_link_ != index)
        return;
    if (code != 0 || !Canal_retorno->IsCarregado()) {
        next_check_ms_[size_t(index)] = now_ms() + kRecheckMs;
        stop_return_check();
        return;
    }
    Canal_retorno->setVolume(0);
    Canal_retorno->Play();
    check_sound_since_ms_ = now_ms();
}

void Tfrm_miravox::stop_return_check() {
    checked_link_ = -1;
    if (!Canal_retorno)
        return;
    Canal_retorno->AbandonOpen();
    Canal_retorno->Stop();
    Canal_retorno->FreeFile();
}

void Tfrm_miravox::begin_handover(int index, bool back) {
    stop_return_check();
    // Until it has the air, its opens and losses are not the air's.
    if (!Canal_troca)
        Canal_troca = create_link_channel(WDVTRA + 1, &Tfrm_miravox::Canal_trocaStop);
    handover_target_ = index;
    handover_back_ = back;
    handover_started_ms_ = now_ms();
    handover_fade_started_ms_ = -1;
    handover_last_position_ = -1;
    Canal_troca->OpenWeb(relay_links_[index], [this, index](int code) { handover_opened(index, code); });
    if (!handover_timer_) {
        handover_timer_ = new QTimer(this);
        handover_timer_->setInterval(kFadeStepMs);
        QObject::connect(handover_timer_, &QTimer::timeout, this, [this] { handover_step(); });
    }
    handover_timer_->start();
}

void Tfrm_miravox::handover_opened(int index, int code) {
    if (handover_target_ != index)
        return;
    if (code != 0 || !Canal_troca->IsCarregado()) {
        abandon_handover("Erro " + QString::number(code));
        return;
    }
    Canal_troca->setVolume(0);
    Canal_troca->Play();
}

void Tfrm_miravox::handover_step() {
    if (!Timer_Reconexao->Enabled()) {
        abandon_handover({});
        return;
    }
    const qint64 now = now_ms();
    if (handover_fade_started_ms_ < 0) {
        // The link starts sounding once the engine has enough of it in hand.
        const int position = Canal_troca->isStarted() ? Canal_troca->Position() : -1;
        const bool sounding =
            !Canal_troca->IsDry() && handover_last_position_ >= 0 && position > handover_last_position_;
        handover_last_position_ = position;
        if (!sounding) {
            if (now - handover_started_ms_ > kHandoverSoundLimitMs)
                abandon_handover("sem áudio");
            return;
        }
        handover_fade_started_ms_ = now;
        handover_fade_from_ = Canal_web->isStarted() ? Canal_web->Volume() : 0.0f;
    }
    // Both levels follow the general level, so a commercial's ramp that begins meanwhile ducks
    // the pair as it would duck the stream.
    const float t = std::min(1.0f, float(now - handover_fade_started_ms_) / float(kHandoverFadeMs));
    const float level = float(WVOL_GERAL);
    Canal_troca->setVolume(level * t);
    if (Canal_web->isStarted())
        Canal_web->setVolume(std::min(level, handover_fade_from_) * (1.0f - t));
    if (t >= 1.0f)
        hand_over_air();
}

void Tfrm_miravox::hand_over_air() {
    handover_timer_->stop();
    // The two channels swap: the new link becomes the web channel, with its stop handler and its
    // say over the air's connection state; the old one goes out with the other's.
    std::swap(Canal_web, Canal_troca);
    Canal_web->OnStop = [this](QObject* sender) { Canal_webStop(sender); };
    Canal_web->setReportsWebState(true);
    Canal_troca->OnStop = [this](QObject* sender) { Canal_trocaStop(sender); };
    Canal_troca->setReportsWebState(false);
    link_index_ = handover_target_;
    handover_target_ = -1;
    Canal_troca->Stop();
    Canal_troca->FreeFile();

    if (handover_back_)
        returned_at_ms_[size_t(link_index_)] = now_ms();
    BASS_ERRO_WEB = 0;
    WERRO_WEB = 0;
    WCT_PRONTO = 0;
    WTMP_RECONEXAO = 0;
    WVOL_WEB = WVOL_GERAL;
    timer_aumentarvolume_web->setEnabled(false);
    timer_meter->setEnabled(true);
    show_link_on_air();
    Label10->setText("Conectado à " + Canal_web->GetWebStationName());
    SALVA_LOGS(Label10->text());
}

void Tfrm_miravox::abandon_handover(const QString& why) {
    if (!handing_over())
        return;
    const int target = handover_target_;
    handover_target_ = -1;
    if (handover_timer_)
        handover_timer_->stop();
    if (Canal_troca) {
        Canal_troca->AbandonOpen();
        Canal_troca->Stop();
        Canal_troca->FreeFile();
    }
    if (why.isEmpty())
        return; // the relay ended or the channels were freed: nothing is left to hand over
    if (handover_back_) {
        SALVA_LOGS("RETORNO CANCELADO: " + relay_links_[target] + " (" + why + "; " + link_role(link_index_) +
                   " continua no ar)");
        next_check_ms_[size_t(target)] = now_ms() + kRecheckMs;
    } else {
        SALVA_LOGS("RESERVA " + QString::number(target) + " falhou: " + relay_links_[target] + " (" + why + ")");
    }
    if (Canal_web->isStarted()) {
        Canal_web->setVolume(float(WVOL_GERAL));
        return;
    }
    // The link on the air was lost while the hand-over was under way: its loss takes its usual
    // course (the next backup, or local music). A backup that failed to come in ahead of a lost
    // link counts as tried: the failover goes on from it.
    if (!handover_back_) {
        link_index_ = target;
        loss_cause_ = why;
        show_link_on_air();
    }
    Canal_webStop(Canal_web);
}

void Tfrm_miravox::Canal_trocaStop(QObject*) {
    // Lost before it got the air.
    if (handing_over() && !Canal_troca->IsOpening())
        abandon_handover("DESCONECTADO");
}

void Tfrm_miravox::end_backup_links() {
    stop_return_check();
    abandon_handover({});
    failing_over_ = false;
    link_index_ = 0;
    loss_cause_.clear();
}
