#!/usr/bin/env bash
# Builds Tidewell and runs it: the demo by default, or with the options given. Installs only
# what the program needs; the tests are left out of the build until GoogleTest is installed
# (scripts/deps.sh, or scripts/test.sh, installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
tests=OFF
[ "$(dpkg-query -W -f='${Status}\n' libgtest-dev libgmock-dev 2>/dev/null | grep -c 'install ok installed')" = 2 ] &&
    tests=ON
cmake --preset default -DTIDEWELL_BUILD_TESTS=$tests >/dev/null
cmake --build --preset default --target tidewell nmea-sim
[ $# -eq 0 ] && set -- --demo
exec build/tidewell "$@"
