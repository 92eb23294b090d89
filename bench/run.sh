#!/usr/bin/env bash
# Runs every benchmark of the release build given (default build/release), on data generated under it.
set -euo pipefail
build=${1:-build/release}
data="$build/bench-data"
mkdir -p "$data"
"$build/bench/bench_audio" "$data"
"$build/bench/bench_editor" "$data"
