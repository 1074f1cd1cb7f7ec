#!/usr/bin/env bash
# Builds the Debian package: a Release tree in build-package/ without the tests, then CPack.
# Prints the .deb's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# -O2 as in the bench preset: GCC 12's -O3 warns falsely (-Wrestrict) inside std::string.
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DTIDEWELL_BUILD_TESTS=OFF >/dev/null
cmake --build build-package >&2
cd build-package
rm -f tidewell_*.deb
cpack -G DEB >&2
ls "$PWD"/tidewell_*.deb
