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
# Czech letters that come back as written in every direction; all the
# Czech and Slovak letters are exchanged by czech_letters below.
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
    # A restore with damaged blocks writes the file and ends with status 3.
    status=0
    "on_$side" "$work/bad-$from-$size-$side" -d "$coded" "$key" >/dev/null || status=$?
    [ "$status" -eq 3 ] || fail "$side gave status $status on a damaged file, not 3"
  done
  local l="$work/bad-$from-$size-linux" w="$work/bad-$from-$size-windows"
  cmp -s "$l/$name" "$w/$name" || fail "the sides restored a damaged file ($size bytes) differently"
  [ -s "$l/$name.err" ] || fail "no log for a damaged file ($size bytes)"
  [ "$(cat "$l/$name.err")" = "$(tr -d '\r' <"$w/$name.err")" ] ||
    fail "the logs differ ($size bytes): '$(cat "$l/$name.err")' vs '$(cat "$w/$name.err")'"
}

# The Czech and Slovak letters with a diacritic, as written and as read back
# where the coder's table pairs them with other letters: read on Windows, ĺ
# and Ĺ give the table's ľ and Ľ; read on Linux from a Windows coder, é, Ě,
# ž, ľ and Ľ give ė, Ĕ, Ž, ĺ and Ĺ. Every other letter comes back as written.
letters='áäčďéěíĺľňóôŕřšťúůýž ÁÄČĎÉĚÍĹĽŇÓÔŔŘŠŤÚŮÝŽ'
read_on_windows='áäčďéěíľľňóôŕřšťúůýž ÁÄČĎÉĚÍĽĽŇÓÔŔŘŠŤÚŮÝŽ'
read_on_linux='áäčďėěíĺĺňóôŕřšťúůýŽ ÁÄČĎÉĔÍĹĹŇÓÔŔŘŠŤÚŮÝŽ'
letters_coded='Zlutoucky_kun_aacdeeillnoorrstuuyz_AACDEEILLNOORRSTUUYZ.txt.archi'
letters_name() { printf 'Žluťoučký kůň %s.txt' "$1"; }
letters_meta() { printf 'Písmena: %s\nZnaky: „uvozovky“ ‚jednou‘ – … € ™' "$1"; }

# write_met SIDE FILE TEXT: the companion file as SIDE's own text file.
write_met() {
  if [ "$1" = linux ]; then
    printf '%s\n' "$3" >"$2"
  else
    printf '%s\n' "$3" | sed 's/$/\r/' | iconv -f UTF-8 -t CP1250 >"$2"
  fi
}

# cross FROM TO SRC NAME DST WANT: codes SRC/NAME on FROM and restores the
# coded file on TO in DST. Both sides must give the coded file the same
# name, the restored file must be DST/(letters_name WANT) with the same
# bytes, and -m on TO must show the metadata of WANT's letters.
cross() {
  local from=$1 to=$2 src=$3 name=$4 dst=$5 want=$6
  rm -f "$src/$letters_coded"
  "on_$from" "$src" -c "$name" "$key" >"$src/code.out" || { fail "$from could not code '$name'"; return 1; }
  [ -f "$src/$letters_coded" ] || { fail "$from named the coded file of '$name' otherwise: $(ls "$src")"; return 1; }
  mkdir -p "$dst"
  cp "$src/$letters_coded" "$dst/"
  "on_$to" "$dst" -d "$letters_coded" "$key" >/dev/null || { fail "$to could not restore '$name' from $from"; return 1; }
  local restored
  restored="$dst/$(letters_name "$want")"
  [ -f "$restored" ] || { fail "$to restored '$name' from $from as: $(ls "$dst")"; return 1; }
  cmp -s "$src/$name" "$restored" || fail "$to restored other bytes of '$name' from $from"
  local shown
  shown="$("on_$to" "$dst" -m "$letters_coded" "$key" | "${to}_text")" || true
  [ "$shown" = "$(letters_meta "$want")" ] || fail "-m on $to of a file from $from shows '$shown'"
}

czech_letters() {
  local name
  name="$(letters_name "$letters")"
  # Linux -> Windows -> Linux: Windows codes again what it restored.
  mkdir -p "$work/letters-l"
  head -c 5000 /dev/urandom >"$work/letters-l/$name"
  write_met linux "$work/letters-l/$name.met" "$(letters_meta "$letters")"
  if cross linux windows "$work/letters-l" "$name" "$work/letters-lw" "$read_on_windows"; then
    write_met windows "$work/letters-lw/$(letters_name "$read_on_windows").met" "$(letters_meta "$read_on_windows")"
    cross windows linux "$work/letters-lw" "$(letters_name "$read_on_windows")" "$work/letters-lwl" "$read_on_linux" ||
      true
  fi
  # Windows -> Linux.
  mkdir -p "$work/letters-w"
  head -c 5000 /dev/urandom >"$work/letters-w/$name"
  write_met windows "$work/letters-w/$name.met" "$(letters_meta "$letters")"
  cross windows linux "$work/letters-w" "$name" "$work/letters-wl" "$read_on_linux" || true
}

czech_letters

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
