#!/usr/bin/env bash
# Files coded by one build are restored by the other:
#
#   windows_compat_test.sh LINUX_KESTRAV3 WINDOWS_BIN WINE_PREFIX
#
# For several sizes, a file with a Czech name and Czech metadata is coded
# on Linux (UTF-8 names and text) and restored and described by the
# Windows build under Wine (Windows-1250), and the other way round. The
# restored bytes and names, the "-m" output (each side's native text,
# compared as UTF-8 text) and the .err logs of a damaged file (compared as
# text) must agree. Ends with 77 (skipped) when a build is missing.
set -euo pipefail
linux=$(realpath -m "$1")
winbin=$(realpath -m "$2")
prefix=$(realpath -m "$3")
here="$(cd "$(dirname "$0")" && pwd)"
wine_run="$here/../cmake/wine-run.sh"

[ -x "$linux" ] || { echo "no native build at $linux: build it with 'cmake --workflow --preset default'"; exit 77; }
[ -f "$winbin/kestrav3.exe" ] || { echo "no Windows build in $winbin"; exit 77; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

key="compat key 42"
# Czech letters that both conversion tables pair with each other. The
# tables give é, ě (capital), š, ť, ž and the capitals Š, Ž other pairs, so
# those come back changed on the other side; they are left out here.
meta_utf8=$'Autor: Jana Nováková\nPopis: kůň čápů úpěl ďábelsky, příchozí ÚDOLÍ ŘEKY ČÁRY Ň Ó Ý Ů Ť É\n'

on_linux() { (cd "$1" && shift && "$linux" "$@"); }
on_windows() { (cd "$1" && shift && "$wine_run" "$prefix" "$winbin/kestrav3.exe" "$@"); }
# The "-m" output of each side as UTF-8 text with Unix line ends.
linux_text() { cat; }
windows_text() { iconv -f CP1250 -t UTF-8 | tr -d '\r'; }

# code_on SIDE: codes NAME in a fresh folder on SIDE, restores it on the
# other side; compares bytes, names and metadata.
exchange() {
  local from=$1 to=$2 size=$3
  local src="$work/$from-$size" dst="$work/$from-$size-to-$to"
  local name="kůň čápů $size.bin" coded="kun_capu_$size.bin.archi"
  mkdir -p "$src" "$dst"
  head -c "$size" /dev/urandom >"$src/$name"
  if [ "$from" = linux ]; then
    printf '%s' "$meta_utf8" >"$src/$name.met"
  else
    # A Windows text file: Windows-1250 with CR LF line ends.
    printf '%s' "$meta_utf8" | sed 's/$/\r/' | iconv -f UTF-8 -t CP1250 >"$src/$name.met"
  fi
  "on_$from" "$src" -c "$name" "$key" >"$src/code.out" || { fail "$from could not code $size bytes"; return; }
  [ -f "$src/$coded" ] || { fail "$from named the coded file otherwise: $(ls "$src")"; return; }
  cp "$src/$coded" "$dst/"
  "on_$to" "$dst" -d "$coded" "$key" >/dev/null || { fail "$to could not restore $size bytes from $from"; return; }
  cmp -s "$src/$name" "$dst/$name" || fail "$to restored other bytes or another name from $from ($size bytes): $(ls "$dst")"
  [ ! -e "$dst/$name.err" ] || fail "$to logged errors restoring an undamaged file ($size bytes)"
  local m_from m_to
  m_from="$("on_$from" "$src" -m "$coded" "$key" | "${from}_text")"
  m_to="$("on_$to" "$dst" -m "$coded" "$key" | "${to}_text")"
  [ "$m_from" = "$m_to" ] || fail "-m differs ($size bytes, coded on $from): '$m_from' vs '$m_to'"
  [ "$m_to" = "${meta_utf8%$'\n'}" ] || fail "-m shows other metadata ($size bytes, coded on $from): '$m_to'"
}

# A coded file with a flipped byte in block 1 and in the rest block is
# restored by both sides: same bytes, same log.
damaged() {
  local from=$1 size=$2
  local src="$work/$from-$size" coded="kun_capu_$size.bin.archi" name="kůň čápů $size.bin"
  local blocks=$((size / 4096)) rest=$((size % 4096))
  [ "$blocks" -ge 2 ] || return 0
  local bad="$work/damaged-$from-$size.archi"
  [ -f "$src/$coded" ] || return 0
  cp "$src/$coded" "$bad"
  flip() { printf '\x5a' | dd of="$bad" bs=1 seek="$1" conv=notrunc status=none; }
  flip $((16384 + 8272 + 80 + 4096 + 100))
  [ "$rest" -gt 0 ] && flip $((16384 + blocks * 8272 + 80 + rest + 1))
  for side in linux windows; do
    mkdir -p "$work/bad-$from-$size-$side"
    cp "$bad" "$work/bad-$from-$size-$side/$coded"
    "on_$side" "$work/bad-$from-$size-$side" -d "$coded" "$key" >/dev/null || fail "$side failed on a damaged file"
  done
  local l="$work/bad-$from-$size-linux" w="$work/bad-$from-$size-windows"
  cmp -s "$l/$name" "$w/$name" || fail "the sides restored a damaged file ($size bytes) differently"
  [ -s "$l/$name.err" ] || fail "no log for a damaged file ($size bytes)"
  [ "$(cat "$l/$name.err")" = "$(tr -d '\r' <"$w/$name.err")" ] ||
    fail "the logs differ ($size bytes): '$(cat "$l/$name.err")' vs '$(cat "$w/$name.err")'"
}

for size in 1 4096 10000 3145728; do
  exchange linux windows "$size"
  exchange windows linux "$size"
  damaged linux "$size"
  damaged windows "$size"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "Linux and Windows builds agree on every exchanged file"
