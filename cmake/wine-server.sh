#!/usr/bin/env bash
# Starts or stops the Wine server of a build folder's prefix around a test
# run: wine-server.sh start|stop PREFIX.
#
# "start" creates the prefix if needed and leaves one server running until
# "stop", so the tests do not each wait for a server to start (or race
# with one shutting down). "stop" ends it and any Wine process left.
set -euo pipefail
action=$1
export WINEPREFIX=$(realpath -m "$2") WINEDEBUG=-all
here="$(cd "$(dirname "$0")" && pwd)"
server=${KESTRAV3_WINESERVER:-/usr/lib/wine/wineserver}
case "$action" in
  start)
    "$server" -k 2>/dev/null || true
    "$server" -w
    # A server can only run in a prefix that exists: create it first (its
    # own short-lived server ends by itself), then start the lasting one.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$here/wine-run.sh" "$WINEPREFIX" cmd /c exit </dev/null >/dev/null 2>&1
      "$server" -w
    fi
    "$server" -p </dev/null >/dev/null 2>&1
    "$here/wine-run.sh" "$WINEPREFIX" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$server" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: wine-server.sh start|stop PREFIX" >&2
    exit 2
    ;;
esac
