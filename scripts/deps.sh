#!/usr/bin/env bash
# Installs the Debian packages that are missing: `scripts/deps.sh run` those that building and
# running the Linux program and its demo need (scripts/run.sh); `scripts/deps.sh` those and
# the ones the tests, the benchmarks, the Windows build and the packages need besides.
set -euo pipefail

run_packages=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev
    tzdata
)
test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev
    iproute2 util-linux faketime dbus-daemon
    xvfb xauth xdotool trayer x11-utils
    g++-mingw-w64-x86-64-posix wine wine64 fonts-wine nsis
    dpkg-dev help2man lintian systemd
)

case "${1:-all}" in
    run) packages=("${run_packages[@]}") ;;
    all) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
    *) echo "usage: scripts/deps.sh [run]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root or install sudo to get: ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
