#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...].
# The prefix is created on first use (one caller at a time); Wine's own
# diagnostics are silenced so that tests see only the program's output.
# A Czech locale makes Windows-1250 the ANSI code page, the native text of
# the Windows build (Wine only reads the name; the locale need not exist).
set -euo pipefail
prefix=$(realpath -m "$1")
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=${KESTRAV3_WINE:-/usr/lib/wine/wine64}
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  (
    flock 9
    [ -f "$prefix/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1
  ) 9>"$prefix.lock"
fi
exec env LC_ALL="${KESTRAV3_WINE_LOCALE:-cs_CZ.UTF-8}" "$wine" "$@"
