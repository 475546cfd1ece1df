#!/usr/bin/env bash
# Checks the one include rule of the library (see ARCHITECTURE.md): a file
# in lib/ includes only headers of its own folder and of folders on a lower
# layer. The program includes only the public header and the two pieces of
# the library it compiles in (the terminal prompt and the escaping of text
# shown on a terminal), besides its own headers in cmd/. Prints every
# include that breaks the rule; exits 1 if there is one.
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
    case "$target" in
      kestrav3lib.h|platform/terminal.h|platform/program.h|textconv/visible_text.h) ;;
      */*) complain "$file" "$target" "the program uses the public header, the terminal prompt, the program helpers and visible_text only" ;;
      *) [ -f "cmd/$target" ] || complain "$file" "$target" "no such header of the program" ;;
    esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files -co --exclude-standard -- 'cmd/*.cpp' 'cmd/*.h')

if [ "$broken" -ne 0 ]; then
  echo "Includes must point down the layers listed in ARCHITECTURE.md."
  exit 1
fi
echo "Layers: every include points down."
