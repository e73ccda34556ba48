#!/usr/bin/env bash
# The Windows installer as a user meets it, under Wine on a virtual X screen:
#  (a) started in a folder without install.dat, it shows the "Error" box saying that the
#      data file could not be loaded, and ends with exit code 0 once the box is closed;
#  (b) started beside the sample install.dat on every Windows it is for (the prefix's
#      Version value: 95, 98, NT 4.0, 2000, XP, Vista, 7), it shows the main dialog titled
#      with the data file's text 1000 (a screenshot is kept) and a click on Exit ends it
#      with 0. The lists show what that version's paths find under Wine (no CD target on
#      9x and NT 4.0; on 2000 and later the recorder search through the shell's CD burning
#      object finds none, and must not crash), the floppy probe goes through VWIN32 on 9x
#      and through volume handles on NT, and the test program's Win32VersionPathTest sees
#      the real version record choose IMAPI on 2000/XP and IMAPI2 from Vista on.
#
# Usage: tests/win/installer_gui_test.sh BUILD_WIN_DIR SAMPLE_DATA_FILE ARTEFACT_DIR
# Exit codes: 0 passed, 1 failed, 77 skipped (no Wine or no xvfb-run).
set -euo pipefail
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ $# -eq 3 ] || { echo "usage: $0 BUILD_WIN_DIR SAMPLE_DATA_FILE ARTEFACT_DIR" >&2; exit 2; }
for tool in wine wineserver xvfb-run; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
for tool in xdotool import od; do
  command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed (scripts/install-deps.sh installs it)"
done
# One X server for the whole script, in 24-bit colour for a true screenshot.
if [ -z "${INSTALLER_GUI_TEST_ON_XVFB:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" env INSTALLER_GUI_TEST_ON_XVFB=1 bash "$0" "$@"
fi

build_dir=$(cd "$1" && pwd)
sample=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
mkdir -p "$3"
artefacts=$(cd "$3" && pwd)
installer="$build_dir/installer.exe"
tests_exe="$build_dir/tests/installer_tests.exe"
for file in "$installer" "$tests_exe" "$sample"; do [ -f "$file" ] || fail "$file is missing"; done
started=$SECONDS

# The first window titled by regular expression $1, waiting up to $2 s while process $3 runs.
wait_for_window() {
  local end=$((SECONDS + $2)) found
  while [ $SECONDS -lt $end ] && kill -0 "$3" 2>/dev/null; do
    found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) || true
    [ -z "$found" ] || { echo "$found"; return 0; }
    sleep 0.2
  done
  return 1
}
# Waits up to $2 s for process $1 to end, and fails with $3 unless it ends with 0.
expect_exit_0() {
  local end=$((SECONDS + $2)) code=0
  while kill -0 "$1" 2>/dev/null; do
    [ $SECONDS -lt $end ] || fail "$3: the installer did not end"
    sleep 0.2
  done
  wait "$1" || code=$?
  [ "$code" -eq 0 ] || fail "$3: the installer ended with exit code $code, not 0"
}

# Clicks the middle of the Exit button (92,217, 65 by 15 dialog units in a client area of
# 250 by 239) in dialog window $1. MS Sans Serif 8 at 96 dpi makes a dialog unit 6/4 by
# 13/8 pixels; Wine's frame is as thick left, right and below, the caption above.
muldiv() { echo $((($1 * $2 * 2 + $3) / ($3 * 2))); }
click_exit() {
  local X Y WIDTH HEIGHT SCREEN WINDOW frame
  eval "$(xdotool getwindowgeometry --shell "$1")"
  frame=$(((WIDTH - $(muldiv 250 6 4)) / 2))
  xdotool mousemove --sync $((X + frame + $(muldiv 92 6 4) + $(muldiv 65 6 4) / 2)) \
    $((Y + HEIGHT - frame - $(muldiv 239 13 8) + $(muldiv 217 13 8) + $(muldiv 15 13 8) / 2)) click 1
}

# Text $2 of data file $1, read independently of the program: after the magic 0xFEAFBEBA
# the header holds the entry count (bytes 4-5) and the directory's offset (10-13); each
# 12-byte record the id (1-2), the entry's offset (4-7) and size (8-11). A text ends at its
# first zero byte. Fails on a file that is not laid out so.
number_at() { od -An --endian=little -t "u$3" -j "$2" -N "$3" "$1" 2>/dev/null | tr -d ' '; }
data_text() {
  local length count directory record offset size
  length=$(stat -c %s "$1")
  [ "$length" -ge 14 ] && [ "$(number_at "$1" 0 4)" = $((0xFEAFBEBA)) ] || return 1
  count=$(number_at "$1" 4 2)
  directory=$(number_at "$1" 10 4)
  [ $((directory + count * 12)) -le "$length" ] || return 1
  for ((i = 0; i < count; i++)); do
    record=$((directory + i * 12))
    [ "$(number_at "$1" $((record + 1)) 2)" -eq "$2" ] || continue
    offset=$(number_at "$1" $((record + 4)) 4)
    size=$(number_at "$1" $((record + 8)) 4)
    [ $((offset + size)) -le "$length" ] || return 1
    tail -c +$((offset + 1)) "$1" | head -c "$size" | tr '\0' '\n' | head -n 1
    return 0
  done
  return 1
}
title=$(data_text "$sample" 1000) && [ -n "$title" ] || fail "$sample has no text 1000"
title_pattern="^$(printf '%s' "$title" | sed 's/[][\.*^$+?(){}|/]/\\&/g')\$"

# A Wine prefix of this test's own, made anew each run, with Wine's own fonts (the
# dialog's MS Sans Serif: Debian's Wine does not find them where they lie), Wine-drawn
# frames (no window manager to wait for) and no crash dialog (a crash prints and ends).
export WINEPREFIX="$build_dir/gui-test-wineprefix" WINEARCH=win32 WINEDEBUG=-all
rm -rf "$WINEPREFIX"
scratch=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
wineboot -i >/dev/null 2>&1 || fail "wineboot could not make the prefix"
[ ! -d /usr/share/wine/fonts ] || cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 &&
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || fail "the Wine registry could not be set"

echo "== (a) installer.exe without install.dat"
mkdir "$scratch/empty" "$scratch/sample"
cp "$installer" "$scratch/empty/"
# Wine's window trace names every window text as it is set: the box's message from outside.
(cd "$scratch/empty" && WINEDEBUG=-all,trace+win exec timeout -k 5 40 wine installer.exe) \
  >"$scratch/empty.log" 2>&1 &
pid=$!
box=$(wait_for_window '^Error$' 40 "$pid") || fail "no window titled Error appeared"
grep -qF '"Could not load Image and Resource file."' "$scratch/empty.log" ||
  fail "the Error box does not say that the data file could not be loaded"
xdotool windowfocus --sync "$box"
xdotool key Return
expect_exit_0 "$pid" 10 "after its Error box"
echo "ok: the Error box showed, and the installer ended with 0"

# (b) Per version: the paths it takes, and the text of the CD list's only item.
cp "$installer" "$scratch/sample/"
cp "$sample" "$scratch/sample/install.dat"
cd_burn_object='CoCreateInstance {fbeb8a05-beee-4442-804e-409d6c4515e9}'
nt_floppy_probe='Unable to create file L"\\\\.\\A:"'
for row in "win95 9x 1050" "win98 9x 1050" "nt40 nt4 1050" "win2k imapi 1039" \
  "winxp imapi 1039" "vista imapi2 1039" "win7 imapi2 1039"; do
  read -r version paths cd_item <<<"$row"
  echo "== (b) installer.exe on $version"
  wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$version" /f >/dev/null 2>&1 ||
    fail "the Wine version could not be set to $version"
  log="$scratch/$version.log"
  seen() { if grep -q "$@" "$log"; then echo 1; else echo 0; fi; }
  # Wine's traces name each list item as it is added, each VWIN32 call, each failed open
  # and each COM object asked for.
  (cd "$scratch/sample" &&
    WINEDEBUG=-all,trace+listbox,trace+vxd,warn+file,trace+ole exec timeout -k 5 90 wine \
      installer.exe) >"$log" 2>&1 &
  pid=$!
  dialog=$(wait_for_window "$title_pattern" 60 "$pid") ||
    fail "$version: no window titled \"$title\" appeared"
  if [ "$version" = win7 ]; then
    sleep 1  # time to paint the controls and the picture
    import -window root "$artefacts/installer.png"
    [ -s "$artefacts/installer.png" ] || fail "the screenshot was not written"
    echo "screenshot: $artefacts/installer.png"
  fi
  click_exit "$dialog"
  expect_exit_0 "$pid" 10 "$version: after the click on Exit"

  items=$(grep -o 'added item [0-9]* L"[^"]*"' "$log" | sed 's/.*L"\(.*\)"$/\1/' | paste -sd '|')
  expected="$(data_text "$sample" 1049)|$(data_text "$sample" "$cd_item")|$(data_text "$sample" 1051)"
  [ "$items" = "$expected" ] || fail "$version: the lists hold \"$items\", not \"$expected\""
  probes="$(seen -F VWIN32_DIOC_DOS_IOCTL) $(seen -F "$nt_floppy_probe") $(seen -iF "$cd_burn_object")"
  case $paths in 9x) want="1 0 0" ;; nt4) want="0 1 0" ;; *) want="0 1 1" ;; esac
  [ "$probes" = "$want" ] ||
    fail "$version: VWIN32, volume and recorder probes were \"$probes\", not \"$want\""
  INSTALLER_EXPECTED_PATHS=$paths wine "$tests_exe" --gtest_filter='Win32VersionPathTest.*' \
    >"$scratch/$version-paths.log" 2>&1 && grep -q '^\[  PASSED  \] 1 test' "$scratch/$version-paths.log" ||
    { cat "$scratch/$version-paths.log" >&2; fail "$version: the version record does not choose the $paths paths"; }
  echo "ok: $version started, took the $paths paths, listed \"$items\" and ended with 0"
done
echo "installer GUI test passed in $((SECONDS - started)) s"
