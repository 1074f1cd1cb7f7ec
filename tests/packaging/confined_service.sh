#!/usr/bin/env bash
# Runs the built program as packaging/tidewell.service would, as far as this machine allows
# without systemd: an unprivileged user with the unit's supplementary group, ambient
# capabilities, bounding set, no-new-privileges and umask; /proc mounted as ProtectProc= and
# ProcSubset= ask; the unit's DevicePolicy=closed and DeviceAllow= classes through the cgroup v1
# device controller, where there is one; in a network namespace of its own. It must read GPS
# time from a pseudo-terminal, send frames to 127.0.0.1 and get real-time priority with its
# memory locked. Not checked here, for want of systemd: SystemCallFilter=,
# RestrictAddressFamilies=, MemoryDenyWriteExecute=, LockPersonality=, RestrictNamespaces=,
# RestrictSUIDSGID= (seccomp filters systemd builds), ProtectSystem=, ProtectHome=, PrivateTmp=,
# ProtectKernel*=, ProtectControlGroups=, ProtectHostname=, StateDirectory=; and the clock
# itself, which no test sets (--no-set-clock), beyond CAP_SYS_TIME being in effect.
# Usage: confined_service.sh UNIT TIDEWELL NMEA-SIM SYNC-LISTEN
set -euo pipefail
unit=$1 tidewell=$2 sim=$3 listen=$4
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to switch users and make namespaces"
unshare -n -m -p -f --mount-proc true 2>/dev/null || skip "no network, mount or PID namespace"

directive() { sed -n "s/^$1=//p" "$unit"; }
setprivCaps() { directive "$1" | tr 'A-Z ' 'a-z\n' | sed 's/^cap_/+/' | paste -sd,; }
caps=$(setprivCaps AmbientCapabilities)
[ "$caps" = "$(setprivCaps CapabilityBoundingSet)" ] && [ "$(directive NoNewPrivileges)" = yes ] ||
    { echo "the unit's ambient and bounding capabilities differ, or privileges may grow"; exit 1; }
group=$(getent group "$(directive SupplementaryGroups)" | cut -d: -f3) || skip "no group $(directive SupplementaryGroups)"
user=61874 # any unused ID: the unit's own user need not exist here
dir=$(mktemp -d)
devices=/sys/fs/cgroup/devices/tidewell-confined-$$
trap 'rmdir "$devices" 2>/dev/null; rm -rf "$dir"' EXIT
chown $user:$user "$dir"
# libfaketime, when preloaded, starts only in the process that already is the user: one that
# began as root keeps its PID, and with it root's time segment, which the user cannot open.
asService() { LD_PRELOAD= setpriv --reuid=$user --regid=$user --groups="$group" --inh-caps="$caps" \
    --ambient-caps="$caps" --bounding-set=-all,"$caps" --no-new-privs \
    env ${LD_PRELOAD:+LD_PRELOAD="$LD_PRELOAD"} "$@"; }
export -f asService
export user group caps dir sim tidewell listen devices umask=$(directive UMask)
if [ -e /sys/fs/cgroup/devices/devices.allow ] && [ "$(directive DevicePolicy)" = closed ]; then
    # What systemd allows under DevicePolicy=closed, then each class's major from /proc/devices.
    allow=(c\ 1:3\ rw c\ 1:5\ rw c\ 1:7\ rw c\ 1:8\ rw c\ 1:9\ rw)
    for class in $(directive DeviceAllow | sed -n 's/^char-\([^ ]*\) .*/\1/p'); do
        while read -r major name; do
            [ "$name" = "$class" ] && allow+=("c $major:* rw")
        done < <(sed '/^Block/q' /proc/devices)
    done
    mkdir "$devices" && echo a >"$devices/devices.deny"
    for rule in "${allow[@]}"; do echo "$rule" >"$devices/devices.allow"; done
else
    echo "device policy not checked: no cgroup v1 device controller"
    devices=
fi

unshare -n -m -p -f --mount-proc bash -c '
    set -eu
    # Under libfaketime another user cannot open the caller'"'"'s shared time segment, and segments
    # named after PIDs of other PID namespaces clash: each process here keeps its own, privately.
    mount -t tmpfs -o mode=1777 tmpfs /dev/shm
    unset FAKETIME_SHARED
    ip link set lo up
    mount -t proc -o hidepid=invisible,subset=pid proc /proc
    asService "$sim" >"$dir/sim" &
    for _ in $(seq 50); do [ -s "$dir/sim" ] && break; sleep 0.1; done
    # The simulator opened its pty outside; from here on only the allowed devices open.
    [ -z "$devices" ] || echo 0 >"$devices/cgroup.procs"
    printf "[UDP]\nUDPADDRESS=127.0.0.1\nSENDUDP= 1\n[GPS]\nCOMPORT=COM1\n[Ports]\nCOM1=%s\n" \
        "$(head -1 "$dir/sim")" >"$dir/Tidewell.ini"
    chown $user "$dir/Tidewell.ini"
    "$listen" --count 1 --timeout 20 >"$dir/frames" & listener=$!
    asService bash -c "umask $umask; exec \"\$0\" --headless --no-set-clock --settings \"\$1\"" \
        "$tidewell" "$dir/Tidewell.ini" >"$dir/out" 2>&1 & program=$!
    for _ in $(seq 100); do grep -q "^gps: " "$dir/out" && break; sleep 0.2; done
    grep CapEff "/proc/$program/status" >"$dir/caps"
    wait $listener || true
    kill $program; wait $program || true
' || true

fail=0
expect() { grep -q "$1" "$2" || { echo "missing in $(basename "$2"): $1"; fail=1; }; }
expect "^priority: real-time (SCHED_FIFO 10, memory locked)" "$dir/out"
expect "^gps port: COM1 /dev/pts/[0-9]* open" "$dir/out"
expect "^gps: " "$dir/out"
expect " OK$" "$dir/frames" # the first frame comes at start
# CAP_SYS_TIME (25) in effect, for the clock setter the test does not run.
mask=$(sed -n 's/CapEff:\s*//p' "$dir/caps")
(((0x${mask:-0} >> 25) & 1)) || { echo "CAP_SYS_TIME not in effect: CapEff ${mask:-?}"; fail=1; }
[ $fail = 0 ] || { echo "--- program"; cat "$dir/out"; echo "--- frames"; cat "$dir/frames"; }
exit $fail
