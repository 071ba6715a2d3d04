#include "output_device.h"

#include "engine_log.h"
#include "soundlib.h"

#include <alsa/asoundlib.h>
#include <portaudio.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#ifdef MIRAVOX_HAVE_JACK
#include <jack/jack.h>
#endif

namespace miravox::soundlib {

namespace {

constexpr int kRate = 44100;
// Frames per tick of a virtual device (46 ms, what a sound card's period often is at a safe
// latency): shorter than the channels' 60 ms tick, so each tick sees the position move, and long
// enough that the device costs few wake-ups.
constexpr size_t kClockBlock = 2048;
// A virtual device never wakes more often than this (real time), however fast it plays.
constexpr double kFastestTickNs = 1e6;

// ---- virtual devices -------------------------------------------------------------------

// Mixes in real time on its own thread; ALSA's null device is not paced, so we pace ourselves.
class ClockOutput final : public OutputDevice {
  public:
    explicit ClockOutput(WavWriter* capture) : capture_(capture), thread_([this] { run(); }) {}
    ~ClockOutput() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
        if (capture_)
            capture_->sync();
    }
    int start() override {
        running_.store(true);
        return BASS_OK;
    }
    int stop() override {
        running_.store(false);
        return BASS_OK;
    }
    bool running() const override { return running_.load(); }

  private:
    void run() {
        pthread_setname_np(pthread_self(), "sl-output");
        using clock = std::chrono::steady_clock;
        // A device that plays faster than real time mixes several blocks per tick, so that it
        // still wakes about once a millisecond at most.
        const double rate = playback_rate();
        const size_t blocks = std::max<size_t>(
            1, static_cast<size_t>(std::ceil(rate * kFastestTickNs * kRate / (kClockBlock * 1e9))));
        const double tick_ns = static_cast<double>(blocks * kClockBlock) * 1e9 / kRate / rate;
        float block[kClockBlock * 2];
        auto start = clock::now();
        uint64_t ticks = 0;
        std::unique_lock lock(mutex_);
        while (!quit_) {
            const auto next =
                start + std::chrono::nanoseconds(std::llround(static_cast<double>(ticks + 1) * tick_ns));
            if (wake_.wait_until(lock, next, [this] { return quit_; }))
                break;
            lock.unlock();
            if (clock::now() - next > std::chrono::seconds(1)) {
                // The machine was suspended or starved: start a new time line instead of bursting.
                start = clock::now();
                ticks = 0;
            }
            for (size_t i = 0; i < blocks; ++i)
                play_block(block);
            ++ticks;
            lock.lock();
        }
    }

    void play_block(float* block) {
        if (running_.load())
            mixer_.process(block, kClockBlock);
        else
            std::fill(block, block + kClockBlock * 2, 0.0f);
        if (capture_)
            capture_->write(block, kClockBlock);
    }

    WavWriter* capture_;
    std::atomic<bool> running_{true};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    std::thread thread_; // last: starts after the members it uses exist
};

// ---- PortAudio --------------------------------------------------------------------------

std::mutex pa_mutex;
bool pa_initialised = false;

void silent_alsa_handler(const char*, int, const char*, int, const char*, ...) {}

#ifdef MIRAVOX_HAVE_JACK
void silent_jack_handler(const char*) {}
#endif

class PortAudioOutput final : public OutputDevice {
  public:
    ~PortAudioOutput() override { close(); }
    int open(int index) {
        index_ = index;
        const int error = open_stream(true);
        return error == BASS_OK ? start() : error;
    }
    int start() override {
        wanted_ = true;
        if (Pa_IsStreamActive(stream_) == 1)
            return BASS_OK;
        // A stream the system ended (its sound server went away) cannot be started again:
        // it is opened anew.
        if (Pa_IsStreamStopped(stream_) == 1 && Pa_StartStream(stream_) == paNoError)
            return BASS_OK;
        return reopen(true);
    }
    int stop() override {
        wanted_ = false;
        if (Pa_IsStreamActive(stream_) == 1)
            Pa_StopStream(stream_);
        return BASS_OK;
    }
    bool running() const override { return Pa_IsStreamActive(stream_) == 1; }
    void keep_alive() override {
        if (!wanted_ || running())
            return;
        if (!lost_)
            log_line("output device \"%s\" stopped by the system; opening it again", name().c_str());
        // Quiet while it stays away: one line when it is lost, one when it is back.
        if (reopen(!lost_) == BASS_OK) {
            log_line("output device \"%s\" is back", name().c_str());
            lost_ = false;
        } else {
            lost_ = true;
        }
    }

  private:
    static int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* self) {
        static_cast<PortAudioOutput*>(self)->mixer_.process(static_cast<float*>(output), frames);
        return paContinue;
    }

    std::string name() const {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index_);
        return info ? info->name : "?";
    }

    int open_stream(bool report) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index_);
        if (!info)
            return BASS_ERROR_DEVICE;
        PaStreamParameters out{};
        out.device = index_;
        out.channelCount = 2;
        out.sampleFormat = paFloat32;
        // A playout runs for days: prefer safety margin over latency.
        out.suggestedLatency = info->defaultHighOutputLatency;
        const PaError err = Pa_OpenStream(&stream_, nullptr, &out, kRate, paFramesPerBufferUnspecified,
                                          paNoFlag, &callback, this);
        if (err != paNoError) {
            stream_ = nullptr;
            if (report)
                log_line("cannot open output device \"%s\": %s", info->name, Pa_GetErrorText(err));
            return err == paInvalidSampleRate ? BASS_ERROR_FREQ : BASS_ERROR_DRIVER;
        }
        return BASS_OK;
    }

    void close() {
        if (stream_) {
            Pa_AbortStream(stream_);
            Pa_CloseStream(stream_);
            stream_ = nullptr;
        }
    }

    int reopen(bool report) {
        close();
        if (open_stream(report) != BASS_OK)
            return BASS_ERROR_START;
        if (const PaError err = Pa_StartStream(stream_); err != paNoError) {
            if (report)
                log_line("cannot start output: %s", Pa_GetErrorText(err));
            close();
            return BASS_ERROR_START;
        }
        return BASS_OK;
    }

    PaStream* stream_ = nullptr;
    int index_ = -1;
    bool wanted_ = false; // started and not stopped since: it should be playing
    bool lost_ = false;   // the system took it away and it has not come back yet
};

std::vector<DeviceDescription> portaudio_devices() {
    std::vector<DeviceDescription> list;
    if (!portaudio_acquire())
        return list;
    if (Pa_GetDefaultOutputDevice() != paNoDevice) {
        DeviceDescription d;
        d.name = "Default";
        d.driver = "portaudio:default";
        d.kind = DeviceDescription::Kind::PortAudio;
        d.is_default = true;
        list.push_back(d);
    }
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        // ALSA's "null" PCM swallows audio as fast as it is written: never offer it.
        if (!info || info->maxOutputChannels < 2 || std::string(info->name) == "null")
            continue;
        const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
        DeviceDescription d;
        d.name = info->name;
        d.driver = std::string("portaudio:") + (api ? api->name : "?") + ":" + std::to_string(i);
        d.kind = DeviceDescription::Kind::PortAudio;
        d.portaudio_index = i;
        list.push_back(d);
    }
    return list;
}

} // namespace

bool portaudio_acquire() {
    std::lock_guard lock(pa_mutex);
    if (pa_initialised)
        return true;
    // PortAudio probes ALSA and JACK and both print dozens of lines on a machine without a
    // sound server; route their messages nowhere.
    snd_lib_error_set_handler(&silent_alsa_handler);
#ifdef MIRAVOX_HAVE_JACK
    jack_set_error_function(&silent_jack_handler);
    jack_set_info_function(&silent_jack_handler);
#endif
    const PaError err = Pa_Initialize();
    if (err != paNoError) {
        log_line("PortAudio did not start: %s", Pa_GetErrorText(err));
        return false;
    }
    pa_initialised = true;
    return true;
}

void portaudio_shutdown() {
    std::lock_guard lock(pa_mutex);
    if (pa_initialised)
        Pa_Terminate();
    pa_initialised = false;
}

std::unique_ptr<OutputDevice> open_output_device(DeviceDescription& desc, WavWriter* capture, int& error) {
    error = BASS_OK;
    switch (desc.kind) {
    case DeviceDescription::Kind::NoSound:
    case DeviceDescription::Kind::Silent:
        return std::make_unique<ClockOutput>(nullptr);
    case DeviceDescription::Kind::Failing:
        if (desc.inits_left <= 0) {
            log_line("output device \"%s\" failed (a failing test device)", desc.name.c_str());
            error = BASS_ERROR_DRIVER;
            return nullptr;
        }
        --desc.inits_left;
        return std::make_unique<ClockOutput>(nullptr);
    case DeviceDescription::Kind::Capture:
        return std::make_unique<ClockOutput>(capture);
    case DeviceDescription::Kind::PortAudio: {
        if (!portaudio_acquire()) {
            error = BASS_ERROR_DRIVER;
            return nullptr;
        }
        const int index = desc.portaudio_index >= 0 ? desc.portaudio_index : Pa_GetDefaultOutputDevice();
        if (index == paNoDevice) {
            error = BASS_ERROR_DRIVER;
            return nullptr;
        }
        auto out = std::make_unique<PortAudioOutput>();
        error = out->open(index);
        return error == BASS_OK ? std::move(out) : nullptr;
    }
    }
    error = BASS_ERROR_DEVICE;
    return nullptr;
}

std::vector<DeviceDescription> parse_virtual_devices(const std::string& spec) {
    std::vector<DeviceDescription> list;
    size_t start = 0;
    while (start <= spec.size()) {
        size_t end = spec.find(';', start);
        if (end == std::string::npos)
            end = spec.size();
        const std::string entry = spec.substr(start, end - start);
        start = end + 1;
        if (entry.empty())
            continue;
        const auto colon = entry.find(':');
        const std::string kind = entry.substr(0, colon);
        DeviceDescription d;
        if (kind == "silent" && colon != std::string::npos && colon + 1 < entry.size()) {
            d.name = entry.substr(colon + 1);
            d.driver = "silent";
            d.kind = DeviceDescription::Kind::Silent;
        } else if (kind == "capture" && colon != std::string::npos) {
            const auto colon2 = entry.find(':', colon + 1);
            if (colon2 == std::string::npos || colon2 == colon + 1 || colon2 + 1 >= entry.size()) {
                log_line("MIRAVOX_AUDIO_DEVICES: \"%s\" needs capture:NAME:PATH; skipped", entry.c_str());
                continue;
            }
            d.name = entry.substr(colon + 1, colon2 - colon - 1);
            d.capture_path = entry.substr(colon2 + 1);
            d.driver = "capture:" + d.capture_path;
            d.kind = DeviceDescription::Kind::Capture;
        } else if (kind == "broken" && colon != std::string::npos && colon + 1 < entry.size()) {
            d.name = entry.substr(colon + 1);
            d.driver = "broken";
            d.kind = DeviceDescription::Kind::Failing;
        } else if (kind == "flaky" && colon != std::string::npos) {
            const auto colon2 = entry.find(':', colon + 1);
            const std::string count = colon2 == std::string::npos ? std::string() : entry.substr(colon2 + 1);
            if (colon2 == colon + 1 || count.empty() ||
                count.find_first_not_of("0123456789") != std::string::npos || count.size() > 6) {
                log_line("MIRAVOX_AUDIO_DEVICES: \"%s\" needs flaky:NAME:COUNT; skipped", entry.c_str());
                continue;
            }
            d.name = entry.substr(colon + 1, colon2 - colon - 1);
            d.driver = "flaky:" + count;
            d.kind = DeviceDescription::Kind::Failing;
            d.inits_left = std::stoi(count);
        } else {
            log_line("MIRAVOX_AUDIO_DEVICES: \"%s\" is none of silent:NAME, capture:NAME:PATH, broken:NAME, "
                     "flaky:NAME:COUNT; skipped",
                     entry.c_str());
            continue;
        }
        list.push_back(d);
    }
    if (!list.empty())
        list.front().is_default = true;
    return list;
}

double playback_rate() {
    static const double rate = [] {
        const char* text = std::getenv("MIRAVOX_CLOCK_RATE");
        if (!text || !*text)
            return 1.0;
        char* end = nullptr;
        const double r = std::strtod(text, &end);
        while (end && std::isspace(static_cast<unsigned char>(*end)))
            ++end;
        if (end == text || *end || !std::isfinite(r) || r <= 0 || r > 10000) {
            log_line(
                "MIRAVOX_CLOCK_RATE=%s is not a number above 0 and at most 10000; devices play in real time",
                text);
            return 1.0;
        }
        return r;
    }();
    return rate;
}

std::vector<DeviceDescription> enumerate_devices(bool& from_system) {
    std::vector<DeviceDescription> list;
    DeviceDescription none;
    none.name = "No sound";
    none.driver = "nosound";
    none.kind = DeviceDescription::Kind::NoSound;
    list.push_back(none);

    std::vector<DeviceDescription> rest;
    if (const char* spec = std::getenv("MIRAVOX_AUDIO_DEVICES"); spec && *spec) {
        rest = parse_virtual_devices(spec);
        if (rest.empty())
            log_line("MIRAVOX_AUDIO_DEVICES names no usable device; using the system's devices");
    }
    from_system = rest.empty();
    if (from_system)
        rest = portaudio_devices();
    if (rest.empty()) {
        DeviceDescription silent;
        silent.name = "Silent";
        silent.driver = "silent";
        silent.kind = DeviceDescription::Kind::Silent;
        silent.is_default = true;
        rest.push_back(silent);
    }
    list.insert(list.end(), rest.begin(), rest.end());
    return list;
}

} // namespace miravox::soundlib
