#!/usr/bin/env bash
# Installs what the build needs, builds the installer, and runs it on the bundled sample:
# the floppy job onto a file-backed drive A: and the CD job onto a libburn "stdio:" file
# target, with the dialog's status lines and messages. Both images land in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh linux
rm -rf out
mkdir -p out
cd out
# The installer reads install.dat from the current folder, as on Windows.
cp ../build/linux/sample/install.dat .
truncate -s 1474560 floppy.img  # a blank 1.44 MB disk
../build/linux/installer --drive A=floppy.img --batch create-floppy
../build/linux/installer --drive A=floppy.img --recorder "stdio:$PWD/cd.iso" --batch create-cd
echo
echo "out/floppy.img:"
export MTOOLS_SKIP_CHECK=1
mdir -i floppy.img -a ::
mtype -i floppy.img ::README.TXT | head -n 1
fsck.fat -n floppy.img
echo
echo "out/cd.iso:"
isoinfo -J -l -i cd.iso
xorriso -indev cd.iso -report_el_torito plain 2>/dev/null | grep -E "El Torito (boot img|img blks)"
