#!/usr/bin/env bash
# Builds Tidewell and runs it: the demo by default, or with the options given.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tidewell nmea-sim
[ $# -eq 0 ] && set -- --demo
exec build/tidewell "$@"
