#include "clock.h"

#include <QThread>
#include <QtGlobal>

#include <chrono>
#include <cmath>

namespace miravox {

namespace {

std::int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

SystemClock::SystemClock(qint64 offset_ms, double rate) : offset_ms_(offset_ms), rate_(rate) {
    if (rate_ != 1.0) {
        origin_ms_ = QDateTime::currentMSecsSinceEpoch();
        origin_ns_ = steady_ns();
    }
}

QDateTime SystemClock::now() const {
    if (rate_ == 1.0) {
        QDateTime t = QDateTime::currentDateTime();
        return offset_ms_ ? t.addMSecs(offset_ms_) : t;
    }
    return QDateTime::fromMSecsSinceEpoch(now_ms());
}

qint64 SystemClock::now_ms() const {
    if (rate_ == 1.0)
        return QDateTime::currentMSecsSinceEpoch() + offset_ms_;
    const double scaled_ms = double(steady_ns() - origin_ns_) * rate_ / 1e6;
    return origin_ms_ + offset_ms_ + qint64(scaled_ms);
}

std::unique_ptr<SystemClock> SystemClock::starting_at(const QDateTime& start, double rate) {
    return std::make_unique<SystemClock>(QDateTime::currentDateTime().msecsTo(start), rate);
}

double clock_rate_from_environment() {
    const QByteArray text = qgetenv("MIRAVOX_CLOCK_RATE");
    if (text.isEmpty())
        return 1.0;
    bool ok = false;
    const double rate = text.trimmed().toDouble(&ok);
    if (ok && std::isfinite(rate) && rate > 0 && rate <= kMaxClockRate)
        return rate;
    qWarning("MIRAVOX_CLOCK_RATE=%s is not a number above 0 and at most %g; the clock runs at real speed",
             text.constData(), kMaxClockRate);
    return 1.0;
}

void sleep_program_ms(int ms) {
    if (ms <= 0)
        return;
    QThread::usleep(static_cast<unsigned long>(std::llround(ms * 1000.0 / clock().rate())));
}

namespace {

std::shared_ptr<const Clock> make_default_clock() {
    const double rate = clock_rate_from_environment();
    const QByteArray start = qgetenv("MIRAVOX_CLOCK_START");
    if (!start.isEmpty()) {
        QDateTime t = QDateTime::fromString(QString::fromLatin1(start), Qt::ISODate);
        if (t.isValid()) {
            t.setTimeSpec(Qt::LocalTime);
            return SystemClock::starting_at(t, rate);
        }
        qWarning("MIRAVOX_CLOCK_START=%s is not YYYY-MM-DDTHH:MM:SS; using the system clock", start.constData());
    }
    return std::make_shared<SystemClock>(0, rate);
}

std::mutex clock_mutex;
std::shared_ptr<const Clock> current_clock;
// Raw pointer for lock-free reads; the shared_ptr above keeps it alive. A replaced clock
// stays alive through `retired` so a reader on another thread never sees a dangling pointer.
std::atomic<const Clock*> current_raw{nullptr};
std::vector<std::shared_ptr<const Clock>> retired;

} // namespace

const Clock& clock() {
    const Clock* c = current_raw.load(std::memory_order_acquire);
    if (c)
        return *c;
    std::lock_guard lock(clock_mutex);
    if (!current_clock) {
        current_clock = make_default_clock();
        current_raw.store(current_clock.get(), std::memory_order_release);
    }
    return *current_clock;
}

std::shared_ptr<const Clock> set_clock(std::shared_ptr<const Clock> c) {
    std::lock_guard lock(clock_mutex);
    if (!c)
        c = make_default_clock();
    std::shared_ptr<const Clock> previous = current_clock;
    if (previous)
        retired.push_back(previous);
    current_clock = std::move(c);
    current_raw.store(current_clock.get(), std::memory_order_release);
    return previous;
}

} // namespace miravox
