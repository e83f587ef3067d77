#!/bin/bash
# Kills profile writers with SIGKILL at random moments and checks after each kill that no profile
# was left broken (a profile file that cannot be read, names a missing or unusable database, or
# pairs a name with another name's database).
#
#   tests/profiles/kill-trials.sh BUILD_BIN_DIR [RUNS]
#
# Runs RUNS kills of the wizard's Finish (profile creation) and RUNS kills of profile rewrites,
# each series in a fresh data directory, and prints the figures. Exit status 1 when anything broke.
set -u
bin=${1:?usage: kill-trials.sh BUILD_BIN_DIR [RUNS]}
runs=${2:-300}
tool="$bin/vyr-profile-crash"
[ -x "$tool" ] || { echo "no $tool: build the target vyr-profile-crash" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen
status=0

series() {
    local mode=$1 home broken=0 i delay
    home=$(mktemp -d)
    export XDG_DATA_HOME="$home"
    for ((i = 0; i < runs; i++)); do
        "$tool" "$mode" &
        local pid=$!
        # Start-up takes some milliseconds; the kill lands anywhere from before the first write to
        # deep inside the loop.
        delay=$((40 + RANDOM % 360))
        sleep "$(printf "%d.%03d" $((delay / 1000)) $((delay % 1000)))"
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        if ! "$tool" check >"$home/check.txt"; then
            broken=$((broken + 1))
            grep '^broken' "$home/check.txt" | sed "s/^/run $i: /"
        fi
    done
    echo "$mode: $runs kills, $broken with a broken profile; after the last: $(tail -1 "$home/check.txt")"
    [ "$broken" -eq 0 ] || status=1
    rm -rf "$home"
}

series create
series rewrite
exit $status
