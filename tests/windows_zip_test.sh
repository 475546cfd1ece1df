#!/usr/bin/env bash
# The Windows zip: one folder holding exactly the program, the library, the
# progress window program, the README and the licence; unpacked, the
# program runs under Wine and codes and restores a file from another folder.
# windows_zip_test.sh ZIP WINE-PREFIX
set -euo pipefail
zip=$(realpath "$1")
wine_prefix=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

top=$(basename "$zip" .zip)
listed=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(printf "$top/%s\n" Kestrav_progress_bar.exe LICENSE.txt README.md kestrav3.exe kestrav3lib.dll | sort)
[ "$listed" = "$expected" ] || { echo "the zip holds:"; echo "$listed"; echo "expected:"; echo "$expected"; exit 1; }
echo "zip contents as expected"

cd "$work"
cmake -E tar xf "$zip"
program=$work/$top/kestrav3.exe
run() { bash "$source_dir/cmake/wine-run.sh" "$wine_prefix" "$program" "$@" | tr -d '\r'; }
out=$(run --version)
[ "$out" = "kestrav3 $(sed -n 's/^project(kestrav3 VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")" ] ||
    { echo "--version printed: $out"; exit 1; }
echo "--version: $out"
mkdir files
cd files
head -c 100000 /dev/urandom > plain.bin
cp plain.bin original.bin
run -c plain.bin "zip key" > /dev/null
rm plain.bin
run -d plain.bin.archi "zip key" > /dev/null
cmp plain.bin original.bin
echo "round trip from the unpacked zip"
