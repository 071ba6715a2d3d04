#include "output_device.h"

#include "doorbell.h"
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
#include <shared_mutex>
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

std::shared_mutex pa_lock;
bool pa_initialised = false; // changed under pa_lock, exclusive
// Streams open on PortAudio: it is never ended under one (ending it would free them).
std::atomic<int> pa_open_streams{0};

void silent_alsa_handler(const char*, int, const char*, int, const char*, ...) {}

#ifdef MIRAVOX_HAVE_JACK
void silent_jack_handler(const char*) {}
#endif

// The control threads' calls (start, stop, running) only try the output's own lock: while the
// watch opens the output again, they answer at once as for an output that does not play.
class PortAudioOutput final : public OutputDevice {
  public:
    explicit PortAudioOutput(Doorbell* watch) : watch_(watch) {}
    ~PortAudioOutput() override {
        std::lock_guard lock(mutex_);
        close();
    }
    int open(int index, const std::string& name) {
        index_ = index;
        name_ = name;
        std::lock_guard lock(mutex_);
        const int error = open_stream(true, false);
        if (error != BASS_OK)
            return error;
        wanted_ = true;
        if (const PaError err = Pa_StartStream(stream_); err != paNoError) {
            log_line("cannot start output: %s", Pa_GetErrorText(err));
            close();
            return BASS_ERROR_START;
        }
        return BASS_OK;
    }
    int start() override {
        wanted_ = true;
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock())
            return BASS_ERROR_START; // the watch is opening it again
        if (stream_ && Pa_IsStreamActive(stream_) == 1)
            return BASS_OK;
        if (stream_ && Pa_IsStreamStopped(stream_) == 1 && Pa_StartStream(stream_) == paNoError)
            return BASS_OK;
        // A stream the system ended (its sound server went away) cannot be started again: the
        // watch opens it anew, on its own thread, since an open may block against a server that
        // is coming back.
        if (watch_)
            watch_->ring();
        return BASS_ERROR_START;
    }
    int stop() override {
        wanted_ = false;
        std::unique_lock lock(mutex_, std::try_to_lock);
        // Else the watch is opening it again, and stops it when it sees it is no longer wanted.
        if (lock.owns_lock() && stream_ && Pa_IsStreamActive(stream_) == 1)
            Pa_StopStream(stream_);
        return BASS_OK;
    }
    bool running() const override {
        std::unique_lock lock(mutex_, std::try_to_lock);
        return lock.owns_lock() && stream_ && Pa_IsStreamActive(stream_) == 1;
    }
    bool lost() const override { return wanted_ && !running(); }
    void keep_alive() override {
        std::lock_guard lock(mutex_);
        if (!wanted_ || (stream_ && Pa_IsStreamActive(stream_) == 1))
            return;
        // Quiet while it stays away: one line when it is lost, one when it is back.
        if (!reported_)
            log_line("output device \"%s\" stopped by the system; opening it again", name_.c_str());
        if (reopen(!reported_) == BASS_OK) {
            log_line("output device \"%s\" is back", name_.c_str());
            reported_ = false;
            if (!wanted_)
                Pa_StopStream(stream_); // stopped by a control thread while it was opening
        } else {
            reported_ = true;
        }
    }

  private:
    static int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* self) {
        static_cast<PortAudioOutput*>(self)->mixer_.process(static_cast<float*>(output), frames);
        return paContinue;
    }

    // mutex_ held. `wait`: for PortAudio's lock (the watch), or only try it (a control thread).
    int open_stream(bool report, bool wait) {
        PortAudioLock pa(PortAudioLock::Mode::Shared, wait);
        if (!pa.held() || !pa_initialised)
            return BASS_ERROR_DRIVER;
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
        ++pa_open_streams;
        return BASS_OK;
    }

    // mutex_ held.
    void close() {
        if (!stream_)
            return;
        PortAudioLock pa(PortAudioLock::Mode::Shared, true);
        Pa_AbortStream(stream_);
        Pa_CloseStream(stream_);
        stream_ = nullptr;
        --pa_open_streams;
    }

    // mutex_ held; the watch thread only.
    int reopen(bool report) {
        close();
        if (open_stream(report, true) != BASS_OK)
            return BASS_ERROR_START;
        if (const PaError err = Pa_StartStream(stream_); err != paNoError) {
            if (report)
                log_line("cannot start output: %s", Pa_GetErrorText(err));
            close();
            return BASS_ERROR_START;
        }
        return BASS_OK;
    }

    Doorbell* watch_;
    mutable std::mutex mutex_; // stream_ and the PortAudio calls on it
    PaStream* stream_ = nullptr;
    int index_ = -1;
    std::string name_;
    std::atomic<bool> wanted_{false}; // started and not stopped since: it should be playing
    bool reported_ = false;           // under mutex_: its loss was logged and it is not back yet
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

PortAudioLock::PortAudioLock(Mode mode, bool wait) : mode_(mode) {
    if (mode_ == Mode::Exclusive) {
        if (wait)
            pa_lock.lock();
        held_ = wait || pa_lock.try_lock();
    } else {
        if (wait)
            pa_lock.lock_shared();
        held_ = wait || pa_lock.try_lock_shared();
    }
}

PortAudioLock::~PortAudioLock() {
    if (!held_)
        return;
    if (mode_ == Mode::Exclusive)
        pa_lock.unlock();
    else
        pa_lock.unlock_shared();
}

bool portaudio_acquire() {
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

bool portaudio_shutdown() {
    if (pa_open_streams.load() > 0)
        return false;
    if (pa_initialised)
        Pa_Terminate();
    pa_initialised = false;
    return true;
}

std::unique_ptr<OutputDevice> open_output_device(DeviceDescription& desc, WavWriter* capture, Doorbell* watch,
                                                 int& error) {
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
        int index = paNoDevice;
        {
            // Started here only when the list was read: PortAudio is up while it offers devices.
            PortAudioLock pa(PortAudioLock::Mode::Shared, false);
            if (pa.held() && pa_initialised)
                index = desc.portaudio_index >= 0 ? desc.portaudio_index : Pa_GetDefaultOutputDevice();
        }
        if (index == paNoDevice) {
            error = BASS_ERROR_DRIVER;
            return nullptr;
        }
        auto out = std::make_unique<PortAudioOutput>(watch);
        error = out->open(index, desc.name);
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
