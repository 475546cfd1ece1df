#!/usr/bin/env bash
# Times the whole program against the tools a user might pick instead, on
# one file of random bytes, and prints each median time and its ratio to
# md5sum of the same plain file.
#
#   bench/whole_program.sh [build/bin] [size in MiB, default 256] [runs, default 5]
set -euo pipefail

bin=$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)
mib=${2:-256}
runs=${3:-5}
kestrav3="$bin/kestrav3"
[ -x "$kestrav3" ] || { echo "no $kestrav3: build first (cmake --workflow --preset default)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((mib * 1024 * 1024)) /dev/urandom > plain.bin
head -c 3145727 /dev/urandom > dense.bin
key="bench key 0123456789"

# Median wall time in seconds of running "$@" runs times; a setup command in
# $before runs untimed before each run.
median() {
  local times=()
  for _ in $(seq "$runs"); do
    [ -n "${before:-}" ] && eval "$before"
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    times+=("$(echo "$t1 - $t0" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}

report() {  # name seconds reference
  printf '%-40s %8.3f s  %6.2fx md5sum\n' "$1" "$2" "$(echo "$2 / $3" | bc -l)"
}

echo "file: $mib MiB of random bytes, median of $runs runs"
md5=$(before="" median md5sum plain.bin)
report "md5sum" "$md5" "$md5"
# The coder must write twice the file, 4 KiB at a time with a flush after
# each write: this much of its time goes to the system whatever it computes.
floor=$(before="rm -f floor.bin" median dd if=/dev/zero of=floor.bin bs=4096 count=$((2 * mib * 256)))
rm -f floor.bin
report "writing 2x the file in 4 KiB writes (dd)" "$floor" "$md5"
code=$(before="rm -f plain.bin.archi" median "$kestrav3" -c plain.bin "$key")
report "kestrav3 -c" "$code" "$md5"
mv plain.bin plain.keep
decode=$(before="rm -f plain.bin" median "$kestrav3" -d plain.bin.archi "$key")
report "kestrav3 -d" "$decode" "$md5"
cmp -s plain.bin plain.keep || { echo "restored file differs"; exit 1; }
# Testing reads and hashes the coded file and writes nothing: it must take at
# most 0.35x the time md5sum takes on the plain file.
check=$(before="" median "$kestrav3" -t plain.bin.archi "$key")
report "kestrav3 -t" "$check" "$md5"
mv plain.keep plain.bin
rm -f plain.bin.archi
ssl=$(before="rm -f plain.enc" median openssl enc -aes-256-ctr -pbkdf2 -pass pass:"$key" -in plain.bin -out plain.enc)
report "openssl enc -aes-256-ctr -pbkdf2" "$ssl" "$md5"
rm -f plain.enc
if command -v ccrypt >/dev/null; then
  cc=$(before="rm -f plain.bin.cpt; cp plain.bin c.bin" median ccrypt -f -K "$key" -e -S .cpt c.bin)
  report "ccrypt -e" "$cc" "$md5"
else
  echo "ccrypt: not installed (apt-get install ccrypt)"
fi

# Peak memory of one coding and one decoding run of the large file.
rm -f plain.bin.archi
code_kib=$(/usr/bin/time -f %M "$kestrav3" -c plain.bin "$key" 2>&1 >/dev/null | tail -n 1)
mv plain.bin plain.keep
decode_kib=$(/usr/bin/time -f %M "$kestrav3" -d plain.bin.archi "$key" 2>&1 >/dev/null | tail -n 1)
printf '%-40s %8s KiB\n' "peak memory, kestrav3 -c" "$code_kib" "peak memory, kestrav3 -d" "$decode_kib"
rm -f plain.bin plain.bin.archi

echo "file: 3,145,727 bytes (dense noise), process start included"
md5d=$(before="" median md5sum dense.bin)
report "md5sum" "$md5d" "$md5d"
dense=$(before="rm -f dense.bin.archi" median "$kestrav3" -c dense.bin "$key")
report "kestrav3 -c (dense noise)" "$dense" "$md5d"
