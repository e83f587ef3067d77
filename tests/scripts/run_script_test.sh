#!/usr/bin/env bash
# ./run.sh tried from outside, in a scratch copy of the checkout whose build step does nothing and
# whose program and simulator are stand-ins that only record their process id and wait, so the
# test costs no build and no display. The demo site is made by the real tool (the second argument).
#
# Stopping ./run.sh must end the program and the virtual adapter it started. Each case stops the
# script the way an operator does: Ctrl+C (SIGINT to the script's whole process group, as the
# terminal sends it), a kill of the script, a closed terminal.
#
# A new demo home gets the demo site, a used one is left as it is, and --fresh empties it so the
# program opens on its wizard; the same with either adapter.
#
# With --server the demo site is on a throwaway PostgreSQL cluster in demo/server/ (the real one,
# made by the tests' own cluster script): the program finds the site there through its profile,
# and the cluster is stopped and gone when the script ends, however it was stopped.
set -euo pipefail
source_dir="$1"
demo_tool="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

make_checkout() {
  local root="$1"
  mkdir -p "$root/packaging" "$root/build/bin" "$root/fakebin" "$root/tests/support"
  cp "$source_dir/run.sh" "$root/run.sh"
  cp "$source_dir/tests/support/pgcluster.sh" "$root/tests/support/pgcluster.sh"
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
  # A link: the tool finds the template database beside its real self.
  ln -s "$demo_tool" "$root/build/bin/vyr-demosite"
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

# The demo home, run after run. The program ends at once here: these runs are about the home.
root="$scratch/demo-home"
make_checkout "$root"
printf '#!/bin/sh\nexit 0\n' >"$root/build/bin/vyrstandalone"
home="$root/demo/data/Tessaloom/VYR/Standalone"
run() {
  if ! PATH="$root/fakebin:$PATH" QT_QPA_PLATFORM=offscreen VYR_BUILD_DIR=build \
    "$root/run.sh" "$@" >"$root/out.log" 2>&1; then
    echo "FAIL: run.sh $* failed:" >&2
    cat "$root/out.log" >&2
    failures=$((failures + 1))
  fi
}
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# What the demo home holds, as one line per fact; the database is read as the program stored it.
demo_site() {
  python3 - "$home" <<'PY'
import configparser, os, sqlite3, sys
home = sys.argv[1]
profiles = sorted(f for f in os.listdir(os.path.join(home, "profiles")) if f.endswith(".ini"))
print("profiles:", " ".join(profiles))
settings = configparser.ConfigParser()
settings.read(os.path.join(home, "vyrstandalone.ini"))
print("last profile:", settings.get("profiles", "lastprofile", fallback=""))
profile = configparser.ConfigParser()
profile.read(os.path.join(home, "profiles", "demosite.ini"))
print("profile name:", profile.get("profile", "name", fallback=""))
database = sqlite3.connect(os.path.join(home, profile.get("database", "filename", fallback="")))
database.create_collation("LOCALE_NOCASE", lambda a, b: (a.lower() > b.lower()) - (a.lower() < b.lower()))
def one(sql):
    return " ".join(str(row[0]) for row in database.execute(sql))
print("controllers:", one("SELECT COUNT(*) FROM Controllers"))
print("cardholders:", one("SELECT COUNT(*) FROM CardHolders WHERE NOT Deleted"))
print("zones:", one("SELECT COUNT(*) FROM CardZones WHERE ZoneID > 0"))
print("marked:", one("SELECT ConName FROM Controllers JOIN PendingChanges USING (ConID)"))
print("demo card:", one("SELECT CardHolder FROM CardHolders WHERE CardNumber = 'A1B2C3D4E5'"))
PY
}
expected_site="profiles: demosite.ini
last profile: demosite.ini
profile name: Demo site
controllers: 5
cardholders: 12
zones: 40
marked: Car park barrier
demo card: Amber Klaverkamp"

run
site=$(demo_site 2>&1) || true
[[ "$site" == "$expected_site" ]] || fail "the first run made no demo site like this:
$expected_site
but:
$site"
database="$home/data/demosite.accdb"
before=$(sha256sum "$database" 2>/dev/null || true)

run --usb
[[ "$(sha256sum "$database" 2>/dev/null || true)" == "$before" ]] ||
  fail "a later run (--usb) made the demo site again"
grep -q '^porttype=6$' "$root/demo/config/ibfs32.ini" || fail "--usb did not choose the USB adapter"

touch "$root/demo/data/left-from-before"
run --fresh --usb
if [[ -e "$root/demo/data/left-from-before" ]] || compgen -G "$home/profiles/*.ini" >/dev/null ||
  compgen -G "$home/data/*" >/dev/null || [[ -e "$home/vyrstandalone.ini" ]]; then
  fail "--fresh left something in the demo home:
$(find "$root/demo/data" | sort)"
fi

# An empty home, as --fresh leaves it when the wizard was cancelled, gets the demo site again.
run
site=$(demo_site 2>&1) || true
[[ "$site" == "$expected_site" ]] || fail "a run after --fresh made no demo site:
$site"
grep -q '^porttype=5$' "$root/demo/config/ibfs32.ini" || fail "no serial adapter without --usb"

# The demo on a server. The stand-in program reads the site through the connection its profile
# names, as the program would, while the server runs.
root="$scratch/server"
make_checkout "$root"
cat >"$root/build/bin/vyrstandalone" <<'STUB'
#!/bin/sh
bin="$(dirname "$0")"
profiles="$XDG_DATA_HOME/Tessaloom/VYR/Standalone/profiles"
# The program writes its INI files with CR LF line ends.
profile=$(tr -d '\r' <"$profiles/demosite.ini")
connection=$(echo "$profile" | sed -n 's/^connection=//p')
{
  echo "profiles: $(cd "$profiles" && ls)"
  echo "file: [$(echo "$profile" | sed -n 's/^filename=//p')]"
  host=$(echo "$connection" | sed -n 's/.*host=\([^ ]*\).*/\1/p')
  readlink -f "$host" >"$bin/cluster.txt"
  [ "$(readlink -f "$XDG_DATA_HOME/../cluster")" = "$(readlink -f "$host")" ] &&
    echo "server: in demo/server/cluster"
  psql "$connection" -XAt -c "SELECT 'controllers: ' || COUNT(*) FROM Controllers" \
    -c "SELECT 'cardholders: ' || COUNT(*) FROM CardHolders WHERE NOT Deleted" \
    -c "SELECT 'zones: ' || COUNT(*) FROM CardZones WHERE ZoneID > 0" \
    -c "SELECT 'marked: ' || ConName FROM Controllers JOIN PendingChanges USING (ConID)" \
    -c "SELECT 'demo card: ' || CardHolder FROM CardHolders WHERE CardNumber = 'A1B2C3D4E5'" 2>&1
} >"$bin/site.tmp"
mv "$bin/site.tmp" "$bin/site.txt" # whole, for the test that waits for it
[ -n "$WAIT" ] && exec sleep 300
exit 0
STUB
expected_server_site="profiles: demosite.ini
file: []
server: in demo/server/cluster
controllers: 5
cardholders: 12
zones: 40
marked: Car park barrier
demo card: Amber Klaverkamp"
server_stopped() {
  local cluster
  cluster=$(cat "$root/build/bin/cluster.txt")
  [[ -n "$cluster" && ! -e "$cluster" && ! -L "$root/demo/server/cluster" ]] &&
    ! pgrep -f -- "-D $cluster/data" >/dev/null
}
run --server
site=$(cat "$root/build/bin/site.txt" 2>&1) || true
[[ "$site" == "$expected_server_site" ]] || fail "run.sh --server made no demo site on the server like this:
$expected_server_site
but:
$site"
server_stopped || fail "run.sh --server left its server running or its folder behind"

# Stopped with Ctrl+C while the program runs: the server goes with it.
rm -f "$root/build/bin/site.txt"
WAIT=1 PATH="$root/fakebin:$PATH" QT_QPA_PLATFORM=offscreen VYR_BUILD_DIR=build \
  python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.setsid()
os.execv(sys.argv[1], sys.argv[1:])' "$root/run.sh" --server >"$root/out.log" 2>&1 &
script=$!
wait_for_file "$root/build/bin/site.txt"
[[ -e "$(cat "$root/build/bin/cluster.txt")/.s.PGSQL.5432" ]] ||
  fail "run.sh --server had no server while the program ran"
kill -INT -- "-$script"
wait "$script" 2>/dev/null || true
server_stopped || fail "run.sh --server stopped by Ctrl+C left its server running or its folder"

if ((failures)); then
  exit 1
fi
echo "run.sh ends the program and the virtual adapter on Ctrl+C, kill and hang-up"
echo "run.sh makes the demo site in a new demo home, keeps a used one and empties it with --fresh"
echo "run.sh --server makes the demo site on a throwaway server and stops it with the script"
