#!/usr/bin/env bash
# Checks that every C++ file of the project is formatted as .clang-format
# says; prints the files that are not. Fix them with clang-format -i.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -co --exclude-standard -- '*.cpp' '*.h' | grep -v '^fuzz/corpus/' |
  xargs clang-format --dry-run --Werror
echo "Style: every C++ file follows .clang-format."
