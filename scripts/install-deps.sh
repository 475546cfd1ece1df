#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# only those that are missing. Safe to run again and again.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev          # unit and command-line tests
  libbenchmark-dev libssl-dev      # benchmarks (OpenSSL is the MD5 yardstick only)
  libx11-dev                       # the progress window
  xvfb x11-utils                   # progress window tests under a virtual display
  clang                            # fuzz targets (libFuzzer ships with it)
  clang-format                     # the one house style, checked by CI
  valgrind util-linux e2fsprogs    # leak checks; chattr for the read-only folder test
  openssl ccrypt bc time           # whole-program benchmark: yardsticks, arithmetic, peak memory
  dpkg-dev lintian fakeroot        # the Debian package: dependencies, checks, dpkg -i as a plain user
  man-db groff-base bsdextrautils  # the man page rendered and checked (man, groff, col)
  bash-completion gzip             # the completion tested with its helpers; compressed man page
  par2                             # recovery sets: the outside PAR 2.0 peer of the interoperability tests
)

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
