#!/usr/bin/env bash
# Builds Kavrel and starts it: `scripts/run.sh [FILE]`. Without a FILE it opens a demo sound that
# the project makes itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kavrel

if [ $# -eq 0 ]; then
    demo=build/kavrel-demo.wav
    [ -f "$demo" ] || bash scripts/make-demo.sh "$demo"
    set -- "$demo"
fi
exec build/app/kavrel "$@"
