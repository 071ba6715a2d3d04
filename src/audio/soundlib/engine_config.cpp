#include "engine_config.h"

#include <algorithm>

namespace miravox::soundlib {

EngineConfig::Slot* EngineConfig::find(DWORD option) {
    for (auto& s : slots_)
        if (s.option == option && option != BASS_CONFIG_NET_AGENT)
            return &s;
    return nullptr;
}

const EngineConfig::Slot* EngineConfig::find(DWORD option) const {
    return const_cast<EngineConfig*>(this)->find(option);
}

bool EngineConfig::set(DWORD option, DWORD value) {
    Slot* s = find(option);
    if (!s)
        return false;
    s->value.store(value);
    return true;
}

std::optional<DWORD> EngineConfig::get(DWORD option) const {
    const Slot* s = find(option);
    if (!s)
        return std::nullopt;
    return s->value.load();
}

void EngineConfig::set_agent(std::string agent) {
    std::lock_guard lock(agent_mutex_);
    agent_ = std::move(agent);
}

std::string EngineConfig::agent() const {
    std::lock_guard lock(agent_mutex_);
    return agent_;
}

int EngineConfig::buffer_ms() const {
    return static_cast<int>(std::min<DWORD>(*get(BASS_CONFIG_BUFFER), 120000));
}

int EngineConfig::net_buffer_ms() const {
    return static_cast<int>(std::min<DWORD>(*get(BASS_CONFIG_NET_BUFFER), 120000));
}

int EngineConfig::net_timeout_ms() const {
    DWORD v = *get(BASS_CONFIG_NET_TIMEOUT);
    return v == 0 ? 5000 : static_cast<int>(std::min<DWORD>(v, 3600000));
}

int EngineConfig::net_read_timeout_ms() const {
    return static_cast<int>(std::min<DWORD>(*get(BASS_CONFIG_NET_READTIMEOUT), 3600000));
}

int EngineConfig::net_prebuf_percent() const {
    return static_cast<int>(std::min<DWORD>(*get(BASS_CONFIG_NET_PREBUF), 100));
}

bool EngineConfig::net_playlist() const {
    return *get(BASS_CONFIG_NET_PLAYLIST) != 0;
}

EngineConfig& config() {
    static EngineConfig instance;
    return instance;
}

} // namespace miravox::soundlib
