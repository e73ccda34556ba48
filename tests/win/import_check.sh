#!/usr/bin/env bash
# Checks that Windows programs start on Windows 95 and NT 4.0, whose loaders refuse a
# program that imports a function its DLL lacks or whose PE header asks for a later Windows:
# every import must be in imports/allowed-imports.txt, the OS and subsystem versions at most
# 4.0, and (where ../shared/reference/ lies beside the repository, as in CI) every KERNEL32
# entry of the list in Windows 95's export list.
# Usage: import_check.sh PROGRAM.exe...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list=$here/imports/allowed-imports.txt
reference=${WIN95_KERNEL32_EXPORTS:-$here/../../../shared/reference/win95-kernel32-exports.txt}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Only the run-time DLL may be later than Windows 95.
bad=$(awk '!/^#/ && NF && toupper($1) != "MSVCRT.DLL" && $2 != "95"' "$list")
[ -z "$bad" ] || { printf 'allowed-imports.txt: entries not in Windows 95:\n%s\n' "$bad" >&2; exit 1; }
awk '!/^#/ && NF { for (i = 3; i <= NF; i++) print toupper($1), $i }' "$list" | sort -u >"$work/allowed"
if [ -f "$reference" ]; then
  missing=$(awk '$1 == "KERNEL32.DLL" { print $2 }' "$work/allowed" |
    comm -23 - <(grep -v '^#' "$reference" | sort -u))
  [ -z "$missing" ] || { printf 'allowed-imports.txt: KERNEL32 entries that Windows 95 lacks:\n%s\n' "$missing" >&2; exit 1; }
fi

failed=0
for program in "$@"; do
  "$objdump" -p "$program" >"$work/header"
  # "DLL function" per import by name; an import by ordinal has no name to check.
  awk '/^\tDLL Name:/ { dll = toupper($3) }
       /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ && dll != "" { print dll, $3 }
       /^\t[0-9a-f]+\t +[0-9]+ +<none>$/ && dll != "" { print dll, "(by ordinal)" }' \
    "$work/header" | sort -u >"$work/imports"
  [ -s "$work/imports" ] || { echo "$program: no import table found" >&2; failed=1; continue; }
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
