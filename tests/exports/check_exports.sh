#!/bin/sh
# The shared library's dynamic symbol table holds exactly the names of the export list.
# Arguments: nm, the library, the export list.
set -eu
export LC_ALL=C
nm=$1
library=$2
list=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed -e 's/#.*//' "$list" | awk 'NF { print $1 }' | sort > "$tmp/expected"
"$nm" -D --defined-only "$library" > "$tmp/symbols"
awk 'NF >= 3 { sub(/@.*/, "", $3); print $3 }' "$tmp/symbols" | sort -u > "$tmp/actual"
missing=$(comm -23 "$tmp/expected" "$tmp/actual")
extra=$(comm -13 "$tmp/expected" "$tmp/actual")
if [ -n "$missing$extra" ]; then
  [ -z "$missing" ] || printf 'listed but not exported:\n%s\n' "$missing"
  [ -z "$extra" ] || printf 'exported but not listed:\n%s\n' "$extra"
  exit 1
fi
echo "$(wc -l < "$tmp/expected") exports as listed"
