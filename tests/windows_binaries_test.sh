#!/usr/bin/env bash
# The Windows binaries as a bare Windows sees them: the library exports
# exactly the operations its header declares, under their plain names, the
# program binds the library at load time, and nothing needs a runtime DLL
# that Windows does not ship (libstdc++, libgcc, winpthread).
set -euo pipefail
bin=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
fail() { echo "FAIL: $*"; exit 1; }

exports=$("$objdump" -p "$bin/kestrav3lib.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $3}' | sort | tr '\n' ' ')
header=$(dirname "$0")/../lib/include/kestrav3lib.h
expected=$(sed -n 's/^KESTRAV3_API [^(]*[ *]\([A-Za-z0-9_]*\)(.*/\1/p' "$header" | sort | tr '\n' ' ')
[ -n "$expected" ] || fail "no exports found in $header"
[ "$exports" = "$expected" ] || fail "exports are '$exports'"

imports() { "$objdump" -p "$1" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' '; }
allowed=" kernel32.dll msvcrt.dll user32.dll gdi32.dll comctl32.dll kestrav3lib.dll "
for f in kestrav3.exe kestrav3lib.dll Kestrav_progress_bar.exe; do
  [ -f "$bin/$f" ] || fail "$f was not built"
  for dll in $(imports "$bin/$f"); do
    case "$allowed" in *" $dll "*) ;; *) fail "$f needs $dll" ;; esac
  done
done
case " $(imports "$bin/kestrav3.exe")" in *" kestrav3lib.dll "*) ;; *) fail "kestrav3.exe does not import kestrav3lib.dll" ;; esac
echo "exports: $exports"
echo "imports: kestrav3.exe: $(imports "$bin/kestrav3.exe")"
