#!/usr/bin/env bash
# The Debian package as a user gets it: built by CPack from this build, unpacked with dpkg-deb into
# a scratch root, its files where the desktop, udev, man and dpkg look for them, and the unpacked
# program started on a virtual X server in an empty home until its first window, the wizard, shows.
# The program must find its library, template and catalogues from wherever it was unpacked.
#
# usage: package_test.sh BUILD_DIR SOURCE_DIR     (exit 77: skipped)
set -euo pipefail
build_dir="$(cd "$1" && pwd)"
source_dir="$(cd "$2" && pwd)"
skip() {
  echo "SKIPPED: $*"
  exit 77
}
for tool in dpkg-deb dpkg-shlibdeps cpack xvfb-run xwininfo; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (see packaging/debian-packages.txt)"
done

scratch="$(mktemp -d)"
program_pid=""
cleanup() {
  [[ -n "$program_pid" ]] && kill "$program_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- build and unpack ------------------------------------------------------------------------
cpack --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  {
    cat "$scratch/cpack.log" >&2
    exit 1
  }
debs=("$scratch"/out/vyrstandalone_*.deb)
[[ -f "${debs[0]}" ]] || {
  fail "CPack made no vyrstandalone_*.deb"
  exit 1
}
deb="${debs[0]}"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"

# --- the file list -----------------------------------------------------------------------------
app_id=com.tessaloom.vyrstandalone
expected=(
  usr/lib/vyrstandalone/vyrstandalone
  usr/lib/vyrstandalone/libibfs32.so
  usr/lib/vyrstandalone/default.accdb
  usr/lib/vyrstandalone/locale/nl/LC_MESSAGES/default.mo
  usr/share/applications/$app_id.desktop
  usr/share/metainfo/$app_id.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/$app_id.svg
  usr/lib/udev/rules.d/70-vyrstandalone-ds2490.rules
  usr/share/man/man1/vyrstandalone.1.gz
  usr/share/doc/vyrstandalone/copyright
  usr/share/doc/vyrstandalone/changelog.gz
  usr/share/doc/vyrstandalone/README.Debian
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
for file in "${expected[@]}"; do
  [[ -f "$root/$file" ]] || fail "missing in the package: /$file"
done
if [[ "$(readlink "$root/usr/bin/vyrstandalone")" != ../lib/vyrstandalone/vyrstandalone ]]; then
  fail "/usr/bin/vyrstandalone is not the relative link to the program"
fi
for size in 16 48 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  [[ "$(file -b "$png" 2>/dev/null)" == *"PNG image data, $size x $size"* ]] ||
    fail "the ${size}x${size} icon is not a $size-pixel PNG"
done
# Nothing of the build or the tests may ride along.
strays=$(cd "$root" && find . -type f \( -name '*test*' -o -name 'ibutton-sim' -o -name '*.a' \
  -o -name 'libfaketmex*' \) | sort)
[[ -z "$strays" ]] || fail "build or test files in the package: $strays"

# --- control data --------------------------------------------------------------------------------
depends="$(dpkg-deb -f "$deb" Depends)"
# libqt6widgets6 comes from dpkg-shlibdeps; the rest is loaded at run time and declared by hand.
for needed in libqt6widgets6 libqt6sql6-sqlite libqt6gui6 fonts-wine; do
  [[ ",$depends," =~ [,\ ]$needed[\ ,\(] ]] || fail "Depends lacks $needed: $depends"
done

# --- desktop data --------------------------------------------------------------------------------
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/$app_id.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "AppStream metainfo"
fi
exec_line="$(grep '^Exec=' "$root/usr/share/applications/$app_id.desktop")"
[[ "$exec_line" == "Exec=vyrstandalone" ]] || fail "the desktop entry starts '$exec_line'"

# --- the unpacked program starts -----------------------------------------------------------------
# An empty home but for two things: a virtual adapter in the 1-Wire library's configuration, so
# the adapter test passes only if the program loaded its own library (otherwise an "Adapter not
# loaded" box comes first and the wizard never shows), and Dutch as the language, so the wizard's
# title proves that the catalogue beside the program was found.
home="$scratch/home"
mkdir -p "$home/.config" "$home/.local/share/Tessaloom/VYR/Standalone" "$scratch/ibuttons"
printf '[settings]\nlanguage=nl\n' >"$home/.local/share/Tessaloom/VYR/Standalone/vyrstandalone.ini"
"$build_dir/bin/ibutton-sim" serve --tty "$scratch/tty" --state "$scratch/ibuttons" \
  >"$scratch/sim.log" 2>&1 &
program_pid=$!
for _ in $(seq 50); do
  [[ -e "$scratch/tty" ]] && break
  sleep 0.1
done
printf '[default]\nporttype=5\nportnum=1\n[serial]\nport1=%s\n' "$scratch/tty" \
  >"$home/.config/ibfs32.ini"
wizard_title="$(python3 - "$source_dir/locale/nl.po" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
print(re.search(r'\nmsgid "Profile Wizard"\nmsgstr "([^"]+)"', text).group(1))
PY
)"
cat >"$scratch/start.sh" <<'START'
#!/usr/bin/env bash
# Runs on the virtual X server: starts the program, waits for the wizard, lists what was shown.
"$1" >"$2/program.log" 2>&1 &
program=$!
for _ in $(seq 300); do
  if xwininfo -root -tree 2>/dev/null | grep -F -- "$3" >/dev/null; then
    xwininfo -root -tree >"$2/windows.txt" 2>&1
    kill "$program"
    exit 0
  fi
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
xwininfo -root -tree >"$2/windows.txt" 2>&1
kill "$program" 2>/dev/null
exit 1
START
chmod +x "$scratch/start.sh"
if ! env -i PATH="/usr/bin:/bin" HOME="$home" QT_QPA_PLATFORM=xcb \
  xvfb-run -a "$scratch/start.sh" "$root/usr/bin/vyrstandalone" "$scratch" "$wizard_title"; then
  fail "the unpacked program did not show the wizard \"$wizard_title\"; its windows:"
  grep '"' "$scratch/windows.txt" >&2 || true
  cat "$scratch/program.log" >&2 || true
fi

if ((failures)); then
  exit 1
fi
echo "package $(basename "$deb"): files, control data, desktop data and start-up are sound"
