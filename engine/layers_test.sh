#!/usr/bin/env bash
# Every engine source includes only headers of its own folder or of folders above it in the
# README's layer table ("A folder uses only the folders above it"). Tests and their support
# headers may use any layer. Usage: layers_test.sh REPO_ROOT
set -euo pipefail
root=$1
# Engine folders in table order, e.g. "include util lsq models report adjust input tool".
mapfile -t order < <(sed -n 's/^| `engine\/\([a-z]*\)` |.*/\1/p' "$root/README.md")
if [ "${#order[@]}" -lt 2 ]; then
  echo "no engine rows in the README's layer table"
  exit 1
fi
declare -A rank
for i in "${!order[@]}"; do rank[${order[$i]}]=$i; done
rank[include]=${rank[include]:-0}

failures=0
for folder in "${order[@]}"; do
  dir="$root/engine/$folder"
  [ -d "$dir" ] || continue
  while IFS= read -r file; do
    while IFS= read -r used; do
      if [ -z "${rank[$used]+x}" ]; then
        continue  # not an engine folder ("bravik.h" has no folder part)
      fi
      if [ "${rank[$used]}" -gt "${rank[$folder]}" ]; then
        echo "${file#$root/}: includes \"$used/...\", a layer below engine/$folder in the README"
        failures=$((failures + 1))
      fi
    done < <(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' "$file")
  done < <(find "$dir" -maxdepth 1 \( -name '*.cpp' -o -name '*.h' \) \
             ! -name '*_test.cpp' ! -name '*_test_support.h' | sort)
done
# The folders on disk and the table must agree, or a new folder escapes the check.
for dir in "$root"/engine/*/; do
  folder=$(basename "$dir")
  if [ -z "${rank[$folder]+x}" ]; then
    echo "engine/$folder is not in the README's layer table"
    failures=$((failures + 1))
  fi
done
if [ "$failures" -gt 0 ]; then exit 1; fi
echo "engine layers: ${order[*]}"
