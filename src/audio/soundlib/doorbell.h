#pragma once
// A doorbell: any thread rings it without ever blocking (the output thread included), and one
// thread sleeps until it rings. A plain futex on a counter, so no ring between two waits is lost.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace miravox::soundlib {

class Doorbell {
  public:
    uint32_t rings() const { return rings_.load(); }
    void ring();
    // Sleeps while nothing rang since `rings()` returned `seen`, at most `limit`.
    void wait(uint32_t seen, std::chrono::milliseconds limit);

  private:
    std::atomic<uint32_t> rings_{0};
};

} // namespace miravox::soundlib
