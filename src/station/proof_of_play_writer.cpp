#include "proof_of_play_writer.h"

#include <QMetaObject>
#include <QObject>

namespace miravox {

namespace {

struct Row {
    QString path;
    Airing airing;
    QString key;
};

} // namespace

struct AiringWriter::Shared {
    mutable std::mutex m;
    std::condition_variable wake;
    std::condition_variable done;
    std::deque<Row> queue;
    bool in_flight = false;
    bool stopping = false;
    bool finished = false;
    bool poked = false;
    bool in_outage = false;
    int written_late = 0;
    std::chrono::steady_clock::time_point next_try{};
    QObject* context = nullptr; // null once the owner is going: nothing more is posted
    Events events;

    // Runs `f` on the owner's thread, unless the owner is going. Called with `m` held.
    void post_back(std::function<void(const Events&)> f) {
        if (!context)
            return;
        QMetaObject::invokeMethod(
            context, [f = std::move(f), events = events] { f(events); }, Qt::QueuedConnection);
    }

    void run();
};

void AiringWriter::Shared::run() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lk(m);
    for (;;) {
        while (!stopping && !(!queue.empty() && (!in_outage || poked || Clock::now() >= next_try))) {
            if (queue.empty() || !in_outage)
                wake.wait(lk);
            else
                wake.wait_until(lk, next_try);
        }
        if (stopping)
            break;
        poked = false;
        Row row = std::move(queue.front());
        queue.pop_front();
        in_flight = true;
        lk.unlock();
        QString error;
        const bool ok = append_airing(row.path, row.airing, &error);
        lk.lock();
        in_flight = false;
        if (ok) {
            if (in_outage) {
                ++written_late;
                next_try = Clock::now(); // the rest of the held rows at once
                if (queue.empty()) {
                    in_outage = false;
                    post_back([path = row.path, n = written_late](const Events& e) {
                        if (e.recovered)
                            e.recovered(path, n);
                    });
                    written_late = 0;
                }
            }
            continue;
        }
        queue.push_front(std::move(row));
        next_try = Clock::now() + kRetryMs;
        if (!in_outage) {
            in_outage = true;
            post_back([path = queue.front().path, error](const Events& e) {
                if (e.outage)
                    e.outage(path, error);
            });
        }
    }
    // The end: what still waits gets one try each, in order, until one fails.
    while (!queue.empty()) {
        Row row = std::move(queue.front());
        queue.pop_front();
        lk.unlock();
        const bool ok = append_airing(row.path, row.airing);
        lk.lock();
        if (!ok)
            break;
    }
    finished = true;
    done.notify_all();
}

AiringWriter::AiringWriter(QObject* context, Events events) : shared_(std::make_shared<Shared>()) {
    shared_->context = context;
    shared_->events = std::move(events);
    thread_ = std::thread([s = shared_] { s->run(); });
}

AiringWriter::~AiringWriter() {
    std::unique_lock lk(shared_->m);
    shared_->stopping = true;
    shared_->context = nullptr;
    shared_->wake.notify_all();
    // A disk that hangs must not hold the program's end for good: the thread is then left to
    // finish on its own (it owns what it uses).
    const bool finished = shared_->done.wait_for(lk, kLastWriteMs, [this] { return shared_->finished; });
    lk.unlock();
    if (finished)
        thread_.join();
    else
        thread_.detach();
}

void AiringWriter::post(const QString& path, const Airing& airing) {
    Row row{path, airing, airing_key(airing)};
    std::lock_guard lk(shared_->m);
    auto& queue = shared_->queue;
    bool replaced = false;
    if (!row.key.isEmpty()) {
        // A progress mark not yet written is of no use once a later row of its airing exists.
        for (auto it = queue.rbegin(); it != queue.rend(); ++it) {
            if (it->key == row.key && it->airing.outcome == kAiringOnAir && it->path == row.path) {
                *it = std::move(row);
                replaced = true;
                break;
            }
        }
    }
    if (!replaced) {
        if (int(queue.size()) >= kMostHeldRows) {
            shared_->post_back(
                [text = QString::fromUtf8(airing_row(queue.front().airing)).trimmed()](const Events& e) {
                    if (e.dropped)
                        e.dropped(text);
                });
            queue.pop_front();
        }
        queue.push_back(std::move(row));
    }
    shared_->poked = true;
    shared_->wake.notify_all();
}

bool AiringWriter::idle() const {
    std::lock_guard lk(shared_->m);
    return shared_->queue.empty() && !shared_->in_flight;
}

} // namespace miravox
