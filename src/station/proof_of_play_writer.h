#pragma once
// The proof-of-play rows' own thread: rows are handed over in order and appended (and synced)
// there, so the main thread never waits on the disk. A row that cannot be written stays at the
// head of the queue, with every later one behind it, and is tried again every kRetryMs and
// whenever a new row comes; nothing is dropped until kMostHeldRows wait (weeks of commercials),
// and then the oldest, with a line saying so. A progress mark still waiting is replaced by a
// later row of the same airing rather than queued behind it.
//
// What happens is posted back to the main thread, through `context`'s event queue: the first
// failure of an outage, the rows written late when it ends, a row given up.
// Thread rules: construct, post and destroy on the thread of `context` (the main thread).

#include "proof_of_play.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace miravox {

class AiringWriter {
  public:
    struct Events {
        std::function<void(const QString& path, const QString& error)> outage;
        std::function<void(const QString& path, int rows)> recovered;
        std::function<void(const QString& row)> dropped;
    };
    static constexpr int kMostHeldRows = 20000;
    static constexpr std::chrono::milliseconds kRetryMs{2000};
    // At the end, the rows still waiting get this long to be written.
    static constexpr std::chrono::milliseconds kLastWriteMs{3000};

    AiringWriter(QObject* context, Events events);
    ~AiringWriter();
    AiringWriter(const AiringWriter&) = delete;
    AiringWriter& operator=(const AiringWriter&) = delete;

    void post(const QString& path, const Airing& airing);
    bool idle() const;

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace miravox
