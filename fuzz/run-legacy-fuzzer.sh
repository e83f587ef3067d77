#!/bin/sh
# Builds the legacy-file fuzzer with clang in its own build folder and runs it.
#
#   fuzz/run-legacy-fuzzer.sh SECONDS [BUILD_DIR [LIBFUZZER OPTIONS...]]
#
# The corpus grows in BUILD_DIR/corpus-legacy (seeded with one valid pair of files); anything the
# fuzzer finds lands in BUILD_DIR/findings-legacy. Runs at low priority: the machine is shared.
set -eu
seconds=${1:?usage: $0 SECONDS [BUILD_DIR]}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${2:-$source_dir/build-fuzz}
shift $(($# < 2 ? $# : 2))

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVYR_BUILD_FUZZERS=ON -DVYR_BUILD_TESTS=OFF
fi
nice cmake --build "$build_dir" -j2 --target legacy_import_fuzzer

corpus=$build_dir/corpus-legacy
findings=$build_dir/findings-legacy
mkdir -p "$corpus" "$findings"
if [ -z "$(ls -A "$corpus")" ]; then
  # One controller record ("A1B2C3", name, option bytes) and one card record with zones at
  # positions 1 and 2, behind the two-byte length of the controller part.
  python3 - "$corpus/seed" <<'PY'
import sys
controller = bytearray(128)
controller[0:6] = b"A1B2C3"; controller[10] = 2; controller[12] = 4; controller[34:38] = b"Door"
card = bytearray(512)
card[14:18] = b"Anna"; card[157:167] = b"01A2B3C4D5"; card[291] = 0x01; card[307] = 0x02
open(sys.argv[1], "wb").write(len(controller).to_bytes(2, "little") + controller + card)
PY
fi

exec nice "$build_dir/bin/legacy_import_fuzzer" -max_total_time="$seconds" -max_len=8192 \
  -print_final_stats=1 -artifact_prefix="$findings/" "$@" "$corpus"
