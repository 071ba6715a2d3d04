#!/usr/bin/env bash
# The package on a clean machine: a minimal Debian 12 root (debootstrap --variant=minbase, made
# once and kept as a tarball beside the package), the package installed into a fresh copy of it
# with apt, then from the installed files:
#   - the units checked by systemd-analyze verify against that root;
#   - miravox --version;
#   - a short offscreen demo station run as the system user "miravox", with a notify socket as
#     systemd would give it: READY, STATUS and watchdog pings arrive, the verdict of a watchdog
#     kill left by --fim-servico is logged at the start, the window opens with its jingle and
#     the stream, sound reaches the capture device, SIGTERM says STOPPING and ends it cleanly.
#
#   tests/package/install_test.sh [DEB]     (default: the newest build-package/miravox_*.deb)
#
# Needs root (chroot, mounts in a private mount namespace) and the Debian mirror apt uses.
# Environment: MIRAVOX_PACKAGE_DIR (default build-package), MIRAVOX_DEBIAN_MIRROR.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
out=${MIRAVOX_PACKAGE_DIR:-build-package}
out=$(cd "$out" && pwd)
deb=${1:-$(ls -t "$out"/miravox_*.deb | head -1)}
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
mirror=${MIRAVOX_DEBIAN_MIRROR:-$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)}
mirror=${mirror:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || { echo "install_test: needs root (chroot)" >&2; exit 1; }

t0=$(date +%s)
stamp() { echo "[$(($(date +%s) - t0)) s] $*"; }
fail() { echo "install_test: FAILED: $*" >&2; exit 1; }

# The clean root: made once, then unpacked fresh for every run.
cache="$out/clean-root-bookworm.tar"
if [ ! -s "$cache" ]; then
    stamp "debootstrap --variant=minbase bookworm ($mirror)"
    rm -rf "$out/debootstrap"
    debootstrap --variant=minbase bookworm "$out/debootstrap" "$mirror" >"$out/debootstrap.log" 2>&1 ||
        { tail -20 "$out/debootstrap.log" >&2; fail "debootstrap"; }
    tar -C "$out/debootstrap" -cf "$cache.part" . && mv "$cache.part" "$cache"
    rm -rf "$out/debootstrap"
fi
root="$out/root"
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$cache"
stamp "clean root unpacked"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
# Downloaded packages are kept for the next run (a second run on one machine downloads nothing).
mkdir -p "$out/apt-archives/partial"

# Mounts live in a mount namespace of their own and go with it.
in_root() {
    unshare --mount --fork -- bash -c '
        set -e
        root=$1; shift
        mount --rbind /dev "$root/dev"
        mount -t proc proc "$root/proc"
        mount -t tmpfs tmpfs "$root/run"
        mount --bind "$root/../apt-archives" "$root/var/cache/apt/archives"
        exec chroot "$root" "$@"' in_root "$root" "$@"
}

export DEBIAN_FRONTEND=noninteractive
in_root apt-get update -qq >"$out/install.log" 2>&1 || { cat "$out/install.log" >&2; fail "apt-get update"; }
in_root apt-get install -y -q "/tmp/$(basename "$deb")" >>"$out/install.log" 2>&1 ||
    { tail -30 "$out/install.log" >&2; fail "apt install"; }
stamp "installed with apt ($(grep -m1 -o '[0-9]* newly installed' "$out/install.log"))"

version=$(in_root miravox --version)
[ "$version" = "miravox $(dpkg-deb -f "$deb" Version | sed 's/-[^-]*$//')" ] || fail "--version said '$version'"
stamp "$version"
for f in /usr/bin/miravox /usr/share/man/man1/miravox.1.gz /usr/share/applications/miravox.desktop \
    /lib/systemd/system/miravox@.service /usr/lib/systemd/user/miravox@.service; do
    [ -e "$root$f" ] || fail "$f is not installed"
done
# The README and the station's guide (dh_compress leaves files under 4 KiB as they are).
for f in /usr/share/doc/miravox/README.md /usr/share/doc/miravox/docs/station.md; do
    [ -e "$root$f" ] || [ -e "$root$f.gz" ] || fail "$f is not installed"
done
in_root getent passwd miravox >/dev/null || fail "no system user miravox"

systemd-analyze verify --root="$root" --man=no /lib/systemd/system/miravox@demo.service ||
    fail "systemd-analyze verify (system unit)"
# verify takes no --root for user units: the user unit's text is checked as a system unit.
cp "$root/usr/lib/systemd/user/miravox@.service" "$root/etc/systemd/system/miravox-user@.service"
systemd-analyze verify --root="$root" --man=no /etc/systemd/system/miravox-user@demo.service ||
    fail "systemd-analyze verify (user unit)"
rm "$root/etc/systemd/system/miravox-user@.service"
stamp "units verified"

# The demo station, as the system unit would have it: /var/lib/miravox/demo, owned by miravox.
# Its window opens 4 s after the program's clock starts.
home=/var/lib/miravox/demo
now=$(date +%s)
open=$(((now / 60 + 1) * 60))
[ "$(date -d "@$((open + 120))" +%F)" = "$(date -d "@$open" +%F)" ] || open=$(date -d "$(date +%F) 12:00" +%s)
port=$(("$(date +%s%N)" % 20000 + 30000))
ffmpeg -nostdin -hide_banner -loglevel error -re -f lavfi -i sine=frequency=440:sample_rate=44100 -ac 2 \
    -c:a libmp3lame -b:a 128k -f mp3 -listen 1 "http://127.0.0.1:$port/radio.mp3" 2>"$out/server.log" &
server=$!
listener=""
cleanup() {
    kill "$server" ${listener:+"$listener"} 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
scripts/demo-station "$root$home" --link "http://127.0.0.1:$port/radio.mp3" --date "$(date -d "@$open" +%F)" \
    --start "$(date -d "@$open" +%H:%M)" --minutes 2 --tracks 1 --track-seconds 5 >/dev/null
sed -i "s#$root##g" "$root$home"/DADOS/0?.WEB "$root$home"/DADOS/0?.DSP
in_root chown -R miravox:miravox "$home"

# What systemd's stop command would have left after a watchdog kill.
in_root env MIRAVOX_HOME="$home" SERVICE_RESULT=watchdog EXIT_CODE=killed EXIT_STATUS=ABRT \
    setpriv --reuid=miravox --regid=miravox --init-groups miravox --fim-servico || fail "--fim-servico"

# systemd's side of the notify socket.
/usr/bin/python3 - "$root/run/notify" 30 >"$out/notify.txt" <<'PY' &
import os, socket, sys, time
path, limit = sys.argv[1], float(sys.argv[2])
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(path)
os.chmod(path, 0o777)
s.settimeout(0.2)
end = time.time() + limit
start = time.time()
while time.time() < end:
    try:
        data = s.recv(4096).decode()
    except socket.timeout:
        continue
    print("%.2f %s" % (time.time() - start, data.replace("\n", "|")), flush=True)
    if "STOPPING=1" in data:
        break
PY
listener=$!
for _ in $(seq 50); do [ -S "$root/run/notify" ] && break; sleep 0.1; done
[ -S "$root/run/notify" ] || fail "notify socket"

# The program in the clean root, as the unit runs it (the run folder is shared with the listener).
unshare --mount --fork -- bash -c '
    root=$1; shift
    mount --rbind /dev "$root/dev"
    mount -t proc proc "$root/proc"
    exec chroot "$root" "$@"' run "$root" \
    env -i PATH=/usr/bin:/bin HOME=/var/lib/miravox MIRAVOX_HOME="$home" QT_QPA_PLATFORM=offscreen \
    XDG_RUNTIME_DIR=/tmp NOTIFY_SOCKET=/run/notify WATCHDOG_USEC=2000000 \
    MIRAVOX_CLOCK_START="$(date -d "@$((open - 4))" +%Y-%m-%dT%H:%M:%S)" \
    MIRAVOX_AUDIO_DEVICES="capture:TRANSMISSAO:$home/air.wav;silent:ESCUTA" \
    setpriv --reuid=miravox --regid=miravox --init-groups miravox >"$out/run.log" 2>&1 &
program=$!
sleep 14
# unshare --fork leaves the program (each command execs the next) as its child.
pkill -TERM -P "$program" -x miravox || fail "the program is not running"
code=0
wait "$program" || code=$?
wait "$listener" || true
stamp "demo ran 14 s, ended with $code"
cat "$out/notify.txt"
log=$(ls "$root$home"/LOGS/*.NET)
iconv -f cp1252 -t utf-8 "$log" >"$out/operation-log.txt"
tail -n 25 "$out/operation-log.txt"

[ "$code" -eq 0 ] || fail "the program ended with $code after SIGTERM"
grep -q '^0\.[0-9]* READY=1|STATUS=\|^[0-9.]* READY=1|STATUS=' "$out/notify.txt" || fail "no READY=1"
[ "$(grep -c 'WATCHDOG=1' "$out/notify.txt")" -ge 5 ] || fail "fewer than 5 watchdog pings in 14 s"
grep -q 'STOPPING=1' "$out/notify.txt" || fail "no STOPPING=1"
grep -q 'SERVIÇO: REINICIADO APÓS WATCHDOG (watchdog, killed ABRT)' "$out/operation-log.txt" ||
    fail "the watchdog restart is not in the operation log"
grep -q 'ACIONAMENTO' "$out/operation-log.txt" || fail "the window did not open"
grep -q 'SERVIÇO: PARADA PEDIDA PELO SISTEMA (SIGTERM)' "$out/operation-log.txt" || fail "SIGTERM not logged"
/usr/bin/python3 - "$root$home/air.wav" <<'PY' || fail "nothing audible on the capture device"
import array, sys, wave
w = wave.open(sys.argv[1])
frames = w.readframes(w.getnframes())
samples = array.array("h", frames)
peak = max((abs(s) for s in samples), default=0)
print("capture: %.1f s, peak %d" % (w.getnframes() / w.getframerate(), peak))
sys.exit(0 if peak > 1000 else 1)
PY
stamp "passed"
