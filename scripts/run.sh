#!/usr/bin/env bash
# Builds Kavrel and starts it: `scripts/run.sh [FILE]`. Without a FILE it opens a demo sound that
# the project makes itself. On a built tree it starts at once: the packages are checked only when
# dpkg's database changed since the last check, cmake configures only a new build folder (a
# build reconfigures itself when a CMakeLists.txt changed), and builds only when a source file is
# newer than the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build
program=$build/app/kavrel

stamp=$build/.install-deps-checked
if [ ! -f "$stamp" ] || [ /var/lib/dpkg/status -nt "$stamp" ] ||
    [ scripts/install-deps.sh -nt "$stamp" ]; then
    bash scripts/install-deps.sh
    mkdir -p "$build"
    touch "$stamp"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# Sources, build files and resources newer than the program; the build folders are not sources.
newer=""
if [ -x "$program" ]; then
    newer=$(find . \( -name 'build*' -o -name '.git' \) -prune -o -type f -newer "$program" \
        \( -name '*.cpp' -o -name '*.h' -o -name 'CMakeLists.txt' -o -name '*.cmake' \
        -o -path './app/resources/*' \) -print -quit)
fi
if [ ! -x "$program" ] || [ -n "$newer" ]; then
    cmake --build "$build" -j "$(nproc)" --target kavrel
fi

if [ $# -eq 0 ]; then
    demo=$build/kavrel-demo.wav
    [ -f "$demo" ] || bash scripts/make-demo.sh "$demo"
    set -- "$demo"
fi
exec "$program" "$@"
