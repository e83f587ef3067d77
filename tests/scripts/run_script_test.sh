#!/usr/bin/env bash
# Stopping ./run.sh must end the program and the virtual adapter it started. The script runs in a
# scratch copy of the checkout whose build step does nothing and whose program and simulator are
# stand-ins that only record their process id and wait, so the test costs no build and no display.
# Each case stops the script the way an operator does: Ctrl+C (SIGINT to the script's whole
# process group, as the terminal sends it), a kill of the script, a closed terminal.
set -euo pipefail
source_dir="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

make_checkout() {
  local root="$1"
  mkdir -p "$root/packaging" "$root/build/bin" "$root/fakebin"
  cp "$source_dir/run.sh" "$root/run.sh"
  printf '#!/bin/sh\nexit 0\n' >"$root/packaging/ensure-packages.sh"
  printf '#!/bin/sh\nexit 0\n' >"$root/fakebin/cmake"
  # The stand-ins keep the signal dispositions they are started with, as the real programs do.
  cat >"$root/build/bin/vyrstandalone" <<'STUB'
#!/bin/sh
echo $$ >"$(dirname "$0")/program.pid"
exec sleep 300
STUB
  cat >"$root/build/bin/ibutton-sim" <<'STUB'
#!/bin/sh
case " $* " in
  *" serve "*) echo $$ >"$(dirname "$0")/sim.pid"; exec sleep 300 ;;
esac
exit 0
STUB
  chmod +x "$root/run.sh" "$root/packaging/ensure-packages.sh" "$root/fakebin/cmake" \
    "$root/build/bin/vyrstandalone" "$root/build/bin/ibutton-sim"
}

wait_for_file() {
  for _ in $(seq 100); do
    [[ -s "$1" ]] && return 0
    sleep 0.1
  done
  echo "never appeared: $1" >&2
  return 1
}

ended() {
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

failures=0
for how in ctrl-c term hup; do
  root="$scratch/$how"
  make_checkout "$root"
  # Started as a terminal starts it: in its own process group, so "Ctrl+C" reaches the script and
  # everything it started and nothing of the test runner, and with SIGINT at its default (a
  # background job of this script would inherit it ignored, and a shell cannot trap that).
  PATH="$root/fakebin:$PATH" QT_QPA_PLATFORM=offscreen VYR_BUILD_DIR=build \
    python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.setsid()
os.execv(sys.argv[1], sys.argv[1:])' "$root/run.sh" >"$root/out.log" 2>&1 &
  script=$!
  wait_for_file "$root/build/bin/program.pid"
  wait_for_file "$root/build/bin/sim.pid"
  program=$(cat "$root/build/bin/program.pid")
  sim=$(cat "$root/build/bin/sim.pid")
  case "$how" in
    ctrl-c) kill -INT -- "-$script" ;;
    term) kill -TERM "$script" ;;
    hup) kill -HUP "$script" ;;
  esac
  for part in "script:$script" "program:$program" "virtual adapter:$sim"; do
    if ! ended "${part#*:}"; then
      echo "FAIL ($how): the ${part%%:*} is still running" >&2
      kill "${part#*:}" 2>/dev/null || true
      failures=$((failures + 1))
    fi
  done
  wait "$script" 2>/dev/null || true
done
if ((failures)); then
  exit 1
fi
echo "run.sh ends the program and the virtual adapter on Ctrl+C, kill and hang-up"
