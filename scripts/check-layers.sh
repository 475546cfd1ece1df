#!/usr/bin/env bash
# Checks the include rule of both deliverables (see ARCHITECTURE.md). A file
# in lib/ includes only headers of its own folder and of folders on a lower
# layer. The program, cmd/, includes only the public header and its own
# headers; its seam, cmd/system/, only its own. Each deliverable has one
# place that asks the operating system: a system header (any <name.h>) is
# included only in lib/platform/ and cmd/system/; the one exception is
# <immintrin.h>, the vector instructions of the library's accelerated units.
# The program compiles no file of lib/, and its files stay within 350 lines.
# Prints every include that breaks the rule; exits 1 if there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

# Layers from the bottom up; folders on one line are on the same layer and
# do not include each other.
layers=(
  "platform shared"
  "md5 textconv progress"
  "random recovery"
  "transform"
  "container"
  "sets"
  "interface"
)

declare -A level
for i in "${!layers[@]}"; do
  for folder in ${layers[$i]}; do level[$folder]=$i; done
done

broken=0
complain() { echo "$1: includes \"$2\" ($3)"; broken=1; }

while IFS= read -r file; do
  folder=${file#lib/}; folder=${folder%%/*}
  if [ -z "${level[$folder]+set}" ]; then
    [ "$folder" = include ] && continue
    echo "$file: folder lib/$folder has no layer in scripts/check-layers.sh"; broken=1; continue
  fi
  while IFS= read -r target; do
    to=${target%%/*}
    if [ "$target" = kestrav3lib.h ]; then
      [ "$folder" = interface ] || complain "$file" "$target" "only the interface includes the public header"
    elif [ "$to" = "$target" ]; then
      complain "$file" "$target" "name headers by their folder"
    elif [ -z "${level[$to]+set}" ]; then
      complain "$file" "$target" "no such layer"
    elif [ "$to" != "$folder" ] && [ "${level[$to]}" -ge "${level[$folder]}" ]; then
      complain "$file" "$target" "lib/$to is not below lib/$folder"
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files -co --exclude-standard -- 'lib/*.h' 'lib/*.cpp')

while IFS= read -r file; do
  while IFS= read -r target; do
    case "$file:$target" in
      cmd/system/*:system/*) [ -f "cmd/$target" ] || complain "$file" "$target" "no such header of cmd/system" ;;
      cmd/system/*) complain "$file" "$target" "the program's seam includes only its own headers" ;;
      *:kestrav3lib.h) ;;
      *) [ -f "cmd/$target" ] || complain "$file" "$target" "the program uses the public header and its own headers only" ;;
    esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files -co --exclude-standard -- 'cmd/*.cpp' 'cmd/*.h')

# The one place of each deliverable that asks the system.
while IFS= read -r file; do
  case "$file" in lib/platform/* | cmd/system/*) continue ;; esac
  while IFS= read -r target; do
    [ "$target" = immintrin.h ] && [ "${file#lib/}" != "$file" ] && continue
    complain "$file" "<$target>" "only lib/platform and cmd/system include a system header"
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\([^>]*\.h\)>.*/\1/p' "$file")
done < <(git ls-files -co --exclude-standard -- 'lib/*.h' 'lib/*.cpp' 'cmd/*.cpp' 'cmd/*.h')

# The program's files stay short enough to show one job each.
while IFS= read -r file; do
  lines=$(wc -l < "$file")
  [ "$lines" -le 350 ] || { echo "$file: $lines lines (a file of the program holds at most 350)"; broken=1; }
done < <(git ls-files -co --exclude-standard -- 'cmd/*.cpp' 'cmd/*.h')

# The program is built of its own files alone: no source of lib/ in it.
if grep -n 'lib/[^ )]*\.cpp' cmd/CMakeLists.txt; then
  echo "cmd/CMakeLists.txt: compiles a file of lib/ into the program (use an export)"; broken=1
fi

if [ "$broken" -ne 0 ]; then
  echo "Includes must point down the layers listed in ARCHITECTURE.md, and only the two seams ask the system."
  exit 1
fi
echo "Layers: every include points down."
