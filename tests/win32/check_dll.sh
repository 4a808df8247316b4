#!/bin/sh
# Kivmod.dll exports exactly the names of the export list, undecorated (no leading
# underscore, no @N), and imports only Windows' own DLLs.
# Arguments: objdump, the DLL, the export list.
set -eu
export LC_ALL=C
objdump=$1
dll=$2
list=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed -e 's/#.*//' "$list" | awk 'NF { print $1 }' | sort > "$tmp/expected"
"$objdump" -p "$dll" > "$tmp/dump"
awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^[ \t]*\[/ { print $NF; next } on { on = 0 }' \
  "$tmp/dump" | sort > "$tmp/actual"
status=0
if ! cmp -s "$tmp/expected" "$tmp/actual"; then
  echo "exports differ from the list (< listed only, > exported only):"
  diff "$tmp/expected" "$tmp/actual" | grep '^[<>]' || true
  status=1
fi
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|msvcrt|ole32|OLEAUT32|SHLWAPI|SHELL32|WS2_32|bcrypt|CRYPT32)\.dll$'
awk '/DLL Name:/ { print $3 }' "$tmp/dump" | sort -u > "$tmp/imports"
if grep -Eiv "$allowed" "$tmp/imports" > "$tmp/foreign"; then
  echo "imports beyond Windows' own DLLs:"
  cat "$tmp/foreign"
  status=1
fi
[ $status -eq 0 ] && echo "$(wc -l < "$tmp/expected") exports as listed; imports: $(tr '\n' ' ' < "$tmp/imports")"
exit $status
