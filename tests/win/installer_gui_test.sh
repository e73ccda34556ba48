#!/usr/bin/env bash
# The Windows installer as a user meets it, under Wine on a virtual X screen:
#  (a) started in a folder without install.dat, it shows the "Error" box saying that the
#      data file could not be loaded, and ends with exit code 0 once the box is closed;
#  (b) started beside the sample install.dat, it shows the main dialog titled with the
#      data file's text 1000; a screenshot of it is kept, and a click on its Exit button
#      ends the program with exit code 0;
#  (c) the same on every Windows it is for (the prefix's Version value: 95, 98, NT 4.0,
#      2000, XP, Vista, 7): the lists show what that version's paths find under Wine (no
#      CD target on 9x and NT 4.0; on 2000 and later the recorder search through the
#      shell's CD burning object finds none, and must not crash), the floppy probe goes
#      through VWIN32 on 9x and through volume handles on NT, and the test program's
#      Win32VersionPathTest sees the real version record choose IMAPI on 2000/XP and
#      IMAPI2 from Vista on.
#
# Usage: tests/win/installer_gui_test.sh BUILD_WIN_DIR SAMPLE_DATA_FILE ARTEFACT_DIR
# Exit codes: 0 passed, 1 failed, 77 skipped (no Wine or no xvfb-run).
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 BUILD_WIN_DIR SAMPLE_DATA_FILE ARTEFACT_DIR" >&2
  exit 2
fi

for tool in wine wineserver xvfb-run; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
for tool in xdotool import od; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAIL: $tool is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

# Everything below runs against one X server for the whole script. 24-bit colour, as
# the screenshot should show the dialog's colours as a user sees them.
if [ -z "${INSTALLER_GUI_TEST_ON_XVFB:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" env INSTALLER_GUI_TEST_ON_XVFB=1 \
    bash "$0" "$@"
fi

build_dir=$(cd "$1" && pwd)
sample=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
mkdir -p "$3"
artefacts=$(cd "$3" && pwd)
installer="$build_dir/installer.exe"
[ -f "$installer" ] || { echo "FAIL: $installer is missing" >&2; exit 1; }
[ -f "$sample" ] || { echo "FAIL: $sample is missing" >&2; exit 1; }

started=$SECONDS
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The first window whose title matches the regular expression $1, waiting up to $2 s
# while process $3 runs.
wait_for_window() {
  local pattern=$1 end=$((SECONDS + $2)) pid=$3 found
  while [ $SECONDS -lt $end ] && kill -0 "$pid" 2>/dev/null; do
    found=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1) || true
    if [ -n "$found" ]; then
      echo "$found"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# Waits up to $2 s for process $1 to end; its exit code is left in $exit_code.
wait_for_exit() {
  local pid=$1 end=$((SECONDS + $2))
  while kill -0 "$pid" 2>/dev/null; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
  exit_code=0
  wait "$pid" || exit_code=$?
}

# Clicks the Exit button's middle in dialog window $1. The template places it at 92,217 and
# 65 by 15 dialog units in a client area of 250 by 239; with MS Sans Serif at 8 points on a
# 96 dpi screen a dialog unit is 6/4 by 13/8 pixels (the dialog's unit tests check that).
# Wine's frame is as thick at the left, right and bottom, and the caption lies above the
# client area.
muldiv() { echo $((($1 * $2 * 2 + $3) / ($3 * 2))); }
click_exit() {
  local X Y WIDTH HEIGHT SCREEN WINDOW client_width client_height frame client_x client_y
  eval "$(xdotool getwindowgeometry --shell "$1")"
  client_width=$(muldiv 250 6 4)
  client_height=$(muldiv 239 13 8)
  frame=$(((WIDTH - client_width) / 2))
  client_x=$((X + frame))
  client_y=$((Y + HEIGHT - frame - client_height))
  xdotool mousemove --sync $((client_x + $(muldiv 92 6 4) + $(muldiv 65 6 4) / 2)) \
    $((client_y + $(muldiv 217 13 8) + $(muldiv 15 13 8) / 2)) click 1
}

# Text $2 of data file $1: after the magic 0xFEAFBEBA the header holds the entry count
# (bytes 4-5) and the directory's offset (bytes 10-13); each 12-byte record holds the id
# (bytes 1-2), the entry's offset (bytes 4-7) and size (bytes 8-11). A text ends at its
# first zero byte. Fails on a file that is not laid out so.
number_at() {
  od -An --endian=little -t "u$3" -j "$2" -N "$3" "$1" 2>/dev/null | tr -d ' '
}
data_text() {
  local file=$1 wanted=$2 length count directory record id offset size
  length=$(stat -c %s "$file")
  [ "$length" -ge 14 ] && [ "$(number_at "$file" 0 4)" = $((0xFEAFBEBA)) ] || return 1
  count=$(number_at "$file" 4 2)
  directory=$(number_at "$file" 10 4)
  [ $((directory + count * 12)) -le "$length" ] || return 1
  for ((i = 0; i < count; i++)); do
    record=$((directory + i * 12))
    id=$(number_at "$file" $((record + 1)) 2)
    if [ "$id" -eq "$wanted" ]; then
      offset=$(number_at "$file" $((record + 4)) 4)
      size=$(number_at "$file" $((record + 8)) 4)
      [ $((offset + size)) -le "$length" ] || return 1
      tail -c +$((offset + 1)) "$file" | head -c "$size" | tr '\0' '\n' | head -n 1
      return 0
    fi
  done
  return 1
}

regex_escape() {
  printf '%s' "$1" | sed 's/[][\.*^$+?(){}|/]/\\&/g'
}

# The main dialog's title is text 1000 of the data file.
title=$(data_text "$sample" 1000) || fail "$sample has no text 1000"
[ -n "$title" ] || fail "text 1000 of $sample is empty"

# A Wine prefix of this test's own, made anew each run.
export WINEPREFIX="$build_dir/gui-test-wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
rm -rf "$WINEPREFIX"
scratch=$(mktemp -d)
cleanup() {
  # Ends this prefix's Wine processes (only ours use it) and removes the folders.
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1 || fail "wineboot could not make the prefix"
# Wine's own fonts (Debian's fonts-wine) are not found by Debian's Wine where they lie;
# in the prefix's font folder Wine finds them, the dialog's MS Sans Serif among them.
if [ -d /usr/share/wine/fonts ]; then
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi
# Wine draws the windows' frames itself: there is no window manager to wait for. A crash
# prints its backtrace and ends the program, instead of waiting in Wine's crash dialog.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 ||
  fail "the Wine registry could not be set"
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  >/dev/null 2>&1 || fail "the Wine registry could not be set"

# ---- (a) no data file ----------------------------------------------------------------
echo "== installer.exe without install.dat"
mkdir "$scratch/empty"
cp "$installer" "$scratch/empty/"
# Wine's window trace names every window text as it is set: the way to read the box's
# message from outside.
(cd "$scratch/empty" && WINEDEBUG=-all,trace+win exec timeout -k 5 40 wine installer.exe) \
  >"$scratch/empty.log" 2>&1 &
pid=$!
box=$(wait_for_window '^Error$' 40 "$pid") || fail "no window titled Error appeared"
grep -qF '"Could not load Image and Resource file."' "$scratch/empty.log" ||
  fail "the Error box does not say that the data file could not be loaded"
xdotool windowfocus --sync "$box"
xdotool key Return
wait_for_exit "$pid" 10 || fail "the installer did not end after its Error box was closed"
[ "$exit_code" -eq 0 ] || fail "the installer ended with exit code $exit_code, not 0"
echo "ok: the Error box showed, and the installer ended with 0"

# ---- (b) the sample data file ----------------------------------------------------------
echo "== installer.exe beside the sample install.dat"
mkdir "$scratch/sample"
cp "$installer" "$scratch/sample/"
cp "$sample" "$scratch/sample/install.dat"
(cd "$scratch/sample" && exec timeout -k 5 40 wine installer.exe) >"$scratch/sample.log" 2>&1 &
pid=$!
dialog=$(wait_for_window "^$(regex_escape "$title")\$" 40 "$pid") ||
  fail "no window titled \"$title\" appeared"
# Time to paint the controls and the picture before the screenshot.
sleep 1
import -window root "$artefacts/installer.png"
[ -s "$artefacts/installer.png" ] || fail "the screenshot was not written"
echo "screenshot: $artefacts/installer.png"

click_exit "$dialog"
wait_for_exit "$pid" 10 || fail "the installer did not end within 10 s of the click on Exit"
[ "$exit_code" -eq 0 ] || fail "the installer ended with exit code $exit_code, not 0"
echo "ok: the main dialog showed, and Exit ended the installer with 0"

# ---- (c) every Windows version ----------------------------------------------------------
# Per version: the paths that the version takes, and the text of the CD list's only item.
versions=(
  "win95 9x 1050"
  "win98 9x 1050"
  "nt40 nt4 1050"
  "win2k imapi 1039"
  "winxp imapi 1039"
  "vista imapi2 1039"
  "win7 imapi2 1039"
)
tests_exe="$build_dir/tests/installer_tests.exe"
[ -f "$tests_exe" ] || fail "$tests_exe is missing"
cd_burn_object='CoCreateInstance {fbeb8a05-beee-4442-804e-409d6c4515e9}'
nt_floppy_probe='Unable to create file L"\\\\.\\A:"'
for row in "${versions[@]}"; do
  read -r version paths cd_item <<<"$row"
  echo "== installer.exe on $version"
  wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$version" /f >/dev/null 2>&1 ||
    fail "the Wine version could not be set to $version"
  log="$scratch/$version.log"
  # Wine's traces name each list item as it is added, each VWIN32 call, each failed open
  # and each COM object asked for.
  (cd "$scratch/sample" &&
    WINEDEBUG=-all,trace+listbox,trace+vxd,warn+file,trace+ole exec timeout -k 5 90 wine \
      installer.exe) >"$log" 2>&1 &
  pid=$!
  dialog=$(wait_for_window "^$(regex_escape "$title")\$" 60 "$pid") ||
    fail "$version: no window titled \"$title\" appeared"
  click_exit "$dialog"
  wait_for_exit "$pid" 10 || fail "$version: the installer did not end after the click on Exit"
  [ "$exit_code" -eq 0 ] || fail "$version: the installer ended with exit code $exit_code, not 0"

  items=$(grep -o 'added item [0-9]* L"[^"]*"' "$log" | sed 's/.*L"\(.*\)"$/\1/' | paste -sd '|')
  expected="$(data_text "$sample" 1049)|$(data_text "$sample" "$cd_item")|$(data_text "$sample" 1051)"
  [ "$items" = "$expected" ] || fail "$version: the lists hold \"$items\", not \"$expected\""
  vwin32=0 volumes=0 recorders=0
  grep -q "VWIN32_DIOC_DOS_IOCTL" "$log" && vwin32=1
  grep -qF "$nt_floppy_probe" "$log" && volumes=1
  grep -qiF "$cd_burn_object" "$log" && recorders=1
  case $paths in
    9x) want="1 0 0" ;;
    nt4) want="0 1 0" ;;
    *) want="0 1 1" ;;
  esac
  [ "$vwin32 $volumes $recorders" = "$want" ] ||
    fail "$version: VWIN32, volume and recorder probes were \"$vwin32 $volumes $recorders\", not \"$want\""
  INSTALLER_EXPECTED_PATHS=$paths wine "$tests_exe" --gtest_filter='Win32VersionPathTest.*' \
    >"$scratch/$version-paths.log" 2>&1 && grep -q '^\[  PASSED  \] 1 test' "$scratch/$version-paths.log" ||
    { cat "$scratch/$version-paths.log" >&2; fail "$version: the version record does not choose the $paths paths"; }
  echo "ok: $version started, took the $paths paths, listed \"$items\" and ended with 0"
done

echo "installer GUI test passed in $((SECONDS - started)) s"
