#!/usr/bin/env bash
# Times building the sample floppy image two ways in one run: installer-export, and the
# usual tools (mkfs.fat with the sample boot sector, then mcopy and mattrib for the two
# files). Prints each mean and their ratio. A benchmark, not a test: nothing fails on speed.
#
# usage: bench/floppy_export_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
runs=${2:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=1796589348
dat=$build/sample/install.dat

ours() {
  "$build/installer-export" make-floppy-image --quiet --data "$dat" --out "$work/ours.img"
}
theirs() {
  rm -f "$work/theirs.img"
  mkfs.fat -C -f 2 -r 224 -s 1 -S 512 -F 12 -M 0xF0 --invariant "$work/theirs.img" 1440 >/dev/null
  dd if="$build/sample/base.img" of="$work/theirs.img" bs=1 count=448 skip=62 seek=62 conv=notrunc status=none
  mcopy -i "$work/theirs.img" sample/files/KERNEL.MAP ::KERNEL.MAP
  mcopy -i "$work/theirs.img" sample/files/readme.txt ::README.TXT
  mattrib -i "$work/theirs.img" +r +h +s ::KERNEL.MAP
}

# Nanoseconds for RUNS calls of a function.
measure() {
  local start end i
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$1"; done
  end=$(date +%s%N)
  echo $((end - start))
}

ours; theirs  # warm the caches
ours_ns=$(measure ours)
theirs_ns=$(measure theirs)
awk -v runs="$runs" -v ours="$ours_ns" -v theirs="$theirs_ns" 'BEGIN {
  printf "runs: %d\n", runs
  printf "installer-export make-floppy-image: %8.3f ms per image\n", ours / runs / 1e6
  printf "mkfs.fat + mcopy x2 + mattrib:      %8.3f ms per image\n", theirs / runs / 1e6
  printf "ratio (tools / installer-export):   %8.2f\n", theirs / ours
}'
fsck.fat -n "$work/theirs.img" >/dev/null && fsck.fat -n "$work/ours.img" >/dev/null && echo "both images pass fsck.fat"
