#!/usr/bin/env bash
# Takes a picture of the Windows progress window, run under Wine on a
# private virtual X server.
#
#   progress_window/screenshot_windows.sh [OUT.png]
#
# Codes a temporary 512 MiB file with "kestrav3.exe -cg" and takes the
# picture part way through the run. OUT.png defaults to
# progress_window_windows.png in the current folder.
#
# Needs: Wine (package wine64), Xvfb (xvfb), xwininfo (x11-utils) and
# ImageMagick's "import" (imagemagick). Reads the programs from
# build-windows/bin; set BUILD_BIN to use others. Wine's prefix is the
# build folder's own (BUILD_BIN/../wine).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${BUILD_BIN:-$here/../build-windows/bin}" && pwd)"
wine_run="$here/../cmake/wine-run.sh"
prefix="$bin/../wine"
out="$(realpath -m "${1:-progress_window_windows.png}")"

need() {
  command -v "$1" >/dev/null 2>&1 || { echo "screenshot_windows.sh: needs $1 (package $2)" >&2; exit 2; }
}
need Xvfb xvfb
need xwininfo x11-utils
need import imagemagick
for f in kestrav3.exe kestrav3lib.dll Kestrav_progress_bar.exe; do
  [ -f "$bin/$f" ] || { echo "screenshot_windows.sh: $bin/$f is not built" >&2; exit 2; }
done

work="$(mktemp -d)"
xvfb_pid=""
run_pid=""
cleanup() {
  set +e
  [ -n "$run_pid" ] && wait "$run_pid" 2>/dev/null
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display number and tells it through fd 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$work/display")"

# The program looks for the window program in the current folder.
cp "$bin/kestrav3.exe" "$bin/kestrav3lib.dll" "$bin/Kestrav_progress_bar.exe" "$work/"
head -c $((512 << 20)) /dev/urandom >"$work/sample.bin"
(cd "$work" && exec "$wine_run" "$prefix" ./kestrav3.exe -cg sample.bin screenshot-key >/dev/null 2>&1) &
run_pid=$!

id=""
for _ in $(seq 400); do
  id="$(xwininfo -root -tree 2>/dev/null | awk '/"kestrav3"/ { print $1; exit }')"
  [ -n "$id" ] && break
  sleep 0.05
done
[ -n "$id" ] || { echo "screenshot_windows.sh: no window titled kestrav3 appeared" >&2; exit 1; }
sleep 0.7
import -window "$id" "$out"
echo "screenshot_windows.sh: wrote $out"
