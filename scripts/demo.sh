#!/usr/bin/env bash
# Builds kestrav3 and runs it as a user would, in a temporary folder: code a
# sample file with metadata, show the metadata, restore the file, compare.
# It installs only what building needs and builds only the program, the
# library and the window (in build-demo/, without the tests and the
# benchmarks), saying what it does at each step.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

echo "== Checking the packages building needs (scripts/install-deps.sh build)"
bash scripts/install-deps.sh build
echo "== Configuring the program, the library and the window in build-demo/"
cmake --preset demo | grep -E '^-- (The CXX compiler|Build files)' || true
echo "== Building (each line is one step of the build)"
cmake --build --preset demo
kestrav3="$top/build-demo/bin/kestrav3"
echo "== Built $kestrav3"
echo

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c 1000000 /dev/urandom > "holiday photo.jpg"
printf 'Taken on the coast, summer 2026.\nCamera: the old one.\n' > "holiday photo.jpg.met"
cp "holiday photo.jpg" original.jpg

echo "== kestrav3 -c \"holiday photo.jpg\" \"my secret key\""
"$kestrav3" -c "holiday photo.jpg" "my secret key"
rm "holiday photo.jpg"
echo "== kestrav3 -m holiday_photo.jpg.archi \"my secret key\""
"$kestrav3" -m holiday_photo.jpg.archi "my secret key"
echo "== kestrav3 -d holiday_photo.jpg.archi \"my secret key\""
"$kestrav3" -d holiday_photo.jpg.archi "my secret key"
cmp "holiday photo.jpg" original.jpg
echo "== restored \"holiday photo.jpg\" is identical to the original ($(stat -c %s original.jpg) bytes)"
