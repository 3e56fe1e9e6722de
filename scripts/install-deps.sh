#!/usr/bin/env bash
# Installs the Debian packages Kavrel needs to build, run and test. Idempotent: packages that are
# already present are skipped, and apt is only touched when something is missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-qpa-plugins
    libpulse-dev libpulse0
    pulseaudio pulseaudio-utils
    pipewire pipewire-bin pipewire-pulse wireplumber dbus-daemon
    xvfb xauth fonts-dejavu-core
    sox
    libsndfile1-dev opus-tools lame
    libebur128-dev libfftw3-dev
    clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
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
