#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and runs the installed
# program from an unrelated folder: it finds its library in its private
# folder, and the man page and the completion are where man and bash look.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/kestrav3 include/kestrav3lib.h share/man/man1/kestrav3.1.gz \
    share/bash-completion/completions/kestrav3 share/doc/kestrav3/copyright; do
  [ -f "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
lib=$(find "$prefix" -name 'kestrav3lib.so' | head -n 1)
[ -n "$lib" ] || { echo "missing kestrav3lib.so"; exit 1; }
[ "$(basename "$(dirname "$lib")")" = kestrav3 ] || { echo "the library is not in a private folder: $lib"; exit 1; }
if [ -f "$build/bin/Kestrav_progress_bar.exe" ]; then
  [ -x "$prefix/libexec/kestrav3/Kestrav_progress_bar.exe" ] || { echo "missing the window program"; exit 1; }
fi
[ "$(MANPATH="$prefix/share/man" man -w kestrav3)" = "$prefix/share/man/man1/kestrav3.1.gz" ] ||
  { echo "man does not find the page"; exit 1; }
cd "$prefix"
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/kestrav3" -v)
[ "$out" = $'\n kestrav3 3.0.0' ] || { echo "unexpected version output: $out"; exit 1; }
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/kestrav3" --version)
[ "$out" = "kestrav3 3.0.0" ] || { echo "unexpected --version output: $out"; exit 1; }
echo "installed program runs: $out"
