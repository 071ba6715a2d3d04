#pragma once
// Output devices: a PortAudio output, or a virtual device paced by its own clock thread
// (silent: mixes and discards; capture: mixes and appends to a WAV file). Each owns the mixer
// of the streams that play on it.
// Thread rules: construction, start(), stop() and destruction on control threads (the engine
// serialises them); the mixer is driven by the device's own output thread.

#include "mixer.h"
#include "wav_writer.h"

#include <memory>
#include <string>
#include <vector>

namespace miravox::soundlib {

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
    // Called about once a second: an output that the system took away while it should play (a
    // sound server that restarted, a card unplugged) is opened again, so its streams go on.
    virtual void keep_alive() {}

  protected:
    Mixer mixer_;
};

// Opens and starts the output of `desc`. `capture` is the WAV file of a capture device (owned by
// the caller, kept across re-initialisations). Returns nullptr and sets `error` on failure. A
// failing device counts its initialisations in `desc`.
std::unique_ptr<OutputDevice> open_output_device(DeviceDescription& desc, WavWriter* capture, int& error);

// The device list: entry 0 "No sound", then the virtual devices of MIRAVOX_AUDIO_DEVICES when it
// names any, else the system default and every PortAudio output (a silent device when there is
// none). `from_system` tells which: only the system's list can change while the program runs.
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
bool portaudio_acquire();
void portaudio_shutdown();

} // namespace miravox::soundlib
