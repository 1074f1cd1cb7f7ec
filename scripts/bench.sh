#!/usr/bin/env bash
# Builds the bench preset (Release, in build-bench) and runs one benchmark or all of them.
# Options after the name go to that benchmark, e.g. `scripts/bench.sh lag --load --frames 120`.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: scripts/bench.sh lag|latency|idle|gui|loglines|refclock|all [options for that benchmark]" >&2
    echo "       scripts/bench.sh wine [lag|idle|gui [options]]   tidewell.exe under Wine" >&2
    exit 2
}
[ $# -ge 1 ] || usage
which=$1
shift

# Build trees: the presets' own unless $TIDEWELL_BENCH_BUILD / $TIDEWELL_WINDOWS_BUILD name others.
build=${TIDEWELL_BENCH_BUILD:-build-bench}
winbuild=${TIDEWELL_WINDOWS_BUILD:-build-windows}
# Quiet unless the build fails.
if ! log=$( (cmake --preset bench -B "$build" && cmake --build "$build") 2>&1); then
    echo "$log" >&2
    exit 1
fi

bin=$build/bench
case "$which" in
    lag) exec "$bin/bench_frame_lag" "$@" ;;
    latency) exec "$bin/bench_clock_latency" "$@" ;;
    idle) exec "$bin/bench_idle" "$@" ;;
    # Lines a service logs in ten minutes (--seconds N for a shorter run).
    loglines) exec "$bin/bench_log_lines" "$@" ;;
    # chrony's estimate of the program as its reference clock against PRECISE=1's, 10 minutes;
    # needs build-deps/chrony (scripts/deps.sh).
    refclock) exec "$bin/bench_refclock" "$@" ;;
    # The program in window mode under Xvfb and trayer: start, CPU and memory, then frame lag.
    gui)
        "$bin/bench_gui" "$@"
        echo
        exec "$bin/bench_frame_lag" --window
        ;;
    all)
        [ $# -eq 0 ] || usage
        "$bin/bench_frame_lag"
        echo
        "$bin/bench_frame_lag" --load
        echo
        "$bin/bench_clock_latency"
        echo
        "$bin/bench_clock_latency" --precise
        echo
        "$bin/bench_idle"
        echo
        "$bin/bench_gui"
        echo
        "$bin/bench_frame_lag" --window
        echo
        "$bin/bench_refclock"
        ;;
    # tidewell.exe from the windows preset under Wine, in a prefix of its own; idle counts
    # Wine's own processes too.
    wine)
        if ! log=$( (cmake --preset windows -B "$winbuild" && cmake --build "$winbuild" --target tidewell) 2>&1); then
            echo "$log" >&2
            exit 1
        fi
        export TIDEWELL_WINE_EXE=$PWD/$winbuild/tidewell.exe WINEDEBUG=-all
        export WINEPREFIX=$PWD/$winbuild/wineprefix-bench
        # Without the HID and USB bus drivers, whose hot-plug polling alone takes about 3 % of
        # a core for devices the program never uses.
        export WINEDLLOVERRIDES="winebus.sys,wineusb.sys=d;mscoree,mshtml="
        case "${1:-}" in
            lag) shift && exec "$bin/bench_frame_lag" "$@" ;;
            idle) shift && exec "$bin/bench_idle" "$@" ;;
            # Window mode under an Xvfb and trayer of its own: start to tray icon, and CPU with
            # the window hidden against headless.
            gui) shift && exec "$bin/bench_gui" "$@" ;;
            "") "$bin/bench_frame_lag" && echo && "$bin/bench_idle" && echo && exec "$bin/bench_gui" ;;
            *) usage ;;
        esac
        ;;
    *) usage ;;
esac
