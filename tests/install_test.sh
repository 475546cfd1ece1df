#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and runs the installed
# program from an unrelated folder.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/kestrav3 include/kestrav3lib.h; do
  [ -f "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
lib=$(find "$prefix" -name 'kestrav3lib.so' | head -n 1)
[ -n "$lib" ] || { echo "missing kestrav3lib.so"; exit 1; }
cd "$prefix"
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/kestrav3" -v)
[ "$out" = $'\n kestrav3 3.0.0' ] || { echo "unexpected version output: $out"; exit 1; }
echo "installed program runs: $out"
