#include "station_state.h"

#include <algorithm>

namespace miravox {

QString on_air_name(OnAir source) {
    switch (source) {
    case OnAir::stream:
        return QStringLiteral("stream");
    case OnAir::music:
        return QStringLiteral("music");
    case OnAir::commercial:
        return QStringLiteral("commercial");
    case OnAir::jingle:
        return QStringLiteral("jingle");
    case OnAir::none:
        break;
    }
    return QStringLiteral("none");
}

std::vector<StationEvent> StationEventQueue::take() {
    std::lock_guard lock(mutex_);
    std::vector<StationEvent> out(events_.begin(), events_.end());
    events_.clear();
    return out;
}

std::uint64_t StationEventQueue::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void StationEventQueue::push(const StationEvent& event) {
    std::lock_guard lock(mutex_);
    if (events_.size() >= capacity_) {
        events_.pop_front();
        ++dropped_;
    }
    events_.push_back(event);
}

void StationState::publish(StationSnapshot snapshot) {
    std::lock_guard lock(mutex_);
    snapshot_ = std::move(snapshot);
    ++generation_;
}

StationSnapshot StationState::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

std::uint64_t StationState::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

void StationState::post(const StationEvent& event) {
    std::vector<std::shared_ptr<StationEventQueue>> live;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(queues_, [](const auto& q) { return q.expired(); });
        for (const auto& q : queues_)
            if (auto queue = q.lock())
                live.push_back(std::move(queue));
    }
    for (const auto& queue : live)
        queue->push(event);
}

std::shared_ptr<StationEventQueue> StationState::open_queue(std::size_t capacity) {
    auto queue = std::make_shared<StationEventQueue>(capacity);
    std::lock_guard lock(mutex_);
    queues_.push_back(queue);
    return queue;
}

} // namespace miravox
