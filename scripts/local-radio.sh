# Shell functions for a local internet radio: Debian's icecast2 on 127.0.0.1 fed by the ffmpeg CLI.
# Sourced by scripts/run and bench/peers.sh; every process started here is started in the
# background and its pid handed back, so the caller stops it (radio_stop) in its EXIT trap.

radio_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# True when something accepts connections on 127.0.0.1:PORT.
radio_listening() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Prints PREFERRED when nothing listens there, else the first free port from 20000 up.
radio_free_port() {
  local port=${1:-8765}
  if radio_listening "$port"; then
    port=20000
    while radio_listening "$port"; do port=$((port + 1)); done
  fi
  echo "$port"
}

# Waits up to SECONDS (default 10) for PORT to accept connections.
radio_wait_port() {
  local port=$1 tries=$((${2:-10} * 10))
  while ! radio_listening "$port"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

# Starts icecast2 with its own configuration in DIR; sets RADIO_ICECAST_PID.
radio_start_icecast() { # DIR PORT PASSWORD
  "$radio_scripts/icecast-local" "$1" "$2" "$3" >"$1.out" 2>&1 &
  RADIO_ICECAST_PID=$!
  if ! radio_wait_port "$2" 10; then
    echo "icecast2 did not start on 127.0.0.1:$2:" >&2
    tail -n 5 "$1.out" >&2
    radio_stop "$RADIO_ICECAST_PID"
    return 1
  fi
}

# Feeds MOUNT with a generated MP3 stream named NAME; sets RADIO_SOURCE_PID.
# GRAPH is an ffmpeg lavfi source (default: 440 Hz with a beep every second).
radio_start_source() { # PORT PASSWORD MOUNT NAME [GRAPH]
  local graph=${5:-sine=frequency=440:beep_factor=2:sample_rate=44100}
  ffmpeg -nostdin -hide_banner -loglevel error -re -f lavfi -i "$graph" \
    -ac 2 -c:a libmp3lame -b:a 128k -content_type audio/mpeg -ice_name "$4" \
    -f mp3 "icecast://source:$2@127.0.0.1:$1$3" &
  RADIO_SOURCE_PID=$!
}

# True while PID runs (a finished child that was not waited for yet counts as ended).
radio_alive() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

# Stops each PID (TERM, then KILL after 5 s) and waits for it where it is a child of this shell.
radio_stop() {
  local pid
  for pid in "$@"; do
    [ -n "$pid" ] && radio_alive "$pid" || { wait "$pid" 2>/dev/null || true; continue; }
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      radio_alive "$pid" || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
