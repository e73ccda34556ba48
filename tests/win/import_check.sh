#!/usr/bin/env bash
# import_check.sh PROGRAM...: they load on Windows 95 and NT 4.0 (imports in imports/allowed-imports.txt,
# its KERNEL32 names in Windows 95's export list where at hand; OS and subsystem versions <= 4.0).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list=$here/imports/allowed-imports.txt
reference=${WIN95_KERNEL32_EXPORTS:-$here/../../../shared/reference/win95-kernel32-exports.txt}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bad=$(awk '!/^#/ && NF && toupper($1) != "MSVCRT.DLL" && $2 != "95"' "$list")
[ -z "$bad" ] || { printf 'allowed-imports.txt: entries not in Windows 95:\n%s\n' "$bad" >&2; exit 1; }
awk '!/^#/ && NF { for (i = 3; i <= NF; i++) print toupper($1), $i }' "$list" | sort -u >"$work/allowed"
missing=$([ ! -f "$reference" ] || awk '$1 == "KERNEL32.DLL" { print $2 }' "$work/allowed" | comm -23 - <(grep -v '^#' "$reference" | sort -u))
[ -z "$missing" ] || { printf 'allowed-imports.txt: KERNEL32 entries that Windows 95 lacks:\n%s\n' "$missing" >&2; exit 1; }

failed=0
for program in "$@"; do
  "$objdump" -p "$program" >"$work/header"
  awk '/^\tDLL Name:/ { dll = toupper($3) }
       /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ && dll != "" { print dll, $3 }
       /^\t[0-9a-f]+\t +[0-9]+ +<none>$/ && dll != "" { print dll, "(by ordinal)" }' \
    "$work/header" | sort -u >"$work/imports"
  [ -s "$work/imports" ] || { echo "$program: no import table found" >&2; failed=1; continue; }
  comm -23 "$work/imports" "$work/allowed" | awk -v p="$program" '{ bad = 1
    print p ": imports " $0 ", which is not on the Windows 95 / NT 4.0 lists" } END { exit bad }' >&2 || failed=1
  awk -v p="$program" '{ v[$1] = $2 } END { for (i = split("OSystem Subsystem", f); i; i--) {
      M = v["Major" f[i] "Version"]; m = v["Minor" f[i] "Version"]
      if (M == "" || M + 0 > 4 || M + 0 == 4 && m + 0 > 0) { bad = 1; print p ": PE header asks for " f[i] " version " M "." m ", above 4.0" } }
    exit bad }' "$work/header" >&2 || failed=1
done
[ "$failed" -eq 0 ] && echo "imports and PE headers fit Windows 95 and NT 4.0: $*"
exit "$failed"
