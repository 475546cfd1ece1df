#!/usr/bin/env bash
# Times the many-file form against what it replaces, in the same run:
#  1. -t over many small coded files in one command, against a shell loop of
#     one -t command per file (target: at least 5x faster);
#  2. -j 2 against -j 1 on a few large files, for -t and for -c (target on
#     a machine with 2 cores: -j 2 at least 1.6x faster), and, for -t, two
#     separate commands on half the files each: what the cores allow at best.
# Each figure is the median of the rounds (interleaved, so a change in the
# machine's load falls on both sides alike). The load average is printed
# before and after, since the machine may be shared.
#
#   bench/batch.sh [build/bin] [small files, default 2000] [large files, default 8]
#                  [MiB per large file, default 32] [rounds, default 3]
set -euo pipefail

bin=$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)
small=${2:-2000}
large=${3:-8}
mib=${4:-32}
rounds=${5:-3}
kestrav3="$bin/kestrav3"
[ -x "$kestrav3" ] || { echo "no $kestrav3: build first"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'bench key 0123456789\n' > key

echo "cores: $(nproc); load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

mkdir small
head -c $((small * 4096)) /dev/urandom | split -b 4096 -a 5 - small/f
"$kestrav3" -c -q -k key -j 2 small/f* >/dev/null
rm -f small/f?????
mkdir large
for i in $(seq 1 "$large"); do head -c $((mib * 1024 * 1024)) /dev/urandom > large/p$i; done
mkdir coded
"$kestrav3" -c -q -k key -j 2 --output-dir coded large/p* >/dev/null

seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; end=$(date +%s.%N); echo "$end - $start" | bc; }
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
loop_test() { for f in small/*.archi; do "$kestrav3" -t "$f" "bench key 0123456789" >/dev/null; done; }
one_test() { "$kestrav3" -t -q -k key small/*.archi; }
test_j1() { "$kestrav3" -t -q -k key -j 1 coded/*.archi; }
test_j2() { "$kestrav3" -t -q -k key -j 2 coded/*.archi; }
# What two cores give at best: two separate commands, each over half the
# files, side by side (no work handed out, no process started in between).
test_halves() {
  local files=(coded/*.archi) half=$(((${#files[@]} + 1) / 2))
  "$kestrav3" -t -q -k key "${files[@]:0:half}" & "$kestrav3" -t -q -k key "${files[@]:half}"; wait
}
code_j1() { "$kestrav3" -c -q -k key -j 1 --output-dir out large/p*; }
code_j2() { "$kestrav3" -c -q -k key -j 2 --output-dir out large/p*; }

declare -A times
for round in $(seq 1 "$rounds"); do
  for name in loop_test one_test test_j1 test_j2 test_halves code_j1 code_j2; do
    # The coded files of the round before are removed outside the timing:
    # freeing them is the file system's work, not the coder's.
    rm -rf out && mkdir out && sync
    times[$name]+="$(seconds $name) "
  done
done
for name in loop_test one_test test_j1 test_j2 test_halves code_j1 code_j2; do
  # shellcheck disable=SC2086
  declare "m_$name=$(median ${times[$name]})"
done
ratio() { echo "scale=2; $1 / $2" | bc; }
printf '%-44s %8.3f s\n' "-t loop of $small single commands" "$m_loop_test"
printf '%-44s %8.3f s   %sx faster (target 5x)\n' "-t over $small files in one command" "$m_one_test" \
  "$(ratio "$m_loop_test" "$m_one_test")"
printf '%-44s %8.3f s\n' "-t -j 1, $large files of $mib MiB" "$m_test_j1"
printf '%-44s %8.3f s   %sx faster (target 1.6x)\n' "-t -j 2, $large files of $mib MiB" "$m_test_j2" \
  "$(ratio "$m_test_j1" "$m_test_j2")"
printf '%-44s %8.3f s   %sx faster (the two cores'"'"' own limit)\n' "-t, two commands on half the files each" \
  "$m_test_halves" "$(ratio "$m_test_j1" "$m_test_halves")"
printf '%-44s %8.3f s\n' "-c -j 1, $large files of $mib MiB" "$m_code_j1"
printf '%-44s %8.3f s   %sx faster (target 1.6x)\n' "-c -j 2, $large files of $mib MiB" "$m_code_j2" \
  "$(ratio "$m_code_j1" "$m_code_j2")"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
