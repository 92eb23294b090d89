#!/usr/bin/env bash
# Installs the Debian 12 packages Sonalto needs to build, test and benchmark.
# Idempotent: it asks dpkg first and only calls apt-get when something is missing.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config
  # windows, icons, printing of the help pages
  qt6-base-dev qt6-svg-dev fonts-dejavu-core fonts-liberation2
  # sound devices and mixer, resampling, MP3
  libpulse-dev libasound2-dev libsoxr-dev libmp3lame-dev
  # tests: GoogleTest, a display for widget tests, a private sound server
  libgtest-dev libgmock-dev xvfb xauth pulseaudio
  # ALSA reaching that server (the ALSA mixer's tests run on its control device)
  libasound2-plugins
  # fuzzing the file readers (make fuzz)
  clang libclang-rt-14-dev
  # reference tools for the benchmarks
  sox lame alsa-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installation des paquets manquants : ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
