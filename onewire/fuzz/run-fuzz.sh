#!/usr/bin/env bash
# Builds the DS2480B answer fuzzer with clang and runs it for a given time.
#   onewire/fuzz/run-fuzz.sh [SECONDS] [further libFuzzer options]   (default 60 seconds)
# The corpus grows in build-fuzz/fuzz-corpus; an input that breaks the driver lands in
# build-fuzz/fuzz-findings and the script fails. Such an input belongs in a regular test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
seconds="${1:-60}"
shift || true
build="${IBFS32_FUZZ_BUILD_DIR:-$root/build-fuzz}"
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIBFS32_FUZZ=ON -DVYR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target ds2480b_answers_fuzz -j"$(nproc)"
corpus="$build/fuzz-corpus/ds2480b_answers"
findings="$build/fuzz-findings"
mkdir -p "$corpus" "$findings"
# One input that gets through detection, so the fuzzer starts beyond it: rate choice, the five
# setup answers, then the answers of a reset and a search pass.
if [ -z "$(ls -A "$corpus")" ]; then
  printf '\x16\x44\x5a\x00\x93\x01\xcd\xf0\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03' \
    >"$corpus/detected"
fi
exec "$build/bin/ds2480b_answers_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -artifact_prefix="$findings/" -print_final_stats=1 "$@" "$corpus"
