#!/usr/bin/env bash
# Builds the program and starts it in a demo home inside this checkout (demo/), so trying it never
# touches a user's real data. A demo home without a profile gets the demo site (controllers,
# cardholders with zones, one key to write), so the program opens at work; --fresh empties the home
# instead and leaves it empty, so the program opens on its wizard as a first-time user meets it.
# The demo's 1-Wire adapter is the virtual one (ibutton-sim): a serial DS9097U, or with --usb a USB
# DS9490 (the program then runs under the simulator).
# With --server the demo site lives on a PostgreSQL server instead: a throwaway cluster in
# demo/server/ that listens only on a Unix socket in its folder, made afresh for the run (with the
# demo site and a profile naming it) and stopped and removed when the script ends.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
usb=0
fresh=0
server=0
for argument in "$@"; do
  case "$argument" in
    --usb) usb=1 ;;
    --fresh) fresh=1 ;;
    --server) server=1 ;;
    *) echo "usage: $0 [--usb] [--fresh] [--server]" >&2; exit 2 ;;
  esac
done
root="$(pwd)"
./packaging/ensure-packages.sh
build="${VYR_BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target vyrstandalone vyr-demosite
bin="$root/$build/bin"

demo="$root/demo"
if ((fresh)); then
  rm -rf "$demo"
fi
home="$demo"
if ((server)); then
  # A home of its own: its profile names a cluster that lives only as long as this run.
  home="$demo/server"
  # A server left by a run that could not clean up (kill -9) goes first.
  if [[ -d "$home/cluster" ]]; then
    bash "$root/tests/support/pgcluster.sh" stop "$(readlink -f "$home/cluster")"
  fi
  rm -rf "$home"
fi
mkdir -p "$home/data" "$home/config"
export XDG_DATA_HOME="$home/data"
export XDG_CONFIG_HOME="$home/config"

# Ctrl+C or a kill of this script ends the program and the virtual adapter with it. Both run as
# background jobs, which a script's Ctrl+C never reaches (they ignore SIGINT), so the script stops
# them itself; waiting on a background job also lets the script react to a signal at once instead
# of after the program has ended. The demo's server goes last, once nothing uses it any more.
children=()
cluster=""
stop_children() {
  for pid in "${children[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${children[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  if [[ -n "$cluster" ]]; then
    bash "$root/tests/support/pgcluster.sh" stop "$cluster" || true
    rm -f "$home/cluster"
  fi
}
trap stop_children EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if ((server)); then
  cluster="$home/cluster"
  if [[ $(id -u) -eq 0 ]] && ! runuser -u postgres -- test -x "$home"; then
    # Under root the server runs as the postgres user, who may not enter this checkout (one under
    # /root): its folder goes to /tmp then, and demo/server/cluster leads there.
    place=$(mktemp -d /tmp/vyr-demo-server.XXXXXX)
    ln -s "$place" "$cluster"
    cluster="$place"
  fi
  echo "Starting the demo's PostgreSQL server in $cluster ..."
  # With this script's process id: should the script die without its trap, the server follows.
  bash "$root/tests/support/pgcluster.sh" start "$cluster" $$
  connection="host=$cluster port=5432 dbname=postgres user=postgres"
  "$bin/vyr-demosite" --server "$connection"
  echo "The demo site is on the server: psql \"$connection\""
elif ((!fresh)) && ! compgen -G "$XDG_DATA_HOME/Tessaloom/VYR/Standalone/profiles/*.ini" >/dev/null; then
  "$bin/vyr-demosite"
fi

program_command=("$bin/vyrstandalone")
if [[ -x "$bin/ibutton-sim" ]]; then
  state="$demo/ibuttons"
  tty="$demo/ttyVYR"
  mkdir -p "$state"
  # A demo card (DS1990A) and a demo memory key (DS1993), laid on the adapter at the first run.
  # The card is a cardholder's in the demo site (card number A1B2C3D4E5).
  if [[ ! -f "$state/bus" ]]; then
    "$bin/ibutton-sim" --state "$state" put 01A1B2C3D4E5F6 >/dev/null # a DS1990A card (CRC added)
    "$bin/ibutton-sim" --state "$state" put 06102030405060 >/dev/null # a DS1993 memory key
  fi
  if ((usb)); then
    # The library's own configuration: USB port 1 (the virtual DS9490) is the default.
    printf '[default]\nporttype=6\nportnum=1\n' > "$XDG_CONFIG_HOME/ibfs32.ini"
    echo "Virtual USB 1-Wire adapter (DS9490, USB port 1; iButtons in $state)."
    echo "If the demo was used with the serial adapter before, choose USB under Adapter."
    # libusb finds the virtual adapter only in a program started under the simulator.
    program_command=("$bin/ibutton-sim" serve-usb --state "$state" -- "$bin/vyrstandalone")
  else
    "$bin/ibutton-sim" serve --tty "$tty" --state "$state" &
    children+=($!)
    # The library's own configuration: serial port 1 is the virtual adapter, and it is the default.
    cat > "$XDG_CONFIG_HOME/ibfs32.ini" <<INI
[default]
porttype=5
portnum=1
[serial]
port1=$tty
INI
    echo "Virtual serial 1-Wire adapter on $tty (iButtons in $state)."
  fi
  cat <<MSG
  lay an iButton on it:   $bin/ibutton-sim --state "$state" put <ROM>
  take it away:           $bin/ibutton-sim --state "$state" remove <ROM>
  see what lies on it:    $bin/ibutton-sim --state "$state" list
  a memory key's content: $bin/ibutton-sim --state "$state" dump <ROM>
MSG
fi

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "No display found (DISPLAY/WAYLAND_DISPLAY unset): start this from a desktop session." >&2
  exit 1
fi
"${program_command[@]}" &
program=$!
children+=("$program")
status=0
wait "$program" || status=$?
exit "$status"
