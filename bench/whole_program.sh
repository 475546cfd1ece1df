#!/usr/bin/env bash
# Times the whole program against md5sum of the same plain file, the write
# floor and the tools a user might pick instead, on one file of random bytes;
# then the recovery sets: -c --recovery=5 against -c, -p against par2 create
# with the same slice count, --repair of 3 damaged slices against md5sum.
#
# Every timed command runs once per round, and the rounds are interleaved,
# so that a change in the machine's load falls on all commands alike. Each
# line shows the median wall time, its spread (fastest and slowest run), the
# median processor time (user + system) and the median's ratio to md5sum's.
#
# kestrav3 flushes its outputs to the device before it reports success, so
# the write floor is shown both without and with a final flush. The files
# lie under $TMPDIR (default /tmp): its file system is printed, since a
# flush costs nothing on tmpfs.
#
#   bench/whole_program.sh [build/bin] [size in MiB, default 256] [rounds, default 5]
set -euo pipefail

bin=$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)
mib=${2:-256}
rounds=${3:-5}
export kestrav3="$bin/kestrav3"
export key="bench key 0123456789"
[ -x "$kestrav3" ] || { echo "no $kestrav3: build first (cmake --workflow --preset default)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((mib * 1024 * 1024)) /dev/urandom > plain.bin
head -c 3145727 /dev/urandom > dense.bin
# The coded file the decoder runs restore, in a folder of its own, so that
# they restore "d/plain.bin" beside it.
mkdir d
cp plain.bin d/plain.bin
"$kestrav3" -c d/plain.bin "$key" >/dev/null
rm d/plain.bin

# The timed commands of a group, one line each: a name, a setup that runs
# untimed before every run, and the command. The first line of a group is
# the reference the others are compared with. A line timing a fresh run
# removes the output in its setup, as a user's first run finds it; a line
# timing a run over an existing output makes sure there is one.
names=() setups=() commands=()
timed() { names+=("$1"); setups+=("$2"); commands+=("$3"); }

median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }

# Runs the rounds of the group's commands and prints one line for each.
run_group() {
  local -a walls cpus
  local round i t0 t1 user system
  for ((i = 0; i < ${#names[@]}; i++)); do walls[i]="" cpus[i]=""; done
  for ((round = 0; round < rounds; round++)); do
    for ((i = 0; i < ${#names[@]}; i++)); do
      eval "${setups[i]}"
      t0=$(date +%s.%N)
      /usr/bin/time -f '%U %S' -o cpu.txt bash -c "${commands[i]}" >/dev/null 2>&1
      t1=$(date +%s.%N)
      read -r user system < <(tail -n 1 cpu.txt)
      walls[i]+=" $(echo "$t1 - $t0" | bc -l)"
      cpus[i]+=" $(echo "$user + $system" | bc -l)"
    done
  done
  local reference wall
  printf '%-40s %8s  %-15s %7s  %s\n' "" "median" "spread" "cpu" "ratio"
  for ((i = 0; i < ${#names[@]}; i++)); do
    # shellcheck disable=SC2086
    wall=$(median ${walls[i]})
    [ "$i" -eq 0 ] && reference=$wall
    # shellcheck disable=SC2086
    printf '%-40s %7.3fs  %6.3f - %6.3fs %6.2fs  %5.2fx\n' "${names[i]}" "$wall" \
      "$(printf '%s\n' ${walls[i]} | sort -g | head -n 1)" "$(printf '%s\n' ${walls[i]} | sort -g | tail -n 1)" \
      "$(median ${cpus[i]})" "$(echo "$wall / $reference" | bc -l)"
  done
  names=() setups=() commands=()
}

echo "file: $mib MiB of random bytes, medians of $rounds interleaved rounds"
echo "folder: $work on $(stat -f -c %T "$work")"
echo "load before: $(uptime | sed 's/.*load average: //')"
timed "md5sum" "" 'md5sum plain.bin'
# What the coder must write at least: twice the file, through the file cache.
timed "write floor: cat plain plain > out" "rm -f out.bin" 'cat plain.bin plain.bin > out.bin'
timed "write floor, flushed: ... && sync -d out" "rm -f out.bin" 'cat plain.bin plain.bin > out.bin && sync -d out.bin'
# Replacing a file the same way, as the coder does: written beside it,
# flushed, renamed over it. Freeing the old file's blocks is the file
# system's work (with online discard it waits for the device).
timed "write floor, flushed, renamed over out" "[ -e out.bin ] || cat plain.bin plain.bin > out.bin" \
  'cat plain.bin plain.bin > new.bin && sync -d new.bin && mv new.bin out.bin'
# What a restore must write at least: the file once.
timed "write floor -d, flushed: cat plain > out" "rm -f out.bin" 'cat plain.bin > out.bin && sync -d out.bin'
timed "kestrav3 -c" "rm -f plain.bin.archi" '"$kestrav3" -c plain.bin "$key"'
timed "kestrav3 -c over an existing output" "[ -e plain.bin.archi ] || cp d/plain.bin.archi ." \
  '"$kestrav3" -c plain.bin "$key"'
timed "kestrav3 -d" "rm -f d/plain.bin" '"$kestrav3" -d d/plain.bin.archi "$key"'
timed "kestrav3 -d over an existing output" "[ -e d/plain.bin ] || cp plain.bin d/" \
  '"$kestrav3" -d d/plain.bin.archi "$key"'
# Testing reads and hashes the coded file and writes nothing.
timed "kestrav3 -t" "" '"$kestrav3" -t d/plain.bin.archi "$key"'
timed "openssl enc -aes-256-ctr -pbkdf2" "rm -f plain.enc" \
  'openssl enc -aes-256-ctr -pbkdf2 -pass pass:"$key" -in plain.bin -out plain.enc'
if command -v ccrypt >/dev/null; then
  timed "ccrypt -e" "rm -f c.bin.cpt; cp plain.bin c.bin" 'ccrypt -f -K "$key" -e -S .cpt c.bin'
fi
run_group
echo "load after:  $(uptime | sed 's/.*load average: //')"
cmp -s d/plain.bin plain.bin || { echo "restored file differs"; exit 1; }
command -v ccrypt >/dev/null || echo "ccrypt: not installed (apt-get install ccrypt)"
rm -f out.bin new.bin plain.enc c.bin c.bin.cpt

# Recovery sets, in the same run: coding with a set against coding alone,
# adding a set against par2 with the same slice count, and a repair of 3
# damaged slices against md5sum of the plain file.
mkdir r
cp d/plain.bin.archi r/
"$kestrav3" -p --recovery=5 r/plain.bin.archi >/dev/null
slices=$("$kestrav3" -p --recovery=5 r/plain.bin.archi | sed -n 's/^ Slices: *\([0-9]*\) of.*/\1/p')
cp r/plain.bin.archi r/pristine.archi
# Flips a byte in 3 slices far apart (before every repair, untimed).
export slice_bytes=$(( $(stat -c %s r/plain.bin.archi) / slices + 1 ))
damage='cp r/pristine.archi r/plain.bin.archi; for k in 1 $((slices / 2)) $((slices - 2)); do
  printf x | dd of=r/plain.bin.archi bs=1 seek=$((k * slice_bytes + 100)) conv=notrunc status=none; done'
mkdir p
cp d/plain.bin.archi p/
echo
echo "recovery sets: $mib MiB of random bytes, $slices slices, medians of $rounds interleaved rounds"
timed "kestrav3 -c" "rm -f plain.bin.archi plain.bin.archi*.par2" '"$kestrav3" -c plain.bin "$key"'
timed "kestrav3 -c --recovery=5" "rm -f plain.bin.archi plain.bin.archi*.par2" \
  '"$kestrav3" -c --recovery=5 -E key plain.bin'
run_group
if command -v par2 >/dev/null; then
  timed "par2 create -r5 -b$slices" "rm -f p/*.par2" "par2 create -q -q -r5 -b$slices p/plain.bin.archi"
fi
timed "kestrav3 -p --recovery=5" "rm -f p/*.par2" '"$kestrav3" -p --recovery=5 p/plain.bin.archi'
run_group
timed "md5sum (plain file)" "" 'md5sum plain.bin'
timed "kestrav3 --repair, 3 damaged slices" "$damage" '"$kestrav3" --repair r/plain.bin.archi'
run_group
cmp -s r/plain.bin.archi r/pristine.archi || { echo "repaired file differs"; exit 1; }
eval "$damage"
repair_kib=$(/usr/bin/time -f %M "$kestrav3" --repair r/plain.bin.archi 2>&1 >/dev/null | tail -n 1)
rm -f plain.bin.archi plain.bin.archi*.par2
code_set_kib=$(/usr/bin/time -f %M "$kestrav3" -c --recovery=5 -E key plain.bin 2>&1 >/dev/null | tail -n 1)
protect_kib=$(/usr/bin/time -f %M "$kestrav3" -p --recovery=5 p/plain.bin.archi 2>&1 >/dev/null | tail -n 1)
printf '%-40s %8s KiB\n' "peak memory, kestrav3 -c --recovery=5" "$code_set_kib" \
  "peak memory, kestrav3 -p --recovery=5" "$protect_kib" "peak memory, kestrav3 --repair" "$repair_kib"
rm -rf r p plain.bin.archi*.par2
echo

# Peak memory of one coding and one decoding run of the large file.
rm -f plain.bin.archi d/plain.bin
code_kib=$(/usr/bin/time -f %M "$kestrav3" -c plain.bin "$key" 2>&1 >/dev/null | tail -n 1)
decode_kib=$(/usr/bin/time -f %M "$kestrav3" -d d/plain.bin.archi "$key" 2>&1 >/dev/null | tail -n 1)
printf '%-40s %8s KiB\n' "peak memory, kestrav3 -c" "$code_kib" "peak memory, kestrav3 -d" "$decode_kib"
rm -f plain.bin plain.bin.archi d/plain.bin

echo
echo "file: 3,145,727 bytes (dense noise), process start included"
timed "md5sum" "" 'md5sum dense.bin'
timed "kestrav3 -c (dense noise)" "rm -f dense.bin.archi" '"$kestrav3" -c dense.bin "$key"'
run_group
