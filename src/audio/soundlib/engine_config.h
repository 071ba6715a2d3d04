#pragma once
// Engine-wide options set through BASS_SetConfig / BASS_SetConfigPtr.
// Thread rules: any thread may read or write; values are atomics, the agent text is locked.

#include "soundlib.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace miravox::soundlib {

class EngineConfig {
  public:
    // Returns false for an option the engine does not know.
    bool set(DWORD option, DWORD value);
    std::optional<DWORD> get(DWORD option) const;

    void set_agent(std::string agent);
    std::string agent() const;

    // Helpers with the defaults applied.
    int buffer_ms() const;
    int net_buffer_ms() const;
    int net_timeout_ms() const;      // 0 means the default of 5000 ms
    int net_read_timeout_ms() const; // 0 = no limit
    int net_prebuf_percent() const;
    bool net_playlist() const;

  private:
    struct Slot {
        DWORD option;
        std::atomic<DWORD> value;
    };
    Slot* find(DWORD option);
    const Slot* find(DWORD option) const;

    Slot slots_[15] = {
        {BASS_CONFIG_BUFFER, 500},       {BASS_CONFIG_UPDATEPERIOD, 100},
        {BASS_CONFIG_NET_TIMEOUT, 5000}, {BASS_CONFIG_NET_BUFFER, 5000},
        {BASS_CONFIG_NET_PREBUF, 0},     {BASS_CONFIG_NET_PROXY, 0},
        {BASS_CONFIG_NET_PASSIVE, 1},    {BASS_CONFIG_REC_BUFFER, 2000},
        {BASS_CONFIG_NET_PLAYLIST, 0},   {BASS_CONFIG_UPDATETHREADS, 1},
        {BASS_CONFIG_DEV_DEFAULT, 0},    {BASS_CONFIG_NET_READTIMEOUT, 0},
        {BASS_CONFIG_DEV_NONSTOP, 0},    {BASS_CONFIG_WMA_PREBUF, 1},
        {BASS_CONFIG_NET_AGENT, 0}, // placeholder slot: the agent itself is text
    };
    mutable std::mutex agent_mutex_;
    std::string agent_ = "Miravox";
};

EngineConfig& config();

} // namespace miravox::soundlib
