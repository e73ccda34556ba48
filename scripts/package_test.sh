#!/usr/bin/env bash
# Builds the two packages from finished builds and checks them as a user would meet them.
# The Debian package (from the Linux build): its dependencies, lintian, its contents, and,
# when run as root, dpkg -i, the installed programs and manual pages, and dpkg -r. The
# Windows zip (from the Windows build): its listing, its README, the version resources,
# and the unpacked installer-export.exe under Wine.
#
# usage: scripts/package_test.sh [LINUX_BUILD] [WINDOWS_BUILD]   (build/linux, build/win)
set -euo pipefail
cd "$(dirname "$0")/.."
linux=$(realpath "${1:-build/linux}")
win=$(realpath "${2:-build/win}")
readonly package=talvo-installer product="Talvo boot media installer"
readonly programs="installer installer-export mkinstalldat"

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -x "$linux/installer" ] || fail "no Linux build in $linux (bash scripts/build.sh linux)"
[ -f "$win/installer-export.exe" ] ||
  fail "no Windows build in $win (bash scripts/build.sh win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)"
work=$(mktemp -d "${TMPDIR:-/tmp}/package_test.XXXXXX")
installed=""
cleanup() {
  if [ -n "$installed" ]; then dpkg -r "$package" >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Each program in BIN_DIR answers --version with the package's version and --help with its
# usage, exiting 0; `man -w` finds each manual page through MANPATH.
check_programs() {  # BIN_DIR
  local program line
  for program in $programs; do
    line=$("$1/$program" --version) || fail "$program --version exited $?"
    [ "$line" = "$program ($product) $version" ] || fail "$program --version printed '$line'"
    "$1/$program" --help | grep -q "^usage: $program " || fail "$program --help shows no usage"
    man -w "$program" >/dev/null || fail "man -w $program finds no manual page"
  done
  # The installed sample data file builds a complete floppy image.
  "$1/installer-export" make-floppy-image --quiet --out "$work/floppy.img" \
    --data "$2/share/doc/$package/examples/install.dat" || fail "export of the installed sample"
  [ "$(stat -c %s "$work/floppy.img")" = 1474560 ] || fail "the sample floppy image is not 1.44 MB"
}

echo "== Debian package"
rm -f "$linux/$package"_*.deb
made=$(cd "$linux" && cpack -G DEB 2>&1) || { echo "$made"; fail "cpack -G DEB"; }
deb=$(echo "$linux/$package"_*.deb)
[ -f "$deb" ] || fail "cpack made no .deb in $linux"
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
echo "$(basename "$deb"): Depends: $depends"
# dpkg-shlibdeps reads the dependencies off the binaries: libburn and the C++ run-time.
for library in libburn4 libstdc++6 libc6; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library"
done
# Errors fail the check; warnings and notes are shown.
findings=$(lintian --fail-on error --display-info "$deb" 2>&1) || lintian_status=$?
sed '/running with root privileges/d' <<<"$findings"
[ "${lintian_status:-0}" = 0 ] || fail "lintian found errors"
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in usr/bin/installer usr/bin/installer-export usr/bin/mkinstalldat \
  usr/share/man/man1/installer.1.gz usr/share/man/man1/installer-export.1.gz \
  usr/share/man/man1/mkinstalldat.1.gz "usr/share/doc/$package/README.md" \
  "usr/share/doc/$package/copyright" "usr/share/doc/$package/changelog.gz" \
  "usr/share/doc/$package/examples/install.dat" "usr/share/doc/$package/examples/install-de.dat"; do
  grep -qx "\./$path" <<<"$contents" || fail "the package lacks /$path"
done

if [ "$(id -u)" = 0 ]; then
  dpkg -i "$deb" >/dev/null
  installed=yes
  check_programs /usr/bin /usr
  [ "$(man -w installer)" = /usr/share/man/man1/installer.1.gz ] || fail "man -w installer"
  dpkg -r "$package" >/dev/null
  installed=""
  [ ! -e /usr/bin/installer ] || fail "dpkg -r left /usr/bin/installer behind"
  echo "installed with dpkg -i, checked, removed with dpkg -r"
else
  echo "not root: the package is not installed; its unpacked contents are checked instead"
  dpkg-deb -x "$deb" "$work/root"
  MANPATH="$work/root/usr/share/man" check_programs "$work/root/usr/bin" "$work/root/usr"
fi

echo "== Windows zip"
# The Windows build makes no sample data of its own; the zip takes the Linux build's.
cmake -S . -B "$win" -DINSTALLER_SAMPLE_DATA="$linux/sample/install.dat" >/dev/null
rm -f "$win/$package"-*-win32.zip
made=$(cd "$win" && cpack -G ZIP 2>&1) || { echo "$made"; fail "cpack -G ZIP"; }
zip="$win/$package-$version-win32.zip"
[ -f "$zip" ] || fail "cpack made no $(basename "$zip")"
unzip -l "$zip"
unzip -q "$zip" -d "$work/zip"
folder="$work/zip/$package-$version-win32"
for file in installer.exe installer-export.exe install.dat README.txt; do
  [ -f "$folder/$file" ] || fail "the zip lacks $file"
done
cmp "$folder/install.dat" "$linux/sample/install.dat" || fail "the zip's install.dat"
grep -q $'^Talvo boot media installer .*\r$' "$folder/README.txt" ||
  fail "README.txt does not open with the product in Windows line ends"
grep -q 'msvcrt\.dll' "$folder/README.txt" || fail "README.txt does not name msvcrt.dll"
# Both programs carry the version in their version resource (UTF-16 strings).
for exe in installer.exe installer-export.exe; do
  strings -el "$folder/$exe" | grep -A1 -x ProductVersion | grep -qx "$version" ||
    fail "$exe has no ProductVersion $version"
done
export WINEDEBUG=-all WINEARCH=win32 WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}"
line=$(cd "$folder" && wine ./installer-export.exe --version | tr -d '\r')
[ "$line" = "installer-export ($product) $version" ] ||
  fail "installer-export.exe --version printed '$line'"
echo "$line (under Wine, unpacked from the zip)"
