#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through CTest.
#   ./test.sh             the normal build, in build/ (or $VYR_BUILD_DIR)
#   ./test.sh --sanitize  the same under AddressSanitizer + UndefinedBehaviorSanitizer, in its own
#                         folder build-sanitize/ (or $VYR_SANITIZE_BUILD_DIR)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
sanitize=0
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=1 ;;
    *) echo "usage: $0 [--sanitize]" >&2; exit 2 ;;
  esac
done
./packaging/ensure-packages.sh
if ((sanitize)); then
  build="${VYR_SANITIZE_BUILD_DIR:-build-sanitize}"
  configure=(-DVYR_SANITIZE=ON -DVYR_BUILD_BENCHMARKS=OFF)
  # Every finding fails the test that meets it; the suppressions name the library at fault.
  # verify_asan_link_order=0: the virtual USB adapter runs its programs under umockdev, whose
  # preload library (libumockdev-preload) must come first in LD_PRELOAD; the sanitizer runtime is
  # linked into the programs themselves, so it still initialises before anything they run.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
  export LSAN_OPTIONS="suppressions=$(pwd)/packaging/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
else
  build="${VYR_BUILD_DIR:-build}"
  configure=(-DVYR_SANITIZE=OFF)
fi
# Ninja for a new build folder; one made earlier keeps the generator it was made with.
generator=()
[[ -f "$build/CMakeCache.txt" ]] || generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 600
