#!/usr/bin/env bash
# Builds the wave reader's fuzz target with clang and runs it for a while (FUZZ_SECONDS, default 60),
# starting from the named damaged files of the tests. Exits non-zero when the fuzzer finds a crash.
set -euo pipefail
dir=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONALTO_FUZZ=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_wave_reader make_fuzz_seeds
seeds="$dir/seeds"
corpus="$dir/corpus"
mkdir -p "$seeds" "$corpus"
"$dir/tests/fuzz/make_fuzz_seeds" "$seeds"
cd "$dir"
./tests/fuzz/fuzz_wave_reader -max_total_time="$seconds" -max_len=4096 -timeout=10 corpus seeds
