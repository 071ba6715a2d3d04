// The station name shown while relaying: read from the HTTP header lines a stream server sent
// (each line ended by a zero byte, the series by an empty line).

#include "fuzz_check.h"
#include "tessel_bass.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using miravox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> tags(data, data + size);
    tags.push_back('\0'); // ends the last line
    tags.push_back('\0'); // ends the series
    const QString name = miravox::station_name_from_tags(tags.data());
    check(!name.isEmpty(), "there is always a name to show");
    check(name.size() <= 60 || name == "Streaming", "a name is at most 60 characters");
    return 0;
}
