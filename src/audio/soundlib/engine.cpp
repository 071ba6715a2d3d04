#include "engine.h"

#include "engine_log.h"

#include <pthread.h>

#include <algorithm>

namespace miravox::soundlib {

Engine& Engine::instance() {
    static Engine engine;
    return engine;
}

Engine::Engine() : janitor_([this] { janitor(); }) {
    route_ffmpeg_log();
}

Engine::~Engine() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    end_bell_.ring();
    janitor_.join();
    std::vector<std::shared_ptr<Stream>> doomed;
    bool used_portaudio = false;
    {
        std::lock_guard lock(mutex_);
        while (!streams_.empty())
            doomed.push_back(detach(streams_.begin()));
        for (auto& slot : devices_) {
            used_portaudio |= slot.description.kind == DeviceDescription::Kind::PortAudio;
            slot.output.reset();
        }
    }
    for (auto& s : doomed)
        s->close();
    if (used_portaudio) {
        PortAudioLock pa(PortAudioLock::Mode::Exclusive, true);
        portaudio_shutdown();
    }
}

namespace {

bool is_system_output(const DeviceDescription& d) {
    return d.kind == DeviceDescription::Kind::PortAudio;
}

// How often the janitor reads the system's device list while its devices are away.
constexpr auto kAwayReading = std::chrono::seconds(2);

bool offers_system_output(const std::vector<DeviceDescription>& list) {
    return std::any_of(list.begin(), list.end(), is_system_output);
}

} // namespace

bool Engine::system_output_open() const {
    for (size_t i = 1; i < devices_.size(); ++i)
        if (devices_[i].output)
            return true;
    return false;
}

void Engine::take_list(std::vector<DeviceDescription> fresh) {
    // Entry 0 ("No sound") keeps its output and its streams.
    devices_.resize(1);
    if (current_ > 0)
        current_ = -1; // it named a closed device that may now be another one
    for (size_t i = 1; i < fresh.size(); ++i)
        devices_.push_back(DeviceSlot{std::move(fresh[i]), nullptr, nullptr});
    enumerated_ = true;
    if (away_)
        log_line("the system offers output devices again");
    away_ = false;
}

void Engine::system_away() {
    // Its devices keep their names and numbers rather than a silent device taking the place of
    // device 1; they cannot be opened until the janitor finds them again.
    if (!away_)
        log_line("no output device found; keeping the previous list until the system offers one");
    away_ = true;
    next_reading_ = std::chrono::steady_clock::now() + kAwayReading;
}

void Engine::ensure_devices() {
    if (enumerated_)
        return;
    if (devices_.empty()) {
        PortAudioLock pa(PortAudioLock::Mode::Exclusive, true); // the first device call of the process
        for (auto& d : enumerate_devices(from_system_))
            devices_.push_back(DeviceSlot{std::move(d), nullptr, nullptr});
        enumerated_ = true;
        return;
    }
    if (fresh_) {
        take_list(std::move(*fresh_));
        fresh_.reset();
        return;
    }
    if (away_)
        return;
    // Read the system's list again, unless the janitor is at PortAudio right now (it may be
    // blocked against a sound server that is coming back).
    std::optional<std::vector<DeviceDescription>> fresh;
    {
        PortAudioLock pa(PortAudioLock::Mode::Exclusive, false);
        if (pa.held() && portaudio_shutdown())
            fresh = enumerate_devices(from_system_);
    }
    const bool had_outputs = std::any_of(devices_.begin(), devices_.end(),
                                         [](const DeviceSlot& s) { return is_system_output(s.description); });
    if (!fresh || (had_outputs && !offers_system_output(*fresh))) {
        system_away();
        return;
    }
    take_list(std::move(*fresh));
}

void Engine::watch_system(std::unique_lock<std::mutex>& lock) {
    // Outputs the system took away are opened again, each outside the engine's mutex.
    std::vector<std::shared_ptr<OutputDevice>> lost;
    for (auto& slot : devices_)
        if (slot.output && slot.output->lost())
            lost.push_back(slot.output);
    const bool read = away_ && !fresh_ && std::chrono::steady_clock::now() >= next_reading_;
    if (lost.empty() && !read)
        return;
    lock.unlock();
    for (auto& out : lost)
        out->keep_alive();
    lost.clear(); // an output freed meanwhile is closed here
    std::optional<std::vector<DeviceDescription>> fresh;
    if (read) {
        PortAudioLock pa(PortAudioLock::Mode::Exclusive, true);
        bool from_system = false;
        if (portaudio_shutdown())
            if (auto list = enumerate_devices(from_system); offers_system_output(list))
                fresh = std::move(list);
    }
    lock.lock();
    if (!read)
        return;
    next_reading_ = std::chrono::steady_clock::now() + kAwayReading;
    // Kept for the next device call, unless the list was taken meanwhile.
    if (fresh && away_ && !enumerated_)
        fresh_ = std::move(fresh);
}

int Engine::device_info(DWORD device, BASS_DEVICEINFO& info) {
    std::lock_guard lock(mutex_);
    ensure_devices();
    if (device >= devices_.size())
        return BASS_ERROR_DEVICE;
    const DeviceSlot& slot = devices_[device];
    info.name = slot.description.name.c_str();
    info.driver = slot.description.driver.c_str();
    info.flags = BASS_DEVICE_ENABLED | (slot.description.is_default ? BASS_DEVICE_DEFAULT : 0) |
                 (slot.output ? BASS_DEVICE_INIT : 0);
    return BASS_OK;
}

int Engine::init(int device) {
    std::lock_guard lock(mutex_);
    ensure_devices();
    if (device == -1)
        device = 1;
    if (device < 0 || static_cast<size_t>(device) >= devices_.size())
        return BASS_ERROR_DEVICE;
    DeviceSlot& slot = devices_[static_cast<size_t>(device)];
    if (slot.output)
        return BASS_ERROR_ALREADY;
    if (!enumerated_ && is_system_output(slot.description))
        return BASS_ERROR_DRIVER; // kept from before the system's devices went away
    if (slot.description.kind == DeviceDescription::Kind::Capture && !slot.capture) {
        auto writer = std::make_unique<WavWriter>();
        if (!writer->create(slot.description.capture_path)) {
            log_line("capture device \"%s\": cannot create %s", slot.description.name.c_str(),
                     slot.description.capture_path.c_str());
            return BASS_ERROR_CREATE;
        }
        slot.capture = std::move(writer);
    }
    int error = BASS_OK;
    slot.output = open_output_device(slot.description, slot.capture.get(), &end_bell_, error);
    if (!slot.output)
        return error;
    current_ = device;
    return BASS_OK;
}

std::shared_ptr<Stream> Engine::detach(std::map<DWORD, std::shared_ptr<Stream>>::iterator it) {
    std::shared_ptr<Stream> s = it->second;
    streams_.erase(it);
    const auto device = static_cast<size_t>(s->device());
    if (device < devices_.size() && devices_[device].output)
        devices_[device].output->mixer().remove(s.get());
    return s;
}

int Engine::free_current() {
    std::vector<std::shared_ptr<Stream>> doomed;
    std::shared_ptr<OutputDevice> closed; // closed outside the mutex: a system output may take a while
    {
        std::lock_guard lock(mutex_);
        ensure_devices();
        if (current_ < 0 || !devices_[static_cast<size_t>(current_)].output)
            return BASS_ERROR_INIT;
        for (auto it = streams_.begin(); it != streams_.end();) {
            auto next = std::next(it);
            if (it->second->device() == current_)
                doomed.push_back(detach(it));
            it = next;
        }
        closed = std::move(devices_[static_cast<size_t>(current_)].output);
        // Nothing of the system's is open any more: the next device call reads its list again.
        if (from_system_ && !system_output_open())
            enumerated_ = false;
    }
    for (auto& s : doomed)
        s->close();
    closed.reset();
    return BASS_OK;
}

int Engine::set_current(DWORD device) {
    std::lock_guard lock(mutex_);
    ensure_devices();
    if (device >= devices_.size())
        return BASS_ERROR_DEVICE;
    if (!devices_[device].output)
        return BASS_ERROR_INIT;
    current_ = static_cast<int>(device);
    return BASS_OK;
}

int Engine::current(DWORD& device) {
    std::lock_guard lock(mutex_);
    if (current_ < 0 || !devices_[static_cast<size_t>(current_)].output)
        return BASS_ERROR_INIT;
    device = static_cast<DWORD>(current_);
    return BASS_OK;
}

int Engine::current_initialised(int& device) {
    std::lock_guard lock(mutex_);
    if (current_ < 0 || !devices_[static_cast<size_t>(current_)].output)
        return BASS_ERROR_INIT;
    device = current_;
    return BASS_OK;
}

int Engine::start_current() {
    std::lock_guard lock(mutex_);
    if (current_ < 0 || !devices_[static_cast<size_t>(current_)].output)
        return BASS_ERROR_INIT;
    return devices_[static_cast<size_t>(current_)].output->start();
}

int Engine::stop_current() {
    std::lock_guard lock(mutex_);
    if (current_ < 0 || !devices_[static_cast<size_t>(current_)].output)
        return BASS_ERROR_INIT;
    return devices_[static_cast<size_t>(current_)].output->stop();
}

int Engine::resume_output(int device) {
    std::lock_guard lock(mutex_);
    if (device < 0 || static_cast<size_t>(device) >= devices_.size() ||
        !devices_[static_cast<size_t>(device)].output)
        return BASS_ERROR_INIT;
    OutputDevice& out = *devices_[static_cast<size_t>(device)].output;
    return out.running() ? BASS_OK : out.start();
}

int Engine::add_stream(const std::shared_ptr<Stream>& stream, HSTREAM& handle) {
    std::lock_guard lock(mutex_);
    const auto device = static_cast<size_t>(stream->device());
    if (device >= devices_.size() || !devices_[device].output)
        return BASS_ERROR_INIT; // the device was freed while the source was opening
    do {
        handle = ++next_handle_;
    } while (handle == 0 || streams_.count(handle));
    stream->set_end_bell(&end_bell_);
    if (!devices_[device].output->mixer().add(stream.get()))
        return BASS_ERROR_MEM;
    streams_[handle] = stream;
    stream->start_decoding();
    return BASS_OK;
}

std::shared_ptr<Stream> Engine::find(DWORD handle) {
    std::lock_guard lock(mutex_);
    const auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second;
}

bool Engine::free_stream(DWORD handle) {
    std::shared_ptr<Stream> s;
    {
        std::lock_guard lock(mutex_);
        const auto it = streams_.find(handle);
        if (it == streams_.end())
            return false;
        s = detach(it);
    }
    s->close();
    return true;
}

void Engine::janitor() {
    pthread_setname_np(pthread_self(), "sl-janitor");
    uint32_t seen = end_bell_.rings();
    std::unique_lock lock(mutex_);
    while (!quit_) {
        // Streams ring when they end; the time limit is only a safety net.
        lock.unlock();
        end_bell_.wait(seen, std::chrono::seconds(1));
        seen = end_bell_.rings();
        lock.lock();
        if (quit_)
            break;
        watch_system(lock);
        if (quit_)
            break;
        std::vector<std::shared_ptr<Stream>> doomed;
        for (auto it = streams_.begin(); it != streams_.end();) {
            auto next = std::next(it);
            if (it->second->autofree() && it->second->ended_by_itself())
                doomed.push_back(detach(it));
            it = next;
        }
        if (doomed.empty())
            continue;
        lock.unlock();
        for (auto& s : doomed)
            s->close();
        doomed.clear();
        lock.lock();
    }
}

} // namespace miravox::soundlib
