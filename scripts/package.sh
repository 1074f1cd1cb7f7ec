#!/usr/bin/env bash
# Builds the Debian package: a Release tree in build-package/ without the tests, then CPack.
# Prints the .deb's path.
# `scripts/package.sh windows` builds the Windows installer instead: tidewell.exe cross-built in
# build-package-windows/, then packaging/windows/tidewell.nsi; prints Tidewell-setup.exe's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if [ "${1:-}" = windows ]; then
    out=$PWD/build-package-windows
    cmake --preset windows -B "$out" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DTIDEWELL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$out" --target tidewell >&2
    version=$(sed -n 's/^project(Tidewell VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    x86_64-w64-mingw32-strip "$out/tidewell.exe"
    makensis -V2 -DEXE="$out/tidewell.exe" -DOUT="$out/Tidewell-setup.exe" -DVERSION="$version" \
        packaging/windows/tidewell.nsi >&2
    ls "$out/Tidewell-setup.exe"
    exit 0
fi
# -O2 as in the bench preset: GCC 12's -O3 warns falsely (-Wrestrict) inside std::string. The
# hardening Debian builds its packages with (dpkg-buildflags): fortified C library calls, stack
# protector, relocations read-only and bound at start.
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG -D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
    -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro -Wl,-z,now" -DTIDEWELL_BUILD_TESTS=OFF >/dev/null
cmake --build build-package >&2
cd build-package
rm -f tidewell_*.deb
cpack -G DEB >&2
ls "$PWD"/tidewell_*.deb
