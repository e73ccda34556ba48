#!/usr/bin/env bash
# installer.exe under Wine on Xvfb: without install.dat the Error box; per Windows version the dialog, its
# lists, floppy/recorder probes, Exit; a win7 screenshot. Args: BUILD_WIN_DIR SAMPLE_DATA_FILE ARTEFACT_DIR
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in wine wineserver xvfb-run; do command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }; done
command -v xdotool >/dev/null && command -v import >/dev/null || fail "xdotool or import is missing"
[ -n "${INSTALLER_GUI_TEST_ON_XVFB:-}" ] ||  # one 24-bit X server for the whole script
  exec xvfb-run -a -s "-screen 0 1024x768x24" env INSTALLER_GUI_TEST_ON_XVFB=1 bash "$0" "$@"

texts=$(cd "$(dirname "$0")/../../sample/texts" && pwd)/en.txt
build_dir=$(cd "$1" && pwd) && mkdir -p "$3" && artefacts=$(cd "$3" && pwd)
text() { sed -n "s/^$1 text //p" "$texts"; }
title=$(text 1000) && [ -n "$title" ] || fail "$texts has no text 1000"

wait_for_window() {  # REGEX SECONDS PID: the first visible window so named while PID runs
  for ((end = SECONDS + $2; SECONDS < end; )); do
    kill -0 "$3" 2>/dev/null || return 1
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 | grep . && return 0 || sleep 0.2
  done
  return 1
}
expect_exit_0() {  # PID WHEN: it ends within 10 s, with 0
  local code=0
  timeout 10 tail --pid="$1" -f /dev/null || fail "$2: the installer did not end"
  wait "$1" || code=$?
  [ "$code" -eq 0 ] || fail "$2: the installer ended with exit code $code, not 0"
}
# Exit sits at 92,217 (65x15 units) in the 250x239-unit dialog; a unit is 6/4 x 13/8 pixels.
px() { echo $((($1 * $2 * 2 + $3) / ($3 * 2))); }
click_exit() {
  local X Y WIDTH HEIGHT SCREEN WINDOW frame
  eval "$(xdotool getwindowgeometry --shell "$1")"
  frame=$(((WIDTH - $(px 250 6 4)) / 2))
  xdotool mousemove --sync $((X + frame + $(px 92 6 4) + $(px 65 6 4) / 2)) \
    $((Y + HEIGHT - frame - $(px 239 13 8) + $(px 217 13 8) + $(px 15 13 8) / 2)) click 1
}
start() {  # DIR LOG SECONDS WINEDEBUG: installer.exe in DIR, its pid in $pid
  (cd "$1" && WINEDEBUG=$4 exec timeout -k 5 "$3" wine installer.exe) >"$2" 2>&1 &
  pid=$!
}

# A fresh prefix: Wine's fonts, Wine-drawn frames, no crash dialog.
export WINEPREFIX="$build_dir/gui-test-wineprefix" WINEARCH=win32 WINEDEBUG=-all
rm -rf "$WINEPREFIX"
scratch=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
wineboot -i >/dev/null 2>&1 || fail "wineboot could not make the prefix"
[ ! -d /usr/share/wine/fonts ] || cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 &&
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || fail "the Wine registry could not be set"
mkdir "$scratch/empty" "$scratch/sample"
cp "$2" "$scratch/sample/install.dat"
for dir in empty sample; do cp "$build_dir/installer.exe" "$scratch/$dir/"; done

start "$scratch/empty" "$scratch/empty.log" 40 -all,trace+win  # the trace names the box's text
box=$(wait_for_window '^Error$' 40 "$pid") || fail "no window titled Error appeared"
grep -qF '"Could not load Image and Resource file."' "$scratch/empty.log" ||
  fail "the Error box does not say that the data file could not be loaded"
xdotool windowfocus --sync "$box" key Return
expect_exit_0 "$pid" "after its Error box"

# Version, its paths, the CD list's item, and whether VWIN32, volume handles and the shell's
# CD burning object are probed (seen in Wine's traces).
for row in "win95 9x 1050 100" "win98 9x 1050 100" "nt40 nt4 1050 010" "win2k imapi 1039 011" \
  "winxp imapi 1039 011" "vista imapi2 1039 011" "win7 imapi2 1039 011"; do
  read -r version paths cd_item want <<<"$row"
  wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$version" /f >/dev/null 2>&1 ||
    fail "the Wine version could not be set to $version"
  log="$scratch/$version.log"
  start "$scratch/sample" "$log" 90 -all,trace+listbox,trace+vxd,warn+file,trace+ole
  dialog=$(wait_for_window "^$(printf '%s' "$title" | sed 's/[][\.*^$+?(){}|/]/\\&/g')\$" 60 "$pid") ||
    fail "$version: no window titled \"$title\" appeared"
  [ "$version" != win7 ] || { sleep 1 && import -window root "$artefacts/installer.png" &&
    [ -s "$artefacts/installer.png" ] || fail "the screenshot was not written"; }  # painted after 1 s
  click_exit "$dialog"
  expect_exit_0 "$pid" "$version: after the click on Exit"
  items=$(grep -o 'added item [0-9]* L"[^"]*"' "$log" | sed 's/.*L"\(.*\)"$/\1/' | paste -sd '|')
  [ "$items" = "$(text 1049)|$(text "$cd_item")|$(text 1051)" ] || fail "$version: the lists hold \"$items\""
  probes=$(for probe in VWIN32_DIOC_DOS_IOCTL 'Unable to create file L"\\\\.\\A:"' \
    'CoCreateInstance {fbeb8a05-beee-4442-804e-409d6c4515e9}'; do grep -qiF "$probe" "$log" && echo 1 || echo 0; done | tr -d '\n')
  [ "$probes" = "$want" ] || fail "$version: VWIN32, volume and recorder probes were $probes, not $want"
  INSTALLER_EXPECTED_PATHS=$paths wine "$build_dir/tests/installer_tests.exe" --gtest_filter='Win32VersionPathTest.*' \
    >"$log.paths" 2>&1 && grep -q '^\[  PASSED  \] 1 test' "$log.paths" ||
    { cat "$log.paths" >&2; fail "$version: the version record does not choose the $paths paths"; }
done
