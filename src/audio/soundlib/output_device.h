#pragma once
// Output devices: a PortAudio output, or a virtual device paced by its own clock thread
// (silent: mixes and discards; capture: mixes and appends to a WAV file). Each owns the mixer
// of the streams that play on it.
// Thread rules: construction, start(), stop(), running() and destruction on control threads
// (the engine serialises them, under its lock); keep_alive() on the engine's watch thread, outside
// that lock and at the same time as the others: start(), stop() and running() never wait for it.
// The mixer is driven by the device's own output thread.

#include "mixer.h"
#include "wav_writer.h"

#include <memory>
#include <string>
#include <vector>

namespace miravox::soundlib {

class Doorbell;

struct DeviceDescription {
    enum class Kind { NoSound, Silent, Capture, PortAudio, Failing };
    std::string name;
    std::string driver;
    Kind kind = Kind::Silent;
    int portaudio_index = -1; // -1: the system default output
    std::string capture_path;
    bool is_default = false;
    // A failing device initialises (as a silent one) this many more times, then never again.
    int inits_left = 0;
};

class OutputDevice {
  public:
    virtual ~OutputDevice() = default;
    Mixer& mixer() { return mixer_; }
    // Engine error code (0 on success).
    virtual int start() = 0;
    virtual int stop() = 0;
    virtual bool running() const = 0;
    // Whether the system took the output away while it should play (a sound server that
    // restarted, a card unplugged): keep_alive() then opens it again.
    virtual bool lost() const { return false; }
    // Called by the watch thread about once a second while lost(), and at once when start()
    // finds the output lost. May block as long as the system takes to open a device.
    virtual void keep_alive() {}

  protected:
    Mixer mixer_;
};

// Opens and starts the output of `desc`. `capture` is the WAV file of a capture device (owned by
// the caller, kept across re-initialisations). Returns nullptr and sets `error` on failure. A
// failing device counts its initialisations in `desc`. A PortAudio output is opened only when
// PortAudio's lock is free (see PortAudioLock), else BASS_ERROR_DRIVER at once, as for a device
// that is away; `watch` is rung when it finds itself lost, so that it is opened again soon.
std::unique_ptr<OutputDevice> open_output_device(DeviceDescription& desc, WavWriter* capture, Doorbell* watch,
                                                 int& error);

// The device list: entry 0 "No sound", then the virtual devices of MIRAVOX_AUDIO_DEVICES when it
// names any, else the system default and every PortAudio output (a silent device when there is
// none). `from_system` tells which: only the system's list can change while the program runs.
// Reading the system's list needs PortAudio's lock held exclusively.
std::vector<DeviceDescription> enumerate_devices(bool& from_system);

// Parses a MIRAVOX_AUDIO_DEVICES value. Bad entries are reported on stderr and skipped.
std::vector<DeviceDescription> parse_virtual_devices(const std::string& spec);

// How many times faster than real time the virtual devices play, so that a simulated run (the
// program clock N times as fast, MIRAVOX_CLOCK_RATE=N) hears its files at the clock's pace: N,
// or 1 when unset or not a number in (0, 10000]. Read once. Real devices always play in real time.
double playback_rate();

// PortAudio is initialised on first use (with the ALSA/JACK start-up noise silenced) and
// terminated by portaudio_shutdown() once no PortAudio stream is open; the next use then finds
// the system's devices as they are now.
//
// PortAudio's lock: starting and ending PortAudio and reading its device list take it alone;
// opening and closing streams take it shared. Against a sound server that is half started any
// of these may block for long, so a thread that must not wait (the program's main thread) only
// tries it (`wait` false) and takes "busy" as "the system's devices are away right now".
class PortAudioLock {
  public:
    enum class Mode { Exclusive, Shared };
    PortAudioLock(Mode mode, bool wait);
    ~PortAudioLock();
    PortAudioLock(const PortAudioLock&) = delete;
    PortAudioLock& operator=(const PortAudioLock&) = delete;
    bool held() const { return held_; }

  private:
    Mode mode_;
    bool held_ = false;
};

// Both need PortAudio's lock held exclusively. portaudio_shutdown() ends PortAudio only when no
// stream is open on it (false otherwise: one is still being closed).
bool portaudio_acquire();
bool portaudio_shutdown();

} // namespace miravox::soundlib
