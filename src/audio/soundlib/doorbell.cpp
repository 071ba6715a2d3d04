#include "doorbell.h"

#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace miravox::soundlib {

namespace {

uint32_t* futex_word(std::atomic<uint32_t>& a) {
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
    return reinterpret_cast<uint32_t*>(&a);
}

} // namespace

void Doorbell::ring() {
    rings_.fetch_add(1);
    syscall(SYS_futex, futex_word(rings_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void Doorbell::wait(uint32_t seen, std::chrono::milliseconds limit) {
    const timespec t{static_cast<time_t>(limit.count() / 1000), static_cast<long>(limit.count() % 1000) * 1000000};
    syscall(SYS_futex, futex_word(rings_), FUTEX_WAIT_PRIVATE, seen, &t, nullptr, 0);
}

} // namespace miravox::soundlib
