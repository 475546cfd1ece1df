#!/usr/bin/env bash
# Installs the Debian packages one part of the work needs, only those that
# are missing. Safe to run again and again.
#
#   install-deps.sh build   building the program, the library and the window
#                           (what scripts/demo.sh needs)
#   install-deps.sh test    the build part and everything `cmake --workflow
#                           --preset test` needs: the tests, the benchmarks
#                           the default build compiles, and their tools
#   install-deps.sh [all]   the test part and what the rest of CI uses: the
#                           fuzz build, the style check, the Debian package
#                           and the whole-program benchmark
set -euo pipefail

part=${1:-all}

build_packages=(
  cmake ninja-build g++ pkg-config
  gzip                             # the compressed man page
  libx11-dev                       # the progress window
)
test_packages=(
  googletest libgtest-dev          # unit and command-line tests
  libbenchmark-dev libssl-dev      # benchmarks (OpenSSL is the MD5 yardstick only)
  xvfb x11-utils                   # progress window tests under a virtual display
  valgrind util-linux e2fsprogs    # leak checks; chattr for the read-only folder test
  man-db groff-base bsdextrautils  # the man page rendered and checked (man, groff, col)
  bash-completion                  # the completion tested with its helpers
  strace attr acl                  # durability traced; extended attributes and access lists kept
  par2                             # recovery sets: the outside PAR 2.0 peer of the interoperability tests
)
ci_packages=(
  clang                            # fuzz targets (libFuzzer ships with it)
  clang-format                     # the one house style, checked by CI
  openssl ccrypt bc time           # whole-program benchmark: yardsticks, arithmetic, peak memory
  dpkg-dev lintian fakeroot        # the Debian package: dependencies, checks, dpkg -i as a plain user
)

case "$part" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  all) packages=("${build_packages[@]}" "${test_packages[@]}" "${ci_packages[@]}") ;;
  *)
    echo "usage: $0 [build|test|all]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
