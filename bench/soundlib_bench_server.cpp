// Serves an MP3 file as a 128 kbps ICY stream at /radio (looped, paced, with an IceCast-like
// burst at the start) until its standard input closes. Prints the port on the first line.
// Usage: soundlib_bench_server FILE.mp3

#include "test_media.h"
#include "test_stream_server.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.mp3\n", argv[0]);
        return 2;
    }
    miravox::test::TestStreamServer server;
    miravox::test::AudioMount radio;
    radio.data = miravox::test::read_file(argv[1]);
    radio.headers = {"icy-name:Bench Radio"};
    server.add_audio("/radio", radio);
    std::printf("%u\n", server.port());
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}
