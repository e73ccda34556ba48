#!/usr/bin/env bash
# Checks that Windows programs can start on Windows 95 and NT 4.0: the loader refuses a
# program that imports a function its DLL lacks, or whose PE header asks for a later
# Windows. Every import must be in the lists of imports/ and the header's OS and
# subsystem versions at most 4.0.
# Usage: import_check.sh PROGRAM.exe...
set -euo pipefail
lists="$(cd "$(dirname "$0")" && pwd)/imports"
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The system DLLs must name Windows 95 itself; only the run-time DLL may be later.
bad_entries=$(awk '!/^#/ && NF && toupper($1) != "MSVCRT.DLL" && $3 != "95"' \
  "$lists/allowed-imports.txt")
if [ -n "$bad_entries" ]; then
  printf 'allowed-imports.txt: entries not in Windows 95:\n%s\n' "$bad_entries" >&2
  exit 1
fi
{
  grep -v '^#' "$lists/win95-kernel32-exports.txt" | awk 'NF { print "KERNEL32.DLL", $1 }'
  awk '!/^#/ && NF { print toupper($1), $2 }' "$lists/allowed-imports.txt"
} | sort -u >"$work/allowed"

failed=0
for program in "$@"; do
  "$objdump" -p "$program" >"$work/header"
  # "DLL function" for each import by name; an import by ordinal has no name to check.
  awk '/^\tDLL Name:/ { dll = toupper($3) }
       /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ && dll != "" { print dll, $3 }
       /^\t[0-9a-f]+\t +[0-9]+ +<none>$/ && dll != "" { print dll, "(by ordinal)" }' \
    "$work/header" | sort -u >"$work/imports"
  if [ ! -s "$work/imports" ]; then
    echo "$program: no import table found" >&2
    failed=1
    continue
  fi
  comm -23 "$work/imports" "$work/allowed" >"$work/refused"
  while read -r dll function; do
    echo "$program: imports $dll $function, which is not on the Windows 95 / NT 4.0 lists" >&2
    failed=1
  done <"$work/refused"
  for field in OSystem Subsystem; do
    major=$(awk -v f="Major${field}Version" '$1 == f { print $2 }' "$work/header")
    minor=$(awk -v f="Minor${field}Version" '$1 == f { print $2 }' "$work/header")
    if [ -z "$major" ] || [ "$major" -gt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -gt 0 ]; }; then
      echo "$program: PE header asks for ${field} version ${major:-?}.${minor:-?}, above 4.0" >&2
      failed=1
    fi
  done
done
[ "$failed" -eq 0 ] && echo "imports and PE headers fit Windows 95 and NT 4.0: $*"
exit "$failed"
