#include "panel_auth.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace miravox {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool same_word(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::optional<std::string> presented_password(std::string_view header) {
    if (header.size() > kMaxAuthorizationBytes)
        return std::nullopt;
    header = trimmed(header);
    const std::size_t space = header.find_first_of(" \t");
    if (space == std::string_view::npos)
        return std::nullopt;
    const std::string_view scheme = header.substr(0, space);
    const std::string_view value = trimmed(header.substr(space));
    if (value.empty() || value.find_first_of(" \t") != std::string_view::npos)
        return std::nullopt;
    if (same_word(scheme, "Bearer"))
        return std::string(value);
    if (!same_word(scheme, "Basic"))
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray(value.data(), qsizetype(value.size())),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QByteArray& credentials = *decoded;
    const qsizetype colon = credentials.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    return credentials.mid(colon + 1).toStdString();
}

bool same_secret(std::string_view presented, std::string_view secret) {
    const QByteArray a = QCryptographicHash::hash(QByteArrayView(presented.data(), qsizetype(presented.size())),
                                                  QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(QByteArrayView(secret.data(), qsizetype(secret.size())),
                                                  QCryptographicHash::Sha256);
    volatile unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool is_loopback_address(const QString& address) {
    const QByteArray text = address.trimmed().toLatin1();
    if (text.compare("localhost", Qt::CaseInsensitive) == 0)
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6))
            return true;
        if (IN6_IS_ADDR_V4MAPPED(&v6))
            return v6.s6_addr[12] == 127;
    }
    return false;
}

std::int64_t AuthThrottle::locked_for(const std::string& address, std::int64_t now_ms) {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(address);
    if (it == entries_.end())
        return 0;
    return std::max<std::int64_t>(0, it->second.locked_until_ms - now_ms);
}

std::int64_t AuthThrottle::failed(const std::string& address, std::int64_t now_ms, int* failures) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(address);
    if (it != entries_.end() && now_ms - it->second.last_ms > kForgetMs)
        it->second = Entry{};
    if (it == entries_.end()) {
        if (entries_.size() >= kMaxAddresses) {
            // Forget the address that failed longest ago; its lock, if any, is the oldest too.
            const auto stalest = std::min_element(entries_.begin(), entries_.end(), [](const auto& x, const auto& y) {
                return x.second.last_ms < y.second.last_ms;
            });
            entries_.erase(stalest);
        }
        it = entries_.emplace(address, Entry{}).first;
    }
    Entry& e = it->second;
    ++e.failures;
    e.last_ms = now_ms;
    if (failures)
        *failures = e.failures;
    if (e.failures <= kFreeFailures)
        return 0;
    const int doublings = std::min(e.failures - kFreeFailures - 1, 20);
    const std::int64_t lock_ms = std::min<std::int64_t>(kLongestLockMs, std::int64_t(1000) << doublings);
    e.locked_until_ms = now_ms + lock_ms;
    return lock_ms;
}

void AuthThrottle::succeeded(const std::string& address) {
    std::lock_guard lock(mutex_);
    entries_.erase(address);
}

} // namespace miravox
