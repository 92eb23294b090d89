#!/usr/bin/env bash
# Runs every benchmark of the release build given (default build/release), on data generated under it.
set -euo pipefail
build=${1:-build/release}
data="$build/bench-data"
mkdir -p "$data"
"$build/bench/bench_audio" "$data"
"$build/bench/bench_editor" "$data"
"$build/bench/bench_montage" "$data"
"$build/bench/bench_project" "$data"
"$build/bench/bench_mp3" "$data"
"$build/bench/bench_decode" "$data"

# Playback and recording run on a private sound server with a null sink, so that they measure the same
# thing on every machine, with or without a sound card. The long recording lasts
# SONALTO_BENCH_RECORD_SECONDS (default 600).
server="$build/pulse-bench"
if scripts/pulse-test-server.sh start "$server" && [ -S "$server/native" ]; then
    PULSE_SERVER="unix:$server/native" "$build/bench/bench_playback" "$data" || true
    PULSE_SERVER="unix:$server/native" "$build/bench/bench_recording" "$data" || true
    scripts/pulse-test-server.sh stop "$server"
else
    "$build/bench/bench_playback" "$data" || true
    "$build/bench/bench_recording" "$data" || true
fi

# The ends of a recording (the sound lost at the start and stop clicks), on both kinds of sound server the
# desktops run: PulseAudio, and PipeWire through its PulseAudio-compatible server.
for kind in pulse pipewire; do
    script="scripts/$kind-test-server.sh"
    server="$build/$kind-latency"
    name=$([ "$kind" = pulse ] && echo PulseAudio || echo PipeWire)
    if "$script" start "$server" && [ -S "$server/native" ]; then
        PULSE_SERVER="unix:$server/native" "$build/bench/bench_record_latency" "$data" "$name" || true
    else
        echo "bench_record_latency: no private $name server here"
    fi
    "$script" stop "$server" || true
done
