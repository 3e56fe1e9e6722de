#!/usr/bin/env bash
# Builds the Debian package kavrel_VERSION_amd64.deb into the project folder:
# `scripts/package.sh [BUILD_DIR]` (default build-package, a release build without tests).
# scripts/check-package.sh then checks it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build-package}

bash scripts/install-deps.sh
command -v dpkg-shlibdeps >/dev/null ||
    { echo "package: needs dpkg-shlibdeps (apt-get install dpkg-dev)" >&2; exit 2; }
if [ ! -f "$build/CMakeCache.txt" ]; then
    launcher=()
    if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKAVREL_TESTS=OFF -DKAVREL_BENCH=OFF \
        -DKAVREL_GUI=ON -DKAVREL_HARDEN=ON "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target kavrel kavrel_manpage kavrel_changelog
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/kavrel_*_amd64.deb | head -n 1)
cp "$deb" "$root/"
echo "$root/$(basename "$deb")"
