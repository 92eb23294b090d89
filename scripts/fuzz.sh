#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while (FUZZ_SECONDS, default 60): the wave reader
# from the named damaged files of the tests, the project reader from a few valid and damaged projects.
# Exits non-zero when a fuzzer finds a crash.
set -euo pipefail
dir=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONALTO_FUZZ=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_wave_reader make_fuzz_seeds fuzz_project_reader make_project_seeds
seeds="$dir/seeds"
corpus="$dir/corpus"
mkdir -p "$seeds" "$corpus"
"$dir/tests/fuzz/make_fuzz_seeds" "$seeds"
project_seeds="$dir/project-seeds"
project_corpus="$dir/project-corpus"
mkdir -p "$project_seeds" "$project_corpus"
# The projects name their source files by absolute path, written beside them.
"$dir/tests/fuzz/make_project_seeds" "$project_seeds" "$dir/project-sources"
cd "$dir"
./tests/fuzz/fuzz_wave_reader -max_total_time="$seconds" -max_len=4096 -timeout=10 corpus seeds
./tests/fuzz/fuzz_project_reader -max_total_time="$seconds" -max_len=8192 -timeout=10 project-corpus project-seeds
