#!/usr/bin/env bash
# Checks that Windows programs can start on Windows 95 and NT 4.0: the loader refuses a
# program that imports a function its DLL lacks, or whose PE header asks for a later
# Windows. Every import must be in imports/allowed-imports.txt, and the header's OS and
# subsystem versions at most 4.0. Where the list of Windows 95's KERNEL32 exports lies
# beside the repository (../shared/reference/, as in CI), every KERNEL32 entry of the
# allowed list must be in it.
# Usage: import_check.sh PROGRAM.exe...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
allowed_list=$here/imports/allowed-imports.txt
reference=${WIN95_KERNEL32_EXPORTS:-$here/../../../shared/reference/win95-kernel32-exports.txt}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The system DLLs must name Windows 95 itself; only the run-time DLL may be later.
bad_entries=$(awk '!/^#/ && NF && toupper($1) != "MSVCRT.DLL" && $3 != "95"' "$allowed_list")
[ -z "$bad_entries" ] || { printf 'allowed-imports.txt: entries not in Windows 95:\n%s\n' "$bad_entries" >&2; exit 1; }
awk '!/^#/ && NF { print toupper($1), $2 }' "$allowed_list" | sort -u >"$work/allowed"
if [ -f "$reference" ]; then
  awk '$1 == "KERNEL32.DLL" { print $2 }' "$work/allowed" >"$work/kernel32"
  missing=$(grep -v '^#' "$reference" | sort -u | comm -23 "$work/kernel32" -)
  [ -z "$missing" ] || { printf 'allowed-imports.txt: KERNEL32 entries that Windows 95 lacks:\n%s\n' "$missing" >&2; exit 1; }
fi

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
  while read -r dll function; do
    echo "$program: imports $dll $function, which is not on the Windows 95 / NT 4.0 lists" >&2
    failed=1
  done < <(comm -23 "$work/imports" "$work/allowed")
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
