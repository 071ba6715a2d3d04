#!/usr/bin/env bash
# Miravox against its peers, side by side in one run, on a local icecast2 fed by the ffmpeg CLI:
#
#   bench/peers.sh [MINUTES]        (default 5)
#
# 1. Relay cost. For MINUTES, at the same time and from the same mount: miravox relaying the
#    stream on a silent device (a stream window, offscreen), Liquidsoap 2 relaying it with a
#    fallback to the same music folder into a dummy output, and the ffmpeg CLI decoding it
#    (ffmpeg -i URL -f null -). Reported per process: CPU over the measured minutes (% of one
#    core), whole-process CPU seconds since its start, and peak resident memory (VmHWM).
# 2. Failover. miravox (capture device) and Liquidsoap (WAV file) record what they air while
#    the source is killed, brought back 12 s later, and later icecast2 itself is frozen
#    (SIGSTOP, connections left open) for 20 s. The recordings are cut at the moments of each
#    event (their sizes then) and the tones tell: seconds until local music was on air, the
#    longest silence before it, seconds from the source's return until the stream was back,
#    and for miravox the reopen delay after the drop from its operation log.
#
# scripts/install-deps installs what is missing (liquidsoap too). Builds miravox in MIRAVOX_BUILD_DIR (default build).
# Everything started here is stopped when the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
minutes=${1:-5}

scripts/install-deps
build=${MIRAVOX_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target miravox -j"$(nproc)" >/dev/null
miravox=$(cd "$build" && pwd)/src/app/miravox

# shellcheck source=../scripts/local-radio.sh
. scripts/local-radio.sh
work=$(mktemp -d)
pids=()
icecast_pid=""
cleanup() {
  trap - EXIT INT TERM
  [ -n "$icecast_pid" ] && kill -CONT "$icecast_pid" 2>/dev/null || true
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do radio_stop "${pids[$i]}"; done
  radio_stop "${RADIO_SOURCE_PID:-}" "$icecast_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

g++ -std=c++20 -O2 -o "$work/tone_timeline" bench/tone_timeline.cpp

stream_hz=440
music_hz=330,392,523,587,698
port=$(radio_free_port 8790)
password=bench-$RANDOM
radio_start_icecast "$work/icecast" "$port" "$password"
icecast_pid=$RADIO_ICECAST_PID
start_source() { radio_start_source "$port" "$password" /radio.mp3 "Radio Bench" "sine=frequency=$stream_hz:sample_rate=44100"; }
start_source
url="http://127.0.0.1:$port/radio.mp3"
radio_wait_port "$port" 5

# One station for miravox; Liquidsoap falls back to the same music folder. A Wednesday window
# from 12:00, the program's clock starting 3 s before it; no jingles, no commercial.
station=$work/station
scripts/demo-station "$station" --link "$url" --date 2026-01-07 --start 12:00 --minutes 50 \
  --tracks 5 --track-seconds 10 >/dev/null
printf '|12:00|12:50|%s|STREAMING|100|||0|0||\r\n' "$url" >"$station/DADOS/04.WEB"
rm -f "$station/DADOS/04.DSP"
oplog=$station/LOGS/20260107.NET

start_miravox() { # DEVICES
  rm -f "$station"/LOGS/*
  MIRAVOX_HOME=$station MIRAVOX_CLOCK_START=2026-01-07T11:59:57 MIRAVOX_AUDIO_DEVICES=$1 \
    QT_QPA_PLATFORM=offscreen "$miravox" 2>"$work/miravox.err" &
  miravox_pid=$!
  pids+=("$miravox_pid")
}
start_liquidsoap() { # OUTPUT (a Liquidsoap output of the source "relay")
  cat >"$work/relay.liq" <<EOF
settings.init.allow_root.set(true)
settings.log.stdout.set(false)
settings.log.file.set(false)
relay = mksafe(fallback([input.http("$url"), playlist(mode="randomize", "$station/MUSICAS")]))
$1
EOF
  liquidsoap "$work/relay.liq" >>"$work/liquidsoap.out" 2>&1 &
  liquidsoap_pid=$!
  pids+=("$liquidsoap_pid")
}
log_has() { iconv -f WINDOWS-1252 -t UTF-8 "$oplog" 2>/dev/null | grep -c "$1" || true; }
wait_log() { # TEXT COUNT SECONDS
  for _ in $(seq $(($3 * 2))); do
    [ "$(log_has "$1")" -ge "$2" ] && return 0
    sleep 0.5
  done
  echo "miravox did not log \"$1\" in $3 s" >&2
  return 1
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
peak_kib() { awk '/^VmHWM/ { print $2 }' "/proc/$1/status"; }
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
hz=$(getconf CLK_TCK)

# ---- 1. relay cost -------------------------------------------------------------------------
echo "Relay cost: miravox, Liquidsoap and ffmpeg on $url for $minutes min..."
start_miravox "silent:TRANSMISSAO;silent:ESCUTA"
start_liquidsoap "output.dummy(relay)"
ffmpeg -nostdin -hide_banner -loglevel error -i "$url" -f null - &
ffmpeg_pid=$!
pids+=("$ffmpeg_pid")
wait_log "Conectado à" 1 30
sleep 10
declare -A cpu0
for p in miravox liquidsoap ffmpeg; do
  pid_var=${p}_pid
  cpu0[$p]=$(cpu_ticks "${!pid_var}")
done
t0=$(date +%s.%N)
sleep $((minutes * 60))
t1=$(date +%s.%N)
declare -A pct total peak
for p in miravox liquidsoap ffmpeg; do
  pid_var=${p}_pid
  c1=$(cpu_ticks "${!pid_var}")
  pct[$p]=$(awk -v a="${cpu0[$p]}" -v b="$c1" -v hz="$hz" -v t0="$t0" -v t1="$t1" \
    'BEGIN { printf "%.2f", 100 * (b - a) / hz / (t1 - t0) }')
  total[$p]=$(awk -v b="$c1" -v hz="$hz" 'BEGIN { printf "%.2f", b / hz }')
  peak[$p]=$(awk -v k="$(peak_kib "${!pid_var}")" 'BEGIN { printf "%.1f", k / 1024 }')
done
[ "$(log_has "DESCONECTADO")" -eq 0 ] || echo "warning: miravox lost the stream during the measurement" >&2
for pid in "$ffmpeg_pid" "$liquidsoap_pid" "$miravox_pid"; do radio_stop "$pid"; done
pids=()

# ---- 2. failover ---------------------------------------------------------------------------
echo "Failover: killing the source, bringing it back, freezing icecast2..."
mwav=$work/miravox.wav lwav=$work/liquidsoap.wav
start_miravox "capture:TRANSMISSAO:$mwav;silent:ESCUTA"
start_liquidsoap "output.file(%wav, flush=true, \"$lwav\", relay)"
wait_log "Conectado à" 1 30
sleep 15
marks() { echo "$1=$(size_of "$mwav") $1=$(size_of "$lwav")"; }

read -r m_death l_death <<<"$(marks death)"
kill -KILL "$RADIO_SOURCE_PID"
wait "$RADIO_SOURCE_PID" 2>/dev/null || true
sleep 12
start_source
read -r m_return l_return <<<"$(marks return)"
# miravox reopens about 30 s after the drop, then waits for the end of the local track.
wait_log "Conectado à" 2 90 || true
sleep 15

read -r m_stall l_stall <<<"$(marks stall)"
kill -STOP "$icecast_pid"
sleep 20
kill -CONT "$icecast_pid"
read -r m_resume l_resume <<<"$(marks resume)"
stalled_recorded() { # bytes recorded while frozen, in seconds
  awk -v a="${1#*=}" -v b="${2#*=}" 'BEGIN { printf "%.1f", (b - a) / 176400 }'
}
m_frozen=$(stalled_recorded "$m_stall" "$m_resume")
l_frozen=$(stalled_recorded "$l_stall" "$l_resume")
sleep 60
radio_stop "$liquidsoap_pid" "$miravox_pid"
pids=()

reopen=$(iconv -f WINDOWS-1252 -t UTF-8 "$oplog" | awk -F'|' '
  function secs(t) { split(t, a, ":"); return a[1] * 3600 + a[2] * 60 + a[3] }
  /DESCONECTADO/ && !drop { drop = secs($2) }
  /Iniciando Play \(WEB\)/ && drop && !back { back = secs($2) }
  END { print (drop && back) ? back - drop : -1 }')

analyse() { # WAV MARKS...
  "$work/tone_timeline" "$1" "$stream_hz" "$music_hz" "${@:2}" || tail -n 5 "$work/liquidsoap.out" "$work/miravox.err" >&2
}
declare -A fig
while read -r name key value; do fig[m.$name.$key]=$value; done \
  < <(analyse "$mwav" "$m_death" "$m_return" "$m_stall" "$m_resume")
while read -r name key value; do fig[l.$name.$key]=$value; done \
  < <(analyse "$lwav" "$l_death" "$l_return" "$l_stall" "$l_resume")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

cat <<EOF

Relay of $url for $minutes min, side by side ($(nproc) cores, $(date +%F)):

| Process | CPU over $minutes min (% of a core) | whole-process CPU (s) | peak memory (MiB) |
|---|---|---|---|
| miravox (silent device, offscreen) | ${pct[miravox]} | ${total[miravox]} | ${peak[miravox]} |
| Liquidsoap $(liquidsoap --version | head -1 | awk '{ print $2 }') (fallback to the music folder, dummy output) | ${pct[liquidsoap]} | ${total[liquidsoap]} | ${peak[liquidsoap]} |
| ffmpeg CLI (-f null) | ${pct[ffmpeg]} | ${total[ffmpeg]} | ${peak[ffmpeg]} |

Ratios: miravox/Liquidsoap CPU $(ratio "${pct[miravox]}" "${pct[liquidsoap]}"), memory $(ratio "${peak[miravox]}" "${peak[liquidsoap]}");
miravox/ffmpeg CPU $(ratio "${pct[miravox]}" "${pct[ffmpeg]}"), memory $(ratio "${peak[miravox]}" "${peak[ffmpeg]}").

Failover, from the recordings (seconds; -1 = did not happen):

| Event | miravox | Liquidsoap |
|---|---|---|
| source killed: stream still heard after it | ${fig[m.death.stream_tail]} | ${fig[l.death.stream_tail]} |
| source killed: local music on air after | ${fig[m.death.to_music]} | ${fig[l.death.to_music]} |
| source killed: longest silence before the music | ${fig[m.death.silence]:-n/a} | ${fig[l.death.silence]:-n/a} |
| source back (12 s after its death): stream on air after | ${fig[m.return.to_stream]} | ${fig[l.return.to_stream]} |
| miravox: drop logged to reopen attempt (operation log) | $reopen | |
| icecast2 frozen: local music on air after | ${fig[m.stall.to_music]} | ${fig[l.stall.to_music]} |
| icecast2 frozen: longest silence before the music | ${fig[m.stall.silence]:-n/a} | ${fig[l.stall.silence]:-n/a} |
| icecast2 frozen for 20 s: seconds of audio recorded meanwhile | $m_frozen | $l_frozen |
| icecast2 thawed: stream on air after | ${fig[m.resume.to_stream]} | ${fig[l.resume.to_stream]} |
EOF
