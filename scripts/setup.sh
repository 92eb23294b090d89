#!/usr/bin/env bash
# Installs the Debian 12 packages Sonalto needs to build, test and benchmark.
# Idempotent: it asks dpkg first and only calls apt-get when something is missing.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config
  # windows, icons, printing of the help pages
  qt6-base-dev qt6-svg-dev fonts-dejavu-core fonts-liberation2
  # Qt's own dialogs in French; the French locale (its separators are tested)
  qt6-translations-l10n locales
  # sound devices and mixer, resampling, MP3
  libpulse-dev libasound2-dev libsoxr-dev libmp3lame-dev
  # other sound formats to open (MP3, AAC, Ogg, Opus, FLAC...): FFmpeg's libraries, and its command to
  # make the test files and to measure against
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg
  # tests: GoogleTest, a display for widget tests, a private sound server
  libgtest-dev libgmock-dev xvfb xauth x11-utils pulseaudio
  # ALSA reaching that server (the ALSA mixer's tests run on its control device)
  libasound2-plugins
  # the same tests on a private PipeWire server (its PulseAudio-compatible server)
  pipewire pipewire-pulse wireplumber dbus
  # the real program driven under X: a window manager, xdotool, a French keyboard, screenshots, French
  # speech to open, the sound server's own clients (pactl, paplay), and the driver's interpreter
  openbox xdotool x11-xkb-utils imagemagick x11-apps espeak-ng pulseaudio-utils python3
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

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi

# The French locale, generated once (the package only brings the means to make it).
ensure_french_locale() {
  if locale -a 2>/dev/null | grep -qi '^fr_FR\.utf-\?8$'; then
    return
  fi
  echo "Création de la locale fr_FR.UTF-8"
  "${SUDO[@]}" sed -i 's/^# *fr_FR.UTF-8 UTF-8/fr_FR.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^fr_FR.UTF-8 UTF-8' /etc/locale.gen || echo 'fr_FR.UTF-8 UTF-8' | "${SUDO[@]}" tee -a /etc/locale.gen >/dev/null
  "${SUDO[@]}" locale-gen >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_french_locale
  exit 0
fi

echo "Installation des paquets manquants : ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
ensure_french_locale
