#!/usr/bin/env bash
# Installs the Debian packages Kavrel needs to build, run and test. Idempotent: packages that are
# already present are skipped, and apt is only touched when something is missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-qpa-plugins qt6-wayland
    libpulse-dev libpulse0
    pulseaudio pulseaudio-utils
    pipewire pipewire-bin pipewire-pulse wireplumber dbus-daemon
    xvfb xauth fonts-dejavu-core
    sox strace
    libsndfile1-dev opus-tools lame
    # libebur128: only the loudness tests' reference
    libebur128-dev libfftw3-dev
    clang libclang-rt-dev
)

# One dpkg-query for all of them: a package that is not installed is reported with another
# status, one that dpkg has never heard of not at all.
installed=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null |
    awk '$1 == "ii" { print $2 }' | sed 's/:.*//' || true)
missing=()
for p in "${packages[@]}"; do
    if ! grep -qxF "$p" <<<"$installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
