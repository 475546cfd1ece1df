#!/usr/bin/env bash
# Takes a picture of the progress window under a private virtual X server.
#
#   progress_window/screenshot.sh [--percent N] [OUT.png]
#
# By default it codes a temporary 256 MiB file with "kestrav3 -cg" and takes
# the picture part way through the run. With --percent N it runs the window
# program alone on a block of its own that holds N, with no kestrav3 needed.
# OUT.png defaults to progress_window.png in the current folder.
#
# Needs: Xvfb (package xvfb), xwininfo (x11-utils) and ImageMagick's
# "import" (package imagemagick), or else xwd (x11-apps) with ImageMagick's
# "convert". Reads the programs from build/bin; set BUILD_BIN to use others.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
bin="${BUILD_BIN:-$here/../build/bin}"
window_program="$bin/Kestrav_progress_bar.exe"
kestrav3="$bin/kestrav3"

percent=""
out="progress_window.png"
while [ $# -gt 0 ]; do
  case "$1" in
    --percent) percent="$2"; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) out="$1"; shift ;;
  esac
done

need() {
  command -v "$1" >/dev/null 2>&1 || { echo "screenshot.sh: needs $1 (package $2)" >&2; exit 2; }
}
need Xvfb xvfb
need xwininfo x11-utils
if ! command -v import >/dev/null 2>&1; then
  need xwd x11-apps
  need convert imagemagick
fi
[ -x "$window_program" ] || { echo "screenshot.sh: $window_program is not built" >&2; exit 2; }

work="$(mktemp -d)"
xvfb_pid=""
run_pid=""
cleanup() {
  set +e
  if [ -n "$run_pid" ]; then
    # A coding run ends by itself soon; the window alone is stopped.
    [ -n "$percent" ] && kill "$run_pid" 2>/dev/null
    wait "$run_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  [ -n "${block:-}" ] && rm -f "/dev/shm/$block"
  rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display number and tells it through fd 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$work/display")"

if [ -n "$percent" ]; then
  # A block of its own: POSIX shared memory lives in /dev/shm on Linux.
  block="kestrav3_screenshot_$$"
  head -c 256 /dev/zero >"/dev/shm/$block"
  printf '%d\n' "$((percent + 1))" | dd of="/dev/shm/$block" conv=notrunc status=none
  "$window_program" "$block" >/dev/null &
  run_pid=$!
  settle=0.5
else
  [ -x "$kestrav3" ] || { echo "screenshot.sh: $kestrav3 is not built" >&2; exit 2; }
  cp "$window_program" "$work/"
  head -c $((256 << 20)) /dev/urandom >"$work/sample.bin"
  (cd "$work" && exec "$kestrav3" -cg sample.bin screenshot-key >/dev/null) &
  run_pid=$!
  settle=1.0
fi

for _ in $(seq 200); do xwininfo -name kestrav3 >/dev/null 2>&1 && break; sleep 0.05; done
id="$(xwininfo -name kestrav3 | awk '/Window id:/ { print $4 }')"
sleep "$settle"
if command -v import >/dev/null 2>&1; then
  import -window "$id" "$out"
else
  xwd -silent -id "$id" >"$work/window.xwd"
  convert "$work/window.xwd" "$out"
fi
echo "screenshot.sh: wrote $out"
