#!/usr/bin/env bash
# Installs what the build needs, builds the installer, and runs the floppy job's image
# builder on the bundled sample: out/floppy.img, then shows what the floppy holds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh linux
mkdir -p out
build/linux/installer-export make-floppy-image --data build/linux/sample/install.dat --out out/floppy.img
echo
echo "out/floppy.img:"
export MTOOLS_SKIP_CHECK=1
mdir -i out/floppy.img -a ::
mattrib -i out/floppy.img ::KERNEL.MAP ::README.TXT
echo "--- README.TXT ---"
mtype -i out/floppy.img ::README.TXT
fsck.fat -n out/floppy.img
