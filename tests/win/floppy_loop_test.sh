#!/usr/bin/env bash
# Win32FloppyDeviceTest's NT writer under Wine leaves the export on a loop device mapped as A: (root only).
set -euo pipefail
[ $# -eq 3 ] && [ -n "${WINEPREFIX:-}" ] || { echo "usage: WINEPREFIX=... $0 BUILD_WIN_DIR DATA EXPORTED_FLOPPY" >&2; exit 2; }
tests_exe="$1/tests/installer_tests.exe"
skip() { echo "SKIP: the loop-device floppy test: $*"; exit 0; }
[ "$(id -u)" -eq 0 ] || skip "needs root to attach a loop device"
[ -e /dev/loop-control ] && command -v losetup >/dev/null 2>&1 || skip "no loop-control or losetup"
image=$(mktemp) drive="$WINEPREFIX/dosdevices/a::" loop=""
trap 'rm -f "$drive"; [ -z "$loop" ] || losetup -d "$loop" || echo "warning: $loop stays" >&2; rm -f "$image"' EXIT
truncate -s 1474560 "$image"
loop=$(losetup --find --show "$image" 2>/dev/null) || skip "no loop device could be attached"
ln -sfn "$loop" "$drive"
winpath() { printf 'Z:%s' "$(readlink -f "$1")"; }  # Wine's drive Z: is the Linux root
status=0
output=$(INSTALLER_LOOP_DATA=$(winpath "$2") INSTALLER_LOOP_IMAGE=$(winpath "$image") \
  INSTALLER_LOOP_EXPORTED=$(winpath "$3") \
  wine "$tests_exe" --gtest_filter='Win32FloppyDeviceTest.*' 2>&1) || status=$?
[ "$status" -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' <<<"$output" && ! grep -q 'SKIPPED' <<<"$output" ||
  { printf '%s\nFAIL: the NT writer did not put the exported floppy on %s (exit %s)\n' "$output" "$loop" "$status" >&2; exit 1; }
echo "ok: the NT writer wrote the exported floppy onto $loop (drive A: under Wine)"
