#pragma once
// The process-wide engine: the device list and the initialised devices, the current device, the
// table of stream handles, and a janitor thread that frees BASS_STREAM_AUTOFREE streams that
// ended by themselves and watches the system's outputs.
// The system's device list is read again (PortAudio started anew) at the first device call after
// the last system output was freed, so that a re-initialisation finds a sound server that
// restarted or a card plugged in since; device 1 stays the system default. When that reading
// finds the system's devices away (its sound server is down, or PortAudio is busy), the device
// calls keep the previous list and fail at once, and the janitor reads the list again every
// couple of seconds; the first device call after it found devices takes its list.
// The janitor also opens again the outputs the system took away. It does both outside the
// engine's mutex, since either may block as long as a half-started sound server makes it: the
// device calls never wait for it.
// Thread rules: every member may be called from any thread; one mutex guards devices and the
// handle table, and is never taken by output threads nor held across a network open, a
// decoder-thread join or the janitor's work on the system's devices.

#include "doorbell.h"
#include "output_device.h"
#include "stream.h"
#include "wav_writer.h"

#include "soundlib.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace miravox::soundlib {

class Engine {
  public:
    static Engine& instance();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Devices. Each returns an engine error code.
    int device_info(DWORD device, BASS_DEVICEINFO& info);
    int init(int device);
    int free_current();
    int set_current(DWORD device);
    int current(DWORD& device);
    int start_current();
    int stop_current();
    // The current device when it is initialised (else BASS_ERROR_INIT).
    int current_initialised(int& device);

    // Streams.
    int add_stream(const std::shared_ptr<Stream>& stream, HSTREAM& handle);
    std::shared_ptr<Stream> find(DWORD handle);
    bool free_stream(DWORD handle);
    // BASS_ChannelPlay restarts an output that BASS_Stop silenced.
    int resume_output(int device);

  private:
    struct DeviceSlot {
        DeviceDescription description;
        std::unique_ptr<WavWriter> capture; // kept across re-initialisations: captures append
        // Shared with the janitor while it opens the output again; a device freed meanwhile
        // is closed by whichever lets go of it last.
        std::shared_ptr<OutputDevice> output;
    };

    Engine();
    void ensure_devices();                                                                 // mutex held
    void take_list(std::vector<DeviceDescription> fresh);                                  // mutex held
    void system_away();                                                                    // mutex held
    bool system_output_open() const;                                                       // mutex held
    void watch_system(std::unique_lock<std::mutex>& lock);                                 // janitor
    std::shared_ptr<Stream> detach(std::map<DWORD, std::shared_ptr<Stream>>::iterator it); // mutex held
    void janitor();

    std::mutex mutex_;
    bool enumerated_ = false;
    bool from_system_ = false; // the list is the system's (not MIRAVOX_AUDIO_DEVICES)
    bool away_ = false;        // the last reading found none of the system's devices: the janitor reads
    std::optional<std::vector<DeviceDescription>> fresh_; // read by the janitor, not yet taken
    std::chrono::steady_clock::time_point next_reading_{};
    std::vector<DeviceSlot> devices_;
    int current_ = -1;
    std::map<DWORD, std::shared_ptr<Stream>> streams_;
    DWORD next_handle_ = 0x10000;

    Doorbell end_bell_; // rung by streams that end by themselves
    bool quit_ = false;
    std::thread janitor_;
};

} // namespace miravox::soundlib
