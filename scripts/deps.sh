#!/usr/bin/env bash
# Installs the Debian packages that are missing: `scripts/deps.sh run` those that building and
# running the Linux program and its demo need (scripts/run.sh); `scripts/deps.sh` those and
# the ones the tests, the benchmarks, the Windows build and the packages need besides, and
# Debian's chrony unpacked (not installed) into build-deps/chrony.
set -euo pipefail

run_packages=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev
    tzdata
)
test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev
    iproute2 util-linux faketime dbus-daemon python3-prometheus-client
    xvfb xauth xdotool trayer x11-utils
    g++-mingw-w64-x86-64-posix wine wine64 fonts-wine nsis
    dpkg-dev help2man lintian systemd
)

case "${1:-all}" in
    run) packages=("${run_packages[@]}") ;;
    all) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
    *) echo "usage: scripts/deps.sh [run]" >&2; exit 2 ;;
esac

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
updated=""

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ -n "$sudo" ] && ! command -v sudo >/dev/null; then
        echo "Run as root or install sudo to get: ${missing[*]}" >&2
        exit 1
    fi
    [ -n "$updated" ] || { $sudo apt-get update -qq && updated=1; }
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# chronyd and chronyc for the tests and the benchmark that hand samples to a chronyd of their
# own: Debian's chrony unpacked into build-deps/chrony, never installed. Installing it would
# take the place of the machine's time service (it conflicts with systemd-timesyncd) and enable
# its own chronyd; nothing here may touch either. The libraries it links come from its Depends.
chrony_tools() {
    local dest tmp deps
    dest="$(cd "$(dirname "$0")/.." && pwd)/build-deps/chrony"
    [ -x "$dest/usr/sbin/chronyd" ] && [ -x "$dest/usr/bin/chronyc" ] && return 0
    echo "Unpacking Debian's chrony into $dest (not installed)"
    tmp=$(mktemp -d)
    # apt's download user needs to write there.
    chmod 0777 "$tmp"
    if ! (cd "$tmp" && apt-get download -qq chrony 2>/dev/null); then
        $sudo apt-get update -qq && updated=1
        (cd "$tmp" && apt-get download -qq chrony)
    fi
    deps=$(dpkg-deb -f "$tmp"/chrony_*.deb Depends | sed 's/([^)]*)//g; s/|[^,]*//g; s/,/ /g')
    # shellcheck disable=SC2086 # one package name a word
    install_missing $deps
    rm -rf "$dest.new"
    mkdir -p "$dest.new"
    dpkg-deb -x "$tmp"/chrony_*.deb "$dest.new"
    rm -rf "$tmp" "$dest"
    mv "$dest.new" "$dest"
}

install_missing "${packages[@]}"
[ "${1:-all}" = run ] || chrony_tools
