#!/usr/bin/env bash
# Times building the bootable CD image two ways in one run: installer-export make-iso, and
# xorriso's mkisofs emulation given the same files in a folder, a Joliet tree (-J) and the
# floppy image of make-floppy-image as the El Torito boot image (floppy emulation, hidden
# from both trees like the installer's). Data files: the sample, a generated one that
# names 100 files of a few KB, and two large ones of 200 MB and 600 MB in files of random
# bytes (nothing compresses). Both programs end with their image durable on disk: the
# exporter syncs its file itself, xorriso's file is synced after it (sync FILE). Prints
# each mean, their ratio and each peak memory. A benchmark, not a test: nothing fails on
# speed.
#
# usage: bench/iso_export_bench.sh [BUILD_DIR] [RUNS] [LARGE_RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
runs=${2:-20}
large_runs=${3:-3}
for tool in xorriso isoinfo; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1796589348

# DAT is the data file; FOLDER holds boot.img and the CD files for xorriso. The exporter's
# messages (the cut of a long list) go to ours.err. PREFIX runs before either program
# (GNU time for the peak memory).
dat='' folder='' prefix=()
ours() {
  "${prefix[@]}" "$build/installer-export" make-iso --quiet --data "$dat" --out "$work/ours.iso" 2>"$work/ours.err"
}
theirs() {
  rm -f "$work/theirs.iso"
  "${prefix[@]}" xorriso -as mkisofs -quiet -J -no-pad -b boot.img -c boot.cat \
    -hide boot.img -hide-joliet boot.img -hide boot.cat -hide-joliet boot.cat \
    -o "$work/theirs.iso" "$folder" 2>/dev/null
  sync "$work/theirs.iso"
}

# Nanoseconds for RUNS calls of a function.
measure() {
  local start end i
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$1"; done
  end=$(date +%s%N)
  echo $((end - start))
}

# Peak resident memory in KB of one call of ours or theirs (for xorriso, without the sync
# that follows it), or n/a without GNU time.
peak() {
  if [ -x /usr/bin/time ]; then
    prefix=(/usr/bin/time -f %M -o "$work/peak")
    "$1"
    prefix=()
    cat "$work/peak"
  else
    echo n/a
  fi
}

# The Joliet names of an image's files, in directory order.
joliet_names() {
  isoinfo -J -l -i "$1" | sed -nE 's/^-[-rwx]{9} .*\]  (.*) $/\1/p'
}

run_case() {  # TITLE
  ours; theirs  # warm the caches
  local ours_ns theirs_ns ours_kb theirs_kb
  ours_ns=$(measure ours)
  theirs_ns=$(measure theirs)
  ours_kb=$(peak ours)
  theirs_kb=$(peak theirs)
  awk -v title="$1" -v runs="$runs" -v ours="$ours_ns" -v theirs="$theirs_ns" \
      -v ours_kb="$ours_kb" -v theirs_kb="$theirs_kb" 'BEGIN {
    printf "%s, %d runs\n", title, runs
    printf "  installer-export make-iso:       %8.3f ms per image, peak %s KB\n", ours / runs / 1e6, ours_kb
    printf "  xorriso -as mkisofs -J -b:       %8.3f ms per image, peak %s KB\n", theirs / runs / 1e6, theirs_kb
    printf "  ratio (xorriso / installer):     %8.2f\n", theirs / ours
  }'
  cmp -s <(joliet_names "$work/ours.iso" | sort) <(joliet_names "$work/theirs.iso" | sort) ||
    { echo "the two images list different files" >&2; exit 1; }
  echo "  both images list the same $(joliet_names "$work/ours.iso" | wc -l) files;" \
       "sizes $(stat -c %s "$work/ours.iso") and $(stat -c %s "$work/theirs.iso") bytes"
}

# Fills FOLDER with the boot image of DAT and, under their Joliet names, the files that
# the installer's image of DAT holds: "name<TAB>path" lines on stdin.
fill_folder() {
  rm -rf "$folder"; mkdir "$folder"
  "$build/installer-export" make-floppy-image --quiet --data "$dat" --out "$folder/boot.img"
  local name path
  while IFS=$'\t' read -r name path; do cp "$path" "$folder/$name"; done
}

# The sample data file and the files of its manifest.
dat=$build/sample/install.dat folder=$work/sample
awk '$1 >= 5000 && $1 < 5100 && $2 == "text" { name[$1 - 5000] = $3 }
     $1 >= 5100 && $1 < 5200 && $2 == "file" { path[$1 - 5100] = $3 }
     END { for (i = 0; i in name; i++) printf "%s\tsample/%s\n", name[i], path[i] }' \
  sample/content.manifest | fill_folder
run_case "sample data file ($(find "$folder" -type f ! -name boot.img | wc -l) files)"

# A data file that names 100 files of 1-8 KB. Only the files whose records fit in one
# 2048-byte directory sector after "." and ".." (68 bytes) reach the image: with names
# "f00".."f99" an 8.3 record takes 33 + 7 bytes ("F00.;1" and a zero byte) and a Joliet
# record 33 + 6, so 49 files fit. xorriso gets the files the installer kept.
mkdir "$work/files"
printf '10002 file %s\n10003 file %s\n' "$(realpath "$build/sample/base.img")" \
  "$(realpath sample/files/KERNEL.MAP)" >"$work/files/manifest"
for i in $(seq 0 99); do
  head -c $((1024 + i * 977 % 7168)) /dev/urandom >"$work/files/f$i"
  printf '%d text f%02d\n%d file f%d\n' $((5000 + i)) "$i" $((5100 + i)) "$i" >>"$work/files/manifest"
done
"$build/mkinstalldat" --out "$work/many.dat" --manifest "$work/files/manifest"
dat=$work/many.dat folder=$work/many
ours
kept=$(joliet_names "$work/ours.iso" | wc -l)
joliet_names "$work/ours.iso" | awk '{ printf "%s\t%s/files/f%d\n", $0, dir, substr($0, 2) + 0 }' dir="$work" |
  fill_folder
echo "generated data file: $kept of 100 files fit the root directory sector"
echo "  the exporter says: $(cat "$work/ours.err")"
run_case "generated data file ($kept files on the CD)"

# Large installations: a README.TXT (file 0, which the floppy image carries too) and 20
# files of random bytes, 10 MB each (200 MB) and then 30 MB each (600 MB); the same files
# for both programs.
runs=$large_runs
readme=$(realpath sample/files/readme.txt)
for megabytes in 10 30; do
  rm -rf "$work/many" "$work/large" "$work/ours.iso" "$work/theirs.iso" "$work/large.dat"
  mkdir "$work/large"
  { sed -n 1,2p "$work/files/manifest"; printf '5000 text readme.txt\n5100 file %s\n' "$readme"; } \
    >"$work/large/manifest"
  for i in $(seq 1 20); do
    head -c $((megabytes * 1048576)) /dev/urandom >"$work/large/f$i.bin"
    printf '%d text f%d.bin\n%d file f%d.bin\n' $((5000 + i)) "$i" $((5100 + i)) "$i" >>"$work/large/manifest"
  done
  "$build/mkinstalldat" --out "$work/large.dat" --manifest "$work/large/manifest"
  dat=$work/large.dat folder=$work/many
  { printf 'readme.txt\t%s\n' "$readme"
    for i in $(seq 1 20); do printf 'f%d.bin\t%s/large/f%d.bin\n' "$i" "$work" "$i"; done
  } | fill_folder
  run_case "large data file (20 files of $megabytes MB, $((megabytes * 20)) MB)"
  # The floor for both: the same bytes written durably with nothing else to do.
  copy() { dd if="$work/ours.iso" of="$work/copy.iso" bs=1M conv=fsync status=none; }
  copy_ns=$(measure copy)
  rm -f "$work/copy.iso"
  awk -v ns="$copy_ns" -v runs="$runs" -v mb="$((megabytes * 20))" 'BEGIN {
    printf "  dd conv=fsync of the image alone: %8.3f ms (the floor), %.2f ms per MB\n", ns / runs / 1e6, ns / runs / 1e6 / mb }'
done
