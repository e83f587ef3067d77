#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests, listening only on a Unix socket in its folder.
#
#   pgcluster.sh start FOLDER [PID]  make the cluster (first time) and start it; with a PID, the
#                                    cluster is removed once that process is gone, however it ended
#   pgcluster.sh kill FOLDER         stop it at once, as a power cut would (immediate shutdown)
#   pgcluster.sh stop FOLDER         stop it and remove the folder
#
# The server refuses to run as root; under root (as in CI) the system's postgres user owns and
# runs it.
set -euo pipefail
command=$1
folder=$2

bindir=""
for candidate in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  if [[ -x "$candidate/initdb" ]]; then bindir=$candidate; break; fi
done
if [[ -z "$bindir" ]]; then
  initdb=$(command -v initdb || true)
  [[ -n "$initdb" ]] || { echo "no PostgreSQL server is installed (run ./packaging/ensure-packages.sh)" >&2; exit 1; }
  bindir=$(dirname "$initdb")
fi

as=()
if [[ $(id -u) -eq 0 ]]; then
  as=(runuser -u postgres --)
fi

case "$command" in
start)
  mkdir -p "$folder"
  chmod 700 "$folder"
  if [[ $(id -u) -eq 0 ]]; then chown postgres: "$folder"; fi
  cd "$folder"
  if [[ ! -f "$folder/data/PG_VERSION" ]]; then
    "${as[@]}" "$bindir/initdb" -D "$folder/data" -U postgres -A trust -E UTF8 --locale=C \
      --no-sync --no-instructions >"$folder/initdb.log" 2>&1 ||
      { cat "$folder/initdb.log" >&2; exit 1; }
  fi
  # One left running by an earlier run that was cut short serves as it is.
  if "${as[@]}" "$bindir/pg_ctl" -D "$folder/data" status >/dev/null 2>&1; then exit 0; fi
  # fsync off: a test cluster never has to outlive the machine.
  "${as[@]}" "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
    -o "-k $folder -c listen_addresses='' -F -c max_connections=60" start >/dev/null ||
    { cat "$folder/server.log" >&2; exit 1; }
  if [[ -n "${3:-}" ]]; then
    owner=$3
    script=$(readlink -f "$0")
    # A test binary killed by a timeout leaves no server behind.
    (
      while kill -0 "$owner" 2>/dev/null; do sleep 2; done
      bash "$script" stop "$folder"
    ) </dev/null >/dev/null 2>&1 &
    disown
  fi
  ;;
kill)
  cd "$folder"
  "${as[@]}" "$bindir/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null
  ;;
stop)
  if [[ -d "$folder/data" ]]; then
    cd "$folder"
    "${as[@]}" "$bindir/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  cd /
  rm -rf "$folder"
  ;;
*)
  echo "usage: $0 start|kill|stop FOLDER [PID]" >&2
  exit 2
  ;;
esac
