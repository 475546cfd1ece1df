#!/usr/bin/env bash
# Checks a built Debian package as a user and as Debian would:
# - lintian reports no errors (warnings are printed, and fail nothing);
# - unpacked with dpkg-deb -x into a temporary folder, the program runs from
#   there: --version, then a round trip that codes, tests and restores a file
#   from another folder;
# - its man page renders without warnings;
# - dpkg installs it into an empty root, man finds the page there, and
#   dpkg -r takes away every file and folder it brought.
set -euo pipefail
deb=$(realpath "$1")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
version=$(dpkg-deb -f "$deb" Version)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 --info "$deb"

echo "== unpacked with dpkg-deb -x"
dpkg-deb -x "$deb" "$work/root"
program=$work/root/usr/bin/kestrav3
for f in usr/bin/kestrav3 usr/include/kestrav3lib.h usr/libexec/kestrav3/Kestrav_progress_bar.exe \
    usr/share/man/man1/kestrav3.1.gz usr/share/bash-completion/completions/kestrav3 \
    usr/share/doc/kestrav3/copyright; do
    [ -f "$work/root/$f" ] || { echo "missing $f"; exit 1; }
done
[ -n "$(find "$work/root/usr/lib" -name kestrav3lib.so)" ] || { echo "missing kestrav3lib.so"; exit 1; }

out=$(env -u LD_LIBRARY_PATH "$program" --version)
[ "$out" = "kestrav3 $version" ] || { echo "--version printed: $out"; exit 1; }
echo "--version: $out"

mkdir "$work/files"
cd "$work/files"
head -c $((3 * 1024 * 1024 + 777)) /dev/urandom > plain.bin
cp plain.bin original.bin
env -u LD_LIBRARY_PATH "$program" -c plain.bin "package key" > code.txt || { cat code.txt; exit 1; }
[ -f plain.bin.archi ] || { echo "no coded file"; exit 1; }
rm plain.bin
env -u LD_LIBRARY_PATH "$program" -t plain.bin.archi "package key" > test.txt || { echo "-t failed:"; cat test.txt; exit 1; }
grep -qE '^ Damaged: +none\b' test.txt || { echo "-t did not report the file intact:"; cat test.txt; exit 1; }
[ ! -e plain.bin ] || { echo "-t wrote the plain file"; exit 1; }
env -u LD_LIBRARY_PATH "$program" -d plain.bin.archi "package key" > restore.txt || { cat restore.txt; exit 1; }
cmp plain.bin original.bin
[ ! -e plain.bin.err ] || { echo "the restore logged damage"; exit 1; }
echo "round trip: coded, tested and restored from the unpacked package"

echo "== man page"
bash "$source_dir/tests/man_page_test.sh" "$work/root/usr/share/man/man1/kestrav3.1.gz" "$source_dir/lib"

echo "== dpkg -i and dpkg -r in an empty root"
root=$work/fresh
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(fakeroot)
# The empty root has no libc6 or libx11-6 to satisfy the dependencies.
"${as_root[@]}" dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" > "$work/dpkg.txt" 2>&1 ||
    { cat "$work/dpkg.txt"; exit 1; }
[ "$(MANPATH="$root/usr/share/man" man -w kestrav3)" = "$root/usr/share/man/man1/kestrav3.1.gz" ] ||
    { echo "man does not find the installed page"; exit 1; }
env -u LD_LIBRARY_PATH "$root/usr/bin/kestrav3" --version > /dev/null
"${as_root[@]}" dpkg --root="$root" --force-depends --force-script-chrootless -r kestrav3 > "$work/dpkg.txt" 2>&1 ||
    { cat "$work/dpkg.txt"; exit 1; }
left=$(cd "$root" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg*')
[ -z "$left" ] || { echo "dpkg -r left behind:"; echo "$left"; exit 1; }
echo "installed and removed cleanly"
echo "package checks pass"
