#pragma once
// Who may read the status server: the password a request carries, compared without leaking it
// through timing, and a brake on addresses that keep guessing.
// Thread rules: the free functions from any thread; AuthThrottle is internally locked.

#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace miravox {

// The password carried by an Authorization header: HTTP Basic (any user name: the password is
// what follows the first ':' of the decoded credentials) or a Bearer token. None when the
// header is absent, of another scheme, malformed or longer than kMaxAuthorizationBytes.
inline constexpr std::size_t kMaxAuthorizationBytes = 1024;
std::optional<std::string> presented_password(std::string_view header);

// Whether `presented` is `secret`. Takes the same time whatever they hold and however much of
// them matches (both are hashed first, so not even the secret's length shows).
bool same_secret(std::string_view presented, std::string_view secret);

// Whether `address` (a numeric IPv4 or IPv6 address, or "localhost") is a loopback one.
bool is_loopback_address(const QString& address);

// Wrong passwords per client address. The first kFreeFailures cost nothing; each one after
// locks the address out for twice as long as the one before (1 s, 2 s, 4 s ... at most
// kLongestLockMs), during which its requests are refused unread. An address that has not
// failed for kForgetMs starts afresh; at most kMaxAddresses are remembered (the stalest go).
class AuthThrottle {
  public:
    static constexpr int kFreeFailures = 5;
    static constexpr std::int64_t kLongestLockMs = 300000;
    static constexpr std::int64_t kForgetMs = 900000;
    static constexpr std::size_t kMaxAddresses = 4096;

    // Milliseconds before `address` may try again; 0 when it may now.
    std::int64_t locked_for(const std::string& address, std::int64_t now_ms);
    // Counts a wrong password from `address`: the lock it starts in ms (0 none) and, in
    // `failures`, how many in a row.
    std::int64_t failed(const std::string& address, std::int64_t now_ms, int* failures = nullptr);
    // A right password: the address starts afresh.
    void succeeded(const std::string& address);

  private:
    struct Entry {
        int failures = 0;
        std::int64_t last_ms = 0;
        std::int64_t locked_until_ms = 0;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

} // namespace miravox
