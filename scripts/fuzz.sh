#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while (FUZZ_SECONDS, default 60): the wave reader
# from the named damaged files of the tests, the project reader from a few valid and damaged projects, the
# sound decoder from short files of each format made by ffmpeg.
# Exits non-zero when a fuzzer finds a crash.
set -euo pipefail
dir=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONALTO_FUZZ=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_wave_reader make_fuzz_seeds fuzz_project_reader make_project_seeds \
    fuzz_sound_decoder
seeds="$dir/seeds"
corpus="$dir/corpus"
mkdir -p "$seeds" "$corpus"
"$dir/tests/fuzz/make_fuzz_seeds" "$seeds"
project_seeds="$dir/project-seeds"
project_corpus="$dir/project-corpus"
mkdir -p "$project_seeds" "$project_corpus"
# The projects name their source files by absolute path, written beside them.
"$dir/tests/fuzz/make_project_seeds" "$project_seeds" "$dir/project-sources"
# A tenth of a second of each format at 8000 Hz, short enough for the length the fuzzer tries, behind the
# byte that names it to the fuzzer (its index in the target's list of names).
sound_seeds="$dir/sound-seeds"
sound_corpus="$dir/sound-corpus"
mkdir -p "$sound_seeds" "$sound_corpus"
index=0
for codec in "mp3 libmp3lame" "m4a aac" "aac aac" "ogg libvorbis" "opus libopus" "flac flac" "wma wmav2" \
    "3gp aac" "amr -" "webm libopus" "wav pcm_f32le"; do
    set -- $codec
    if [ "$2" != - ]; then
        ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:duration=0.1:sample_rate=8000" -ac 2 -c:a "$2" \
            "$sound_seeds/seed.$1"
        { printf "\\$(printf %03o "$index")"; cat "$sound_seeds/seed.$1"; } >"$sound_seeds/$1"
        rm "$sound_seeds/seed.$1"
    fi
    index=$((index + 1))
done
cd "$dir"
./tests/fuzz/fuzz_wave_reader -max_total_time="$seconds" -max_len=4096 -timeout=10 corpus seeds
./tests/fuzz/fuzz_project_reader -max_total_time="$seconds" -max_len=8192 -timeout=10 project-corpus project-seeds
./tests/fuzz/fuzz_sound_decoder -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    sound-corpus sound-seeds
