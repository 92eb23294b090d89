#!/usr/bin/env bash
# Runs every benchmark of the release build given (default build/release), on data generated under it.
set -euo pipefail
build=${1:-build/release}
data="$build/bench-data"
mkdir -p "$data"
"$build/bench/bench_audio" "$data"
"$build/bench/bench_editor" "$data"
"$build/bench/bench_montage" "$data"
"$build/bench/bench_mp3" "$data"

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
