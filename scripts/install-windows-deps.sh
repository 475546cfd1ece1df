#!/usr/bin/env bash
# Installs what the Windows leg needs, only what is missing: the mingw-w64
# cross compiler (POSIX thread model), Wine to run the programs, a virtual
# display and tools for the progress window's screenshot, and the Czech
# UTF-8 locale, under which Wine takes Windows-1250 as the ANSI code page.
# Safe to run again and again.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64   # cross compiler and objdump
  wine64                                                 # runs the tests and the programs
  xvfb x11-utils xdotool imagemagick                     # progress window under a virtual display
  locales                                                # cs_CZ.UTF-8 for Wine's code page
  googletest                                             # sources built for Windows
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if ! locale -a 2>/dev/null | grep -qix 'cs_CZ.utf8'; then
  echo "Generating the cs_CZ.UTF-8 locale"
  "${sudo_cmd[@]}" localedef -i cs_CZ -f UTF-8 cs_CZ.UTF-8
fi
