#!/usr/bin/env bash
# The whole test suite: the Linux build with its checks by real tools (dosfstools,
# mtools, QEMU), the same under AddressSanitizer and UndefinedBehaviorSanitizer, the unit
# tests under ThreadSanitizer, the Windows build's import check and its tests under Wine
# (every Windows version, and a loop device as drive A:), the packages built and checked,
# and the formatting.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

step() { printf '\n== %s\n' "$*"; }

step "Linux build (g++)"
bash scripts/build.sh linux
ctest --test-dir build/linux --output-on-failure

step "AddressSanitizer + UndefinedBehaviorSanitizer (clang)"
bash scripts/build.sh asan -DCMAKE_CXX_COMPILER=clang++ -DINSTALLER_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/asan --output-on-failure

step "ThreadSanitizer (clang)"
bash scripts/build.sh tsan -DCMAKE_CXX_COMPILER=clang++ -DINSTALLER_SANITIZE=thread
# libburn runs its own, uninstrumented writer thread: the tests that burn through it are
# left to the other builds, where its threads cannot raise false reports.
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/installer_tests \
  --gtest_filter='-LinuxDiscRecordingTest.*'

step "Fuzzing (libFuzzer, ASan+UBSan): 30 s per target"
bash scripts/fuzz.sh 30

step "Windows build (MinGW, i686) under Wine"
bash scripts/build.sh win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Both programs must start on Windows 95 and NT 4.0; the check itself must catch a program
# that imports a later function.
bash tests/win/import_check.sh build/win/installer.exe build/win/installer-export.exe
printf '#include <windows.h>\nint main(void) { LARGE_INTEGER size; return GetFileSizeEx(0, &size); }\n' \
  >build/win/late-import.c
i686-w64-mingw32-gcc-win32 build/win/late-import.c -o build/win/late-import.exe
if bash tests/win/import_check.sh build/win/late-import.exe 2>build/win/late-import.txt ||
  ! grep -q 'KERNEL32.DLL GetFileSizeEx' build/win/late-import.txt; then
  echo "the import check let GetFileSizeEx through" >&2
  exit 1
fi
export WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix" WINEARCH=win32
# A Wine started earlier without a display must end before one starts on the X screen.
wineserver -w || true
# The prefix gets Wine's own fonts (the dialog's MS Sans Serif), Wine-drawn window frames
# (no window manager to wait for), and no crash dialog (a crash prints a backtrace and ends).
xvfb-run -a -s "-screen 0 1024x768x24" bash -c 'set -e
  wineboot -i >/dev/null 2>&1
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  INSTALLER_REQUIRE_DESKTOP=1 wine build/win/tests/installer_tests.exe'
wineserver -w || true
# The Windows exporter must write exactly the Linux exporter's bytes.
export SOURCE_DATE_EPOCH=1796589348
build/linux/installer-export make-floppy-image --quiet --data build/linux/sample/install.dat --out build/linux/floppy.img
wine build/win/installer-export.exe make-floppy-image --quiet --data build/linux/sample/install.dat --out build/win/floppy.img
cmp build/linux/floppy.img build/win/floppy.img
build/linux/installer-export make-iso --quiet --data build/linux/sample/install.dat --out build/linux/cd.iso
wine build/win/installer-export.exe make-iso --quiet --data build/linux/sample/install.dat --out build/win/cd.iso
cmp build/linux/cd.iso build/win/cd.iso
# Standard output in binary mode, and a reader that goes away is reported.
wine build/win/installer-export.exe make-iso --quiet --data build/linux/sample/install.dat --out - |
  cmp - build/linux/cd.iso
status=0
wine build/win/installer-export.exe make-iso --quiet --data build/linux/sample/install.dat --out - \
  2>build/win/pipe.err | head -c 1 >/dev/null || status=$?
if [ "$status" != 1 ] || ! grep -q 'standard output' build/win/pipe.err; then
  echo "a closed pipe gave exit $status: $(cat build/win/pipe.err)"; exit 1
fi
echo "Windows and Linux exporters agree"
# The NT writer through the real Win32 device back end onto a loop device mapped as A:.
bash tests/win/floppy_loop_test.sh build/win build/linux/sample/install.dat build/linux/floppy.img
unset SOURCE_DATE_EPOCH

step "Windows installer on a virtual screen (Wine)"
bash tests/win/installer_gui_test.sh build/win build/linux/sample/install.dat build/artefacts

step "Packages: the Debian package and the Windows zip"
bash scripts/package_test.sh build/linux build/win

step "clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "formatting clean"

step "All tests passed"
