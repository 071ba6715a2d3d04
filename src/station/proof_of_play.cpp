// The commercial on the air, from its trigger to its rows.

#include "proof_of_play.h"

#include "clock.h"
#include "dialog_service.h"
#include "error_log.h"
#include "proof_of_play_writer.h"

#include <QFileInfo>
#include <QObject>

#include <algorithm>
#include <cmath>

namespace miravox {

namespace {

// A commercial whose output stopped within this much of its length played to its end: the
// last frames of a fade or of a decoder's estimate of the length.
constexpr qint64 kCompleteSlackMs = 1000;

} // namespace

// ---- The airing in progress ----------------------------------------------------------------------

ProofOfPlay::ProofOfPlay(QString logs_folder, std::function<void(const QString&)> log, DialogService* dialogs)
    : logs_folder_(std::move(logs_folder)), log_(std::move(log)), dialogs_(dialogs),
      context_(std::make_unique<QObject>()) {
    AiringWriter::Events events;
    events.outage = [this](const QString& path, const QString& error) { outage(path, error); };
    events.recovered = [this](const QString& path, int rows) {
        const QString text = QString::number(rows) + " registro(s) gravado(s) com atraso";
        if (log_)
            log_("Comerciais: " + text + " em " + path);
        if (dialogs_ && !outage_error_.isEmpty())
            record_outage(path, " - " + text);
    };
    events.dropped = [this](const QString& row) {
        if (log_)
            log_("Comercial não gravado (memória cheia): " + row);
    };
    writer_ = std::make_unique<AiringWriter>(context_.get(), std::move(events));
}

ProofOfPlay::~ProofOfPlay() = default;

bool ProofOfPlay::all_written() const {
    return writer_->idle();
}

Airing ProofOfPlay::now_due(const QString& path, const QString& outcome) const {
    const QDateTime now = clock().now();
    Airing a;
    a.date = now.date();
    a.scheduled = minute_.isEmpty() ? now.time().toString("HH:mm") : minute_;
    a.end = now.time();
    a.file = path;
    a.outcome = outcome;
    if (link_on_air)
        a.link = link_on_air();
    return a;
}

void ProofOfPlay::due(const QString& minute) {
    minute_ = minute;
    missing_written_ = false;
}

void ProofOfPlay::missing(const QString& minute, const QString& path) {
    if (minute.isEmpty()) {
        // The commercial waiting to start: its start looks for the file again and again.
        if (missing_written_)
            return;
        missing_written_ = true;
    }
    Airing a = now_due(path, kAiringMissing);
    if (!minute.isEmpty())
        a.scheduled = minute;
    a.end = QTime();
    write(a);
}

void ProofOfPlay::not_aired(const QString& minute, const QString& path, const QString& reason) {
    Airing a = now_due(path, kAiringError);
    a.scheduled = minute;
    a.end = QTime();
    a.detail = reason;
    write(a);
}

void ProofOfPlay::started(const QString& path, std::uint32_t length_ms) {
    Airing a = now_due(path, kAiringOnAir);
    a.start = a.end;
    a.file_seconds = int(std::lround(length_ms / 1000.0));
    on_air_ = a;
    length_ms_ = length_ms;
    last_position_ms_ = 0;
    last_mark_ms_ = clock().now_ms();
    // On the disk before anything else can happen to it: a crash from here on leaves a row.
    write(a);
}

void ProofOfPlay::progress(int position_ms) {
    last_position_ms_ = std::max(last_position_ms_, position_ms);
    if (!on_air_ || clock().now_ms() - last_mark_ms_ < kProgressMarkMs)
        return;
    last_mark_ms_ = clock().now_ms();
    Airing mark = *on_air_;
    mark.end = clock().now().time();
    // What was surely heard: whole seconds only.
    mark.seconds_aired = std::clamp(last_position_ms_ / 1000, 0, std::max(mark.file_seconds, 0));
    write(mark);
}

void ProofOfPlay::failed(const QString& path, const QString& error) {
    Airing a = now_due(path, kAiringError);
    a.end = QTime();
    a.detail = error;
    write(a);
}

void ProofOfPlay::stopped(int position_ms, const QString& reason) {
    if (!on_air_)
        return;
    // The position the output played, not the time since the start: a commercial whose output
    // froze was not heard however long it stood on the air.
    const int aired_ms = std::max(position_ms, last_position_ms_);
    if (qint64(aired_ms) + kCompleteSlackMs >= qint64(length_ms_))
        finish(kAiringComplete, on_air_->file_seconds * 1000, {});
    else
        finish(kAiringCut, aired_ms, reason.isEmpty() ? kEndedEarly : reason);
}

void ProofOfPlay::stopped() {
    stopped(last_position_ms_);
}

void ProofOfPlay::cut_short(int position_ms, const QString& reason) {
    if (on_air_)
        finish(kAiringCut, std::max(position_ms, last_position_ms_), reason);
}

void ProofOfPlay::finish(const QString& outcome, int aired_ms, const QString& reason) {
    Airing a = *on_air_;
    on_air_.reset();
    a.end = clock().now().time();
    a.outcome = outcome;
    a.detail = reason;
    a.seconds_aired = std::clamp(int(std::lround(aired_ms / 1000.0)), 0, std::max(a.file_seconds, 0));
    write(a);
}

void ProofOfPlay::write(const Airing& airing) {
    // Watchers see each airing once, when its outcome is known; the marks of one on the air
    // are for the file alone.
    if (on_row && airing.outcome != kAiringOnAir)
        on_row(airing);
    writer_->post(proof_of_play_file(logs_folder_, airing.date), airing);
}

void ProofOfPlay::outage(const QString& path, const QString& error) {
    if (log_)
        log_("Erro ao gravar " + path + ": " + error +
             " - registros de comerciais guardados até a gravação voltar");
    if (!dialogs_)
        return;
    // The engine error log lives in the same LOGS folder: when that folder is what fails, its
    // block waits for the end of the outage instead of raising a second notice of its own.
    const QFileInfo folder(QFileInfo(error_log_path(clock().now().date())).absolutePath());
    outage_error_ = error;
    if (folder.isDir() && folder.isWritable())
        record_outage(path, {});
    dialogs_->notice("Não foi possível gravar o registro dos comerciais em\n" + path + "\n(" + error +
                     ").\n\nOs registros ficam guardados e serão gravados quando a pasta voltar a aceitar "
                     "- Verifique");
}

void ProofOfPlay::record_outage(const QString& path, const QString& after) {
    append_error_log("ERRO AO GRAVAR REGISTRO DE COMERCIAIS: " + outage_error_ + after, 0, path, *dialogs_);
    outage_error_.clear();
}

} // namespace miravox
