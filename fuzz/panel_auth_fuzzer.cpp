// The status server's Authorization header reader on arbitrary bytes. Properties: it never
// returns more than the header holds, and a Basic header made from a user and a password (or a
// Bearer token without blanks) gives that password back.

#include "fuzz_check.h"
#include "panel_auth.h"

#include <QByteArray>

#include <cstdint>
#include <string>

using miravox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (const auto password = miravox::presented_password(input))
        check(password->size() <= input.size(), "the password comes out of the header");

    // The same bytes as a user and a password in a Basic header, and as a Bearer token.
    const std::size_t cut = size ? data[0] % (size + 1) : 0;
    const std::string user = input.substr(0, cut), secret = input.substr(cut);
    if (user.find(':') == std::string::npos) {
        const std::string header =
            "Basic " + QByteArray::fromStdString(user + ":" + secret).toBase64().toStdString();
        if (header.size() <= miravox::kMaxAuthorizationBytes) {
            const auto got = miravox::presented_password(header);
            check(got && *got == secret, "a Basic header gives its password back");
            check(miravox::same_secret(*got, secret), "a password is the same secret as itself");
        }
    }
    if (!secret.empty() && secret.size() < 1000 && secret.find_first_of(" \t") == std::string::npos) {
        const auto got = miravox::presented_password("Bearer " + secret);
        check(got && *got == secret, "a Bearer header gives its token back");
    }
    return 0;
}
