// Sound engine measurements.
//
//   BM_MixBlock/5              mixing one 512-frame block of 5 playing streams (the output
//                              callback's work), in-process, no device
//   BM_OutputThreadCpu/5       CPU of a device's output thread with 5 streams playing, as a
//                              fraction of one core, over 10 s of real time
//   BM_RelayCpuVsFfmpeg        CPU of relaying a local 128 kbps MP3 stream to a silent device
//                              against `ffmpeg -i URL -f null -` reading the same stream over the
//                              same time, side by side (MIRAVOX_BENCH_RELAY_SECONDS, default 60)
//   BM_CreateToFirstAudible    BASS_StreamCreateURL on a local stream until the mixer has
//                              taken its first sample (median of 10)
//   BM_MemoryPerNetworkStream  resident memory added per open, playing network stream, measured
//                              once its 5 s download buffer has been filled through
//
// Run: ./soundlib_bench (needs soundlib_bench_server beside it and the ffmpeg CLI).

#include "decoder.h"
#include "engine_config.h"
#include "mixer.h"
#include "soundlib.h"
#include "stream.h"
#include "test_media.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono;
using miravox::test::TempDir;

TempDir& workdir() {
    static TempDir dir("soundlib-bench");
    return dir;
}

std::string stream_mp3() {
    const std::string p = workdir().file("stream.mp3");
    if (miravox::test::read_file(p).empty())
        miravox::test::make_stream_mp3(p, 440, 30.0, 128);
    return p;
}

std::string tone_wav(double frequency) {
    const std::string p = workdir().file("tone" + std::to_string(int(frequency)) + ".wav");
    if (miravox::test::read_file(p).empty())
        miravox::test::make_sine(p, frequency, 10.0, {"-c:a", "pcm_s16le"});
    return p;
}

double process_cpu_s() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Nanoseconds on CPU of this process's threads named `name`.
uint64_t thread_cpu_ns(const std::string& name) {
    uint64_t total = 0;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(base + "/comm"), comm);
        if (comm != name)
            continue;
        uint64_t ns = 0;
        std::ifstream(base + "/schedstat") >> ns;
        total += ns;
    }
    if (d)
        closedir(d);
    return total;
}

size_t rss_bytes() {
    size_t pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// The local stream server, in a child process.
class ServerProcess {
  public:
    explicit ServerProcess(const std::string& mp3) {
        int to_child[2], from_child[2];
        if (pipe(to_child) != 0 || pipe(from_child) != 0)
            return;
        std::string exe(4096, '\0');
        exe.resize(static_cast<size_t>(readlink("/proc/self/exe", exe.data(), exe.size())));
        const std::string server = exe.substr(0, exe.rfind('/')) + "/soundlib_bench_server";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(to_child[0], 0);
            dup2(from_child[1], 1);
            close(to_child[1]);
            close(from_child[0]);
            execl(server.c_str(), server.c_str(), mp3.c_str(), nullptr);
            _exit(127);
        }
        close(to_child[0]);
        close(from_child[1]);
        stdin_ = to_child[1];
        char buf[32] = {};
        const ssize_t n = read(from_child[0], buf, sizeof buf - 1);
        close(from_child[0]);
        if (n > 0)
            port_ = std::atoi(buf);
    }
    ~ServerProcess() {
        if (stdin_ >= 0)
            close(stdin_);
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    bool ok() const { return port_ > 0; }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
};

bool init_silent_device() {
    static bool done = BASS_Init(1, 44100, 0, nullptr, nullptr) != FALSE;
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 4000);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    BASS_SetConfig(BASS_CONFIG_BUFFER, 5000);
    return done;
}

// ---- memory (first: later benchmarks free memory that the allocator would hand back)

void BM_MemoryPerNetworkStream(benchmark::State& state) {
    init_silent_device();
    ServerProcess server(stream_mp3());
    if (!server.ok()) {
        state.SkipWithError("stream server did not start");
        return;
    }
    constexpr int kStreams = 10;
    for (auto _ : state) {
        // One stream first, so that one-time allocations (FFmpeg tables, threads) are not counted.
        const HSTREAM warm = BASS_StreamCreateURL(server.url("/radio").c_str(), 0, 0, nullptr, nullptr);
        BASS_ChannelPlay(warm, FALSE);
        std::this_thread::sleep_for(seconds(1));
        const size_t before = rss_bytes();
        const size_t heap_before = mallinfo2().uordblks + mallinfo2().hblkhd;
        std::vector<HSTREAM> handles;
        for (int i = 0; i < kStreams; ++i) {
            handles.push_back(BASS_StreamCreateURL(server.url("/radio").c_str(), 0, 0, nullptr, nullptr));
            BASS_ChannelPlay(handles.back(), FALSE);
        }
        // Past the buffer's length, every page of each ring has been written at least once.
        std::this_thread::sleep_for(seconds(7));
        const double per_stream = static_cast<double>(rss_bytes() - before) / kStreams / (1 << 20);
        const double buffer = 5000.0 * 44.1 * 8 / (1 << 20);
        state.counters["per_stream_MB"] = per_stream;
        state.counters["buffer_MB"] = buffer;
        state.counters["beyond_buffer_MB"] = per_stream - buffer;
        state.counters["heap_per_stream_MB"] =
            static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd - heap_before) / kStreams /
            (1 << 20);
        for (HSTREAM h : handles)
            BASS_StreamFree(h);
        BASS_StreamFree(warm);
    }
}
BENCHMARK(BM_MemoryPerNetworkStream)->Iterations(1)->Unit(benchmark::kSecond);

// ---- mixing ---------------------------------------------------------------------------------

void BM_MixBlock(benchmark::State& state) {
    using namespace miravox::soundlib;
    const int count = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<Stream>> streams;
    Mixer mixer;
    for (int i = 0; i < count; ++i) {
        auto intr = std::make_unique<Interrupt>();
        DecoderSpec spec;
        int averror = 0;
        spec.bytes = open_file_source(tone_wav(220.0 * (i + 1)), 0, 0, averror);
        int error = 0;
        std::string reason;
        auto decoder = Decoder::open(std::move(spec), *intr, error, reason);
        StreamSetup setup;
        setup.buffer_ms = 60000;
        setup.flags = BASS_SAMPLE_LOOP;
        streams.push_back(std::make_unique<Stream>(std::move(intr), std::move(decoder), setup));
        streams.back()->set_volume(0.5f);
        streams.back()->play(false);
        mixer.add(streams.back().get());
        streams.back()->start_decoding();
    }
    // Fill the buffers ahead, then time only the mixing.
    for (auto& s : streams) {
        int error = 0;
        while (*s->file_position(BASS_FILEPOS_BUFFER, error) < 50000ull * 441 / 10 * 8)
            std::this_thread::sleep_for(milliseconds(10));
    }
    std::vector<float> out(512 * 2);
    for (auto _ : state) {
        mixer.process(out.data(), 512);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["block_ms_of_audio"] = 512.0 / 44.1;
    for (auto& s : streams) {
        mixer.remove(s.get());
        s->close();
    }
}
BENCHMARK(BM_MixBlock)->Arg(1)->Arg(5)->Iterations(3000)->Unit(benchmark::kMicrosecond);

void BM_OutputThreadCpu(benchmark::State& state) {
    init_silent_device();
    const int count = static_cast<int>(state.range(0));
    std::vector<HSTREAM> handles;
    for (int i = 0; i < count; ++i) {
        handles.push_back(
            BASS_StreamCreateFile(FALSE, tone_wav(220.0 * (i + 1)).c_str(), 0, 0, BASS_SAMPLE_LOOP));
        BASS_ChannelSetAttribute(handles.back(), BASS_ATTRIB_VOL, 0.3f);
        BASS_ChannelPlay(handles.back(), FALSE);
    }
    std::this_thread::sleep_for(milliseconds(500));
    for (auto _ : state) {
        const uint64_t out0 = thread_cpu_ns("sl-output");
        const uint64_t dec0 = thread_cpu_ns("sl-decode");
        const auto t0 = steady_clock::now();
        std::this_thread::sleep_for(seconds(10));
        const double wall = duration<double>(steady_clock::now() - t0).count();
        state.SetIterationTime(wall);
        state.counters["output_thread_core_pct"] = (thread_cpu_ns("sl-output") - out0) / 1e9 / wall * 100;
        state.counters["decoder_threads_core_pct"] = (thread_cpu_ns("sl-decode") - dec0) / 1e9 / wall * 100;
    }
    for (HSTREAM h : handles)
        BASS_StreamFree(h);
}
BENCHMARK(BM_OutputThreadCpu)->Arg(5)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// ---- network --------------------------------------------------------------------------------

void BM_RelayCpuVsFfmpeg(benchmark::State& state) {
    init_silent_device();
    ServerProcess server(stream_mp3());
    if (!server.ok()) {
        state.SkipWithError("stream server did not start");
        return;
    }
    const char* env = std::getenv("MIRAVOX_BENCH_RELAY_SECONDS");
    const int seconds_to_run = env ? std::atoi(env) : 60;
    const std::string url = server.url("/radio");
    for (auto _ : state) {
        const double cpu0 = process_cpu_s();
        const uint64_t decode0 = thread_cpu_ns("sl-decode");
        const uint64_t output0 = thread_cpu_ns("sl-output");
        const uint64_t janitor0 = thread_cpu_ns("sl-janitor");
        const pid_t ffmpeg = fork();
        if (ffmpeg == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(MIRAVOX_BENCH_FFMPEG, "ffmpeg", "-nostdin", "-i", url.c_str(), "-f", "null", "-", nullptr);
            _exit(127);
        }
        const HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
        BASS_ChannelPlay(h, FALSE);
        std::this_thread::sleep_for(seconds(seconds_to_run));
        const double position = BASS_ChannelBytes2Seconds(h, BASS_ChannelGetPosition(h, BASS_POS_BYTE));
        state.counters["decoder_cpu_s"] = (thread_cpu_ns("sl-decode") - decode0) / 1e9;
        state.counters["output_cpu_s"] = (thread_cpu_ns("sl-output") - output0) / 1e9;
        state.counters["janitor_cpu_s"] = (thread_cpu_ns("sl-janitor") - janitor0) / 1e9;
        BASS_StreamFree(h);
        const double engine_cpu = process_cpu_s() - cpu0;
        kill(ffmpeg, SIGTERM);
        int status = 0;
        rusage child{};
        wait4(ffmpeg, &status, 0, &child);
        const double ffmpeg_cpu = child.ru_utime.tv_sec + child.ru_stime.tv_sec +
                                  (child.ru_utime.tv_usec + child.ru_stime.tv_usec) / 1e6;
        state.SetIterationTime(seconds_to_run);
        state.counters["engine_cpu_s"] = engine_cpu;
        state.counters["ffmpeg_cpu_s"] = ffmpeg_cpu;
        state.counters["ratio"] = ffmpeg_cpu > 0 ? engine_cpu / ffmpeg_cpu : 0;
        state.counters["played_s"] = position;
    }
}
BENCHMARK(BM_RelayCpuVsFfmpeg)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_CreateToFirstAudible(benchmark::State& state) {
    init_silent_device();
    ServerProcess server(stream_mp3());
    if (!server.ok()) {
        state.SkipWithError("stream server did not start");
        return;
    }
    for (auto _ : state) {
        std::vector<double> ms;
        for (int i = 0; i < 10; ++i) {
            const auto t0 = steady_clock::now();
            const HSTREAM h = BASS_StreamCreateURL(server.url("/radio").c_str(), 0, 0, nullptr, nullptr);
            BASS_ChannelPlay(h, FALSE);
            while (BASS_ChannelGetPosition(h, BASS_POS_BYTE) == 0 && steady_clock::now() - t0 < seconds(5))
                std::this_thread::sleep_for(microseconds(200));
            ms.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
            BASS_StreamFree(h);
        }
        std::sort(ms.begin(), ms.end());
        state.SetIterationTime(ms[5] / 1000);
        state.counters["median_ms"] = ms[5];
        state.counters["max_ms"] = ms.back();
    }
}
BENCHMARK(BM_CreateToFirstAudible)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("MIRAVOX_AUDIO_DEVICES", "silent:BENCH", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    BASS_Free();
    return 0;
}
