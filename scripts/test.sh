#!/usr/bin/env bash
# Builds everything and runs every test, for Linux and, cross-built, for Windows under Wine;
# then runs the integration tests again, unbuilt, with the clock faked by libfaketime to
# awkward instants: hours 02 and 15, and both passes of Berlin's repeated autumn hour; then
# every test again built with the sanitizers; last, the Debian package is built, its file list
# checked and lintian run on it, and the service's confinement rated.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
# A failing pass does not stop the later ones: every pass runs, and the end says which failed.
failed=()
echo "=== Pass 1: every test, real clock"
ctest --preset default || failed+=(1)

echo "=== Pass 1w: the Windows build's tests, under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows || failed+=(1w)

libfaketime=$(dpkg -L libfaketime | grep '/libfaketime\.so\.1$')
# Future instants: the program refuses GPS dates before its build date.
tomorrow=$(date -u -d tomorrow +%F)
year=${tomorrow%%-*}
autumnChange() { # Berlin's: 01:00 UTC on the last Sunday of October of year $1
    local last="$1-10-31"
    date -u -d "$last -$(date -u -d "$last" +%w) days" +%F
}
berlin=$(autumnChange "$year")
[[ $berlin < $tomorrow ]] && berlin=$(autumnChange $((year + 1)))

fakedPass() { # number, TZ, UTC instant
    # An offset rather than "@instant": libfaketime reads "@" in each process's own TZ (the
    # tests give the program others) and starts it afresh in every new process. Monotonic
    # clocks stay faked too: libfaketime shifts absolute CLOCK_MONOTONIC sleeps as if they
    # were, so nmea-sim's pacing would not wait without it.
    local fake=(env TZ="$2" FAKETIME="$(printf %+d $(($(date -u -d "$3" +%s) - $(date +%s))))"
        FAKETIME_DONT_FAKE_MONOTONIC=0 LD_PRELOAD="$libfaketime")
    echo "=== Pass $1: integration tests at $("${fake[@]}" date '+%F %T %Z') ($2), libfaketime"
    "${fake[@]}" ctest --preset default -L integration || failed+=("$1")
}
fakedPass 2 UTC "$tomorrow 02:29:50"
fakedPass 3 UTC "$tomorrow 15:29:50"
fakedPass 4 Europe/Berlin "$berlin 00:29:50"
fakedPass 5 Europe/Berlin "$berlin 01:29:50"

echo "=== Pass 6: every test, built with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize || failed+=(6)

echo "=== Pass 7: the Debian package holds the program, the unit, the .desktop file, the icons, the manual pages and the copyright; lintian finds nothing"
notPackaged() { # prints each expected file the package lacks, or that there is no package
    local deb listing f
    if ! deb=$(scripts/package.sh) || ! listing=$(dpkg-deb -c "$deb"); then echo "(no package)"; return; fi
    for f in bin/tidewell bin/tidewell-headless lib/systemd/system/tidewell.service share/applications/tidewell.desktop \
        share/icons/hicolor/{16x16,32x32}/apps/tidewell.png share/icons/hicolor/scalable/apps/tidewell.svg \
        share/man/man1/{tidewell,tidewell-headless,nmea-sim,nmea-check,sync-listen}.1.gz \
        share/doc/tidewell/{copyright,changelog.gz} share/doc/tidewell/examples/chrony-tidewell.conf; do
        grep -Eq " \./usr/$f( -> .*)?$" <<<"$listing" || echo "/usr/$f"
    done
}
missing=$(notPackaged)
[ -z "$missing" ] || { echo "Not in the package: ${missing//$'\n'/ }" >&2; failed+=(7); }
# Any error or warning fails, except what the package overrides, with its reason, in
# /usr/share/lintian/overrides/tidewell.
deb=$(ls build-package/tidewell_*.deb 2>/dev/null) && lintian --fail-on error,warning "$deb" || failed+=(7)

echo "=== Pass 8: the service's exposure (systemd-analyze security) is at most 2.5"
exposure=$(systemd-analyze security --offline=yes --no-pager packaging/tidewell.service 2>&1 |
    sed -n 's/.*Overall exposure level for tidewell.service: \([0-9.]*\).*/\1/p')
echo "tidewell.service: exposure ${exposure:-unknown}"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e + 0 <= 2.5) }' || failed+=(8)

[ ${#failed[@]} -eq 0 ] || { echo "Failed: pass ${failed[*]}" >&2; exit 1; }
