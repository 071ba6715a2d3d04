// Stream addresses and redirect targets: the first line of the input is an address, the rest a
// Location value a server answered with.

#include "fuzz_check.h"
#include "http_client.h"

#include <cstddef>
#include <cstdint>
#include <string>

using miravox::fuzz::check;
using miravox::soundlib::HttpUrl;

namespace {

bool plain_host(const std::string& host) {
    for (unsigned char c : host)
        if (!std::isalnum(c) && c != '.' && c != '-' && c != ':')
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto newline = input.find('\n');
    const std::string address = input.substr(0, newline);
    const std::string location = newline == std::string::npos ? std::string() : input.substr(newline + 1);

    HttpUrl url;
    if (!HttpUrl::parse(address, url))
        return 0;
    check(!url.host.empty(), "a parsed address has a host");
    check(url.port > 0 && url.port <= 65535, "a parsed address has a valid port");
    check(!url.path.empty() && url.path[0] == '/', "a parsed path starts at the root");

    // The request goes to the address rebuilt from its parts: it must be the same address.
    if (plain_host(url.host)) {
        HttpUrl again;
        check(HttpUrl::parse(url.to_string(), again), "a rebuilt address parses");
        check(again.scheme == url.scheme && again.host == url.host && again.port == url.port &&
                  again.path == url.path && again.userinfo == url.userinfo,
              "a rebuilt address is the same address");
    }

    // A relative redirect stays on the same server.
    const std::string next = url.resolve(location);
    HttpUrl target;
    if (location.find("://") == std::string::npos && location.rfind("//", 0) != 0 && plain_host(url.host)) {
        check(HttpUrl::parse(next, target), "a relative redirect parses");
        check(target.host == url.host && target.port == url.port, "a relative redirect stays on the server");
    }
    return 0;
}
