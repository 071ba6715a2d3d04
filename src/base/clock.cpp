#include "clock.h"

#include <QtGlobal>

namespace miravox {

QDateTime SystemClock::now() const {
    QDateTime t = QDateTime::currentDateTime();
    return offset_ms_ ? t.addMSecs(offset_ms_) : t;
}

std::unique_ptr<SystemClock> SystemClock::starting_at(const QDateTime& start) {
    return std::make_unique<SystemClock>(QDateTime::currentDateTime().msecsTo(start));
}

namespace {

std::shared_ptr<const Clock> make_default_clock() {
    const QByteArray start = qgetenv("MIRAVOX_CLOCK_START");
    if (!start.isEmpty()) {
        QDateTime t = QDateTime::fromString(QString::fromLatin1(start), Qt::ISODate);
        if (t.isValid()) {
            t.setTimeSpec(Qt::LocalTime);
            return SystemClock::starting_at(t);
        }
        qWarning("MIRAVOX_CLOCK_START=%s is not YYYY-MM-DDTHH:MM:SS; using the system clock", start.constData());
    }
    return std::make_shared<SystemClock>();
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
